// drums.cpp: the eight one-shot drum voices of the percussion channel.
// Each drum is a sine oscillator, one or two noise registers and up to six
// resonators, mixed by a fixed formula per kind; it frees itself when its
// duration has passed. Every formula keeps the order of its products and
// sums as written: the output is defined to the bit. A drum reads what
// comes before its velocity from its variant's table (drum_tables.h), made
// here by the same code, and renders by its own state only past the table.
#include "chip/drums.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

#include "chip/age_tables.h"
#include "chip/noise.h"
#include "maths/maths.h"

namespace tunecast::chip {

namespace {

constexpr double pi = 3.141592653589793;
constexpr double two_pi = 2 * pi;

constexpr std::array<double, 6> crash_ratios = {1.0, 1.44, 1.86, 2.29, 2.66, 3.32};
constexpr std::array<double, 4> ride_ratios = {1.4, 2.6, 3.3, 4.8};
constexpr std::array<double, 6> tom_freq_hz = {80, 100, 120, 140, 170, 200};
constexpr std::array<double, 3> hihat_duration_s = {0.06, 0.3, 0.08};
constexpr std::array<double, 3> hihat_decay_s = {0.02, 0.1, 0.03};
constexpr std::array<double, 4> clap_burst_start_s = {0.0, 0.012, 0.024, 0.038};

// The variants, numbered as drum_variant_shapes lists them.
constexpr int32_t variant_kick = 0, variant_snare = 1, variant_clap = 2, variant_first_tom = 3,
                  variant_first_hihat = 9, variant_crash = 12, variant_ride = 13;

// Set-up of each kind on a cleared record; each names its variant's table.

void set_kick(chip_drum *d) {
  d->kind = drum_kick;
  d->table = 1 + variant_kick;
  d->duration = 0.25;
  d->freq = 60;
  d->body_decay = std::fmax(d->duration / 3, 0.12);
}

void set_snare(chip_drum *d) {
  d->kind = drum_snare;
  d->table = 1 + variant_snare;
  d->duration = 0.2;
  d->freq = 190;
  d->body_decay = std::fmax(d->duration / 2.5, 0.09);
}

void set_clap(chip_drum *d) {
  d->kind = drum_clap;
  d->table = 1 + variant_clap;
  d->duration = 0.15;
  d->res[0] = drum_resonator_setup(1200, 800);  // a single one, not counted in res_count
}

// shape 0 closed or pedal, 1 open, 2 the short noise hit of every other note.
void set_hihat(chip_drum *d, size_t shape) {
  d->kind = drum_hihat;
  d->table = 1 + variant_first_hihat + static_cast<int32_t>(shape);
  d->duration = hihat_duration_s[shape];
  d->decay = hihat_decay_s[shape];
}

void set_tom(chip_drum *d, size_t pitch) {
  d->kind = drum_tom;
  d->table = 1 + variant_first_tom + static_cast<int32_t>(pitch);
  d->duration = 0.35;
  d->freq = tom_freq_hz[pitch];
  d->body_decay = std::fmax(d->duration / 2.5, 0.18);
}

void set_crash(chip_drum *d) {
  d->kind = drum_crash;
  d->table = 1 + variant_crash;
  d->duration = 1.2;
  d->freq = 300;
  d->decay = 0.7;
  for (size_t k = 0; k < 6; ++k) d->res[k] = drum_resonator_setup(300 * crash_ratios[k], 400);
  d->res_count = 6;
}

// A narrow bell resonance at 800 Hz, then four wider partials.
void set_ride(chip_drum *d) {
  d->kind = drum_ride;
  d->table = 1 + variant_ride;
  d->duration = 0.8;
  d->freq = 400;
  d->decay = 0.4;
  d->body_decay = 1.3 * d->decay;  // the bell fades more slowly
  d->res[0] = drum_resonator_setup(800, 40);
  for (size_t k = 0; k < 4; ++k) d->res[k + 1] = drum_resonator_setup(400 * ride_ratios[k], 300);
  d->res_count = 5;
}

// Wraps an oscillator phase that has just been advanced by less than a cycle.
void wrap_phase(chip_drum *d) {
  if (d->phase >= 1.0) d->phase -= 1.0;
}

// The fading factors of one drum over one run: exp(-t / c) for the few
// time constants c of its kind (and the clap's whole envelope), from the
// age tables while the drum's age is its start's, by calls otherwise. Each
// kind numbers its factors; a factor's table is looked up on first use.
class drum_fades {
 public:
  drum_fades(chip_drum &d, age_tables &tables, int32_t n)
      : d_(d), tables_(tables), n_(n), tabled_(is_note_age(tables, d.age, d.clock)) {}

  // f(c, t) for the factor numbered slot, at this sample.
  double at(size_t slot, age_function f, double c, double t) {
    if (!tabled_) return f(c, t);
    if (!looked_up_[slot]) {
      looked_up_[slot] = true;
      entries_[slot] = age_entries(tables_, d_.fades, slot, f, c, k0_, n_);
    }
    return entries_[slot] != nullptr ? entries_[slot][i_] : f(c, t);
  }
  double fade(size_t slot, double c, double t) { return at(slot, age_fade, c, t); }
  void next() { ++i_; }

 private:
  chip_drum &d_;
  age_tables &tables_;
  int64_t k0_ = d_.clock;
  int32_t n_;
  size_t i_ = 0;  // this sample's place in the run
  bool tabled_;
  std::array<bool, 3> looked_up_{};
  std::array<const double *, 3> entries_{};
};

// Each kind's sample splits in two: its parts, which depend on the drum's
// variant and age but not on its velocity, and the final products that
// bring in the amplitude, in the order the whole formula has them. Where
// the amplitude comes in between two factors (hi-hat, tom, crash) both
// factors are parts; elsewhere part b is unused. The per-sample render and
// the tables both go through these, so the two cannot drift apart.
struct drum_parts {
  double a;
  double b;
};

drum_parts kick_parts(chip_drum *d, double t, drum_fades &fades) {
  const double f = d->freq;
  // The pitch starts at 3 f and falls towards 0.55 f.
  d->phase += (0.55 * f + (3 * f - 0.55 * f) * fades.fade(0, 0.045, t)) / sample_rate_hz;
  wrap_phase(d);
  const double n1 = noise_step(d->lfsr, noise_tap_long);
  return {maths::sin(two_pi * d->phase) * fades.fade(1, d->body_decay, t) +
              0.35 * n1 * fades.fade(2, 0.004, t),
          0.0};
}

drum_parts snare_parts(chip_drum *d, double t, drum_fades &fades) {
  d->phase += d->freq / sample_rate_hz;
  wrap_phase(d);
  const double n1 = noise_step(d->lfsr, noise_tap_long);
  return {0.85 * n1 * fades.fade(0, d->body_decay, t) +
              0.4 * maths::sin(two_pi * d->phase) * fades.fade(1, 0.07, t),
          0.0};
}

// amp x (the whole bracket): kick, snare, ride.
double amp_times_a(double amp, double a, double) { return amp * a; }

drum_parts hihat_parts(chip_drum *d, double t, drum_fades &fades) {
  const double n1 = noise_step(d->lfsr, noise_tap_long);
  const double n2 = noise_step(d->lfsr2, noise_tap_short);
  return {fades.fade(0, d->decay, t), n1 + n2};
}

// amp x fade x (n1 + n2) x 0.5, left to right.
double hihat_final(double amp, double fade, double noise) { return amp * fade * noise * 0.5; }

drum_parts tom_parts(chip_drum *d, double t, drum_fades &fades) {
  const double f = d->freq;
  // The pitch starts at 1.8 f and falls towards 0.85 f; no noise.
  d->phase += (0.85 * f + (1.8 * f - 0.85 * f) * fades.fade(0, 0.06, t)) / sample_rate_hz;
  wrap_phase(d);
  return {maths::sin(two_pi * d->phase), fades.fade(1, d->body_decay, t)};
}

drum_parts crash_parts(chip_drum *d, double t, drum_fades &fades) {
  const double n1 = noise_step(d->lfsr, noise_tap_long);
  const double n2 = noise_step(d->lfsr2, noise_tap_short);
  const double x = (n1 + n2) * 0.5;
  double s = drum_resonator_step(&d->res[0], x);
  for (size_t k = 1; k < 6; ++k) s += drum_resonator_step(&d->res[k], x);
  return {fades.fade(0, d->decay, t), 0.45 * x + 1.6 * s / 6};
}

// amp x a x b, left to right: tom (a the sine, b the fade), crash (a the
// fade, b the bank).
double amp_times_a_times_b(double amp, double a, double b) { return amp * a * b; }

drum_parts ride_parts(chip_drum *d, double t, drum_fades &fades) {
  const double n1 = noise_step(d->lfsr, noise_tap_long);
  const double y0 = drum_resonator_step(&d->res[0], n1);
  double s = drum_resonator_step(&d->res[1], n1);
  for (size_t k = 2; k < 5; ++k) s += drum_resonator_step(&d->res[k], n1);
  // The narrow bell resonance (entry 0) fades more slowly than the rest.
  // exp(-t / decay) appears twice; the same argument gives the same value.
  const double fade = fades.fade(0, d->decay, t);
  return {0.55 * (s / 4) * fade + 0.9 * y0 * fades.fade(1, d->body_decay, t) + 0.12 * n1 * fade,
          0.0};
}

double clap_envelope_of(double, double t) { return drum_clap_envelope(t); }

drum_parts clap_parts(chip_drum *d, double t, drum_fades &fades) {
  const double n1 = noise_step(d->lfsr, noise_tap_long);
  const double y = drum_resonator_step(&d->res[0], n1);
  return {y * fades.at(0, clap_envelope_of, 0.0, t), 0.0};
}

// y x envelope x amp x 0.8: here the amplitude comes after the bracket.
double clap_final(double amp, double a, double) { return a * amp * 0.8; }

drum_parts silent_parts(chip_drum *, double, drum_fades &) { return {0.0, 0.0}; }
double silent_final(double, double, double) { return 0.0; }

using parts_function = drum_parts (*)(chip_drum *, double, drum_fades &);
using final_function = double (*)(double amp, double a, double b);

double clamp_unit(double v) {
  if (v > 1.0) return 1.0;
  if (v < -1.0) return -1.0;
  return v;
}

// Runs one sounding drum for up to n samples by its own state, adding each
// clamped sample to sum[i]; the mix is clamped once more after the master
// gain.
template <parts_function Parts, final_function Final>
void drum_run_calls(chip_drum &d, age_tables &tables, double *sum, int32_t n) {
  drum_fades fades(d, tables, n);
  for (int32_t i = 0; i < n; ++i, fades.next()) {
    const double t = d.age;
    d.age += sample_step_s;
    ++d.clock;
    // The age before the advance decides: a drum sounds for as many samples
    // as the repeated sum takes to pass its duration.
    if (t > d.duration) {
      d.active = 0;
      return;
    }
    const drum_parts p = Parts(&d, t, fades);
    sum[i] += clamp_unit(Final(d.amp, p.a, p.b));
  }
}

int64_t table_len(const drum_variant_table &vt, size_t v) {
  const int64_t capacity = drum_table_capacity(v);
  return vt.len > 0 && vt.len < capacity ? vt.len : capacity;
}

// Extends variant v's table to k_end samples (at most its length) by
// running its maker, an age-table block at a time so that the maker's fades
// come from one block per run as any drum's do.
template <parts_function Parts, size_t Lanes>
void table_fill(drum_table_set &dt, age_tables &tables, size_t v, int64_t k_end) {
  drum_variant_table &vt = dt.variants[v];
  k_end = std::min(k_end, table_len(vt, v));
  if (vt.made >= k_end) return;
  chip_drum &m = vt.maker;
  if (vt.made == 0) drum_init(&m, drum_variant_shapes[v].note, 0.0);
  double *entries = dt.store->entries.data() + drum_table_offset(v);
  while (vt.made < k_end) {
    const int64_t run_end = std::min(k_end, (vt.made / age_block_len + 1) * age_block_len);
    const auto n = static_cast<int32_t>(run_end - vt.made);
    drum_fades fades(m, tables, n);
    for (int32_t i = 0; i < n; ++i, fades.next()) {
      const double t = m.age;
      m.age += sample_step_s;
      ++m.clock;
      const drum_parts p = Parts(&m, t, fades);
      double *e = entries + static_cast<size_t>(vt.made) * Lanes;
      e[0] = p.a;
      if constexpr (Lanes == 2) e[1] = p.b;
      ++vt.made;
    }
  }
}

// Runs a drum whose samples come from its variant's table for up to n
// samples, as drum_run_calls would. Returns the samples it took care of: n,
// or fewer when the drum reaches the table's end still sounding, its
// generators then brought up to the table's end from the maker so that
// drum_run_calls can go on.
template <parts_function Parts, final_function Final, size_t Lanes>
int32_t drum_run_tabled(chip_drum &d, age_tables &tables, drum_table_set &dt, double *sum,
                        int32_t n) {
  const auto v = static_cast<size_t>(d.table - 1);
  drum_variant_table &vt = dt.variants[v];
  const int64_t len = table_len(vt, v);
  const auto m = static_cast<int32_t>(std::clamp<int64_t>(len - d.clock, 0, n));
  if (m > 0) {
    // Whole blocks ahead, so that the next runs of this and later hits read
    // what is there.
    const int64_t blocks_end = (d.clock + m + age_block_len - 1) / age_block_len * age_block_len;
    table_fill<Parts, Lanes>(dt, tables, v, blocks_end);
    const double *e =
        dt.store->entries.data() + drum_table_offset(v) + static_cast<size_t>(d.clock) * Lanes;
    const double amp = d.amp;
    const double duration = d.duration;
    double age = d.age;
    for (int32_t i = 0; i < m; ++i, e += Lanes) {
      const double t = age;
      age += sample_step_s;
      if (t > duration) {
        d.age = age;
        d.clock += i + 1;
        d.active = 0;
        return n;
      }
      sum[i] += clamp_unit(Final(amp, e[0], Lanes == 2 ? e[Lanes - 1] : 0.0));
    }
    d.age = age;
    d.clock += m;
  }
  if (m == n) return n;
  table_fill<Parts, Lanes>(dt, tables, v, len);
  const chip_drum &maker = vt.maker;
  d.phase = maker.phase;
  d.lfsr = maker.lfsr;
  d.lfsr2 = maker.lfsr2;
  d.res = maker.res;
  d.table = 0;
  return m;
}

template <parts_function Parts, final_function Final, size_t Lanes>
void drum_run(chip_drum &d, age_tables &tables, drum_table_set &dt, double *sum, int32_t n) {
  int32_t done = 0;
  if constexpr (Lanes > 0) {
    // drum_init gives a drum only a table that fits its kind; with any other
    // its own state, never advanced by a table, renders it.
    const auto v = static_cast<size_t>(d.table) - 1;
    if (d.table > 0 && v < drum_variant_count && drum_variant_shapes[v].lanes == Lanes) {
      done = drum_run_tabled<Parts, Final, Lanes>(d, tables, dt, sum, n);
    }
  }
  if (done < n && d.active != 0) drum_run_calls<Parts, Final>(d, tables, sum + done, n - done);
}

}  // namespace

chip_resonator drum_resonator_setup(double freq_hz, double bandwidth_hz) {
  const double r = maths::exp(-pi * bandwidth_hz / sample_rate_hz);
  chip_resonator res{};
  res.a1 = 2 * r * maths::cos(two_pi * freq_hz / sample_rate_hz);
  res.a2 = -(r * r);
  // Unit gain at 0 Hz: b0 / (1 - a1 - a2) = 1.
  res.b0 = 1 - res.a1 + r * r;
  return res;
}

double drum_resonator_step(chip_resonator *r, double x) {
  const double y = r->b0 * x + r->a1 * r->y1 + r->a2 * r->y2;
  r->y2 = r->y1;
  r->y1 = y;
  return y;
}

double drum_clap_envelope(double t) {
  double e = 0.0;
  for (double b : clap_burst_start_s) {
    if (t - b >= 0.0) e = std::fmax(e, maths::exp(-(t - b) / 0.008));
  }
  if (t >= 0.045) e = std::fmax(0.6 * maths::exp(-(t - 0.045) / 0.15), e);
  return e;
}

void drum_init(chip_drum *d, int32_t note, double amp) {
  *d = chip_drum{};
  d->active = 1;
  d->amp = amp;
  d->lfsr = 1;
  d->lfsr2 = 1;
  // The percussion key map, one row per sound; every other note plays the
  // short noise hit.
  // clang-format off
  switch (note) {
    case 35: case 36:                   set_kick(d); break;
    case 37: case 38: case 40:          set_snare(d); break;
    case 39:                            set_clap(d); break;
    case 41:                            set_tom(d, 0); break;
    case 43:                            set_tom(d, 1); break;
    case 45:                            set_tom(d, 2); break;
    case 47:                            set_tom(d, 3); break;
    case 48:                            set_tom(d, 4); break;
    case 50:                            set_tom(d, 5); break;
    case 42: case 44:                   set_hihat(d, 0); break;  // closed, pedal
    case 46:                            set_hihat(d, 1); break;  // open
    case 49: case 52: case 55: case 57: set_crash(d); break;
    case 51: case 53: case 59:          set_ride(d); break;
    default:                            set_hihat(d, 2); break;
  }
  // clang-format on
}

void drum_note_on(drum_pool &drums, int32_t note, int32_t velocity) {
  const double amp = (velocity / 127.0) * 0.9;
  // With all eight sounding, slot 0 is cut off, however recent it is.
  chip_drum *slot = &drums[0];
  for (chip_drum &d : drums) {
    if (d.active == 0) {
      slot = &d;
      break;
    }
  }
  drum_init(slot, note, amp);
}

namespace {

// Adds one sounding drum's next n samples, clamped, to sum[0..n).
void drum_render(chip_drum &d, age_tables &tables, drum_table_set &drum_tables, double *sum,
                 int32_t n) {
  switch (d.kind) {
    case drum_kick:
      drum_run<kick_parts, amp_times_a, 1>(d, tables, drum_tables, sum, n);
      break;
    case drum_snare:
      drum_run<snare_parts, amp_times_a, 1>(d, tables, drum_tables, sum, n);
      break;
    case drum_hihat:
      drum_run<hihat_parts, hihat_final, 2>(d, tables, drum_tables, sum, n);
      break;
    case drum_tom:
      drum_run<tom_parts, amp_times_a_times_b, 2>(d, tables, drum_tables, sum, n);
      break;
    case drum_crash:
      drum_run<crash_parts, amp_times_a_times_b, 2>(d, tables, drum_tables, sum, n);
      break;
    case drum_ride:
      drum_run<ride_parts, amp_times_a, 1>(d, tables, drum_tables, sum, n);
      break;
    case drum_clap:
      drum_run<clap_parts, clap_final, 1>(d, tables, drum_tables, sum, n);
      break;
    default:
      // drum_init sets no other kind.
      drum_run<silent_parts, silent_final, 0>(d, tables, drum_tables, sum, n);
      break;
  }
}

}  // namespace

void drums_render(drum_pool &drums, age_tables &tables, drum_table_set &drum_tables, double *sum,
                  int32_t n) {
  // Drum after drum in slot order, as each sample's sum takes them.
  for (chip_drum &d : drums) {
    if (d.active != 0) drum_render(d, tables, drum_tables, sum, n);
  }
}

void drums_render_stereo(drum_pool &drums, age_tables &tables, drum_table_set &drum_tables,
                         pan_gains gains, mix_sums &sums, int32_t n) {
  // At the centre with the sides still one, the drums add to that one sum
  // as in mono.
  if (pan_is_centre(gains) && !sums.apart) {
    drums_render(drums, tables, drum_tables, sums.left, n);
    return;
  }
  if (drums_sounding(drums) == 0) return;
  mix_sums_part(sums, n);
  // Each drum alone into a buffer of -0.0, the sum that leaves any value
  // added to it as it is (0.0 would turn a -0.0 into +0.0): the buffer then
  // holds the drum's own clamped samples, added to each side in slot order
  // as the mono sum takes them.
  std::array<double, chip_stretch_max> own;
  for (chip_drum &d : drums) {
    if (d.active == 0) continue;
    std::fill_n(own.begin(), n, -0.0);
    drum_render(d, tables, drum_tables, own.data(), n);
    for (int32_t i = 0; i < n; ++i) {
      const double value = own[static_cast<size_t>(i)];
      sums.left[i] += value * gains.left;
      sums.right[i] += value * gains.right;
    }
  }
}

int32_t drums_sounding(const drum_pool &drums) {
  int32_t n = 0;
  for (const chip_drum &d : drums) n += d.active != 0 ? 1 : 0;
  return n;
}

}  // namespace tunecast::chip
