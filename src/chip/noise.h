// noise.h: the 15-bit noise register shared by the melodic noise voices and
// the drums. Pure and inline: it is clocked inside the per-sample loops.
#ifndef TUNECAST_CHIP_NOISE_H
#define TUNECAST_CHIP_NOISE_H

#include <cstdint>

namespace tunecast::chip {

// Feedback taps: the new top bit is bit 0 xor bit `tap` of the old state.
// From seed 1, tap 1 repeats after 32767 clocks, tap 6 after 93.
constexpr int32_t noise_tap_long = 1;   // voice kind 4, drum noise 1
constexpr int32_t noise_tap_short = 6;  // voice kind 5, drum noise 2

// One clock of the register: shift right, the feedback enters at bit 14.
inline uint32_t noise_clock(uint32_t s, int32_t tap) {
  const uint32_t feedback = (s ^ (s >> tap)) & 1u;
  return (s >> 1) | (feedback << 14);
}

// The noise value a state gives: -1 when bit 0 is set, else +1.
inline double noise_value(uint32_t s) { return (s & 1u) != 0 ? -1.0 : 1.0; }

// Clocks the register once and returns the new state's value.
inline double noise_step(uint32_t &state, int32_t tap) {
  state = noise_clock(state, tap);
  return noise_value(state);
}

}  // namespace tunecast::chip

#endif  // TUNECAST_CHIP_NOISE_H
