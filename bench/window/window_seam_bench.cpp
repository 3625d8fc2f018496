// Window messages through the seam alone, so that the same program measures
// the POSIX transport and user32 (also under Wine, where Google Benchmark
// and raw sockets are not at hand). Two threads of one process; each figure
// is the best of several rounds. Usage: window_seam_bench [--quick]
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

#include "bench_receiver.h"
#include "platform/window.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kLargest = 211408;

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

using windowbench::Receiver;

double PostsPerSecond(long count) {
  Receiver receiver;
  if (!receiver.ok()) return 0;
  const auto start = Clock::now();
  for (long i = 0; i < count; ++i) {
    while (!platform::PostMessage(receiver.handle(), 0x440, 0, i)) std::this_thread::yield();
  }
  while (receiver.posts.load(std::memory_order_acquire) < count) std::this_thread::yield();
  return static_cast<double>(count) / Seconds(Clock::now() - start);
}

// Microseconds per SendCopyData round trip; 0 when a send failed.
double SendMicros(size_t payload, long count) {
  Receiver receiver;
  if (!receiver.ok()) return 0;
  std::vector<std::byte> data(payload, std::byte{0x5A});
  platform::SendCopyData(receiver.handle(), 0, 1, data);  // first contact outside the timing
  const auto start = Clock::now();
  for (long i = 0; i < count; ++i) {
    if (platform::SendCopyData(receiver.handle(), 0, 1, data) !=
        static_cast<platform::LResult>(payload) + 1) {
      std::fprintf(stderr, "send failed\n");
      return 0;
    }
  }
  return Seconds(Clock::now() - start) * 1e6 / static_cast<double>(count);
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const int rounds = quick ? 2 : 5;
  const long scale = quick ? 10 : 1;
  double posts = 0, small = 1e18, large = 1e18;
  for (int r = 0; r < rounds; ++r) {
    const double p = PostsPerSecond(50000 / scale);
    const double s = SendMicros(32, 20000 / scale);
    const double l = SendMicros(kLargest, 2000 / scale);
    if (p == 0 || s == 0 || l == 0) return 1;
    if (p > posts) posts = p;
    if (s < small) small = s;
    if (l < large) large = l;
  }
  std::printf("posts/s                  %10.0f\n", posts);
  std::printf("32 B send round trip     %10.2f us\n", small);
  std::printf("211408 B send round trip %10.2f us\n", large);
  return 0;
}
