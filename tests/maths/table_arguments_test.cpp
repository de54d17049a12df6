// The arguments the synthesizer's tables pass to the maths functions (age
// tables, hexagon blocks, drum tables, resonators, pan gains, pitch steps),
// rebuilt here the way the tables build them, each checked against MPFR.
// Where an argument depends on an earlier result (a drum's phase on its
// fades, a hexagon's step on its pitch) the correctly rounded result is the
// one used. ctest takes every age up to one block and a sample of the rest;
// MathsSweep takes them all.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "chip/age_tables.h"
#include "chip/state.h"
#include "chip/voices.h"
#include "mpfr_reference.h"

namespace {

namespace chip = tunecast::chip;
using maths_test::function;

constexpr double pi = 3.141592653589793;
constexpr double two_pi = 2 * pi;
constexpr double rate_hz = chip::sample_rate_hz;

struct call {
  function f;
  double x;
};

double exact(function f, double x) { return maths_test::correctly_rounded(f, x); }

// The ages of a note's samples (the repeated sum), those a run checks.
std::vector<double> note_ages(int64_t count, int64_t stride) {
  std::vector<double> ages;
  double age = 0.0;
  for (int64_t k = 0; k < count; ++k, age = age + chip::sample_step_s) {
    if (k < chip::age_block_len || k % stride == 0) ages.push_back(age);
  }
  return ages;
}

void add_fades_and_vibratos(std::vector<call> &calls, int64_t stride) {
  std::vector<double> decays = {0.045, 0.004, 0.07, 0.06, 0.12, 0.09, 0.18,
                                0.7,   0.4,   0.52, 0.02, 0.1,  0.03, 0.15};
  std::vector<double> vibratos;
  for (int32_t program = 0; program < 128; ++program) {
    const chip::voice_timbre t = chip::voice_timbre_for(program);
    if (t.decay > 0) decays.push_back(t.decay);
    if (t.vibrato > 0) vibratos.push_back(t.vibrato);
  }
  const std::vector<double> ages = note_ages(chip::age_table_len, stride);
  for (double age : ages) {
    for (double c : decays) calls.push_back({function::exp, -age / c});
    const double angle = (age - chip::vibrato_onset_s) * 34.55751918948772;
    calls.push_back({function::sin, angle});
    for (double v : vibratos)
      calls.push_back({function::exp2, v * exact(function::sin, angle) / 12});
  }
  // The clap's envelope over its life: bursts and the tail.
  for (double t : note_ages(static_cast<int64_t>(0.15 * rate_hz) + 2, 1)) {
    for (double b : {0.0, 0.012, 0.024, 0.038}) {
      if (t - b >= 0.0) calls.push_back({function::exp, -(t - b) / 0.008});
    }
    if (t >= 0.045) calls.push_back({function::exp, -(t - 0.045) / 0.15});
  }
}

// A drum's oscillator over its life: the kick's and toms' pitch glides on a
// fade, the snare's is steady.
void add_drum_phases(std::vector<call> &calls, double freq, double start, double end,
                     double glide_s, double duration_s) {
  double phase = 0.0;
  for (double t : note_ages(static_cast<int64_t>(duration_s * rate_hz) + 2, 1)) {
    const double glide = glide_s > 0 ? exact(function::exp, -t / glide_s) : 0.0;
    phase +=
        glide_s > 0 ? (end * freq + (start * freq - end * freq) * glide) / rate_hz : freq / rate_hz;
    if (phase >= 1.0) phase -= 1.0;
    calls.push_back({function::sin, two_pi * phase});
  }
}

void add_drums(std::vector<call> &calls) {
  add_drum_phases(calls, 60, 3, 0.55, 0.045, 0.25);
  add_drum_phases(calls, 190, 0, 0, 0, 0.2);
  for (double f : {80, 100, 120, 140, 170, 200}) add_drum_phases(calls, f, 1.8, 0.85, 0.06, 0.35);
  // The clap's, the crash's bank, the ride's bell and its partials.
  std::vector<std::pair<double, double>> resonators = {{1200, 800}, {800, 40}};
  for (double ratio : {1.0, 1.44, 1.86, 2.29, 2.66, 3.32}) resonators.push_back({300 * ratio, 400});
  for (double ratio : {1.4, 2.6, 3.3, 4.8}) resonators.push_back({400 * ratio, 300});
  for (auto [freq, bandwidth] : resonators) {
    calls.push_back({function::exp, -pi * bandwidth / rate_hz});
    calls.push_back({function::cos, two_pi * freq / rate_hz});
  }
}

void add_pitches_pans_hexagons(std::vector<call> &calls, int64_t stride) {
  for (int32_t note = 0; note < 128; ++note) {
    for (int32_t bend = 0; bend < 256; ++bend) {
      const double s = (note - 69) + 2 * ((bend - 128) * 0.0078125);
      calls.push_back({function::exp2, s / 12.0});
    }
  }
  for (int32_t p = 0; p < 128; ++p) {
    const double x = p < 64 ? (p - 64) / 64.0 : (p - 64) / 63.0;
    calls.push_back({function::cos, (x + 1.0) * 0.7853981633974483});
    calls.push_back({function::sin, (x + 1.0) * 0.7853981633974483});
  }
  // A steady hexagon note's waveform, unbent, over the tables' length.
  for (int32_t note = 0; note < 128; ++note) {
    const double step = 440.0 * exact(function::exp2, (note - 69) / 12.0) / rate_hz;
    double phase = 0.0;
    for (int64_t k = 0; k < chip::age_table_len; ++k) {
      phase = phase + step;
      if (phase >= 1.0) phase -= 1.0;
      if (k >= chip::age_block_len && k % stride != 0) continue;
      const double theta = (2 * phase) * pi;
      calls.push_back({function::cos, std::fmod(theta, 1.0471975511965976) - 0.5235987755982988});
      calls.push_back({function::cos, theta});
    }
  }
}

void expect_table_arguments_correctly_rounded(int64_t stride) {
  std::vector<call> calls;
  add_fades_and_vibratos(calls, stride);
  add_drums(calls);
  add_pitches_pans_hexagons(calls, stride);
  int64_t mismatches = 0;
  for (const call &c : calls) {
    const double want = exact(c.f, c.x);
    const double got = maths_test::computed(c.f, c.x);
    if (!maths_test::same_double(want, got) && ++mismatches <= 5) {
      ADD_FAILURE() << maths_test::function_name(c.f) << "(" << std::hexfloat << c.x
                    << ") = " << got << ", correctly rounded " << want;
    }
  }
  EXPECT_EQ(mismatches, 0) << "of " << calls.size() << " calls";
}

TEST(MathsTables, EveryTableArgumentOfTheFirstBlockAndASampleBeyond) {
  expect_table_arguments_correctly_rounded(997);
}

TEST(MathsSweep, EveryTableArgument) { expect_table_arguments_correctly_rounded(1); }

}  // namespace
