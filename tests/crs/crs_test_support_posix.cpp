// The crash tests' helpers on POSIX: mkdtemp, fork and exec, signals, LLDB
// and Breakpad's tools of this build folder.
#include <link.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <stdexcept>

#include "crs_test_support.h"

extern char** environ;

namespace crs_test {

namespace fs = std::filesystem;

TempFolder::TempFolder() {
  std::string pattern = (fs::temp_directory_path() / "crs_test_XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const fs::path& cwd, const std::vector<std::string>& env) {
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) environment.emplace_back(*e);
  for (const std::string& extra : env) {
    const std::string name = extra.substr(0, extra.find('=') + 1);
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
  const pid_t pid = fork();
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
  for (ssize_t n; (n = read(pipe_fds[0], buffer, sizeof(buffer))) > 0;) {
    result.output.append(buffer, static_cast<size_t>(n));
  }
  close(pipe_fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  return result;
}

uint32_t FaultCode(Fault fault) {
  return fault == Fault::kAbort ? SIGABRT : SIGSEGV;
}

int FaultExit(Fault fault) {
  return -static_cast<int>(FaultCode(fault));
}

std::string Lldb(const fs::path& program, const fs::path& dump) {
  // Libraries are found by the paths the dump records.
  return RunProcess("/usr/bin/lldb",
                    {"--no-lldbinit", "--batch", "-o",
                     "target create \"" + program.string() + "\" --core \"" + dump.string() + "\"",
                     "-o", "thread list", "-o", "thread backtrace all"},
                    dump.parent_path(), {})
      .output;
}

size_t LldbThreadCount(const std::string& lldb_output) {
  static const std::regex kLine("^\\*? +thread #[0-9]+: tid = [0-9]+");
  size_t count = 0;
  std::istringstream in(lldb_output);
  for (std::string line; std::getline(in, line);) count += std::regex_search(line, kLine) ? 1 : 0;
  return count;
}

namespace {

// One of Breakpad's tools of this build folder, fetched the first time one
// is asked for when they are not there yet.
std::string BreakpadTool(const std::string& name) {
  static const bool fetched = [] {
    auto result = RunProcess(SERVERAPP_SOURCE_DIR "/scripts/breakpad-tools.sh",
                             {SERVERAPP_BREAKPAD_DIR}, SERVERAPP_SOURCE_DIR, {});
    if (result.code != 0) ADD_FAILURE() << result.output;
    return true;
  }();
  (void)fetched;
  return SERVERAPP_BREAKPAD_DIR "/bin/linux-x64/" + name;
}

}  // namespace

bool MakeSymbols(const std::vector<fs::path>& binaries, const fs::path& store) {
  for (const auto& binary : binaries) {
    const fs::path sym = store / (binary.filename().string() + ".sym");
    fs::create_directories(store);
    auto result = RunProcess("/bin/sh",
                             {"-c", "\"$0\" \"$1\" > \"$2\" 2>/dev/null", BreakpadTool("dump_syms"),
                              binary.string(), sym.string()},
                             store, {});
    // The first line: MODULE Linux x86_64 <id> <name>.
    std::istringstream first(ReadWhole(sym));
    std::string module, os, arch, id, name;
    first >> module >> os >> arch >> id >> name;
    if (result.code != 0 || module != "MODULE" || id.empty()) {
      ADD_FAILURE() << "dump_syms failed for " << binary << ": " << result.output
                    << " (tools: scripts/breakpad-tools.sh)";
      return false;
    }
    fs::create_directories(store / name / id);
    fs::rename(sym, store / name / id / (name + ".sym"));
  }
  return true;
}

std::vector<fs::path> RuntimeLibraries() {
  std::vector<fs::path> found;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* out) {
        const std::string name = info->dlpi_name != nullptr ? info->dlpi_name : "";
        // The sanitizers' runtimes too: a waiting thread of a sanitized
        // build sits in their interceptors.
        for (const char* runtime : {"/libc.so", "/libstdc++.so", "/libtsan.so", "/libasan.so"}) {
          std::error_code ec;
          const auto real = fs::canonical(name, ec);  // the name the dump records
          if (name.find(runtime) != std::string::npos && !ec) {
            static_cast<std::vector<fs::path>*>(out)->push_back(real);
          }
        }
        return 0;
      },
      &found);
  return found;
}

StackwalkReading Stackwalk(const fs::path& dump, const fs::path& store) {
  auto result = RunProcess(BreakpadTool("minidump_stackwalk"),
                           {"-m", dump.string(), store.string()}, dump.parent_path(), {});
  StackwalkReading reading = ParseStackwalk(result.output, result.code == 0);
  if (!reading.ok) ADD_FAILURE() << "minidump_stackwalk failed: " << reading.text;
  return reading;
}

}  // namespace crs_test
