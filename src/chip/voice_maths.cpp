// voice_maths.cpp: the pure maths of a melodic voice that is not cheap
// enough to inline into the render loops (its timbre by program, pitch,
// vibrato, the smooth triangle and the hexagon), each a function of its
// arguments alone; the per-sample ones live inline in voices.h.
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "chip/voices.h"
#include "maths/double_double.h"
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

namespace {

// The starts of the hexagon's sectors, q * pi_3 for q = 1 .. 7, each held
// exactly as a rounded product and its error.
struct sector_starts {
  std::array<maths::double_double, 7> start;
  sector_starts() {
    for (size_t q = 0; q < start.size(); ++q) {
      start[q] = maths::two_prod(pi_3, static_cast<double>(q + 1));
    }
  }
};
const sector_starts sectors;
constexpr double sectors_per_radian = 0.954929658551372;  // about 3 / pi

}  // namespace

// The whole number of sectors below theta comes from comparing theta with
// each start: theta is a double, so it lies above q * pi_3 exactly when it
// exceeds the rounded product, or equals it with a non-positive error. Then
// theta and that product are within a factor of two of each other, so their
// difference is exact, and so is taking the error off it, since the
// remainder is a double.
double hexagon_sector_offset(double theta) {
  if (!(theta >= 0.0 && theta < sectors.start.back().hi)) return std::fmod(theta, pi_3);
  const auto past = [theta](const maths::double_double &b) {
    return theta > b.hi || (theta == b.hi && b.lo <= 0.0);
  };
  // A guess from a rounded quotient, then settled by the exact comparisons.
  auto q = static_cast<size_t>(theta * sectors_per_radian);
  while (q < sectors.start.size() && past(sectors.start[q])) ++q;
  while (q > 0 && !past(sectors.start[q - 1])) --q;
  if (q == 0) return theta;
  const maths::double_double &b = sectors.start[q - 1];
  return (theta - b.hi) - b.lo;
}

double voice_hexagon(double p) {
  const double theta = (2 * p) * pi;
  const double r = hexagon_sector_offset(theta);
  return (cos_pi_6 / maths::cos(r - pi_6)) * maths::cos(theta);
}

}  // namespace tunecast::chip
