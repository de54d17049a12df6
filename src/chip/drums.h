// drums.h: the small pure pieces the drum voices are built from
// (two-pole resonators and the clap envelope; the noise is chip/noise.h), kept
// apart so that each can be checked on its own. Internal to the synthesizer.
#ifndef TUNECAST_CHIP_DRUMS_H
#define TUNECAST_CHIP_DRUMS_H

#include <cstdint>

#include "chip/state.h"

namespace tunecast::chip {

// chip_drum::kind
constexpr int32_t drum_kick = 0;
constexpr int32_t drum_snare = 1;
constexpr int32_t drum_hihat = 2;
constexpr int32_t drum_tom = 3;
constexpr int32_t drum_crash = 4;
constexpr int32_t drum_ride = 5;
constexpr int32_t drum_clap = 6;

// A resonator centred on freq_hz with bandwidth_hz (both > 0 for a useful
// filter), gain exactly 1 at 0 Hz, output history cleared.
chip_resonator drum_resonator_setup(double freq_hz, double bandwidth_hz);

// One step with input x: returns (b0 x + a1 y1) + a2 y2 and shifts the history.
double drum_resonator_step(chip_resonator *r, double x);

// The clap's envelope at t seconds after its start: four short bursts, then
// a slower tail from 0.045 s on. In [0, 1].
double drum_clap_envelope(double t);

}  // namespace tunecast::chip

#endif  // TUNECAST_CHIP_DRUMS_H
