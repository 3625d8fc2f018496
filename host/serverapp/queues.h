// The game-info and user-info stores between the window thread and the
// update thread. The window thread pushes what the manager sent; the update
// thread pops at its next frame and delivers to the module.
//
// Both stores are fixed arrays used as stacks (a pop takes the most recent
// record), so a push never allocates. Each has its own lock (serverglobals.h);
// a store lock is held only while a record is copied in or out (and for the
// push's log lines), never while g_csServer is taken.
#pragma once

#include <cstdint>
#include <functional>

#include "protocol/gameinfo.h"
#include "protocol/gameservermsg.h"

inline constexpr int32_t kGameInfoStoreSize = 10;
inline constexpr int32_t kUserInfoStoreSize = IPC_ROOM_MAX_USER;

extern PROTO_START_HOST g_sGameInfos[kGameInfoStoreSize];
extern int32_t g_iQueuedGameInfosNum;  // guarded by g_csGameInfos
extern PROTO_GAME_USER_INFO g_sUserInfos[kUserInfoStoreSize];
extern int32_t g_iQueuedUserInfosNum;  // guarded by g_csUserInfos

// How a user record reached the host: its log lines differ.
enum class UserInfoSource { kCopyData, kAddress };

// Copies `record` onto the store, or logs the refusal when the store is
// full (a negative count counts as full). Answers whether it was stored.
// `tIndex` is the server index for the log lines.
bool PushGameInfo(const PROTO_START_HOST& record, int16_t tIndex);
bool PushUserInfo(const PROTO_GAME_USER_INFO& record, UserInfoSource source, int16_t tIndex);

// The update thread's pops: under the store's lock, when a record is queued,
// decrement the count and copy the record at the new count into `out`;
// `under_lock` (may be empty) runs on the copy before the lock is left.
// Each writes its Enter/Leave log lines. Answers whether a record was taken.
bool PopGameInfo(PROTO_START_HOST& out,
                 const std::function<void(const PROTO_START_HOST&)>& under_lock = {});
bool PopUserInfo(PROTO_GAME_USER_INFO& out);

// Empties both stores (tests, and a dialog that starts afresh).
void ClearQueues();
