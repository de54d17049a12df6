// fresh_state.cpp: every test of the suite starts from the synthesizer's
// program-start state. The module holds one state for the whole process, so
// without this a test would see what the tests before it left, and the
// suite would pass in one order only.
#include <gtest/gtest.h>

#include "chip/state.h"

namespace chip = tunecast::chip;

namespace {

class fresh_chip_state : public ::testing::EmptyTestEventListener {
  // Called before the test's fixture is built, so a fixture's SetUp works
  // on the fresh state.
  void OnTestStart(const ::testing::TestInfo &) override { chip::state_reset(); }
};

// Appended before main runs; the suite's main keeps listeners already there.
[[maybe_unused]] const bool registered = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new fresh_chip_state);
  return true;
}();

}  // namespace
