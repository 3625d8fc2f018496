// A violated invariant ends the run with __builtin_trap (libFuzzer reports
// it with its input); one scratch file per process for the file readers.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace fuzz {

[[noreturn]] inline void Fail(const char* why) {
  std::fprintf(stderr, "invariant violated: %s\n", why);
  __builtin_trap();
}
inline void Require(bool ok, const char* why) {
  if (!ok) Fail(why);
}

// serverapp-fuzz-<name>-<pid> in /dev/shm when there is one, else in /tmp;
// removed with the object (a function-local static).
class ScratchFile {
 public:
  explicit ScratchFile(const std::string& name)
      : path_(std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
              "/serverapp-fuzz-" + name + "-" + std::to_string(getpid())) {}
  ~ScratchFile() { std::remove(path_.c_str()); }

  const char* Write(const uint8_t* data, size_t size) const {
    std::FILE* file = std::fopen(path_.c_str(), "wb");
    if (file == nullptr) Fail("cannot write the scratch file");
    if (size > 0 && std::fwrite(data, 1, size, file) != size) Fail("short write");
    std::fclose(file);
    return path_.c_str();
  }

 private:
  std::string path_;
};

}  // namespace fuzz
