#include <gtest/gtest.h>

#include "crash_reading.h"

void ExpectReadable(const std::filesystem::path& program, const std::filesystem::path& dump,
                    crs_test::Fault fault, const std::string& function, bool all_threads) {
  const size_t threads = crs_test::ReadMinidump(crs_test::ReadWhole(dump)).threads.size();
  // The faulting thread, the parked one, main (when it is not the faulting
  // one) and any of a sanitizer's own.
  if (all_threads) {
    EXPECT_LE(2u, threads);
  } else {
    EXPECT_EQ(1u, threads);
  }
  const char* signal = fault == crs_test::Fault::kAbort ? "SIGABRT" : "SIGSEGV";
  const std::string lldb = crs_test::Lldb(program, dump);
  EXPECT_EQ(threads, crs_test::LldbThreadCount(lldb)) << lldb;
  EXPECT_NE(std::string::npos, lldb.find(function)) << lldb;
  EXPECT_EQ(all_threads, lldb.find("CrashTargetParked") != std::string::npos) << lldb;
  EXPECT_NE(std::string::npos, lldb.find(signal)) << lldb;

  const crs_test::StackwalkReading walk = crs_test::Stackwalk(dump, {program});
  EXPECT_EQ(0u, walk.crash_reason.find(signal)) << walk.text;
  EXPECT_EQ(threads, walk.threads.size()) << walk.text;
  EXPECT_EQ(0, walk.crashed_thread) << walk.text;
  EXPECT_EQ(0, walk.ThreadWith("ServerApp!" + function)) << walk.text;
  EXPECT_EQ(all_threads, walk.ThreadWith("ServerApp!CrashTargetParked") > 0) << walk.text;
}
