// A child that commits the one fault its sanitizer build is there to catch:
// a heap overflow (ASan), a signed overflow (UBSan) or a data race (TSan).
// The child-report test starts it and expects the report in its folder.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

int g_counter = 0;  // written by two threads without a lock, on purpose

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  if (what == "heap") {
    char* volatile block = static_cast<char*>(std::malloc(8));
    block[8] = 1;  // one past the end
    std::free(block);
  } else if (what == "overflow") {
    volatile int big = 0x7FFFFFFF;
    volatile int sum = big + argc;  // overflows for argc >= 1
    std::printf("%d\n", sum);
  } else if (what == "race") {
    std::thread other([] { ++g_counter; });
    ++g_counter;
    other.join();
  } else {
    std::fprintf(stderr, "usage: %s heap|overflow|race\n", argv[0]);
    return 2;
  }
  return 0;
}
