// The service node layout, the selection walk and the probe block bytes.
#include "netservice.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

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

TEST(NetService, ProbeBlockBytesAreExact) {
  SERVER_PROBE_BLOCK block = MakeProbeBlock(5000);
  unsigned char bytes[sizeof(block)];
  std::memcpy(bytes, &block, sizeof(block));
  ASSERT_EQ(sizeof(bytes), 4110u);
  EXPECT_EQ(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | bytes[3] << 24, 5000);
  for (int i = 4; i < 8; ++i) EXPECT_EQ(bytes[i], 0) << "offset " << i;
  EXPECT_EQ(bytes[8], 128);
  EXPECT_EQ(bytes[9] | bytes[10] | bytes[11], 0);
  EXPECT_EQ(std::memcmp(bytes + 12, "HAHAHA", 7), 0);
  for (int i = 19; i < 4110; ++i) ASSERT_EQ(bytes[i], 0) << "offset " << i;
}

}  // namespace
