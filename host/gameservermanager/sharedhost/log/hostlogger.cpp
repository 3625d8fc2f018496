#include "hostlogger.h"

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <optional>
#include <string>

#include "hostlogger_testing.h"
#include "logline.h"
#include "mustsyncobject.h"
#include "platform/files.h"
#include "platform/identity.h"
#include "platform/settings.h"

namespace {

using hostlog::LineForm;

// Settings and paths: written by InitHostLogger before other threads start,
// read without locks afterwards. The gates are atomics only so that a test
// may re-initialise between cases without a data race report.
std::atomic<std::uint32_t> g_threshold{HLOG_LOW};
std::atomic<bool> g_ipc_msg{false};
std::atomic<bool> g_ipc_memory{false};
bool g_ready = false;
std::string g_machine;
std::string g_program;
std::string g_root;      // <base>/quellmark/<program>
std::string g_instance;  // empty: files lie in g_root itself

// Lock A (main and kernel) and lock B (packet). The other logs each have a
// lock of their own too: an append is one piece with O_APPEND and on NTFS,
// but not under Wine or on a network share, where two threads appending at
// once lose a line.
CMustSyncObjectLog g_lock_a;
CMustSyncObjectLog g_lock_b;
CMustSyncObjectLog g_lock_timeout;
CMustSyncObjectLog g_lock_etcinfo;
CMustSyncObjectLog g_lock_rwpm;
CMustSyncObjectLog g_lock_ipcmsg;

// Set once a thread that may have been writing a line was stopped by force.
// Its locks (ours and the standard output stream's) may stay taken for
// good, so from then on a lock is waited for a bounded time and the line is
// written without it when the time runs out, and the standard output is
// written below its stream. A line may then interleave with another; the
// process is on its way out and every line still lands.
std::atomic<bool> g_locks_abandoned{false};
constexpr std::chrono::milliseconds kAbandonedLockWait{200};

struct LogFileInfo {
  const char* name;  // file name head
  bool daily;
  LineForm form;
  CMustSyncObjectLog* lock;
};

const LogFileInfo& Info(HostLogFile file) {
  static const LogFileInfo kInfos[] = {
      {"error", false, LineForm::kLevel, &g_lock_a},
      {"kernel", false, LineForm::kLevel, &g_lock_a},
      {"timeout", true, LineForm::kInfo, &g_lock_timeout},
      {"etcinfo", false, LineForm::kInfo, &g_lock_etcinfo},
      {"packet", false, LineForm::kInfo, &g_lock_b},
      {"RWPM", false, LineForm::kIpc, &g_lock_rwpm},
      {"IPCMSG", false, LineForm::kIpc, &g_lock_ipcmsg},
  };
  return kInfos[static_cast<int>(file)];
}

// snprintf into out; true when it fitted. A path that does not fit is cut.
bool ComposeFolder(const platform::LocalTime& t, char* out, std::size_t size) {
  int n;
  if (g_instance.empty()) {
    n = std::snprintf(out, size, "%s", g_root.c_str());
  } else {
    const char sep = platform::PathSeparator();
    n = std::snprintf(out, size, "%s%c%d%02d%02d%c%s", g_root.c_str(), sep, t.year, t.month, t.day,
                      sep, g_instance.c_str());
  }
  return n >= 0 && static_cast<std::size_t>(n) < size;
}

bool ComposePath(HostLogFile file, const platform::LocalTime& t, char* out, std::size_t size) {
  // The crash path names the main log with the same helper.
  const LogFileInfo& info = Info(file);
  hostlog::FixedText path(out, size);
  hostlog::AppendLogPath(g_root, g_instance, info.name, g_program, g_machine, t, info.daily, &path);
  // The folder alone must fit a path buffer ("/yyyymmdd/" is 10 bytes).
  const std::size_t folder = g_root.size() + (g_instance.empty() ? 0 : 10 + g_instance.size());
  return !path.truncated() && folder < hostlog::kPathBuffer;
}

// Appends `format` expanded with `args` to *out (a copy of `args` is used).
void Expand(const char* format, va_list args, std::string* out) {
  const std::size_t at = out->size();
  std::size_t room = 256;
  for (int attempt = 0; attempt < 2; ++attempt) {
    out->resize(at + room);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(out->data() + at, room, format, copy);
    va_end(copy);
    if (n < 0) {
      out->resize(at);
      return;
    }
    if (static_cast<std::size_t>(n) < room) {
      out->resize(at + static_cast<std::size_t>(n));
      return;
    }
    room = static_cast<std::size_t>(n) + 1;
  }
}

// The path of each log for the last date and slot this thread wrote at:
// composing it is the dearest step of a line after the system calls.
struct PathCache {
  std::uint32_t generation = 0;
  long key = -1;
  char path[hostlog::kPathBuffer];
};

// Bumped by every (re-)initialisation, so that cached paths of an earlier
// configuration are never used.
std::atomic<std::uint32_t> g_generation{1};

const char* CachedPath(HostLogFile file, const platform::LocalTime& t) {
  thread_local PathCache cache[7];
  PathCache& c = cache[static_cast<int>(file)];
  const long key = ((static_cast<long>(t.year) * 13 + t.month) * 32 + t.day) * 8 + t.hour / 3;
  const std::uint32_t generation = g_generation.load(std::memory_order_relaxed);
  if (c.key != key || c.generation != generation) {
    ComposePath(file, t, c.path, sizeof c.path);
    c.key = key;
    c.generation = generation;
  }
  return c.path;
}

// One line: steps 2 to 9 of a writer (the gate is tested by the caller).
// `args` null: `text` is verbatim; otherwise it is a printf format.
void WriteLine(HostLogFile file, std::uint32_t level, std::string_view text, va_list* args) {
  if (!g_ready) return;  // before InitHostLogger a line cannot be placed
  const LogFileInfo& info = Info(file);
  const platform::LocalTime now = platform::GetLocalTime();
  const char* path = CachedPath(file, now);

  // The composed format (fixed part + caller's text + line end + NUL) must
  // fit its buffer; the caller's text is cut so that the line end survives.
  thread_local std::string line;
  thread_local std::string bytes;
  line.clear();
  hostlog::AppendLinePrefix(info.form, now, level, g_machine, g_program, &line);
  const std::string_view suffix = hostlog::LineSuffix(info.form);
  const std::size_t buffer =
      info.form == LineForm::kIpc ? hostlog::kIpcLineBuffer : hostlog::kLineBuffer;
  const std::size_t fixed = line.size() + suffix.size() + 1;
  const std::size_t budget = buffer > fixed ? buffer - fixed : 0;
  const std::size_t keep = hostlog::CutLength(text, budget, args != nullptr);
  if (args) {
    char format[hostlog::kIpcLineBuffer];
    text.substr(0, keep).copy(format, keep);
    format[keep] = '\0';
    Expand(format, *args, &line);
  } else {
    line.append(text.substr(0, keep));
  }
  line.append(suffix);
  bytes.clear();
  hostlog::AppendTextMode(line, &bytes);

  {
    const bool abandoned = g_locks_abandoned.load(std::memory_order_acquire);
    std::optional<CMustSyncObjectGuard> guard;
    if (abandoned) {
      guard.emplace(info.lock, kAbandonedLockWait);
    } else {
      guard.emplace(info.lock);
    }
    platform::FileHandle out = platform::OpenForAppend(path);
    if (out == platform::kInvalidFile) {
      MakeLogFolders(now);
      out = platform::OpenForAppend(path);
    }
    // A line the file cannot take is dropped from the file only: the
    // standard output still carries it, so a full or unwritable log folder
    // never loses a line outright.
    if (out != platform::kInvalidFile) {
      platform::WriteToFile(out, bytes.data(), bytes.size());
      platform::CloseFile(out);
    }
    // The stream's own lock may be one of those a stopped thread kept.
    if (abandoned) {
      platform::WriteToStandardOutput(line.data(), line.size());
    } else {
      std::fwrite(line.data(), 1, line.size(), stdout);
    }
  }
  if (level == HLOG_FATAL && info.form == LineForm::kLevel && platform::IsDebuggerAttached()) {
    platform::BreakIntoDebugger();
  }
}

}  // namespace

void InitHostLogger(const char* machine_name, const char* program_name, const char* instance_folder,
                    const char* drive_letter) {
  const char* const kSettings = ".\\Setting.ini";
  std::uint32_t threshold =
      platform::GetPrivateProfileInt("LogInfo", "LogLevel", HLOG_INFO, kSettings);
  if (threshold > HLOG_LOW) {
    platform::ReportAssertion("\"LogLevel\" <= 5", __FILE__, __LINE__);
    threshold = 0;
  }
  g_threshold.store(threshold, std::memory_order_relaxed);
  g_ipc_msg.store(platform::GetPrivateProfileInt("LogInfo", "IPCMsg", 0, kSettings) != 0,
                  std::memory_order_relaxed);
  g_ipc_memory.store(platform::GetPrivateProfileInt("LogInfo", "IPCMemory", 0, kSettings) != 0,
                     std::memory_order_relaxed);

  g_machine = machine_name ? machine_name : "";
  g_program = program_name ? program_name : "";
  const char sep = platform::PathSeparator();
  std::string root = platform::LogBaseFolder() + sep + "quellmark" + sep + g_program;
  // A drive letter replaces the drive of a base that has one ("C:\\log").
  if (drive_letter && root.size() >= 2 && root[1] == ':')
    root[0] = *drive_letter ? *drive_letter : 'C';
  if (root.size() >= hostlog::kPathBuffer) root.resize(hostlog::kPathBuffer - 1);
  g_root = root;
  g_instance = instance_folder ? instance_folder : "";
  g_ready = true;
  g_generation.fetch_add(1);
}

void AbandonHostLogLocks() {
  g_locks_abandoned.store(true, std::memory_order_release);
}

bool IsLogLevelOn(std::uint32_t level) {
  return g_threshold.load(std::memory_order_relaxed) >= level;
}
bool IsIpcMemoryLogOn() {
  return g_ipc_memory.load(std::memory_order_relaxed);
}
bool IsIpcMsgLogOn() {
  return g_ipc_msg.load(std::memory_order_relaxed);
}

bool IsHostLogOn(HostLogFile file, std::uint32_t level) {
  switch (file) {
    case HostLogFile::kMain:
    case HostLogFile::kKernel:
      return IsLogLevelOn(level);
    case HostLogFile::kTimeout:
      return IsLogLevelOn(HLOG_FATAL);
    case HostLogFile::kEtcInfo:
    case HostLogFile::kPacket:
      return IsLogLevelOn(HLOG_INFO);
    case HostLogFile::kRwpm:
      return IsIpcMemoryLogOn();
    case HostLogFile::kIpcMsg:
      return IsIpcMsgLogOn();
  }
  return false;
}

void MakeLogFolders(const platform::LocalTime& time) {
  if (!g_ready) return;
  char folder[hostlog::kPathBuffer];
  ComposeFolder(time, folder, sizeof folder);
  platform::CreateFolderChain(folder);
}

void WriteHostLogText(HostLogFile file, std::uint32_t level, std::string_view text) {
  if (!IsHostLogOn(file, level)) return;
  WriteLine(file, level, text, nullptr);
}

// The printf writers test their gate before anything else.
#define HOSTLOG_WRITER(file, level, format) \
  do {                                      \
    if (!IsHostLogOn(file, level)) return;  \
    va_list args;                           \
    va_start(args, format);                 \
    WriteLine(file, level, format, &args);  \
    va_end(args);                           \
  } while (0)

void HostLog(std::uint32_t level, const char* format, ...) {
  if (g_threshold.load(std::memory_order_relaxed) < level || !format) return;
  HOSTLOG_WRITER(HostLogFile::kMain, level, format);
}
void KernelLog(std::uint32_t level, const char* format, ...) {
  if (g_threshold.load(std::memory_order_relaxed) < level || !format) return;
  HOSTLOG_WRITER(HostLogFile::kKernel, level, format);
}
void TimeoutLog(const char* format, ...) {
  if (!format) return;
  HOSTLOG_WRITER(HostLogFile::kTimeout, 0, format);
}
void EtcInfoLog(const char* format, ...) {
  if (!format) return;
  HOSTLOG_WRITER(HostLogFile::kEtcInfo, 0, format);
}
void PacketLog(const char* format, ...) {
  if (!format) return;
  HOSTLOG_WRITER(HostLogFile::kPacket, 0, format);
}
void RwpmLog(const char* format, ...) {
  if (!format) return;
  HOSTLOG_WRITER(HostLogFile::kRwpm, 0, format);
}
void IpcMsgLog(const char* format, ...) {
  if (!format) return;
  HOSTLOG_WRITER(HostLogFile::kIpcMsg, 0, format);
}

bool GetHostLogFolder(const platform::LocalTime& time, char* out, std::size_t size) {
  if (!out || size == 0) return false;
  if (!g_ready || !ComposeFolder(time, out, size)) {
    out[0] = '\0';
    return false;
  }
  return true;
}

bool GetHostLogPath(HostLogFile file, const platform::LocalTime& time, char* out,
                    std::size_t size) {
  if (!out || size == 0) return false;
  if (!g_ready || !ComposePath(file, time, out, size)) {
    out[0] = '\0';
    return false;
  }
  return true;
}

bool GetHostLogRoot(char* out, std::size_t size) {
  if (!out || size == 0) return false;
  const int n = std::snprintf(out, size, "%s", g_root.c_str());
  if (!g_ready || n < 0 || static_cast<std::size_t>(n) >= size) {
    out[0] = '\0';
    return false;
  }
  return true;
}

void ResetHostLoggerForTesting() {
  g_threshold.store(HLOG_LOW);
  g_ipc_msg.store(false);
  g_ipc_memory.store(false);
  g_ready = false;
  g_machine.clear();
  g_program.clear();
  g_root.clear();
  g_instance.clear();
  g_generation.fetch_add(1);
  g_locks_abandoned.store(false);
}

unsigned int HostLogThresholdForTesting() {
  return g_threshold.load();
}
