// The base of every fault test: nothing is armed when a test starts or
// after it ends, whatever it left armed.
#pragma once

#include <gtest/gtest.h>

#include "platform/fault_injection.h"

namespace fault = platform::fault;
using platform::fault::Point;

template <typename Base = ::testing::Test>
class FaultTest : public Base {
 protected:
  void SetUp() override {
    fault::Reset();
    Base::SetUp();
  }
  void TearDown() override {
    Base::TearDown();
    fault::Reset();
  }
};
