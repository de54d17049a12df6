// reference_synth.cpp: the plain synthesizer the exactness test measures the
// module against. Every formula keeps the order of its operations as the
// module's arithmetic defines it; clocks advance by repeated addition; pitch
// uses pow(2.0, s / 12.0), and sin, cos, exp and pow are the project's own
// (src/maths), as the module's are; nothing is cached between samples.
#include "reference_synth.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>

#include "common/byte_order.h"
#include "maths/maths.h"

using tunecast::get_u16le;

namespace fixture {

namespace {

constexpr double sample_step_s = 2.2675736961451248e-05;  // 1/44100
constexpr double pi = 3.141592653589793;
constexpr int64_t int64_max = std::numeric_limits<int64_t>::max();

// One row per instrument family (program / 8) for programs 0 to 119.
constexpr timbre_row family_table[15] = {
    {0, 0.25, 0.45, 0.005, 0.03, 0, 0}, {1, 0.5, 0.5, 0.005, 0.03, 0, 4},
    {0, 0.5, 0, 0.005, 0.03, 0, 0},     {0, 0.125, 0.6, 0.005, 0.03, 0, 0},
    {1, 0.5, 1.2, 0.005, 0.03, 0, 4},   {2, 0.5, 0, 0.05, 0.08, 0.15, 0},
    {0, 0.5, 0, 0.02, 0.03, 0, 0},      {2, 0.5, 0, 0.015, 0.03, 0.1, 0},
    {1, 0.5, 0, 0.005, 0.03, 0.1, 4},   {0, 0.25, 0, 0.005, 0.03, 0.2, 0},
    {2, 0.5, 0, 0.005, 0.03, 0.2, 0},   {1, 0.5, 0, 0.08, 0.12, 0, 4},
    {3, 0.5, 0.7, 0.005, 0.03, 0, 0},   {3, 0.5, 0.5, 0.005, 0.03, 0, 0},
    {5, 0.5, 0.12, 0.005, 0.03, 0, 0},
};

}  // namespace

timbre_row reference_timbre(int p) {
  if (p >= 120) return {4, 0.5, 0.3, 0.005, 0.03, 0, 0};
  timbre_row t = family_table[p >> 3];
  if (p == 29 || p == 30 || p == 31) {
    t.wave = 0;
    t.duty = 0.125;
    t.decay = 0;
  } else if (p == 33 || p == 34) {
    t.wave = 1;
    t.decay = 0;
    t.bits = 4;
  } else if (p == 38 || p == 39) {
    t.wave = 0;
    t.duty = 0.5;
    t.decay = 0;
    t.bits = 4;
  }
  return t;
}

namespace {

constexpr double crash_ratios[6] = {1.0, 1.44, 1.86, 2.29, 2.66, 3.32};
constexpr double ride_ratios[4] = {1.4, 2.6, 3.3, 4.8};
constexpr double tom_pitches[6] = {80, 100, 120, 140, 170, 200};
constexpr double clap_bursts[4] = {0.0, 0.012, 0.024, 0.038};

struct drum_row {
  int32_t kind;  // 0 kick, 1 snare, 2 hi-hat, 3 tom, 4 crash, 5 ride, 6 clap
  double duration, freq, decay;
};

// The percussion key map; every note not named is the short noise hit.
drum_row drum_row_for(int note) {
  if (note == 35 || note == 36) return {0, 0.25, 60, 0};
  if (note == 37 || note == 38 || note == 40) return {1, 0.2, 190, 0};
  if (note == 39) return {6, 0.15, 0, 0};
  if (note == 41) return {3, 0.35, tom_pitches[0], 0};
  if (note == 42 || note == 44) return {2, 0.06, 0, 0.02};
  if (note == 43) return {3, 0.35, tom_pitches[1], 0};
  if (note == 45) return {3, 0.35, tom_pitches[2], 0};
  if (note == 46) return {2, 0.3, 0, 0.1};
  if (note == 47) return {3, 0.35, tom_pitches[3], 0};
  if (note == 48) return {3, 0.35, tom_pitches[4], 0};
  if (note == 49 || note == 52 || note == 55 || note == 57) return {4, 1.2, 300, 0.7};
  if (note == 50) return {3, 0.35, tom_pitches[5], 0};
  if (note == 51 || note == 53 || note == 59) return {5, 0.8, 400, 0.4};
  return {2, 0.08, 0, 0.03};
}

double clamp_unit(double v) {
  if (v > 1.0) return 1.0;
  if (v < -1.0) return -1.0;
  return v;
}

}  // namespace

reference_synth::reference_synth(const std::vector<uint8_t> &mus, int volume, bool looping,
                                 int32_t initial_lastvel) {
  if (mus.size() < 8 || mus[0] != 'M' || mus[1] != 'U' || mus[2] != 'S' || mus[3] != 0x1A) {
    throw std::invalid_argument("reference_synth: not a MUS lump");
  }
  const int64_t score_len = get_u16le(mus.data() + 4);
  start_ofs_ = get_u16le(mus.data() + 6);
  song_len_ = start_ofs_ + score_len;
  if (static_cast<int64_t>(mus.size()) < song_len_) {
    throw std::invalid_argument("reference_synth: lump shorter than its header says");
  }
  song_.assign(mus.begin(), mus.begin() + song_len_);
  gain_ = 1.6 * (volume / 127.0);
  looping_ = looping;
  lastvel_.fill(initial_lastvel);
  reset_channels();
  pos_ = start_ofs_;
  wait_samples_ = 0;
}

bool reference_synth::render(double &sum) {
  sum = 0.0;
  if (!playing_) return false;
  if (!sequencer_step()) return false;
  for (voice_rec &v : v_) {
    if (v.active != 0) sum += voice_render(v);
  }
  for (drum_rec &d : d_) {
    if (d.active != 0) sum += drum_render(d);
  }
  return true;
}

// Centre exactly 1.0 on both sides; elsewhere an angle from 0 (all left)
// to pi/2 (all right), each side of the centre in its own steps, and the
// gains sqrt 2 times its cosine and sine.
reference_synth::pair reference_synth::pan_gains(int pan) {
  if (pan == 64) return {1.0, 1.0};
  const double x = pan < 64 ? (pan - 64) / 64.0 : (pan - 64) / 63.0;
  const double theta = (x + 1.0) * 0.7853981633974483;
  return {1.4142135623730951 * tunecast::maths::cos(theta),
          1.4142135623730951 * tunecast::maths::sin(theta)};
}

bool reference_synth::render_stereo(pair &sums) {
  sums = {0.0, 0.0};
  if (!playing_) return false;
  if (!sequencer_step()) return false;
  for (voice_rec &v : v_) {
    if (v.active == 0) continue;
    const pair g = pan_gains(ch_[static_cast<size_t>(v.channel)].pan);
    const double value = voice_render(v);
    sums.left += value * g.left;
    sums.right += value * g.right;
  }
  const pair g = pan_gains(ch_[15].pan);
  for (drum_rec &d : d_) {
    if (d.active == 0) continue;
    const double value = drum_render(d);
    sums.left += value * g.left;
    sums.right += value * g.right;
  }
  return true;
}

reference_synth::pair reference_synth::next_stereo_sums() {
  pair sums{};
  render_stereo(sums);
  return sums;
}

reference_synth::pair reference_synth::next_stereo() {
  pair sums{};
  if (!render_stereo(sums)) return {0.0, 0.0};
  const auto side = [this](double sum) {
    const double out = (0.12 * gain_) * sum;
    if (out > 1.0) return 1.0f;
    if (out < -1.0) return -1.0f;
    return static_cast<float>(out);
  };
  return {side(sums.left), side(sums.right)};
}

double reference_synth::next_sum() {
  double sum = 0.0;
  render(sum);
  return sum;
}

float reference_synth::next() {
  double sum = 0.0;
  if (!render(sum)) return 0.0f;
  const double out = (0.12 * gain_) * sum;
  if (out > 1.0) return 1.0f;
  if (out < -1.0) return -1.0f;
  return static_cast<float>(out);
}

// ---- sequencer ----

bool reference_synth::read_byte(uint8_t &b) {
  if (pos_ >= song_len_) return false;
  b = song_[pos_];
  ++pos_;
  return true;
}

// Most significant group first; the accumulator is multiplied before each
// byte, so a stream cut inside the number counts as a final 0 byte. A count
// too large for 64 bits stays at the largest value.
int64_t reference_synth::read_delay_ticks() {
  int64_t ticks = 0;
  for (;;) {
    ticks = ticks > int64_max / 128 ? int64_max : ticks * 128;
    uint8_t b = 0;
    if (!read_byte(b)) break;
    const int64_t low = b & 0x7F;
    ticks = ticks > int64_max - low ? int64_max : ticks + low;
    if ((b & 0x80) == 0) break;
  }
  return ticks;
}

bool reference_synth::sequencer_step() {
  if (wait_samples_ < 1) {
    int score_ends = 0;
    for (;;) {
      if (pos_ >= song_len_) {
        playing_ = false;
        return false;
      }
      uint8_t event_byte = 0;
      read_byte(event_byte);
      if (!apply_event(event_byte, score_ends)) return false;
      if ((event_byte & 0x80) == 0) continue;
      const int64_t ticks = read_delay_ticks();
      const double samples = static_cast<double>(ticks) * 44100.0 / 140.0;
      wait_samples_ = samples >= 9223372036854775808.0 ? int64_max : static_cast<int64_t>(samples);
      if (wait_samples_ >= 1) break;
    }
  }
  wait_samples_ -= 1;
  return true;
}

bool reference_synth::apply_event(uint8_t event_byte, int &score_ends) {
  const int type = (event_byte >> 4) & 7;
  const int channel = event_byte & 15;
  uint8_t b = 0;
  switch (type) {
    case 0: {
      const int note = read_byte(b) ? (b & 0x7F) : 0;
      for (voice_rec &v : v_) {
        if (v.active != 0 && v.gate != 0 && v.channel == channel && v.note == note) v.gate = 0;
      }
      break;
    }
    case 1: {
      int note = 0;
      int velocity = lastvel_[channel];
      if (read_byte(b)) {
        note = b & 0x7F;
        if ((b & 0x80) != 0) {
          uint8_t vb = 0;
          velocity = read_byte(vb) ? (vb & 0x7F) : 0;
          lastvel_[channel] = velocity;
        }
      }
      if (channel == 15) {
        drum_note_on(note, velocity);
      } else {
        voice_note_on(channel, note, velocity);
      }
      break;
    }
    case 2:
      ch_[channel].bend = read_byte(b) ? b : 0;
      break;
    case 3:
    case 7:
      read_byte(b);
      break;
    case 4: {
      int number = 0;
      int value = 0;
      if (read_byte(b)) {
        number = b;
        if (read_byte(b)) value = b & 0x7F;
      }
      if (number == 0) ch_[channel].instrument = value;
      if (number == 3) ch_[channel].volume = value;
      if (number == 4) ch_[channel].pan = value;
      break;
    }
    case 5:
      break;
    case 6:
      // A second score end in the same call, with no time passed since the
      // first, would loop for ever: the song ends instead.
      ++score_ends;
      if (!looping_ || score_ends >= 2) {
        playing_ = false;
        return false;
      }
      pos_ = start_ofs_;
      reset_channels();
      clear_voices_and_drums();
      break;
    default:
      break;
  }
  return true;
}

void reference_synth::reset_channels() {
  for (channel_rec &c : ch_) c = channel_rec{0, 100, 128, 64};
}

void reference_synth::clear_voices_and_drums() {
  for (voice_rec &v : v_) v = voice_rec{};
  for (drum_rec &d : d_) d = drum_rec{};
}

// ---- melodic voices ----

void reference_synth::voice_note_on(int channel, int note, int velocity) {
  int slot = -1;
  for (int i = 0; i < 28; ++i) {
    if (v_[i].active == 0) {
      slot = i;
      break;
    }
  }
  if (slot < 0) {
    double best = -1.0;
    for (int i = 0; i < 28; ++i) {
      if (v_[i].age > best) {
        best = v_[i].age;
        slot = i;
      }
    }
  }
  voice_rec &v = v_[slot];
  v = voice_rec{};
  v.active = 1;
  v.channel = channel;
  v.note = note;
  v.gate = 1;
  const timbre_row t = reference_timbre(ch_[channel].instrument);
  v.wave = t.wave;
  v.duty = t.duty;
  v.decay = t.decay;
  v.attack = t.attack;
  v.release = t.release;
  v.vibrato = t.vibrato;
  v.bits = t.bits;
  v.lfsr = 1;
  v.amp = velocity / 127.0;
}

double reference_synth::voice_render(voice_rec &v) {
  const channel_rec &c = ch_[v.channel];
  const double s = (v.note - 69) + 2 * ((c.bend - 128) * 0.0078125);
  double f = 440.0 * tunecast::maths::pow(2.0, s / 12.0);
  if (v.vibrato > 0 && v.age > 0.15) {
    f = f * tunecast::maths::pow(
                2.0, v.vibrato * tunecast::maths::sin((v.age - 0.15) * 34.55751918948772) / 12.0);
  }
  v.phase = v.phase + f / 44100.0;
  bool wrapped = false;
  if (v.phase >= 1.0) {
    v.phase = v.phase - 1.0;
    wrapped = true;
  }
  const double p = v.phase;
  double w = 0.0;
  switch (v.wave) {
    case 0:
      w = p < v.duty ? 1.0 : -1.0;
      break;
    case 1: {
      const double q = p < 0.5 ? p : 1.0 - p;
      w = 4 * q - 1;
      if (v.bits != 0) {
        const double L = tunecast::maths::pow(2.0, v.bits) - 1;
        const double k = std::floor((0.5 * w + 0.5) * L + 0.5);
        w = 2 * (k / L) - 1;
      }
      break;
    }
    case 2:
      w = 2 * p - 1;
      break;
    case 3: {
      const double theta = (2 * p) * pi;
      const double r = std::fmod(theta, 1.0471975511965976);
      w = (0.8660254037844387 / tunecast::maths::cos(r - 0.5235987755982988)) *
          tunecast::maths::cos(theta);
      break;
    }
    default:  // 4 and 5: the noise register, clocked by the oscillator
      if (wrapped || v.age == 0.0) {
        w = lfsr_step(v.lfsr, v.wave == 4 ? 1 : 6);
        v.noise = w;
      } else {
        w = v.noise;
      }
      break;
  }
  double e;
  if (v.age < v.attack) {
    e = v.age / v.attack;
  } else if (v.age < v.attack + 0.03) {
    e = 1 - ((v.age - v.attack) / 0.03) * 0.19999999999999996;
  } else {
    e = 0.8;
  }
  if (v.decay > 0) e = e * tunecast::maths::exp(-v.age / v.decay);
  v.age = v.age + sample_step_s;
  if (v.gate == 0) {
    v.rel_age = v.rel_age + sample_step_s;
    if (v.rel_age >= v.release) {
      v.active = 0;
      return 0.0;
    }
    e = e * (1 - v.rel_age / v.release);
  }
  return v.amp * (w * e) * (c.volume / 127.0);
}

// ---- drums ----

// One clock of a 15-bit register; tap 1 or 6 is the second feedback bit.
// Returns the noise value of the new state.
double reference_synth::lfsr_step(uint32_t &s, int tap) {
  const uint32_t fb = (s ^ (s >> tap)) & 1u;
  s = (s >> 1) | (fb << 14);
  return (s & 1u) != 0 ? -1.0 : 1.0;
}

void reference_synth::drum_note_on(int note, int velocity) {
  const double amp = velocity / 127.0 * 0.9;
  int slot = 0;
  for (int i = 0; i < 8; ++i) {
    if (d_[i].active == 0) {
      slot = i;
      break;
    }
  }
  drum_init(d_[slot], note, amp);
}

void reference_synth::resonator_setup(resonator_rec &r, double f, double w) {
  const double radius = tunecast::maths::exp(-pi * w / 44100);
  r.a1 = 2 * radius * tunecast::maths::cos(2 * pi * f / 44100);
  r.a2 = -(radius * radius);
  r.b0 = 1 - r.a1 + radius * radius;
  r.y1 = 0;
  r.y2 = 0;
}

double reference_synth::resonator_step(resonator_rec &r, double x) {
  const double y = r.b0 * x + r.a1 * r.y1 + r.a2 * r.y2;
  r.y2 = r.y1;
  r.y1 = y;
  return y;
}

void reference_synth::drum_init(drum_rec &d, int note, double amp) {
  d = drum_rec{};
  d.active = 1;
  d.amp = amp;
  d.lfsr = 1;
  d.lfsr2 = 1;
  const drum_row row = drum_row_for(note);
  d.kind = row.kind;
  d.duration = row.duration;
  d.freq = row.freq;
  d.decay = row.decay;
  if (d.kind == 4) {
    for (int k = 0; k < 6; ++k) {
      resonator_setup(d.res[k], 300 * crash_ratios[k], 400);
    }
  } else if (d.kind == 5) {
    resonator_setup(d.res[0], 800, 40);
    for (int k = 0; k < 4; ++k) {
      resonator_setup(d.res[k + 1], 400 * ride_ratios[k], 300);
    }
  } else if (d.kind == 6) {
    resonator_setup(d.res[0], 1200, 800);
  }
}

double reference_synth::drum_render(drum_rec &d) {
  const double t = d.age;
  d.age = d.age + sample_step_s;
  if (t > d.duration) {
    d.active = 0;
    return 0.0;
  }
  const double A = d.amp, f = d.freq, T = d.duration, tau = d.decay;
  double v = 0.0;
  switch (d.kind) {
    case 0: {
      d.phase += (0.55 * f + (3 * f - 0.55 * f) * tunecast::maths::exp(-t / 0.045)) / 44100;
      if (d.phase >= 1) d.phase -= 1;
      const double n1 = lfsr_step(d.lfsr, 1);
      const double B = std::fmax(T / 3, 0.12);
      v = A * (tunecast::maths::sin(2 * pi * d.phase) * tunecast::maths::exp(-t / B) +
               0.35 * n1 * tunecast::maths::exp(-t / 0.004));
      break;
    }
    case 1: {
      d.phase += f / 44100;
      if (d.phase >= 1) d.phase -= 1;
      const double n1 = lfsr_step(d.lfsr, 1);
      const double B = std::fmax(T / 2.5, 0.09);
      v = A * (0.85 * n1 * tunecast::maths::exp(-t / B) +
               0.4 * tunecast::maths::sin(2 * pi * d.phase) * tunecast::maths::exp(-t / 0.07));
      break;
    }
    case 2: {
      const double n1 = lfsr_step(d.lfsr, 1);
      const double n2 = lfsr_step(d.lfsr2, 6);
      v = A * tunecast::maths::exp(-t / tau) * (n1 + n2) * 0.5;
      break;
    }
    case 3: {
      d.phase += (0.85 * f + (1.8 * f - 0.85 * f) * tunecast::maths::exp(-t / 0.06)) / 44100;
      if (d.phase >= 1) d.phase -= 1;
      const double B = std::fmax(T / 2.5, 0.18);
      v = A * tunecast::maths::sin(2 * pi * d.phase) * tunecast::maths::exp(-t / B);
      break;
    }
    case 4: {
      const double n1 = lfsr_step(d.lfsr, 1);
      const double n2 = lfsr_step(d.lfsr2, 6);
      const double x = (n1 + n2) * 0.5;
      double S = 0.0;
      for (int k = 0; k < 6; ++k) S += resonator_step(d.res[k], x);
      v = A * tunecast::maths::exp(-t / tau) * (0.45 * x + 1.6 * S / 6);
      break;
    }
    case 5: {
      const double n1 = lfsr_step(d.lfsr, 1);
      const double y0 = resonator_step(d.res[0], n1);
      double S = 0.0;
      for (int k = 1; k <= 4; ++k) S += resonator_step(d.res[k], n1);
      v = A * (0.55 * (S / 4) * tunecast::maths::exp(-t / tau) +
               0.9 * y0 * tunecast::maths::exp(-t / (1.3 * tau)) +
               0.12 * n1 * tunecast::maths::exp(-t / tau));
      break;
    }
    case 6: {
      const double n1 = lfsr_step(d.lfsr, 1);
      const double y = resonator_step(d.res[0], n1);
      double e = 0.0;
      for (double b : clap_bursts) {
        if (t - b >= 0) e = std::fmax(e, tunecast::maths::exp(-(t - b) / 0.008));
      }
      if (t >= 0.045) e = std::fmax(0.6 * tunecast::maths::exp(-(t - 0.045) / 0.15), e);
      v = y * e * A * 0.8;
      break;
    }
    default:
      break;
  }
  return clamp_unit(v);
}

}  // namespace fixture
