// The log message manager: the table of numbered log texts, loaded from
// "./rez/NationMsz/MSG_DEFINE_ServerApp_Log.msz" and shared between the
// ServerApp instances of a machine through named shared memory
// ("App_LogDataSize" and "App_LogData-<n>").
//
// Server index 0 publishes (EUSAGE_WRITE), every other instance reads
// (EUSAGE_READ); EUSAGE_NOUSE keeps a private copy. Texts are printf formats
// that are data: log them through HostLogEntry and the like (or the *Msg
// writers of hostlogger.h), never as a literal format.
#pragma once

#include <cstdint>
#include <string>

#include "hostlogger.h"

enum ESharedMemUsage : std::int32_t {
  EUSAGE_NOTREADY = -1,  // nothing loaded yet
  EUSAGE_NOUSE = 0,      // private copy from the file
  EUSAGE_WRITE = 1,      // load the file and publish it
  EUSAGE_READ = 2,       // read what another instance published
};

// Last error codes (GetLogMsgError). 0: none.
enum ELogMsgError : std::uint32_t {
  ELOGMSG_OK = 0,
  ELOGMSG_FILE = 1,       // the .msz file could not be opened or is malformed
  ELOGMSG_CREATE = 2,     // a mapping could not be created while publishing
  ELOGMSG_VIEW = 3,       // a view could not be mapped (publishing, GetLogMsg)
  ELOGMSG_OPEN = 4,       // a message mapping could not be opened while reading
  ELOGMSG_WAIT = 5,       // no table within 1000 ms, or its count stayed 0 for 10000 ms
  ELOGMSG_RANGE = 6,      // GetLogMsg: id beyond the published messages
  ELOGMSG_BAD_USAGE = 7,  // invalid usage mode
};

// The table file, relative to the current directory.
inline constexpr const char kLogMszPath[] = "./rez/NationMsz/MSG_DEFINE_ServerApp_Log.msz";

// Mapping names and sizes.
inline constexpr const char kLogDataSizeName[] = "App_LogDataSize";
inline constexpr const char kLogDataNameFormat[] = "App_LogData-%zd";
inline constexpr std::size_t kLogMappingSize = 512;

class FindXlsMsg;

// Process-wide (static) manager.
class LogMsgManager {
 public:
  // Sets the mode, then loads / publishes / reads. True when lookups work.
  // EUSAGE_WRITE reads instead when a table is already published;
  // EUSAGE_READ publishes itself when none appears within 1000 ms.
  static bool InitLogMsgManager(ESharedMemUsage usage);
  // A copy of text `id`; empty when it cannot be had (see GetLogMsgError).
  static std::string GetLogMsg(std::uint32_t id);
  static std::uint32_t GetLogMsgError();
  // Drops the table and every mapping handle; the mode stays.
  static void ReleaseLogMsgManager();
  static ESharedMemUsage GetUsage();
};

inline bool InitLogMsgManager(ESharedMemUsage usage) {
  return LogMsgManager::InitLogMsgManager(usage);
}
inline std::string GetLogMsg(std::uint32_t id) {
  return LogMsgManager::GetLogMsg(id);
}
inline std::uint32_t GetLogMsgError() {
  return LogMsgManager::GetLogMsgError();
}
inline void ReleaseLogMsgManager() {
  LogMsgManager::ReleaseLogMsgManager();
}

// Log table text `id` formatted with `args` (checked: see safeformat.h). The
// table is not consulted when the gate is closed.
template <typename... Args>
void WriteHostLogEntry(HostLogFile file, std::uint32_t level, std::uint32_t id,
                       const Args&... args) {
  if (!IsHostLogOn(file, level)) return;
  WriteHostLogText(file, level, hostlog::SafeFormat(GetLogMsg(id), args...));
}
template <typename... Args>
void HostLogEntry(std::uint32_t level, std::uint32_t id, const Args&... args) {
  WriteHostLogEntry(HostLogFile::kMain, level, id, args...);
}
template <typename... Args>
void EtcInfoLogEntry(std::uint32_t id, const Args&... args) {
  WriteHostLogEntry(HostLogFile::kEtcInfo, 0, id, args...);
}
// Table text `id` written verbatim (a text "used unchanged with no arguments").
inline void HostLogEntryText(std::uint32_t level, std::uint32_t id) {
  if (IsHostLogOn(HostLogFile::kMain, level)) HostLogText(level, GetLogMsg(id));
}
