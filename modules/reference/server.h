// The reference module's server object: a small but real implementation of
// IGameServer for module authors to read and for the host's tests to drive.
//
// The "room" it runs is deliberately simple: it is preparing for a set
// number of updates and then ready; it keeps the map, the game information
// and the users the host delivers and answers them as a game server would
// (loading complete, client added, client removed); and it answers console
// commands, among them `emit`, which sends the host any module message.
// Every answer the host acts on can be changed by a switch
// (serverswitches.h).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "interface/igameserver.h"
#include "serverswitches.h"
#include "servertrace.h"

class ILTMessage_Write;

namespace refmod {

// What the room knows, as the host told it.
struct RoomState {
  static constexpr int kSlots = 50;

  // SERVERAPPMSG_INIT
  uint32_t map_inits = 0;
  int16_t map_index = -1;
  uint8_t round_type = 0;
  uint8_t match_type = 0;
  bool load_flag = false;
  bool second_flag = false;
  // SERVERAPPMSG_START_HOST (the game information)
  uint32_t game_infos = 0;
  uint32_t game_info_bits = 0;
  uint32_t game_info_first = 0;  // the first 32-bit field of the stream
  bool additional_flag = false;  // SERVERAPPMSG_ADDITIONAL_ROOM_INFO
  std::string log_serial;        // SERVERAPPMSG_LOG_SERIAL
  uint32_t resets = 0;
  // Users by slot.
  std::array<bool, kSlots> slot_used{};
  std::array<uint64_t, kSlots> slot_usn{};
};

class CReferenceServer final : public IGameServer {
 public:
  explicit CReferenceServer(const ServerSwitches& switches);
  ~CReferenceServer();

  int32_t SetAppHandler(ServerAppHandler* pHandler) override;
  int32_t RunConsoleString(const char* pszCommand) override;
  int32_t SendToServerShell(ILTMessage_Read* pMessage) override;
  bool SetRezFileList(const char* const* ppszFiles, int32_t nCount) override;
  bool Initialize(bool bLocalTest) override;
  int32_t GetUserCount() override;
  void GetReadyText(char* pszText, uint32_t nSize) override;
  bool IsPreparing(int32_t nReserved) override;
  bool OpenNetwork(const void* pReserved1, const void* pReserved2) override;
  bool ListNetServices(NET_SERVICE_NODE** ppList) override;
  void FreeNetServices(NET_SERVICE_NODE* pList) override;
  bool UseNetService(uint64_t hService) override;
  int32_t ProbeServer(SERVER_PROBE_BLOCK* pBlock) override;
  void SetManagerHandle(const char* pszHandle) override;

  const ServerTrace& trace() const { return trace_; }

 private:
  // A line into the host's log through the handler (category 0, info).
  void Say(const std::string& text);
  int32_t RunCommand(const std::string& command, const std::string& argument);
  void SayStatus();

  // The room's handling of the host's messages (serverroom.cpp).
  void OnMapInit(ILTMessage_Read& msg);
  void OnStartHost(ILTMessage_Read& msg);
  void OnInsertCharacter(ILTMessage_Read& msg);
  void OnUserDisconnected(ILTMessage_Read& msg);
  void OnReset();

  // A module message for the host: NewMessage answers a writer with one
  // reference taken (null when no handler is attached or none could be
  // made); SendBuilt hands what was written to the host's handler and
  // drops the reference.
  ILTMessage_Write* NewMessage();
  void SendBuilt(ILTMessage_Write* pMessage);

  // Console commands of their own files.
  int32_t RunEmit(const std::string& argument);   // serveremitcmd.cpp
  int32_t RunCrash(const std::string& argument);  // servercrash.cpp
  // Crashes now when a crash on the update thread was asked for and this
  // is not the thread that asked.
  void CrashIfArmedElsewhere();

  ServerSwitches switches_;
  ServerTrace trace_;
  ServerAppHandler* handler_ = nullptr;

  // Network state.
  bool network_open_ = false;
  uint64_t service_ = 0;
  size_t probe_calls_ = 0;
  int32_t port_ = 0;
  std::string manager_handle_;

  // Room state. The host calls in under its module lock from the window
  // thread and the update thread; room_lock_ keeps the room consistent for
  // a module used without that lock. The user count is asked without the
  // host's lock (heartbeats), hence atomic.
  std::atomic<int32_t> users_{0};
  mutable std::mutex room_lock_;
  RoomState room_;
  int32_t preparing_left_ = 0;
  uint64_t preparing_calls_ = 0;
  bool initialized_ = false;
  std::vector<std::string> rez_files_;
  uint32_t group_ = 0;
  int32_t server_index_ = -1;
  uint32_t messages_ = 0;

  // `crash update`: the thread that asked, and the request itself.
  std::atomic<bool> crash_update_armed_{false};
  std::thread::id crash_armed_by_;
};

}  // namespace refmod
