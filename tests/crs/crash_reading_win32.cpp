// Wine's dumps name no function a Linux reader could resolve (the program's
// debug information is DWARF in a PE file): the exception, its thread and
// the program's image are checked instead.
#include <gtest/gtest.h>

#include "crash_reading.h"

void ExpectReadable(const std::filesystem::path& program, const std::filesystem::path& dump,
                    crs_test::Fault fault, const std::string&, bool all_threads) {
  const crs_test::MinidumpFacts facts = crs_test::ReadMinidump(crs_test::ReadWhole(dump));
  EXPECT_TRUE(facts.signature);
  EXPECT_EQ(crs_test::FaultCode(fault), facts.exception_code);
  // The exception belongs to the thread that faulted, not to the one that
  // wrote the dump (a fresh thread after a stack overflow).
  EXPECT_TRUE(facts.Lists(facts.exception_thread));
  EXPECT_TRUE(facts.exception_on_its_thread);
  EXPECT_NE(nullptr, facts.FindModule(program.filename().string()));
  EXPECT_EQ(9, facts.architecture);  // AMD64
  EXPECT_FALSE(facts.full_memory) << "FullDump=0 asks for a normal dump";
  EXPECT_LE(all_threads ? 2u : 1u, facts.threads.size());
  // Breakpad's reader sees the same exception and threads.
  const crs_test::StackwalkReading walk = crs_test::Stackwalk(dump, {program});
  EXPECT_TRUE(walk.ran) << walk.text;
  const char* reason = fault == crs_test::Fault::kAbort           ? "0x40000015"
                       : fault == crs_test::Fault::kStackOverflow ? "EXCEPTION_STACK_OVERFLOW"
                                                                  : "EXCEPTION_ACCESS_VIOLATION";
  EXPECT_EQ(0u, walk.crash_reason.find(reason)) << walk.text;
  EXPECT_EQ(facts.threads.size(), walk.threads.size()) << walk.text;
}
