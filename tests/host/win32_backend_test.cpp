// What only the Win32 backend does: the debugger text's code page and the
// rights asked for process memory. Child processes: tests/platform's
// process_test.cpp, on both systems.
#include <gtest/gtest.h>

#include "process_memory_win32.h"
#include "win32_text.h"

namespace {

TEST(Win32Text, KoreanDebuggerLineIsWrittenInCodePage949) {
  EXPECT_EQ(platform::win32::Utf8ToCodePage("MAX_REZ_COUNT 카운트 초과!!!!\n", 949),
            "MAX_REZ_COUNT \xC4\xAB\xBF\xEE\xC6\xAE \xC3\xCA\xB0\xFA!!!!\n");
  // Bytes that are not UTF-8 pass unchanged rather than being lost.
  EXPECT_EQ(platform::win32::Utf8ToCodePage("\xFF\xC4 bytes", 949), "\xFF\xC4 bytes");
  EXPECT_EQ(platform::win32::Utf8ToCodePage("", 949), "");
}

// OpenProcess asks for the reading or the writing rights and nothing more,
// and those suffice for the calls made with the handle.
TEST(Win32ProcessMemory, OpenAsksOnlyForTheRightsItsCallsNeed) {
  using platform::ProcessMemoryAccess;
  EXPECT_EQ(platform::win32::ProcessMemoryRights(ProcessMemoryAccess::kRead), 0x10u);
  EXPECT_EQ(platform::win32::ProcessMemoryRights(ProcessMemoryAccess::kWrite), 0x28u);
  volatile uint32_t value = 0x12345678;
  uint32_t got = 0;
  SIZE_T done = 0;
  HANDLE reader = OpenProcess(platform::win32::ProcessMemoryRights(ProcessMemoryAccess::kRead),
                              FALSE, GetCurrentProcessId());
  ASSERT_NE(reader, nullptr);
  EXPECT_TRUE(ReadProcessMemory(reader, const_cast<uint32_t*>(&value), &got, 4, &done));
  EXPECT_EQ(got, 0x12345678u);
  CloseHandle(reader);
  HANDLE writer = OpenProcess(platform::win32::ProcessMemoryRights(ProcessMemoryAccess::kWrite),
                              FALSE, GetCurrentProcessId());
  ASSERT_NE(writer, nullptr);
  const uint32_t fresh = 0x0BADF00D;
  EXPECT_TRUE(WriteProcessMemory(writer, const_cast<uint32_t*>(&value), &fresh, 4, &done));
  EXPECT_EQ(value, 0x0BADF00Du);
  CloseHandle(writer);
}

}  // namespace
