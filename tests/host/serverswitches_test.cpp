// The reference module's switch file: defaults, overrides, probe sequences.
#include "serverswitches.h"
#include "platform/identity.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

TEST(ReferenceSwitches, ProbeSequenceParsing) {
  EXPECT_EQ(refmod::ParseProbeResults("7,80"), (std::vector<int32_t>{7, 80}));
  EXPECT_EQ(refmod::ParseProbeResults(""), (std::vector<int32_t>{0}));
  EXPECT_EQ(refmod::ParseProbeResults(" 3 ,,-2"), (std::vector<int32_t>{3, -2}));
  EXPECT_EQ(refmod::ParseProbeResults("x"), (std::vector<int32_t>{0}));
}

TEST(ReferenceSwitches, MissingFileGivesAHealthyModuleAndKeysOverride) {
  fs::path file = fs::temp_directory_path() /
                  ("refmod-" + std::to_string(platform::CurrentProcessId()) + ".ini");
  refmod::ServerSwitches healthy = refmod::ReadServerSwitches(file.string().c_str());
  EXPECT_EQ(healthy.create_status, 0);
  EXPECT_FALSE(healthy.create_null);
  EXPECT_TRUE(healthy.initialize_result);
  EXPECT_EQ(healthy.service_count, 2);
  EXPECT_EQ(healthy.selected_service, 1);
  EXPECT_EQ(healthy.probe_results, (std::vector<int32_t>{0}));
  EXPECT_EQ(healthy.console_result, -1);
  EXPECT_EQ(healthy.hang_in_is_preparing, 0);
  EXPECT_TRUE(healthy.trace_file.empty());

  std::ofstream(file) << "[Module]\nCreateStatus=5\nInitializeResult=0\nServiceCount=100000\n"
                         "ProbeResults=7,80\nHangInIsPreparing=2\nTraceFile=/tmp/t.txt\n";
  refmod::ServerSwitches s = refmod::ReadServerSwitches(file.string().c_str());
  EXPECT_EQ(s.create_status, 5);
  EXPECT_FALSE(s.initialize_result);
  EXPECT_EQ(s.service_count, 64);  // bounded: a list, not a memory test
  EXPECT_EQ(s.probe_results, (std::vector<int32_t>{7, 80}));
  EXPECT_EQ(s.hang_in_is_preparing, 2);
  EXPECT_EQ(s.trace_file, "/tmp/t.txt");
  fs::remove(file);
}

}  // namespace
