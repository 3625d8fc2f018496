#include "logmsgmanager.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "findxlsmsg.h"
#include "logmsgmanager_testing.h"
#include "platform/identity.h"
#include "platform/shm.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Ids published at most: each one is a mapping every instance keeps open.
constexpr std::size_t kMaxPublishedIds = 1000;

std::atomic<std::int32_t> m_eSharedMemUsage{EUSAGE_NOTREADY};
std::unique_ptr<FindXlsMsg> m_pXlsLoader;
std::atomic<std::uint32_t> g_error{ELOGMSG_OK};
platform::SharedMemory* g_count_mapping = nullptr;
std::vector<platform::SharedMemory*> g_message_mappings;

// Set when a reader found no table and turned publisher during this
// initialisation. A publisher that then finds a table sends it back to
// reading; should that reader still see none (the table exists but cannot be
// opened), a second turn would swing between the two for ever.
bool g_turned_publisher = false;

std::atomic<std::uint32_t> g_table_wait_ms{1000};
std::atomic<std::uint32_t> g_count_wait_ms{10000};
std::atomic<std::uint32_t> g_poll_ms{100};

void Fail(std::uint32_t code) {
  g_error.store(code, std::memory_order_relaxed);
}

void MessageName(std::size_t n, char (&name)[32]) {
  std::snprintf(name, sizeof name, kLogDataNameFormat, static_cast<std::ptrdiff_t>(n));
}

// Closes every mapping handle and drops the table; the error code stays.
void DropHeld() {
  m_pXlsLoader.reset();
  for (platform::SharedMemory* m : g_message_mappings) platform::CloseSharedMemory(m);
  g_message_mappings.clear();
  platform::CloseSharedMemory(g_count_mapping);
  g_count_mapping = nullptr;
}

// Polls `ready` every poll interval until it answers true or the limit has
// passed (the test comes before each sleep).
template <typename Ready>
bool WaitFor(std::uint32_t limit_ms, Ready ready) {
  const Clock::time_point start = Clock::now();
  for (;;) {
    if (ready()) return true;
    if (Clock::now() - start > milliseconds(limit_ms)) return false;
    std::this_thread::sleep_for(milliseconds(g_poll_ms.load()));
  }
}

std::uint32_t LoadCount(const void* view) {
  return std::atomic_ref<const std::uint32_t>(*static_cast<const std::uint32_t*>(view))
      .load(std::memory_order_acquire);
}

// Loads the file into m_pXlsLoader. *held_by_another (when given) tells a
// failure that is only another instance having the file open: it is
// publishing the table at this moment, and no error code is set for that.
bool LoadTable(bool* held_by_another = nullptr) {
  auto table = std::make_unique<FindXlsMsg>();
  if (!table->Load(kLogMszPath)) {
    if (held_by_another && table->HeldByAnother()) {
      *held_by_another = true;
      HostLog(HLOG_WARN, "Log Msz File %s : opened by another instance, reading its table",
              kLogMszPath);
      return false;
    }
    Fail(ELOGMSG_FILE);
    HostLog(HLOG_ERROR, "Log Msz File %s : %s", kLogMszPath, table->Problem().c_str());
    return false;
  }
  m_pXlsLoader = std::move(table);
  return true;
}

bool InitMode(ESharedMemUsage usage);

// Publishing: the texts first, the count last (a non-zero count tells the
// readers that every message mapping is complete).
bool Publish() {
  SERVERAPP_ASSERT(m_pXlsLoader);
  if (!m_pXlsLoader) return false;
  bool existed = false;
  g_count_mapping = platform::CreateSharedMemory(kLogDataSizeName, kLogMappingSize, &existed);
  if (!g_count_mapping) {
    SERVERAPP_ASSERT(false);
    Fail(ELOGMSG_CREATE);
    return false;
  }
  if (existed) {
    // Another instance began publishing after our existence test: read its
    // table rather than writing over it while its readers look.
    platform::CloseSharedMemory(g_count_mapping);
    g_count_mapping = nullptr;
    m_pXlsLoader.reset();
    m_eSharedMemUsage.store(EUSAGE_READ);
    return InitMode(EUSAGE_READ);
  }
  void* count_view = platform::MapSharedMemory(g_count_mapping, kLogMappingSize, true);
  if (!count_view) {
    SERVERAPP_ASSERT(false);
    Fail(ELOGMSG_VIEW);
    DropHeld();
    return false;
  }
  std::atomic_ref<std::uint32_t>(*static_cast<std::uint32_t*>(count_view)).store(0);

  // Ids are published by position, 0 up to the largest id, so that a table
  // with gaps loses nothing; the gaps publish empty texts.
  const auto& texts = m_pXlsLoader->Texts();
  std::size_t published = 0;
  for (auto it = texts.rbegin(); it != texts.rend(); ++it) {
    if (it->first >= 0 && static_cast<std::size_t>(it->first) < kMaxPublishedIds) {
      published = static_cast<std::size_t>(it->first) + 1;
      break;
    }
  }
  for (std::size_t n = 0; n < published; ++n) {
    char name[32];
    MessageName(n, name);
    platform::SharedMemory* mapping = platform::CreateSharedMemory(name, kLogMappingSize, nullptr);
    if (!mapping) {
      SERVERAPP_ASSERT(false);
      Fail(ELOGMSG_CREATE);
      platform::UnmapSharedMemory(g_count_mapping, count_view, kLogMappingSize);
      DropHeld();  // the count never turned non-zero: nobody is left waiting on it
      return false;
    }
    void* view = platform::MapSharedMemory(mapping, kLogMappingSize, true);
    if (!view) {
      SERVERAPP_ASSERT(false);
      Fail(ELOGMSG_VIEW);
      platform::CloseSharedMemory(mapping);
      platform::UnmapSharedMemory(g_count_mapping, count_view, kLogMappingSize);
      DropHeld();
      return false;
    }
    std::memset(view, 0, kLogMappingSize);
    const std::string text = m_pXlsLoader->Find(static_cast<std::int64_t>(n));
    std::memcpy(view, text.data(), std::min(text.size(), kLogMappingSize - 1));
    platform::UnmapSharedMemory(mapping, view, kLogMappingSize);
    g_message_mappings.push_back(mapping);
  }
  std::atomic_ref<std::uint32_t>(*static_cast<std::uint32_t*>(count_view))
      .store(static_cast<std::uint32_t>(published), std::memory_order_release);
  platform::UnmapSharedMemory(g_count_mapping, count_view, kLogMappingSize);
  return true;
}

bool ReadPublished() {
  SERVERAPP_ASSERT(EUSAGE_READ == m_eSharedMemUsage.load());
  platform::SharedMemory* count = nullptr;
  WaitFor(g_table_wait_ms.load(), [&] {
    count = platform::OpenSharedMemory(kLogDataSizeName, false);
    return count != nullptr;
  });
  if (!count) {
    Fail(ELOGMSG_WAIT);
    if (g_turned_publisher) return false;
    g_turned_publisher = true;
    return InitMode(EUSAGE_WRITE);  // nobody published: this instance does
  }
  g_count_mapping = count;
  const void* view = platform::MapSharedMemory(count, kLogMappingSize, false);
  if (!view) {
    // No code is defined for this; the nearest is "could not open".
    Fail(ELOGMSG_OPEN);
    platform::CloseSharedMemory(count);
    g_count_mapping = nullptr;
    return false;
  }
  std::uint32_t published = 0;
  WaitFor(g_count_wait_ms.load(), [&] { return (published = LoadCount(view)) != 0; });
  platform::UnmapSharedMemory(count, const_cast<void*>(view), kLogMappingSize);
  if (published == 0) {
    Fail(ELOGMSG_WAIT);
    platform::CloseSharedMemory(count);
    g_count_mapping = nullptr;
    return false;
  }
  for (std::size_t n = 0; n < published; ++n) {
    char name[32];
    MessageName(n, name);
    platform::SharedMemory* mapping = platform::OpenSharedMemory(name, false);
    if (!mapping) {
      SERVERAPP_ASSERT(false);
      Fail(ELOGMSG_OPEN);
      return false;  // the handles opened so far stay until release
    }
    g_message_mappings.push_back(mapping);
  }
  return true;
}

bool InitMode(ESharedMemUsage usage) {
  m_eSharedMemUsage.store(usage);
  switch (usage) {
    case EUSAGE_NOUSE:
      return LoadTable();
    case EUSAGE_WRITE: {
      platform::SharedMemory* existing = platform::OpenSharedMemory(kLogDataSizeName, false);
      if (existing) {
        SERVERAPP_ASSERT(EUSAGE_WRITE == m_eSharedMemUsage.load());
        platform::CloseSharedMemory(existing);
        return InitMode(EUSAGE_READ);
      }
      // Two publishers at once: the one that loses the exclusive open waits
      // for the other's table as a reader does.
      bool held = false;
      if (!LoadTable(&held)) return held && InitMode(EUSAGE_READ);
      const bool published = Publish();
      m_pXlsLoader.reset();
      return published;
    }
    case EUSAGE_READ:
      return ReadPublished();
    default:
      SERVERAPP_ASSERT(false);
      Fail(ELOGMSG_BAD_USAGE);
      return false;
  }
}

}  // namespace

bool LogMsgManager::InitLogMsgManager(ESharedMemUsage usage) {
  // A second initialisation (start-up's fallback to EUSAGE_NOUSE) first lets
  // go of what the first one held.
  DropHeld();
  g_turned_publisher = false;
  return InitMode(usage);
}

std::string LogMsgManager::GetLogMsg(std::uint32_t id) {
  switch (m_eSharedMemUsage.load()) {
    case EUSAGE_NOTREADY: {
      char line[1024];
      std::snprintf(line, sizeof line, "# HLOG_MSG WARN : Not Ready. : %d\n", static_cast<int>(id));
      platform::DebuggerOutput(line);
      return {};
    }
    case EUSAGE_NOUSE:
      return m_pXlsLoader ? m_pXlsLoader->Find(id) : std::string();
    case EUSAGE_WRITE:
    case EUSAGE_READ: {
      if (id >= g_message_mappings.size()) {
        Fail(ELOGMSG_RANGE);
        return {};
      }
      platform::SharedMemory* mapping = g_message_mappings[id];
      const void* view = platform::MapSharedMemory(mapping, kLogMappingSize, false);
      if (!view) {
        SERVERAPP_ASSERT(false);
        Fail(ELOGMSG_VIEW);
        return {};
      }
      const char* text = static_cast<const char*>(view);
      const void* nul = std::memchr(text, 0, kLogMappingSize);
      const std::size_t length =
          nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : kLogMappingSize;
      std::string copy(text, length);
      platform::UnmapSharedMemory(mapping, const_cast<void*>(view), kLogMappingSize);
      return copy;
    }
    default:
      SERVERAPP_ASSERT(false);
      return {};
  }
}

std::uint32_t LogMsgManager::GetLogMsgError() {
  return g_error.load(std::memory_order_relaxed);
}

void LogMsgManager::ReleaseLogMsgManager() {
  g_error.store(ELOGMSG_OK);
  DropHeld();
}

ESharedMemUsage LogMsgManager::GetUsage() {
  return static_cast<ESharedMemUsage>(m_eSharedMemUsage.load());
}

void SetLogMsgWaitsForTesting(std::uint32_t table_ms, std::uint32_t count_ms,
                              std::uint32_t poll_ms) {
  g_table_wait_ms.store(table_ms);
  g_count_wait_ms.store(count_ms);
  g_poll_ms.store(poll_ms);
}

void ResetLogMsgManagerForTesting() {
  DropHeld();
  g_error.store(ELOGMSG_OK);
  m_eSharedMemUsage.store(EUSAGE_NOTREADY);
}
