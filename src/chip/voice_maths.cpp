// voice_maths.cpp: the pure maths of a melodic voice that is not cheap
// enough to inline into the render loops (its timbre by program, pitch,
// vibrato, the smooth triangle and the hexagon), each a function of its
// arguments alone; the per-sample ones live inline in voices.h.
#include <cmath>
#include <cstdint>

#include "chip/voices.h"
#include "maths/maths.h"

namespace tunecast::chip {
namespace {

constexpr double reference_hz = 440.0;
constexpr int32_t reference_note = 69;
constexpr double bend_scale = 0.0078125;                 // 1/128 of the bend byte's range
constexpr double vibrato_rad_per_s = 34.55751918948772;  // 5.5 Hz
constexpr double pi = 3.141592653589793;
constexpr double pi_3 = 1.0471975511965976;
constexpr double pi_6 = 0.5235987755982988;
constexpr double cos_pi_6 = 0.8660254037844387;

// One row per family of eight programs.
constexpr voice_timbre family_timbre[15] = {
    {wave_pulse, 0.25, 0.45, 0.005, 0.03, 0.0, 0},
    {wave_triangle, 0.5, 0.5, 0.005, 0.03, 0.0, 4},
    {wave_pulse, 0.5, 0.0, 0.005, 0.03, 0.0, 0},
    {wave_pulse, 0.125, 0.6, 0.005, 0.03, 0.0, 0},
    {wave_triangle, 0.5, 1.2, 0.005, 0.03, 0.0, 4},
    {wave_saw, 0.5, 0.0, 0.05, 0.08, 0.15, 0},
    {wave_pulse, 0.5, 0.0, 0.02, 0.03, 0.0, 0},
    {wave_saw, 0.5, 0.0, 0.015, 0.03, 0.1, 0},
    {wave_triangle, 0.5, 0.0, 0.005, 0.03, 0.1, 4},
    {wave_pulse, 0.25, 0.0, 0.005, 0.03, 0.2, 0},
    {wave_saw, 0.5, 0.0, 0.005, 0.03, 0.2, 0},
    {wave_triangle, 0.5, 0.0, 0.08, 0.12, 0.0, 4},
    {wave_hexagon, 0.5, 0.7, 0.005, 0.03, 0.0, 0},
    {wave_hexagon, 0.5, 0.5, 0.005, 0.03, 0.0, 0},
    {wave_short_noise, 0.5, 0.12, 0.005, 0.03, 0.0, 0},
};

// Programs 120 and up, and anything outside 0..127.
constexpr voice_timbre fixed_timbre = {wave_noise, 0.5, 0.3, 0.005, 0.03, 0.0, 0};

}  // namespace

voice_timbre voice_timbre_for(int32_t program) {
  if (program < 0 || program >= 120) return fixed_timbre;
  voice_timbre t = family_timbre[program >> 3];
  // A few programs keep their family's envelope but change the sound.
  switch (program) {
    case 29:
    case 30:
    case 31:
      t.decay = 0.0;  // family 3 without its decay
      break;
    case 33:
    case 34:
      t.decay = 0.0;  // family 4's triangle without its decay
      break;
    case 38:
    case 39:
      t.wave = wave_pulse;  // an undecayed square
      t.duty = 0.5;
      t.decay = 0.0;
      break;
    default:
      break;
  }
  return t;
}

double voice_pitch_hz(int32_t note, int32_t bend) {
  const double s = (note - reference_note) + 2 * ((bend - 128) * bend_scale);
  return reference_hz * maths::pow(2.0, s / 12.0);
}

double voice_vibrato_factor(double vibrato, double age) {
  return maths::pow(2.0, vibrato * maths::sin((age - vibrato_onset_s) * vibrato_rad_per_s) / 12.0);
}

double voice_vibrato_hz(double f, double vibrato, double age) {
  if (!(vibrato > 0.0 && age > vibrato_onset_s)) return f;
  return f * voice_vibrato_factor(vibrato, age);
}

double voice_triangle(double p, int32_t bits) {
  const double q = p < 0.5 ? p : 1.0 - p;
  const double w = 4 * q - 1;
  if (bits == 0) return w;
  const double levels = static_cast<double>((1u << bits) - 1u);
  // floor(x + 0.5): a value half-way between two levels goes up.
  const double k = std::floor((0.5 * w + 0.5) * levels + 0.5);
  return 2 * (k / levels) - 1;
}

double voice_hexagon(double p) {
  const double theta = (2 * p) * pi;
  const double r = std::fmod(theta, pi_3);
  return (cos_pi_6 / maths::cos(r - pi_6)) * maths::cos(theta);
}

}  // namespace tunecast::chip
