// The thread seam (events, the recursive lock, the park that stands in for
// TerminateThread), the library seam (search order, symbols of that library
// only, the error numbers the module loader logs) and the POSIX dialog's
// result lines and stop signals.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <signal.h>
#endif

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/dialog.h"
#include "platform/identity.h"
#include "platform/library.h"
#include "platform/thread.h"
#include "support/log_sandbox.h"
#include "support/scratch.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::LibraryFileName;

TEST(ManualResetEvent, StaysSignalledUntilResetAndWakesWaiters) {
  platform::ManualResetEvent event;
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(event.Wait(20));

  std::atomic<bool> woke{false};
  std::thread waiter([&] {
    event.Wait(platform::kInfinite);
    woke = true;
  });
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(woke.load());
  event.Set();
  waiter.join();
  EXPECT_TRUE(woke.load());

  // Manual reset: every later wait passes until Reset.
  EXPECT_TRUE(event.Wait(0));
  EXPECT_TRUE(event.IsSet());
  event.Reset();
  EXPECT_FALSE(event.Wait(0));
}

TEST(RecursiveLock, OwnerReentersOthersWaitForTheLastLeave) {
  platform::RecursiveLock lock;
  lock.Enter();
  lock.Enter();
  auto try_elsewhere = [&] {
    bool taken = false;
    std::thread other([&] {
      taken = lock.TryEnter();
      if (taken) lock.Leave();
    });
    other.join();
    return taken;
  };
  EXPECT_FALSE(try_elsewhere());
  lock.Leave();
  EXPECT_FALSE(try_elsewhere());
  lock.Leave();
  EXPECT_TRUE(try_elsewhere());
}

// Injected start failures answer null, then a start works again.
TEST(Thread, RunsTheBodyAndReportsItsEndAfterInjectedStartFailures) {
  platform::FailNextThreadStarts(2);
  platform::ManualResetEvent release;
  std::atomic<int> runs{0};
  auto body = [&] {
    release.Wait(platform::kInfinite);
    ++runs;
  };
  EXPECT_EQ(platform::Thread::Start(body), nullptr);
  EXPECT_EQ(platform::Thread::Start(body), nullptr);
  auto thread = platform::Thread::Start(body);
  ASSERT_NE(thread, nullptr);
  EXPECT_FALSE(thread->Wait(20));
  release.Set();
  EXPECT_TRUE(thread->Wait(platform::kInfinite));
  EXPECT_EQ(runs.load(), 1);
  // An ended thread needs no stopping and is not parked.
  EXPECT_TRUE(thread->Terminate());
  EXPECT_FALSE(thread->IsParked());
}

// A body that never returns, as a hung module call: it holds a lock and
// keeps counting. After Terminate it must not execute another instruction,
// and the lock it held stays taken (abandoned, as after TerminateThread).
TEST(Thread, TerminateParksAHungThreadForGood) {
  // Never destroyed: a lock owned by a parked thread is abandoned for good.
  static auto* held = new platform::RecursiveLock;
  std::atomic<uint64_t> ticks{0};
  platform::ManualResetEvent started;
  auto thread = platform::Thread::Start([&] {
    held->Enter();
    started.Set();
    for (;;) {
      ticks.fetch_add(1);
      std::this_thread::sleep_for(1ms);
    }
  });
  ASSERT_NE(thread, nullptr);
  ASSERT_TRUE(started.Wait(5000));
  EXPECT_FALSE(thread->Wait(30));

  ASSERT_TRUE(thread->Terminate());
  EXPECT_TRUE(thread->IsParked());
  uint64_t at_park = ticks.load();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(ticks.load(), at_park);
  EXPECT_FALSE(thread->Wait(0));
  EXPECT_FALSE(held->TryEnter());
  // A second request is harmless.
  EXPECT_TRUE(thread->Terminate());
  thread.reset();  // lets the parked thread go without waiting for it
  EXPECT_EQ(ticks.load(), at_park);
}

// Built beside this executable.
const std::string kSample = LibraryFileName("libhostsample");

TEST(Library, BareNameIsFoundBesideTheExecutable) {
  EXPECT_EQ(LibraryFileName("server_d_x64"),
            testsupport::OnWindows() ? "server_d_x64.dll" : "server_d_x64.so");
  platform::LibraryHandle lib = platform::LoadLibrary(kSample);
  ASSERT_NE(lib, nullptr) << platform::LastLibraryErrorText();
  EXPECT_EQ(platform::LastLibraryError(), platform::kLibraryErrorNone);

  using AnswerFn = int (*)();
  auto answer = reinterpret_cast<AnswerFn>(platform::GetLibrarySymbol(lib, "SampleAnswer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);

  // Missing exports, and exports of a dependency, are not found here.
  EXPECT_EQ(platform::GetLibrarySymbol(lib, "NoSuchExport"), nullptr);
  EXPECT_EQ(platform::LastLibraryError(), platform::kLibraryErrorSymbolNotFound);
  EXPECT_EQ(platform::GetLibrarySymbol(lib, "SampleDependencyValue"), nullptr);
  EXPECT_EQ(platform::LastLibraryError(), platform::kLibraryErrorSymbolNotFound);
  EXPECT_EQ(platform::GetLibrarySymbol(nullptr, "SampleAnswer"), nullptr);

  EXPECT_TRUE(platform::FreeLibrary(lib));
  EXPECT_FALSE(platform::FreeLibrary(nullptr));
}

// The current folder is searched last; missing and unloadable files have
// their own errors.
TEST(Library, CurrentFolderIsSearchedLastAndBadFilesHaveTheirOwnErrors) {
  testsupport::LogSandbox sandbox("libtest-");  // the current folder
  const fs::path dir = sandbox.dir();
  fs::copy_file(fs::path(platform::ExecutableDir()) / kSample,
                dir / LibraryFileName("libhostsample_copy"));
  std::ofstream(dir / LibraryFileName("libnot_elf")) << "not a shared object\n";

  platform::LibraryHandle lib = platform::LoadLibrary(LibraryFileName("libhostsample_copy"));
  EXPECT_NE(lib, nullptr) << platform::LastLibraryErrorText();
  EXPECT_NE(platform::GetLibrarySymbol(lib, "SampleAnswer"), nullptr);
  platform::FreeLibrary(lib);

  EXPECT_EQ(platform::LoadLibrary(LibraryFileName("libnothing_here")), nullptr);
  EXPECT_EQ(platform::LastLibraryError(), platform::kLibraryErrorNotFound);
  EXPECT_EQ(platform::LoadLibrary((dir / LibraryFileName("libnothing_here")).string()), nullptr);
  EXPECT_EQ(platform::LastLibraryError(), platform::kLibraryErrorNotFound);
  EXPECT_EQ(platform::LoadLibrary(""), nullptr);
  // There, but no library: found in the current folder, refused by the
  // loader.
  EXPECT_EQ(platform::LoadLibrary(LibraryFileName("libnot_elf")), nullptr);
  EXPECT_EQ(platform::LastLibraryError(), platform::kLibraryErrorBadFormat);
  EXPECT_FALSE(platform::LastLibraryErrorText().empty());
}

#if !defined(_WIN32)
TEST(Dialog, ResultLinesGoToTheSink) {
  std::vector<std::string> lines;
  platform::SetResultLineSink([&](std::string_view text) { lines.emplace_back(text); });
  platform::ClearResultLines();
  platform::AppendResultLine("status: ready");
  platform::AppendResultLine("");
  platform::SetResultLineSink(nullptr);
  EXPECT_EQ(lines, (std::vector<std::string>{"status: ready", ""}));
}

// (Which stop calls which handler: the hosts' exit codes.)
TEST(Dialog, OneFeedOwnsTheStopSignalsAndGivesThemBack) {
  auto feed = platform::StartDialogFeed({});
  ASSERT_NE(feed, nullptr);
  EXPECT_EQ(platform::StartDialogFeed({}), nullptr);
  feed.reset();

  // The previous handling is back: an ignored SIGTERM stays ignored.
  struct sigaction old {};
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGTERM, &ignore, &old);
  feed = platform::StartDialogFeed({});
  ASSERT_NE(feed, nullptr);
  feed.reset();
  struct sigaction now {};
  sigaction(SIGTERM, &old, &now);
  EXPECT_EQ(now.sa_handler, SIG_IGN);
}
#endif

}  // namespace
