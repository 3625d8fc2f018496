// The reference module's switch file: what the host tests' rows do not
// reach (every switch they set is read there): malformed probe sequences
// and the bound on the service list.
#include "serverswitches.h"
#include "platform/identity.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

TEST(ReferenceSwitches, ProbeSequencesAndTheServiceBound) {
  EXPECT_EQ(refmod::ParseProbeResults("7,80"), (std::vector<int32_t>{7, 80}));
  EXPECT_EQ(refmod::ParseProbeResults(""), (std::vector<int32_t>{0}));
  EXPECT_EQ(refmod::ParseProbeResults(" 3 ,,-2"), (std::vector<int32_t>{3, -2}));
  EXPECT_EQ(refmod::ParseProbeResults("x"), (std::vector<int32_t>{0}));

  const auto file = std::filesystem::temp_directory_path() /
                    ("refmod-" + std::to_string(platform::CurrentProcessId()) + ".ini");
  std::ofstream(file) << "[Module]\nServiceCount=100000\n";
  EXPECT_EQ(refmod::ReadServerSwitches(file.string().c_str()).service_count, 64);  // a list
  std::filesystem::remove(file);
}

}  // namespace
