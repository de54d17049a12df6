// noise_test.cpp: the 15-bit noise register every noise voice and drum
// clocks, checked against a register kept as a row of separate bits.
#include "chip/noise.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

namespace chip = tunecast::chip;

namespace {

// bits[0] is the register's bit 0. A clock drops bit 0, moves every bit down
// one place and puts bit 0 xor bit `tap` on top.
struct bit_row {
  std::array<int, 15> bits{1};  // seed 1

  void clock(int tap) {
    const int top = bits[0] ^ bits[static_cast<size_t>(tap)];
    for (size_t i = 0; i + 1 < bits.size(); ++i) bits[i] = bits[i + 1];
    bits[14] = top;
  }
  uint32_t value() const {
    uint32_t v = 0;
    for (size_t i = 0; i < bits.size(); ++i) v |= static_cast<uint32_t>(bits[i]) << i;
    return v;
  }
};

TEST(NoiseRegister, FirstStatesAndValuesFromSeedOne) {
  for (int32_t tap : {chip::noise_tap_long, chip::noise_tap_short}) {
    SCOPED_TRACE(tap);
    bit_row row;
    uint32_t state = 1;
    for (int i = 1; i <= 200; ++i) {
      row.clock(tap);
      const double value = chip::noise_step(state, tap);
      ASSERT_EQ(state, row.value()) << "clock " << i;
      ASSERT_EQ(value, row.bits[0] != 0 ? -1.0 : 1.0) << "clock " << i;
    }
  }
  // The first 15 clocks from seed 1 give 14 times +1, then -1.
  uint32_t state = 1;
  for (int i = 1; i <= 14; ++i) EXPECT_EQ(chip::noise_step(state, chip::noise_tap_long), 1.0) << i;
  EXPECT_EQ(chip::noise_step(state, chip::noise_tap_long), -1.0);
}

TEST(NoiseRegister, Periods) {
  const struct {
    int32_t tap;
    int period;
  } cases[] = {{chip::noise_tap_long, 32767}, {chip::noise_tap_short, 93}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.tap);
    uint32_t state = chip::noise_clock(1, c.tap);
    int clocks = 1;
    while (state != 1 && clocks < 40000) {
      state = chip::noise_clock(state, c.tap);
      ++clocks;
    }
    EXPECT_EQ(clocks, c.period);
  }
}

}  // namespace
