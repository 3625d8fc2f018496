// The parts of the crash tests' helpers both systems share.
#include "crs_test_support.h"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <fstream>

#include <gtest/gtest.h>
#include <regex>
#include <sstream>
#include <thread>

#include "platform/process.h"
#include "support/scratch.h"

namespace crs_test {

namespace fs = std::filesystem;

TempFolder::TempFolder() : path_(testsupport::MakeScratchFolder("crs_test_")) {}

TempFolder::~TempFolder() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void WriteWhole(const fs::path& path, const std::string& bytes) {
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<fs::path> FindFiles(const fs::path& folder, const std::string& part) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file() && it->path().filename().string().find(part) != std::string::npos) {
      found.push_back(it->path());
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

bool WaitUntil(const std::function<bool()>& done, int timeout_ms) {
  for (int waited = 0; !done(); waited += 50) {
    if (waited >= timeout_ms) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const fs::path& cwd,
                         std::vector<std::pair<std::string, std::string>> env) {
  platform::ProcessOptions options{.program = program,
                                   .args = args,
                                   .working_directory = cwd.string(),
                                   .environment = std::move(env),
                                   .std_in = platform::StdStream::kNull,
                                   .std_out = platform::StdStream::kPipe,
                                   .std_err = platform::StdStream::kPipe};
  ProcessResult result;
  const auto process = platform::Process::Start(options, &result.output);
  if (process == nullptr) return result;
  // Both pipes are read by turns, so that neither fills up; what the program
  // wrote before it ended is read after its end was seen.
  std::optional<platform::ExitStatus> status;
  std::string line;
  for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(90);
       !status && std::chrono::steady_clock::now() < end;) {
    status = process->Wait(0);
    for (bool read = true; read;) {
      read = process->ReadStdoutLine(&line, 10);
      if (read) result.output += line + "\n";
      if (process->ReadStderrLine(&line, 10)) {
        result.output += line + "\n";
        read = true;
      }
    }
  }
  if (status) result.code = status->exited ? status->exit_code : -status->signal;
  return result;
}

uint32_t FaultCode(Fault fault) {
#ifdef _WIN32
  switch (fault) {
    case Fault::kStackOverflow:
      return 0xC00000FD;
    case Fault::kAbort:
      return 0x40000015;  // what abort() raises once the C runtime's own handling is off
    default:
      return 0xC0000005;
  }
#else
  return fault == Fault::kAbort ? SIGABRT : SIGSEGV;
#endif
}

int FaultExit(Fault fault) {
  return BY_SYSTEM(-1, 1) * static_cast<int>(FaultCode(fault));
}

void ExpectDumpPlace(const fs::path& dump, const fs::path& log_root, const std::string& host,
                     const std::string& instance) {
  std::smatch m;
  const std::string name = dump.filename().string();
  const std::regex dump_name("\\[2112\\]dmp_ServerApp_" + host + "_([0-9]{8})-[0-9]{9}\\.dmp");
  ASSERT_TRUE(std::regex_match(name, m, dump_name)) << name;
  EXPECT_EQ(instance, dump.parent_path().filename().string());
  EXPECT_EQ(m[1].str(), dump.parent_path().parent_path().filename().string());
  EXPECT_EQ(log_root, dump.parent_path().parent_path().parent_path());
}

std::string ExceptionCodeLine(Fault fault) {
  char line[40];
  std::snprintf(line, sizeof(line), "# ExceptionCode=0x%X", FaultCode(fault));
  return line;
}

std::string MinidumpStream(const std::string& dump, uint32_t type) {
  const uint32_t count = ReadAt<uint32_t>(dump, 8);
  const uint32_t directory = ReadAt<uint32_t>(dump, 12);
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t at = directory + i * 12ull;
    if (ReadAt<uint32_t>(dump, at) != type) continue;
    const uint32_t size = ReadAt<uint32_t>(dump, at + 4);
    const uint32_t rva = ReadAt<uint32_t>(dump, at + 8);
    return uint64_t{rva} + size > dump.size() ? std::string() : dump.substr(rva, size);
  }
  return {};
}

MinidumpFacts ReadMinidump(const std::string& dump) {
  MinidumpFacts facts;
  facts.signature = ReadAt<uint32_t>(dump, 0) == 0x504D444Du && ReadAt<uint16_t>(dump, 4) == 0xA793;
  const std::string exception = MinidumpStream(dump, 6);
  facts.has_exception = exception.size() >= 168;
  facts.exception_thread = ReadAt<uint32_t>(exception, 0);
  facts.exception_code = ReadAt<uint32_t>(exception, 8);
  facts.exception_address = ReadAt<uint64_t>(exception, 24);
  const uint64_t exception_sp = ReadAt<uint64_t>(dump, ReadAt<uint32_t>(exception, 164) + 0x98);
  const std::string threads = MinidumpStream(dump, 3);
  for (uint32_t t = 0; t < ReadAt<uint32_t>(threads, 0); ++t) {
    const uint64_t entry = 4 + t * 48ull;
    facts.threads.push_back(ReadAt<uint32_t>(threads, entry));
    const uint64_t start = ReadAt<uint64_t>(threads, entry + 24);
    if (facts.threads.back() == facts.exception_thread && start <= exception_sp &&
        exception_sp < start + ReadAt<uint32_t>(threads, entry + 32)) {
      facts.exception_on_its_thread = true;
    }
  }
  const std::string modules = MinidumpStream(dump, 4);
  for (uint32_t m = 0; m < ReadAt<uint32_t>(modules, 0); ++m) {
    const uint64_t entry = 4 + m * 108ull;
    const uint32_t name_rva = ReadAt<uint32_t>(modules, entry + 20);
    std::string name;  // UTF-16, other characters as '?'
    for (uint32_t i = 0;
         i < ReadAt<uint32_t>(dump, name_rva) / 2 && name_rva + 6 + i * 2 <= dump.size(); ++i) {
      const uint16_t c = ReadAt<uint16_t>(dump, name_rva + 4 + i * 2);
      name += c < 0x80 ? static_cast<char>(c) : '?';
    }
    const uint64_t base = ReadAt<uint64_t>(modules, entry);
    facts.modules.push_back({name.substr(name.find_last_of("\\/") + 1), base,
                             base + ReadAt<uint32_t>(modules, entry + 8)});
  }
  facts.architecture = ReadAt<uint16_t>(MinidumpStream(dump, 7), 0);
  facts.full_memory = !MinidumpStream(dump, 9).empty();
  return facts;
}

const MinidumpFacts::Module* MinidumpFacts::FindModule(const std::string& file) const {
  const auto same = [](char a, char b) { return std::tolower(a) == std::tolower(b); };
  for (const Module& m : modules) {
    if (std::ranges::equal(m.name, file, same)) return &m;  // ASCII names
  }
  return nullptr;
}

bool MinidumpFacts::Lists(uint32_t thread) const {
  return std::find(threads.begin(), threads.end(), thread) != threads.end();
}

int StackwalkReading::ThreadWith(const std::string& frame) const {
  for (size_t t = 0; t < threads.size(); ++t) {
    for (const std::string& f : threads[t]) {
      if (f.rfind(frame, 0) == 0) return static_cast<int>(t);
    }
  }
  return -1;
}

bool StackwalkReading::Identifies(const std::string& module) const {
  auto it = modules.find(module);
  return it != modules.end() && !it->second.empty();
}

StackwalkReading ParseStackwalk(const std::string& output, bool ran_ok) {
  StackwalkReading reading;
  reading.text = output;
  reading.ran = ran_ok;
  reading.ok = ran_ok;
  // Errors of the reader of the file fail; the unwinder's (a frame rule it
  // cannot apply, logged by its evaluator) do not.
  static const std::regex kReadError("minidump(_processor)?\\.cc:[0-9]+: ERROR");
  static const std::regex kFrame("^([0-9]+)\\|[0-9]+\\|([^|]*)\\|([^|]*)\\|[^|]*\\|[^|]*\\|[^|]*$");
  static const std::regex kCrash("^Crash\\|([^|]*)\\|[^|]*\\|([0-9]+)$");
  static const std::regex kModule(
      "^Module\\|([^|]*)\\|[^|]*\\|[^|]*\\|([^|]*)\\|[^|]*\\|[^|]*\\|[^|]*$");
  std::istringstream in(output);
  std::smatch m;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (std::regex_search(line, kReadError)) reading.ok = false;
    if (std::regex_match(line, m, kCrash)) {
      reading.crash_reason = m[1];
      reading.crashed_thread = std::stoi(m[2]);
    } else if (std::regex_match(line, m, kModule)) {
      reading.modules[m[1]] = m[2];  // Module|name|version|debug file|debug id|base|end|main
    } else if (std::regex_match(line, m, kFrame)) {
      const size_t t = std::stoul(m[1]);
      if (reading.threads.size() <= t) reading.threads.resize(t + 1);
      reading.threads[t].push_back(m[3].length() == 0 ? m[2].str() : m[2].str() + "!" + m[3].str());
    }
  }
  return reading;
}

}  // namespace crs_test
