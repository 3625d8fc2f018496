#include "crs_test_support.h"

#include <fcntl.h>
#include <link.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace crs_test {

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "crs_test_XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteWhole(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::filesystem::path> FindFiles(const std::filesystem::path& folder,
                                             const std::string& part) {
  std::vector<std::filesystem::path> found;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file() && it->path().filename().string().find(part) != std::string::npos) {
      found.push_back(it->path());
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::filesystem::path& cwd, const std::vector<std::string>& env) {
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) environment.emplace_back(*e);
  for (const std::string& extra : env) {
    std::string name = extra.substr(0, extra.find('=') + 1);
    std::erase_if(environment, [&](const std::string& v) { return v.rfind(name, 0) == 0; });
    environment.push_back(extra);
  }
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);

  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipe_fds[1], 1);
    dup2(pipe_fds[1], 2);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(pipe_fds[1]);
  ProcessResult result;
  char buffer[4096];
  ssize_t n;
  while ((n = read(pipe_fds[0], buffer, sizeof(buffer))) > 0) {
    result.output.append(buffer, static_cast<size_t>(n));
  }
  close(pipe_fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.exited = WIFEXITED(status);
  result.code = result.exited ? WEXITSTATUS(status) : WTERMSIG(status);
  return result;
}

namespace {

// One of Breakpad's tools of this build folder, fetched the first time one
// is asked for when they are not there yet.
std::string BreakpadTool(const std::string& name) {
  static const bool fetched = [] {
    auto result = RunProcess(SERVERAPP_SOURCE_DIR "/scripts/breakpad-tools.sh",
                             {SERVERAPP_BREAKPAD_DIR}, SERVERAPP_SOURCE_DIR, {});
    if (!result.exited || result.code != 0) ADD_FAILURE() << result.output;
    return true;
  }();
  (void)fetched;
  return SERVERAPP_BREAKPAD_DIR "/bin/linux-x64/" + name;
}

template <typename T>
T ReadAt(const std::string& bytes, uint64_t offset) {
  T value{};
  if (offset + sizeof(T) <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}

}  // namespace

std::string MinidumpStream(const std::string& dump, uint32_t type) {
  uint32_t count = ReadAt<uint32_t>(dump, 8);
  uint32_t directory = ReadAt<uint32_t>(dump, 12);
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t at = directory + i * 12ull;
    if (ReadAt<uint32_t>(dump, at) != type) continue;
    uint32_t size = ReadAt<uint32_t>(dump, at + 4);
    uint32_t rva = ReadAt<uint32_t>(dump, at + 8);
    if (uint64_t{rva} + size > dump.size()) return {};
    return dump.substr(rva, size);
  }
  return {};
}

size_t MinidumpThreadCount(const std::string& dump) {
  return ReadAt<uint32_t>(MinidumpStream(dump, 3), 0);
}

size_t LldbThreadCount(const std::string& lldb_output) {
  static const std::regex kLine("^\\*? +thread #[0-9]+: tid = [0-9]+");
  size_t count = 0;
  std::istringstream in(lldb_output);
  for (std::string line; std::getline(in, line);) count += std::regex_search(line, kLine) ? 1 : 0;
  return count;
}

bool MakeSymbols(const std::vector<std::filesystem::path>& binaries,
                 const std::filesystem::path& store) {
  for (const auto& binary : binaries) {
    std::filesystem::path sym = store / (binary.filename().string() + ".sym");
    std::filesystem::create_directories(store);
    auto result = RunProcess("/bin/sh",
                             {"-c", "\"$0\" \"$1\" > \"$2\" 2>/dev/null", BreakpadTool("dump_syms"),
                              binary.string(), sym.string()},
                             store, {});
    // The first line: MODULE Linux x86_64 <id> <name>.
    std::istringstream first(ReadWhole(sym));
    std::string module, os, arch, id, name;
    first >> module >> os >> arch >> id >> name;
    if (!result.exited || result.code != 0 || module != "MODULE" || id.empty()) {
      ADD_FAILURE() << "dump_syms failed for " << binary << ": " << result.output
                    << " (tools: scripts/breakpad-tools.sh)";
      return false;
    }
    std::filesystem::create_directories(store / name / id);
    std::filesystem::rename(sym, store / name / id / (name + ".sym"));
  }
  return true;
}

std::vector<std::filesystem::path> RuntimeLibraries() {
  std::vector<std::filesystem::path> found;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* out) {
        const std::string name = info->dlpi_name != nullptr ? info->dlpi_name : "";
        // The sanitizers' runtimes too: a waiting thread of a sanitized
        // build sits in their interceptors.
        if (name.find("/libc.so") != std::string::npos ||
            name.find("/libstdc++.so") != std::string::npos ||
            name.find("/libtsan.so") != std::string::npos ||
            name.find("/libasan.so") != std::string::npos) {
          std::error_code ec;
          auto real = std::filesystem::canonical(name, ec);  // the name the dump records
          if (!ec) static_cast<std::vector<std::filesystem::path>*>(out)->push_back(real);
        }
        return 0;
      },
      &found);
  return found;
}

StackwalkReading Stackwalk(const std::filesystem::path& dump, const std::filesystem::path& store) {
  auto result = RunProcess(BreakpadTool("minidump_stackwalk"),
                           {"-m", dump.string(), store.string()}, dump.parent_path(), {});
  StackwalkReading reading = ParseStackwalk(result.output, result.exited && result.code == 0);
  if (!reading.ok) ADD_FAILURE() << "minidump_stackwalk failed: " << reading.text;
  return reading;
}

}  // namespace crs_test
