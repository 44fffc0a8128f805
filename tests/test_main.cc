// Test entry point: the loopback guard is on for every test, so no slip can reach a real network.
#include <gtest/gtest.h>

#include "platform/net.h"

int main(int argc, char** argv) {
  net_set_loopback_only(1);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
