// The service selection walk. The probe block's layout is held by the
// interface's static_asserts and its bytes by the module's trace in
// HostStartup.GoodStartReportsWindowAndReadiness.
#include "netservice.h"

#include <gtest/gtest.h>

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

}  // namespace
