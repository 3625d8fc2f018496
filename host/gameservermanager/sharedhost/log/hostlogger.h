// The host logger: ServerApp's own log files, and the log interface every
// other part of the host writes through.
//
// Seven logs, each a text file chosen afresh from the local date and time on
// every line (daily or three-hour files), one complete open, append and close
// per line:
//
//   <log base>/quellmark/<program>/<yyyymmdd>/<instance>/
//       error_<program>_<machine>_<yyyymmdd>_<slot>.log    HostLog
//       kernel_...                                          KernelLog
//       timeout_<program>_<machine>_<yyyymmdd>.log          TimeoutLog
//       etcinfo_..., packet_..., RWPM_..., IPCMSG_...       the others
//
// <slot> is the hour / 3, two digits. The log base is "/var/log" unless the
// environment variable SERVERAPP_LOG_BASE names another folder. The bytes on
// disk are those of the Windows build's text-mode streams: every LF is written
// as CR LF. See docs/logging.md for the line forms and the limits.
//
// No writer reports a failure; a line that cannot be written is dropped.
// A call whose gate is closed costs one comparison: nothing is formatted and
// no clock is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/printf_format.h"
#include "safeformat.h"

#if defined(__GNUC__) || defined(__clang__)
#define HOSTLOG_PRINTF(fmt, first) SERVERAPP_PRINTF(fmt, first)
#else
#define HOSTLOG_PRINTF(fmt, first)
#endif

// Levels of the main and kernel logs. A request of level L is written when
// the threshold ("LogLevel" of Setting.ini, default 4) is >= L; level 0 is
// always written and carries no tag.
inline constexpr std::uint32_t HLOG_FATAL = 1;
inline constexpr std::uint32_t HLOG_ERROR = 2;
inline constexpr std::uint32_t HLOG_WARN = 3;
inline constexpr std::uint32_t HLOG_INFO = 4;
inline constexpr std::uint32_t HLOG_LOW = 5;

// Reads section "LogInfo" of ".\Setting.ini" ("LogLevel", "IPCMsg",
// "IPCMemory") and fixes the paths. Call once, before other threads log.
// `instance_folder` ("%ld_%d" of group and server index) may be null: the
// files then lie directly in the program's folder, without date folder.
// `drive_letter` may be null; when given, it replaces the drive of a log base
// that has one ("C:\\log"); POSIX log bases have none and ignore it.
// "LogLevel" of 6 or more raises an assertion report and sets threshold 0.
void InitHostLogger(const char* machine_name, const char* program_name,
                    const char* instance_folder = nullptr, const char* drive_letter = nullptr);

// printf-style writers for formats written in the code. Table texts (data)
// go through the *Msg writers below instead.
void HostLog(std::uint32_t level, const char* format, ...) HOSTLOG_PRINTF(2, 3);
void KernelLog(std::uint32_t level, const char* format, ...) HOSTLOG_PRINTF(2, 3);
void TimeoutLog(const char* format, ...) HOSTLOG_PRINTF(1, 2);
void EtcInfoLog(const char* format, ...) HOSTLOG_PRINTF(1, 2);
void PacketLog(const char* format, ...) HOSTLOG_PRINTF(1, 2);
void RwpmLog(const char* format, ...) HOSTLOG_PRINTF(1, 2);
void IpcMsgLog(const char* format, ...) HOSTLOG_PRINTF(1, 2);

// Called after a thread that may have been inside a writer was stopped by
// force (it may keep a log lock or the standard output's lock for good):
// from then on every writer waits for a lock at most a fraction of a second
// and writes its line without it when the time runs out, and writes the
// standard output below the C stream. For the process's last lines only.
void AbandonHostLogLocks();

// The gates.
bool IsLogLevelOn(std::uint32_t level);  // threshold >= level
bool IsIpcMemoryLogOn();                 // "IPCMemory" switch: RWPM log
bool IsIpcMsgLogOn();                    // "IPCMsg" switch: IPCMSG log

// Creates the log folder of that date (date folder and instance folder).
// Writers call it when an open fails; folders that exist are no error.
void MakeLogFolders(const platform::LocalTime& time);

// The seven logs, for the generic calls below.
enum class HostLogFile { kMain, kKernel, kTimeout, kEtcInfo, kPacket, kRwpm, kIpcMsg };

// True when a line of `level` would be written to `file` (the level counts
// only for the main and kernel logs; the others have fixed gates).
bool IsHostLogOn(HostLogFile file, std::uint32_t level);

// Writes `text` verbatim as the caller's part of a line: a '%' in it is
// printed, never interpreted. For finished lines (the module's log lines)
// and table texts used unchanged with no arguments.
void WriteHostLogText(HostLogFile file, std::uint32_t level, std::string_view text);
inline void HostLogText(std::uint32_t level, std::string_view text) {
  WriteHostLogText(HostLogFile::kMain, level, text);
}
inline void KernelLogText(std::uint32_t level, std::string_view text) {
  WriteHostLogText(HostLogFile::kKernel, level, text);
}
inline void TimeoutLogText(std::string_view text) {
  WriteHostLogText(HostLogFile::kTimeout, 0, text);
}
inline void EtcInfoLogText(std::string_view text) {
  WriteHostLogText(HostLogFile::kEtcInfo, 0, text);
}
inline void PacketLogText(std::string_view text) {
  WriteHostLogText(HostLogFile::kPacket, 0, text);
}
inline void RwpmLogText(std::string_view text) {
  WriteHostLogText(HostLogFile::kRwpm, 0, text);
}
inline void IpcMsgLogText(std::string_view text) {
  WriteHostLogText(HostLogFile::kIpcMsg, 0, text);
}

// Writers for formats that are data (table texts): the text's conversions are
// checked against the arguments passed (hostlog::SafeFormat); on a mismatch
// the raw text and the arguments are written instead. Nothing is formatted
// when the gate is closed.
template <typename... Args>
void WriteHostLogMsg(HostLogFile file, std::uint32_t level, std::string_view format,
                     const Args&... args) {
  if (!IsHostLogOn(file, level)) return;
  WriteHostLogText(file, level, hostlog::SafeFormat(format, args...));
}
template <typename... Args>
void HostLogMsg(std::uint32_t level, std::string_view format, const Args&... args) {
  WriteHostLogMsg(HostLogFile::kMain, level, format, args...);
}
template <typename... Args>
void KernelLogMsg(std::uint32_t level, std::string_view format, const Args&... args) {
  WriteHostLogMsg(HostLogFile::kKernel, level, format, args...);
}
template <typename... Args>
void EtcInfoLogMsg(std::string_view format, const Args&... args) {
  WriteHostLogMsg(HostLogFile::kEtcInfo, 0, format, args...);
}
template <typename... Args>
void TimeoutLogMsg(std::string_view format, const Args&... args) {
  WriteHostLogMsg(HostLogFile::kTimeout, 0, format, args...);
}

// Paths, for writers that must not compute them at the time of writing (the
// crash handler precomputes the file of a crash-time line). Each composes into
// `out` (capacity `size`) without allocating and answers false, with `out`
// empty, before InitHostLogger or when the path does not fit.
// The log folder of a date: <root>/<yyyymmdd>/<instance>.
bool GetHostLogFolder(const platform::LocalTime& time, char* out, std::size_t size);
// The file of `file` at that time.
bool GetHostLogPath(HostLogFile file, const platform::LocalTime& time, char* out, std::size_t size);
// The program's log root: <log base>/quellmark/<program>.
bool GetHostLogRoot(char* out, std::size_t size);
