// voices.cpp: the 28 melodic voices. Note-on claims a slot (a free one,
// else the oldest) and sets its timbre from the channel's program; the render
// step runs every active voice for one sample and frees it when its release
// has run out.
#include "chip/voices.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

#include "chip/age_tables.h"
#include "chip/noise.h"
#include "chip/note_ages.h"
#include "chip/state.h"
#include "common/bit_cast.h"

namespace tunecast::chip {
namespace {

int32_t voice_slot_for_note_on(const voice_pool &voices) {
  for (int32_t i = 0; i < chip_voice_count; ++i) {
    if (voices[static_cast<size_t>(i)].active == 0) return i;
  }
  // All busy: the oldest goes, held or releasing alike; on a tie the lowest
  // slot, since only a strictly greater age displaces the choice.
  int32_t oldest = 0;
  double best_age = -1.0;
  for (int32_t i = 0; i < chip_voice_count; ++i) {
    if (voices[static_cast<size_t>(i)].age > best_age) {
      best_age = voices[static_cast<size_t>(i)].age;
      oldest = i;
    }
  }
  return oldest;
}

}  // namespace

void voice_note_on(voice_pool &voices, const channel_state &channels, int32_t channel, int32_t note,
                   int32_t velocity) {
  chip_voice &v = voices[static_cast<size_t>(voice_slot_for_note_on(voices))];
  v = chip_voice{};
  v.active = 1;
  v.channel = channel;
  v.note = note;
  v.gate = 1;
  const voice_timbre t = voice_timbre_for(channels[static_cast<size_t>(channel)].instrument);
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

namespace {

// The pitch and the phase step without vibrato. pow gives the same bits for
// the same note and bend, so they are worked out again only when one of the
// two changed.
void voice_update_pitch(chip_voice &v, int32_t bend) {
  if (v.pitch_cached != 0 && v.pitch_note == v.note && v.pitch_bend == bend) return;
  v.pitch_cached = 1;
  v.pitch_note = v.note;
  v.pitch_bend = bend;
  v.pitch_hz = voice_pitch_hz(v.note, bend);
  v.pitch_step = v.pitch_hz / sample_rate_hz;
}

// The 16 levels of a triangle with 4 bits, 2 (k / 15) - 1, by k.
struct triangle_levels {
  std::array<double, 16> value;
  triangle_levels() {
    constexpr double levels = 15.0;
    for (size_t k = 0; k < value.size(); ++k) value[k] = 2 * (static_cast<double>(k) / levels) - 1;
  }
};
const triangle_levels triangle_4_bits;

// voice_triangle with its level picked from the table when bits is 4. The
// rounded level's argument is at least 0.5, so truncation is its floor.
[[gnu::always_inline]] inline double voice_triangle_fast(double p, int32_t bits) {
  if (bits != 4) return voice_triangle(p, bits);
  const double q = p < 0.5 ? p : 1.0 - p;
  const double w = 4 * q - 1;
  const auto k = static_cast<size_t>((0.5 * w + 0.5) * 15.0 + 0.5);
  return triangle_4_bits.value[k];
}

// voice_pulse without a branch: the phase crosses the duty twice a period,
// too irregularly for a branch on it to be predicted.
constexpr std::array<double, 2> pulse_levels = {-1.0, 1.0};
inline double voice_pulse_fast(double p, double duty) { return pulse_levels[p < duty ? 1u : 0u]; }

// Where a voice adds its samples: left alone, or left and right (non-null)
// times the gains of its channel's pan.
struct voice_out {
  double *left;
  double *right;
  pan_gains gains;
};

// The most samples of one piece: its passes keep their values in arrays of
// this size on the stack.
constexpr int32_t piece_max = chip_stretch_max;
// Shorter pieces run sample by sample: their passes would cost more to set
// up than they save.
constexpr int32_t passes_min_samples = 16;

// What a piece reads from the tables rather than work out: the decay and
// vibrato factors of the note's first samples come from the age tables (a
// voice whose age is not its note's, or is past the tables, makes the calls
// itself), and a steady hexagon's waveform from the hexagon tables. Null
// where the piece makes the calls.
struct piece_tables {
  bool tabled;  // the voice's age is its note age
  const double *decay_at;
  const double *vibrato_at;
  const double *wave_at;
};

template <int32_t Wave>
[[gnu::always_inline]] inline piece_tables piece_tables_for(chip_voice &v, age_tables &tables,
                                                            hexagon_tables &hexagon, int32_t n) {
  const double decay = v.decay;
  const double vibrato = v.vibrato;
  const int64_t k0 = v.clock;
  const bool tabled = is_note_age(tables, v.age, k0) && k0 + n < note_ages_len;
  piece_tables t{tabled, nullptr, nullptr, nullptr};
  if (tabled && decay > 0) t.decay_at = age_entries(tables, v.tables, 0, age_fade, decay, k0, n);
  if (tabled && vibrato > 0.0) {
    t.vibrato_at = age_entries(tables, v.tables, 1, voice_vibrato_factor, vibrato, k0, n);
  }
  if constexpr (Wave == wave_hexagon) {
    if (k0 == 0) {
      v.steady = vibrato == 0.0 && v.phase == 0.0 ? 1 : 0;
      v.steady_step = v.pitch_step;
    } else if (tunecast::bit_cast<uint64_t>(v.pitch_step) !=
               tunecast::bit_cast<uint64_t>(v.steady_step)) {
      v.steady = 0;
    }
    if (v.steady != 0) t.wave_at = hexagon_entries(hexagon, v.wave_table, v.pitch_step, k0, n);
  }
  return t;
}

// The constants of a voice a piece reads: fixed while no event arrives.
struct voice_consts {
  double pitch_hz, pitch_step, vibrato, duty;
  int32_t bits;
  double attack, decay, release, amp;
  bool releasing;
};
voice_consts voice_consts_of(const chip_voice &v) {
  return {v.pitch_hz, v.pitch_step, v.vibrato, v.duty, v.bits,
          v.attack,   v.decay,      v.release, v.amp,  v.gate == 0};
}

// The noise kinds clock their register on the voice's first sample and on
// every wrap of the phase, so the note's pitch sets the noise's rate.
template <int32_t Wave>
[[gnu::always_inline]] inline void voice_noise_step(bool clock, uint32_t &lfsr, double &noise) {
  if constexpr (Wave == wave_noise || Wave == wave_short_noise) {
    if (clock) {
      lfsr = noise_clock(lfsr, Wave == wave_noise ? noise_tap_long : noise_tap_short);
      noise = noise_value(lfsr);
    }
  } else {
    (void)clock, (void)lfsr, (void)noise;
  }
}

// The waveform at the phase just advanced; a hexagon reads its table entry
// when it has one, a noise kind its current value.
template <int32_t Wave>
[[gnu::always_inline]] inline double voice_wave(const voice_consts &c, double phase,
                                                const double *wave_at, size_t k, double noise) {
  if constexpr (Wave == wave_pulse) {
    return voice_pulse_fast(phase, c.duty);
  } else if constexpr (Wave == wave_triangle) {
    return voice_triangle_fast(phase, c.bits);
  } else if constexpr (Wave == wave_saw) {
    return voice_saw(phase);
  } else if constexpr (Wave == wave_hexagon) {
    return wave_at != nullptr ? wave_at[k] : voice_hexagon(phase);
  } else {
    return noise;
  }
}

template <bool Stereo>
[[gnu::always_inline]] inline void voice_add(const voice_out &out, int32_t i, double value) {
  if constexpr (Stereo) {
    out.left[i] += value * out.gains.left;
    out.right[i] += value * out.gains.right;
  } else {
    out.left[i] += value;
  }
}

// A piece run sample by sample, every value as soon as it is needed: the
// way for short pieces, such as a pull of one sample.
template <int32_t Wave, bool Sustained, bool Stereo>
[[gnu::always_inline]] inline void voice_piece_in_order(chip_voice &v, const piece_tables &t,
                                                        double volume_factor, const voice_out &out,
                                                        int32_t n) {
  const voice_consts c = voice_consts_of(v);
  double phase = v.phase;
  double age = v.age;
  double rel_age = v.rel_age;
  uint32_t lfsr = v.lfsr;
  double noise = v.noise;
  const int64_t k0 = v.clock;
  const double *decay_at = t.decay_at;
  const double *vibrato_at = t.vibrato_at;
  const double *wave_at = t.wave_at;
  int32_t i = 0;
  for (; i < n; ++i) {
    const auto k = static_cast<size_t>(i);
    double step = c.pitch_step;
    if (c.vibrato > 0.0 && age > vibrato_onset_s) {
      const double hz = vibrato_at != nullptr ? c.pitch_hz * vibrato_at[k]
                                              : voice_vibrato_hz(c.pitch_hz, c.vibrato, age);
      step = hz / sample_rate_hz;
    }
    bool wrapped;
    phase = voice_phase_advance(phase, step, wrapped);
    voice_noise_step<Wave>(wrapped || age == 0.0, lfsr, noise);
    const double w = voice_wave<Wave>(c, phase, wave_at, k, noise);
    double e = Sustained ? sustain_level : voice_envelope_shape(age, c.attack);
    if (c.decay > 0) e = e * (decay_at != nullptr ? decay_at[k] : age_fade(c.decay, age));
    // The clocks advance before the release test, and the sample on which
    // the release runs out adds nothing.
    age = age + sample_step_s;
    if (c.releasing) {
      rel_age = rel_age + sample_step_s;
      if (rel_age >= c.release) {
        v.active = 0;
        ++i;  // this sample still advanced the clocks
        break;
      }
      e = e * (1 - rel_age / c.release);
    }
    voice_add<Stereo>(out, i, c.amp * (w * e) * volume_factor);
  }
  v.phase = phase;
  v.age = age;
  v.rel_age = rel_age;
  if (c.releasing) v.rel_clock += i;
  v.lfsr = lfsr;
  v.noise = noise;
  v.clock = k0 + i;
}

// The same piece in passes over its samples rather than sample by sample:
// only the phase (and the noise register) carries a value from one sample
// to the next, so the vibrato's steps, the envelope and the release ramp are
// passes of independent samples the compiler runs two at a time, and the
// one pass in order does no more than the phase, the waveform and the sum.
// The clocks are read from the note ages where they are the note's own,
// which removes their chains of additions. Every value is still the same
// expression of the same operands, in the same order.
template <int32_t Wave, bool Sustained, bool Stereo>
void voice_piece_in_passes(chip_voice &v, age_tables &tables, const piece_tables &t,
                           double volume_factor, const voice_out &out, int32_t n) {
  const voice_consts vc = voice_consts_of(v);
  const double pitch_hz = vc.pitch_hz;
  const double pitch_step = vc.pitch_step;
  const double vibrato = vc.vibrato;
  const double attack = vc.attack;
  const double decay = vc.decay;
  const double release = vc.release;
  const bool releasing = vc.releasing;
  double phase = v.phase;
  uint32_t lfsr = v.lfsr;
  double noise = v.noise;
  const int64_t k0 = v.clock;
  const double *decay_at = t.decay_at;
  const double *vibrato_at = t.vibrato_at;
  const double *wave_at = t.wave_at;
  // ages[i]: the age before sample i's advance; rels[i]: the release clock
  // after sample i's advance. The ages go only into the attack's shape, the
  // calls made where no table serves, and the search for the vibrato's
  // onset; a held note past all three, the common case, needs none.
  const bool onset_ahead = vibrato > 0.0 && !(v.age > vibrato_onset_s);
  const bool need_ages = !Sustained || (decay > 0 && decay_at == nullptr) ||
                         (vibrato > 0.0 && vibrato_at == nullptr) || onset_ahead;
  std::array<double, piece_max> age_run;
  const double *ages = need_ages ? note_ages_run(tables, k0, n, age_run.data()) : nullptr;
  std::array<double, piece_max> rel_run;
  const double *rels =
      releasing ? note_ages_run(tables, v.rel_clock + 1, n, rel_run.data()) : nullptr;
  // m: the samples the piece runs, all n or up to and including the one on
  // which the release runs out; that sample advances the clocks but adds
  // nothing, so c samples add.
  int32_t m = n;
  bool ends = false;
  // The release clock only grows, so the piece ends early only if its last
  // sample has run out.
  if (releasing && rels[n - 1] >= release) {
    int32_t i = 0;
    while (!(rels[i] >= release)) ++i;
    ends = true;
    m = i + 1;
  }
  const int32_t c = ends ? m - 1 : m;

  // The vibrato starts on the first sample whose age is past its onset, and
  // the ages only grow: from there on every sample has its own step.
  int32_t onset = m;
  std::array<double, piece_max> steps;
  if (vibrato > 0.0) {
    onset = 0;
    while (onset_ahead && onset < m && !(ages[onset] > vibrato_onset_s)) ++onset;
    if (vibrato_at != nullptr) {
      for (int32_t i = onset; i < m; ++i) {
        const double hz = pitch_hz * vibrato_at[i];
        steps[static_cast<size_t>(i)] = hz / sample_rate_hz;
      }
    } else {
      for (int32_t i = onset; i < m; ++i) {
        steps[static_cast<size_t>(i)] =
            voice_vibrato_hz(pitch_hz, vibrato, ages[i]) / sample_rate_hz;
      }
    }
  }

  // The envelope of the samples that add: the shape (the sustain level when
  // Sustained), times the decay, times the release ramp. A held, undecayed,
  // sustained piece has the sustain level throughout and needs no array.
  const bool flat = Sustained && !(decay > 0) && !releasing;
  std::array<double, piece_max> e;
  if (!flat) {
    for (int32_t i = 0; i < c; ++i) {
      e[static_cast<size_t>(i)] = Sustained ? sustain_level : voice_envelope_shape(ages[i], attack);
    }
    if (decay > 0) {
      for (int32_t i = 0; i < c; ++i) {
        const auto k = static_cast<size_t>(i);
        e[k] = e[k] * (decay_at != nullptr ? decay_at[i] : age_fade(decay, ages[i]));
      }
    }
    if (releasing) {
      for (int32_t i = 0; i < c; ++i) {
        const auto k = static_cast<size_t>(i);
        e[k] = e[k] * (1 - rels[i] / release);
      }
    }
  }

  // The phase carries from sample to sample, so this pass runs in order; it
  // does only what needs the phase: the waveform and the sum, each sample's
  // product in the order it has always had.
  const auto advance = [&](int32_t i, double step) {
    bool wrapped;
    phase = voice_phase_advance(phase, step, wrapped);
    // A note age is 0.0 only on the note's first sample.
    voice_noise_step<Wave>(wrapped || k0 + i == 0, lfsr, noise);
  };
  const auto add = [&](int32_t i, double step) {
    advance(i, step);
    const auto k = static_cast<size_t>(i);
    const double w = voice_wave<Wave>(vc, phase, wave_at, k, noise);
    voice_add<Stereo>(out, i, vc.amp * (w * (flat ? sustain_level : e[k])) * volume_factor);
  };
  const int32_t held_end = std::min(onset, c);
  for (int32_t i = 0; i < held_end; ++i) add(i, pitch_step);
  for (int32_t i = held_end; i < c; ++i) add(i, steps[static_cast<size_t>(i)]);
  // The sample on which the release runs out still moves the phase.
  if (ends) advance(c, c < onset ? pitch_step : steps[static_cast<size_t>(c)]);

  if (ends) v.active = 0;
  v.phase = phase;
  v.age = note_age(k0 + m);  // the last age plus the step
  if (releasing) {
    v.rel_age = rels[m - 1];
    v.rel_clock += m;
  }
  v.lfsr = lfsr;
  v.noise = noise;
  v.clock = k0 + m;
}

// Runs one active voice for up to n samples (at most piece_max) that lie in
// one block of the age tables, adding each sample's contribution to out,
// and stops early when the release runs out. Within a run no event arrives,
// so the gate, the channel's bend and volume and the waveform are fixed:
// they are read once, and the waveform is chosen at compile time.
// Sustained: the piece starts past the attack and fall, so every sample of
// it has the sustain level. Stereo: the contribution goes to both sums,
// times the pan gains.
template <int32_t Wave, bool Sustained, bool Stereo>
void voice_piece(chip_voice &v, age_tables &tables, hexagon_tables &hexagon, double volume_factor,
                 const voice_out &out, int32_t n) {
  const piece_tables t = piece_tables_for<Wave>(v, tables, hexagon, n);
  // The passes read both clocks from the note ages. A voice whose age is
  // past them makes its calls anyway, and one whose release clock is not
  // the count of its released samples has been set by hand: both run in
  // order.
  if (n >= passes_min_samples && t.tabled &&
      (v.gate != 0 ||
       (is_note_age(tables, v.rel_age, v.rel_clock) && v.rel_clock + 1 + n <= note_ages_len))) {
    voice_piece_in_passes<Wave, Sustained, Stereo>(v, tables, t, volume_factor, out, n);
  } else {
    voice_piece_in_order<Wave, Sustained, Stereo>(v, t, volume_factor, out, n);
  }
}

// Runs one active voice for up to n samples, piece by piece, each piece
// within one block of the tables so that it reads them rather than call.
template <int32_t Wave>
void voice_run(chip_voice &v, age_tables &tables, hexagon_tables &hexagon, double volume_factor,
               voice_out out, int32_t n) {
  for (int32_t done = 0; done < n && v.active != 0;) {
    const int64_t to_block_end = age_block_len - v.clock % age_block_len;
    const auto piece =
        static_cast<int32_t>(std::min<int64_t>({n - done, to_block_end, int64_t{piece_max}}));
    // The age only grows, so a piece that starts at or past the sustain
    // stays there.
    const bool sustained = v.age >= v.attack + fall_s;
    if (out.right == nullptr) {
      if (sustained) {
        voice_piece<Wave, true, false>(v, tables, hexagon, volume_factor, out, piece);
      } else {
        voice_piece<Wave, false, false>(v, tables, hexagon, volume_factor, out, piece);
      }
    } else if (sustained) {
      voice_piece<Wave, true, true>(v, tables, hexagon, volume_factor, out, piece);
    } else {
      voice_piece<Wave, false, true>(v, tables, hexagon, volume_factor, out, piece);
    }
    out.left += piece;
    if (out.right != nullptr) out.right += piece;
    done += piece;
  }
}

}  // namespace

void voices_render(voice_pool &voices, const channel_state &channels, age_tables &tables,
                   hexagon_tables &hexagon, mix_sums &sums, int32_t n) {
  // Voice after voice in slot order: each sample's sum still gets its
  // contributions in the order of the slots. In stereo, the voices at the
  // centre before the first one off it run the mono kernels into the sum
  // both sides share.
  for (chip_voice &v : voices) {
    if (v.active == 0) continue;
    const chip_channel &c = channels[static_cast<size_t>(v.channel)];
    voice_update_pitch(v, c.bend);
    const double volume_factor = c.volume / volume_scale;
    const pan_gains gains = sums.right != nullptr ? pan_gains_for(c.pan) : pan_gains{1.0, 1.0};
    if (!pan_is_centre(gains)) mix_sums_part(sums, n);
    const voice_out out{sums.left, sums.apart ? sums.right : nullptr, gains};
    switch (v.wave) {
      case wave_pulse:
        voice_run<wave_pulse>(v, tables, hexagon, volume_factor, out, n);
        break;
      case wave_triangle:
        voice_run<wave_triangle>(v, tables, hexagon, volume_factor, out, n);
        break;
      case wave_saw:
        voice_run<wave_saw>(v, tables, hexagon, volume_factor, out, n);
        break;
      case wave_hexagon:
        voice_run<wave_hexagon>(v, tables, hexagon, volume_factor, out, n);
        break;
      case wave_noise:
        voice_run<wave_noise>(v, tables, hexagon, volume_factor, out, n);
        break;
      default:  // short noise, and any other kind clocks with the short tap
        voice_run<wave_short_noise>(v, tables, hexagon, volume_factor, out, n);
        break;
    }
  }
}

int32_t voices_sounding(const voice_pool &voices) {
  int32_t n = 0;
  for (const chip_voice &v : voices) n += v.active != 0 ? 1 : 0;
  return n;
}

}  // namespace tunecast::chip
