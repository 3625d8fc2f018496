// The host shell's own pieces without a process (start parameters, frame
// pacing across the 32-bit clock wrap, the service selection walk) and the
// platform seams it stands on: the thread seam (events, the recursive lock,
// the park that stands in for TerminateThread), the library seam (search
// order, symbols of that library only, the error numbers the module loader
// logs) and the POSIX dialog's result lines and stop signals.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <signal.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "framepacing.h"
#include "netservice.h"
#include "platform/dialog.h"
#include "platform/identity.h"
#include "platform/library.h"
#include "platform/thread.h"
#include "startparams.h"
#include "support/log_sandbox.h"
#include "support/scratch.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::LibraryFileName;

TEST(StartParams, CommandLineIsParsedAsTheRuntimeDoes) {
  StartParams p = ParseCommandLineParams({"123456789012", "5000", "3", "7", "9"});
  EXPECT_EQ(p.hManagerWnd, 123456789012u);
  EXPECT_EQ(p.nPort, 5000);
  EXPECT_EQ(p.sServerIndex, 3);
  EXPECT_EQ(p.nServerIndexArg, 3);
  EXPECT_EQ(p.nReserved, 7);
  EXPECT_EQ(p.nGroupNumber, 9);

  // The index is cut to 16 bits, but the value as written, never wrapped
  // at 2^32, is kept for the range check: 65536 must not pass as slot 0.
  const struct {
    const char* arg;
    int64_t written;
    int16_t cut;
    bool in_range;
  } kIndexes[] = {
      {"0", 0, 0, true},
      {"199", 199, 199, true},
      {"200", 200, 200, false},
      {"-1", -1, -1, false},
      {"65536", 65536, 0, false},
      {"4294967296", 4294967296, 0, false},
      {"4294967299", 4294967299, 3, false},
      {"99999999999999999999999", INT64_MAX, -1, false},
  };
  for (const auto& row : kIndexes) {
    SCOPED_TRACE(row.arg);
    p = ParseCommandLineParams({"1", "2", row.arg, "4", "5"});
    EXPECT_EQ(p.sServerIndex, row.cut);
    EXPECT_EQ(p.nServerIndexArg, row.written);
    EXPECT_EQ(ServerIndexInRange(p), row.in_range);
  }

  // Text that is no number reads as 0, as atoi reads it.
  p = ParseCommandLineParams({"x", "12abc", "-1", "", "7"});
  EXPECT_EQ(p.hManagerWnd, 0u);
  EXPECT_EQ(p.nPort, 12);
  EXPECT_EQ(p.sServerIndex, -1);

  // Missing arguments are never read.
  p = ParseCommandLineParams({"42", "5000"});
  EXPECT_EQ(p.hManagerWnd, 42u);
  EXPECT_EQ(p.nPort, 5000);
  const StartParams initial;
  EXPECT_EQ(p.sServerIndex, initial.sServerIndex);
  EXPECT_EQ(p.nReserved, initial.nReserved);
  EXPECT_EQ(p.nGroupNumber, initial.nGroupNumber);

  // A short parameter file fills what it has (a whole one: HostStartup).
  fs::path file = fs::temp_directory_path() /
                  ("params-" + std::to_string(platform::CurrentProcessId()) + ".txt");
  std::ofstream(file) << "77 8000\n";
  StartParams q;
  ASSERT_TRUE(ReadParameterFile(file.string().c_str(), &q));
  fs::remove(file);
  EXPECT_EQ(q.hManagerWnd, 77u);
  EXPECT_EQ(q.nPort, 8000);
  EXPECT_EQ(q.sServerIndex, -1);
}

TEST(FramePacing, WaitIsTheRestOfTheFrameAndAnOversleepDoesNotShiftTheNext) {
  EXPECT_EQ(FrameWait(1000, 50, 1010), 40u);
  EXPECT_EQ(FrameWait(1000, 50, 1000), 50u);
  // Deadline reached or passed (a frame that overran): no wait.
  EXPECT_EQ(FrameWait(1000, 50, 1050), 0u);
  EXPECT_EQ(FrameWait(1000, 50, 1080), 0u);
  // The idle length waits the full 10 s, a larger one is cut.
  EXPECT_EQ(FrameWait(0, 10000, 0), 10000u);
  EXPECT_EQ(FrameWait(5, 60000, 5), kMaxFrameWait);
  EXPECT_EQ(FrameWait(0x20, 0xFFFFFFF0u, 0x30), 0u);  // the deadline wrapped past 2^32
  // Now has wrapped past 2^32 and reads earlier than the start.
  EXPECT_EQ(FrameWait(0xFFFFFFF0u, 100, 0x00000010u), 0u);
  // A clock that stepped back: no wait either.
  EXPECT_EQ(FrameWait(5000, 100, 4990), 0u);

  // Waited 40 ms from 1010 but woke at 1065: the next frame starts at 1050.
  EXPECT_EQ(NextFrameStart(1010, 40, 1065), 1050u);
  // Woke in time: the next frame starts when the thread woke.
  EXPECT_EQ(NextFrameStart(1010, 40, 1049), 1049u);
  EXPECT_EQ(NextFrameStart(1010, 40, 1050), 1050u);
  EXPECT_EQ(NextFrameStart(1080, 0, 1095), 1095u);  // no wait
  EXPECT_EQ(NextFrameStart(0xFFFFFFF0u, 0x20, 0x00000040u), 0x00000010u);
}

// (The probe block's bytes: the module's trace in HostStartup.)
TEST(NetService, FirstFlaggedNodeIsSelectedFromTheHead) {
  NET_SERVICE_NODE nodes[4] = {};
  for (int i = 0; i < 4; ++i) {
    nodes[i].hService = 100 + i;
    nodes[i].pNext = i < 3 ? &nodes[i + 1] : nullptr;
  }
  EXPECT_FALSE(FindSelectedService(&nodes[0]).has_value());
  EXPECT_FALSE(FindSelectedService(nullptr).has_value());

  nodes[2].dwFlags = NET_SERVICE_SELECTED | 0x10;
  nodes[3].dwFlags = NET_SERVICE_SELECTED;
  ASSERT_TRUE(FindSelectedService(&nodes[0]).has_value());
  EXPECT_EQ(*FindSelectedService(&nodes[0]), 102u);

  // Other flag bits do not select.
  nodes[2].dwFlags = 0x2;
  EXPECT_EQ(*FindSelectedService(&nodes[0]), 103u);

  // A list that loops back on itself ends the walk instead of hanging.
  nodes[3].dwFlags = 0;
  nodes[3].pNext = &nodes[0];
  EXPECT_FALSE(FindSelectedService(&nodes[0], 1000).has_value());
}

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
