// The crash handler end to end on Windows (run under Wine): the helper
// program crs_crash_target.exe starts as the host does and crashes; the
// minidump (MDMP with the thread, module, exception and system streams),
// the uploads to the development crash-report service and the host log line
// are checked. "FullDump" is 0 throughout: a full-memory dump of a Wine
// process is hundreds of megabytes.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <dbghelp.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstddef>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "wine_host.h"

namespace {

namespace fs = std::filesystem;
using wine_test::FindFiles;
using wine_test::ReadWhole;
using wine_test::WriteWhole;

const std::regex kDumpName("\\[2112\\]dmp_ServerApp_CRASHHOST_[0-9]{8}-[0-9]{9}\\.dmp");

// What a test needs to know of one dump.
struct DumpFacts {
  bool signature = false;
  uint32_t exception_code = 0;
  uint32_t exception_thread = 0;
  bool exception_thread_listed = false;
  // The exception's stack pointer lies in the stack the dump holds for the
  // thread the exception names: the exception belongs to that thread.
  bool exception_on_named_thread = false;
  uint32_t threads = 0;
  bool has_memory_list = false;
  bool has_full_memory = false;
  uint16_t architecture = 0xFFFF;
  bool lists_program = false;  // a module named ...\ServerApp.exe
};

template <typename T>
bool ReadAt(const std::string& dump, uint64_t offset, T* out) {
  if (offset + sizeof(T) > dump.size()) return false;
  std::memcpy(out, dump.data() + offset, sizeof(T));
  return true;
}

DumpFacts ReadDump(const std::string& dump) {
  DumpFacts facts;
  MINIDUMP_HEADER header{};
  if (!ReadAt(dump, 0, &header)) return facts;
  facts.signature = header.Signature == 0x504D444Du &&  // "MDMP"
                    (header.Version & 0xFFFF) == (MINIDUMP_VERSION & 0xFFFF);
  std::vector<MINIDUMP_THREAD> thread_list;
  uint64_t exception_sp = 0;
  for (uint32_t i = 0; i < header.NumberOfStreams; ++i) {
    MINIDUMP_DIRECTORY entry{};
    if (!ReadAt(dump, header.StreamDirectoryRva + i * uint64_t{sizeof(entry)}, &entry)) break;
    const uint64_t rva = entry.Location.Rva;
    EXPECT_LE(rva + entry.Location.DataSize, dump.size()) << "stream " << entry.StreamType;
    switch (entry.StreamType) {
      case ThreadListStream: {
        ReadAt(dump, rva, &facts.threads);
        for (uint32_t t = 0; t < facts.threads; ++t) {
          MINIDUMP_THREAD thread{};
          if (ReadAt(dump, rva + 4 + t * uint64_t{sizeof(thread)}, &thread))
            thread_list.push_back(thread);
        }
        break;
      }
      case ModuleListStream: {
        uint32_t count = 0;
        ReadAt(dump, rva, &count);
        for (uint32_t m = 0; m < count; ++m) {
          MINIDUMP_MODULE module{};
          if (!ReadAt(dump, rva + 4 + m * uint64_t{sizeof(module)}, &module)) break;
          uint32_t bytes = 0;
          if (!ReadAt(dump, module.ModuleNameRva, &bytes) ||
              module.ModuleNameRva + 4ull + bytes > dump.size())
            continue;
          std::wstring name(bytes / 2, L'\0');
          std::memcpy(name.data(), dump.data() + module.ModuleNameRva + 4, bytes / 2 * 2);
          const std::wstring tail = L"\\ServerApp.exe";
          if (name.size() >= tail.size() &&
              _wcsicmp(name.c_str() + name.size() - tail.size(), tail.c_str()) == 0)
            facts.lists_program = true;
        }
        break;
      }
      case ExceptionStream: {
        MINIDUMP_EXCEPTION_STREAM exception{};
        if (ReadAt(dump, rva, &exception)) {
          facts.exception_thread = exception.ThreadId;
          facts.exception_code = exception.ExceptionRecord.ExceptionCode;
          ReadAt(dump, exception.ThreadContext.Rva + offsetof(CONTEXT, Rsp), &exception_sp);
        }
        break;
      }
      case SystemInfoStream: {
        MINIDUMP_SYSTEM_INFO info{};
        if (ReadAt(dump, rva, &info)) facts.architecture = info.ProcessorArchitecture;
        break;
      }
      case MemoryListStream:
        facts.has_memory_list = true;
        break;
      case Memory64ListStream:
        facts.has_full_memory = true;
        break;
      default:
        break;
    }
  }
  for (const MINIDUMP_THREAD& thread : thread_list) {
    if (thread.ThreadId != facts.exception_thread) continue;
    facts.exception_thread_listed = true;
    const uint64_t start = thread.Stack.StartOfMemoryRange;
    facts.exception_on_named_thread =
        start <= exception_sp && exception_sp < start + thread.Stack.Memory.DataSize;
  }
  return facts;
}

class CrashWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!service_.Start(&why)) GTEST_SKIP() << why;
    // Each test has its own copy of the program, so that its CRS.ini (next
    // to the executable) is its own; the name gives the report prefix.
    fs::create_directories(folder_.dos() / "bin");
    fs::create_directories(folder_.dos() / "run");
    exe_ = folder_.dos() / "bin" / "ServerApp.exe";
    fs::copy_file(SERVERAPP_BINARY_DIR "/tests/crs/crs_crash_target.exe", exe_);
    WriteWhole(exe_.parent_path() / "CRS.ini", "[CRS]\r\nURL=" + service_.Url("/crs/") + "\r\n");
    WriteWhole(folder_.dos() / "run" / "Setting.ini", "[GameMgmt]\r\nFullDump=0\r\n");
  }

  fs::path LogRoot() const { return folder_.dos() / "log" / "quellmark" / "ServerApp"; }

  wine_test::RunResult Crash(const std::string& mode) {
    return wine_test::RunProgram(exe_, {mode}, folder_.dos() / "run",
                                 {"SERVERAPP_LOG_BASE=" + (folder_.dos() / "log").string()},
                                 folder_.dos() / "output.txt", 90000);
  }

  // The one dump under the log root; fails the test when there is not
  // exactly one.
  fs::path OnlyDump() {
    auto dumps = FindFiles(LogRoot(), ".dmp");
    EXPECT_EQ(1u, dumps.size());
    return dumps.empty() ? fs::path() : dumps[0];
  }

  // The dumps the service stored (not the ".headers" files beside them).
  std::vector<fs::path> StoredDumps() {
    std::vector<fs::path> dumps;
    for (const fs::path& p : FindFiles(service_.CrashStore(), ".dmp")) {
      if (p.extension() == ".dmp") dumps.push_back(p);
    }
    return dumps;
  }

  // Every host log line under the log root.
  std::string HostLogText() {
    std::string text;
    for (const fs::path& log : FindFiles(LogRoot(), ".log")) text += ReadWhole(log);
    return text;
  }

  wine_test::SharedFolder folder_;
  wine_test::HostDevHttp service_{folder_};
  fs::path exe_;
};

TEST_F(CrashWin32Test, AccessViolationWritesDumpUploadsItAndLogsTheUpload) {
  auto run = Crash("null-main");
  ASSERT_TRUE(run.started);
  ASSERT_FALSE(run.timed_out);
  EXPECT_EQ(0xC0000005ul, run.exit_code);

  fs::path dump = OnlyDump();
  ASSERT_FALSE(dump.empty());
  EXPECT_TRUE(std::regex_match(dump.filename().string(), kDumpName)) << dump;
  // <root>/<day>/<instance>/<file>
  EXPECT_EQ("7_3", dump.parent_path().filename().string());
  const std::string bytes = ReadWhole(dump);
  DumpFacts facts = ReadDump(bytes);
  EXPECT_TRUE(facts.signature);
  EXPECT_EQ(0xC0000005u, facts.exception_code);
  EXPECT_GE(facts.threads, 1u);
  EXPECT_TRUE(facts.exception_thread_listed);
  EXPECT_TRUE(facts.exception_on_named_thread);
  EXPECT_TRUE(facts.lists_program);
  EXPECT_EQ(PROCESSOR_ARCHITECTURE_AMD64, facts.architecture);
  EXPECT_FALSE(facts.has_full_memory) << "FullDump=0 asks for a normal dump";

  // The service holds the dump, byte for byte, and the text of the crash.
  const fs::path stored = service_.CrashStore() / dump.filename();
  EXPECT_EQ(bytes, ReadWhole(stored));
  EXPECT_NE(std::string::npos, ReadWhole(stored.string() + ".headers").find("2112"));
  std::vector<fs::path> texts;
  for (const fs::path& p : FindFiles(service_.CrashStore(), "_crs.log")) {
    if (p.extension() == ".log") texts.push_back(p);  // not the ".headers" beside it
  }
  ASSERT_EQ(1u, texts.size());
  EXPECT_EQ(0u, texts[0].filename().string().rfind("ServerApp_", 0)) << texts[0];
  const std::string text = ReadWhole(texts[0]);
  EXPECT_NE(std::string::npos, text.find("# ExceptionCode=0xC0000005\r\n")) << text;
  // The faulting frame lies in the program itself (Wine's DbgHelp gives
  // module names in lower case).
  std::string lower = text;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_NE(std::string::npos, lower.find(" 0 0x")) << text;
  EXPECT_NE(std::string::npos, lower.find("(serverapp+0x")) << text;

  EXPECT_NE(std::string::npos, HostLogText().find("CRS Upload Succeeded: " + service_.Url("/crs/")))
      << HostLogText();
}

TEST_F(CrashWin32Test, StackOverflowIsReportedFromAFreshThread) {
  auto run = Crash("overflow");
  ASSERT_TRUE(run.started);
  ASSERT_FALSE(run.timed_out);
  EXPECT_EQ(0xC00000FDul, run.exit_code);
  fs::path dump = OnlyDump();
  ASSERT_FALSE(dump.empty());
  DumpFacts facts = ReadDump(ReadWhole(dump));
  EXPECT_TRUE(facts.signature);
  EXPECT_EQ(0xC00000FDu, facts.exception_code);
  // The exception belongs to the thread that overflowed, not to the one
  // that wrote the dump.
  EXPECT_TRUE(facts.exception_thread_listed);
  EXPECT_TRUE(facts.exception_on_named_thread);
  EXPECT_GE(facts.threads, 2u) << "the faulting thread and the reporting thread";
  EXPECT_EQ(1u, StoredDumps().size());
  EXPECT_NE(std::string::npos, HostLogText().find("CRS Upload Succeeded"));
}

TEST_F(CrashWin32Test, InvalidParameterAndAbortReachTheFilter) {
  auto run = Crash("invalid-parameter");
  ASSERT_TRUE(run.started);
  ASSERT_FALSE(run.timed_out);
  EXPECT_EQ(0xC0000005ul, run.exit_code);
  fs::path dump = OnlyDump();
  ASSERT_FALSE(dump.empty());
  EXPECT_EQ(0xC0000005u, ReadDump(ReadWhole(dump)).exception_code);
  std::error_code ec;
  fs::remove_all(LogRoot(), ec);

  // abort() would otherwise end the process with exit code 3 and no report.
  run = Crash("abort");
  ASSERT_FALSE(run.timed_out);
  EXPECT_EQ(0x40000015ul, run.exit_code);
  dump = OnlyDump();
  ASSERT_FALSE(dump.empty());
  EXPECT_EQ(0x40000015u, ReadDump(ReadWhole(dump)).exception_code);
}

TEST_F(CrashWin32Test, RefusedUploadKeepsTheDumpAndLogsTheFailure) {
  ASSERT_EQ(200, service_.Control("/_control/crs?status=201"));
  auto run = Crash("null-thread");
  ASSERT_FALSE(run.timed_out);
  EXPECT_EQ(0xC0000005ul, run.exit_code);
  fs::path dump = OnlyDump();
  ASSERT_FALSE(dump.empty());
  EXPECT_TRUE(ReadDump(ReadWhole(dump)).signature);
  EXPECT_NE(std::string::npos,
            HostLogText().find("CRS Upload Failed: LOG HTTP[201] URL=" + service_.Url("/crs/")))
      << HostLogText();
}

TEST_F(CrashWin32Test, QuietFilterWritesNothing) {
  auto run = Crash("quiet");
  ASSERT_FALSE(run.timed_out);
  EXPECT_EQ(0xC0000005ul, run.exit_code);
  EXPECT_TRUE(FindFiles(LogRoot(), ".dmp").empty());
  EXPECT_TRUE(StoredDumps().empty());
  EXPECT_EQ(std::string::npos, HostLogText().find("CRS Upload"));

  // The same program without the quiet filter does write: the check above
  // is not vacuous.
  run = Crash("null-main");
  EXPECT_EQ(1u, FindFiles(LogRoot(), ".dmp").size());
}

}  // namespace
