// chip_voices.cpp: the 28 melodic voices. Note-on claims a slot (a free one,
// else the oldest) and sets its timbre from the channel's program; the render
// step runs every active voice for one sample and frees it when its release
// has run out.
#include "chip_voices.h"

#include <cmath>
#include <cstddef>

#include "chip_state.h"

namespace chip {
namespace {

constexpr double reference_hz = 440.0;
constexpr int32_t reference_note = 69;
constexpr double bend_scale = 0.0078125;  // 1/128 of the bend byte's range
constexpr double vibrato_onset_s = 0.15;
constexpr double vibrato_rad_per_s = 34.55751918948772;  // 5.5 Hz
constexpr double fall_s = 0.03;
constexpr double sustain_level = 0.8;
constexpr double fall_depth = 0.19999999999999996;  // 1 - 0.8 as the double it rounds to
constexpr double pi = 3.141592653589793;
constexpr double pi_3 = 1.0471975511965976;
constexpr double pi_6 = 0.5235987755982988;
constexpr double cos_pi_6 = 0.8660254037844387;
constexpr double volume_scale = 127.0;

enum voice_wave : int32_t {
  wave_pulse = 0,
  wave_triangle = 1,
  wave_saw = 2,
  wave_hexagon = 3,
  wave_noise = 4,
  wave_short_noise = 5,
};

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

// True when a sounding voice other than slot has not been rendered yet:
// it was started on this same sample.
bool voice_started_with_others(const chip_voice &slot) {
  bool found = false;
  for (chip_voice &v : V) {
    if (&v != &slot && v.active != 0 && v.age == 0.0) {
      v.shares_start = 1;
      found = true;
    }
  }
  return found;
}

int32_t voice_slot_for_note_on() {
  for (int32_t i = 0; i < chip_voice_count; ++i) {
    if (V[static_cast<size_t>(i)].active == 0) return i;
  }
  // All busy: the oldest goes, held or releasing alike; on a tie the lowest
  // slot, since only a strictly greater age displaces the choice.
  int32_t oldest = 0;
  double best_age = -1.0;
  for (int32_t i = 0; i < chip_voice_count; ++i) {
    if (V[static_cast<size_t>(i)].age > best_age) {
      best_age = V[static_cast<size_t>(i)].age;
      oldest = i;
    }
  }
  return oldest;
}

// The waveform value of an active voice whose phase was just advanced.
double voice_wave_value(chip_voice &v, bool wrapped) {
  switch (v.wave) {
    case wave_pulse:
      return voice_pulse(v.phase, v.duty);
    case wave_triangle:
      return voice_triangle(v.phase, v.bits);
    case wave_saw:
      return voice_saw(v.phase);
    case wave_hexagon:
      return voice_hexagon(v.phase);
    default:
      break;
  }
  // Noise kinds: the register is clocked on the voice's first sample and on
  // every wrap of the phase, so the note's pitch sets the noise's rate.
  if (wrapped || v.age == 0.0) {
    v.lfsr = voice_noise_clock(v.lfsr, v.wave == wave_noise ? 1 : 6);
    v.noise = voice_noise_value(v.lfsr);
  }
  return v.noise;
}

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
  return reference_hz * std::pow(2.0, s / 12.0);
}

double voice_vibrato_hz(double f, double vibrato, double age) {
  if (!(vibrato > 0.0 && age > vibrato_onset_s)) return f;
  return f * std::pow(2.0, vibrato * std::sin((age - vibrato_onset_s) * vibrato_rad_per_s) / 12.0);
}

// The same through the memos, for voices that share their age.
double voice_vibrato_hz_shared(double f, double vibrato, double age) {
  return f * pow2_memo(vibrato * sin_memo((age - vibrato_onset_s) * vibrato_rad_per_s) / 12.0);
}

double voice_pulse(double p, double duty) { return p < duty ? 1.0 : -1.0; }

double voice_triangle(double p, int32_t bits) {
  const double q = p < 0.5 ? p : 1.0 - p;
  const double w = 4 * q - 1;
  if (bits == 0) return w;
  const double levels = static_cast<double>((1u << bits) - 1u);
  // floor(x + 0.5): a value half-way between two levels goes up.
  const double k = std::floor((0.5 * w + 0.5) * levels + 0.5);
  return 2 * (k / levels) - 1;
}

double voice_saw(double p) { return 2 * p - 1; }

double voice_hexagon(double p) {
  const double theta = (2 * p) * pi;
  const double r = std::fmod(theta, pi_3);
  return (cos_pi_6 / std::cos(r - pi_6)) * std::cos(theta);
}

uint32_t voice_noise_clock(uint32_t s, int32_t tap) {
  const uint32_t fb = (s ^ (s >> tap)) & 1u;
  return (s >> 1) | (fb << 14);
}

double voice_noise_value(uint32_t s) { return (s & 1u) != 0 ? -1.0 : 1.0; }

namespace {

template <double (*Exp)(double)>
double envelope(double age, double attack, double decay) {
  double e;
  if (age < attack) {
    e = age / attack;
  } else if (age < attack + fall_s) {
    e = 1 - ((age - attack) / fall_s) * fall_depth;
  } else {
    e = sustain_level;
  }
  if (decay > 0) e = e * Exp(-age / decay);
  return e;
}

double exp_through_memo(double x) { return exp_memo(x); }

}  // namespace

double voice_envelope(double age, double attack, double decay) {
  return envelope<exp_of>(age, attack, decay);
}

double voice_envelope_shared(double age, double attack, double decay) {
  return envelope<exp_through_memo>(age, attack, decay);
}

double exp_of(double x) { return std::exp(x); }
double sin_of(double x) { return std::sin(x); }
double pow2_of(double y) { return std::pow(2.0, y); }
call_memo<exp_of> exp_memo;
call_memo<sin_of> sin_memo;
call_memo<pow2_of> pow2_memo;

void voice_note_on(int32_t channel, int32_t note, int32_t velocity) {
  chip_voice &v = V[static_cast<size_t>(voice_slot_for_note_on())];
  v = chip_voice{};
  v.active = 1;
  v.channel = channel;
  v.note = note;
  v.gate = 1;
  const voice_timbre t = voice_timbre_for(CH[static_cast<size_t>(channel)].instrument);
  v.wave = t.wave;
  v.duty = t.duty;
  v.decay = t.decay;
  v.attack = t.attack;
  v.release = t.release;
  v.vibrato = t.vibrato;
  v.bits = t.bits;
  v.lfsr = 1;
  v.amp = velocity / 127.0;
  v.shares_start = voice_started_with_others(v) ? 1 : 0;
}

double voices_render() {
  double sum = 0.0;
  for (chip_voice &v : V) {
    if (v.active == 0) continue;
    const chip_channel &c = CH[static_cast<size_t>(v.channel)];
    // pow gives the same bits for the same note and bend, so the pitch is
    // worked out again only when one of them changed.
    if (v.pitch_cached == 0 || v.pitch_note != v.note || v.pitch_bend != c.bend) {
      v.pitch_cached = 1;
      v.pitch_note = v.note;
      v.pitch_bend = c.bend;
      v.pitch_hz = voice_pitch_hz(v.note, c.bend);
      v.pitch_step = v.pitch_hz / sample_rate_hz;
    }
    double step = v.pitch_step;
    if (v.vibrato > 0.0 && v.age > vibrato_onset_s) {
      step = (v.shares_start != 0 ? voice_vibrato_hz_shared(v.pitch_hz, v.vibrato, v.age)
                                  : voice_vibrato_hz(v.pitch_hz, v.vibrato, v.age)) /
             sample_rate_hz;
    }
    v.phase = v.phase + step;
    const bool wrapped = v.phase >= 1.0;
    if (wrapped) v.phase -= 1.0;
    const double w = voice_wave_value(v, wrapped);
    double e = v.shares_start != 0 ? voice_envelope_shared(v.age, v.attack, v.decay)
                                   : voice_envelope(v.age, v.attack, v.decay);
    // The clocks advance before the release test, and the sample on which
    // the release runs out adds nothing.
    v.age = v.age + sample_step_s;
    if (v.gate == 0) {
      v.rel_age = v.rel_age + sample_step_s;
      if (v.rel_age >= v.release) {
        v.active = 0;
        continue;
      }
      e = e * (1 - v.rel_age / v.release);
    }
    sum += v.amp * (w * e) * (c.volume / volume_scale);
  }
  return sum;
}

}  // namespace chip
