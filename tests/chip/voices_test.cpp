// Melodic voice tests: timbres, slot stealing, waveforms, noise registers,
// envelope and release, and whole samples through chip_next compared to the
// bit with arithmetic written out here from the formulas.
#include "chip/voices.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <set>

#include "chip/age_tables.h"
#include "chip/state.h"
#include "fixtures.h"
#include "maths/maths.h"
#include "reference_synth.h"
#include "tunecast/chip.h"

namespace chip = tunecast::chip;
using namespace tunecast::chip;

namespace {

chip::voice_pool &V = chip::the_state.voices;
constexpr double step_s = 2.2675736961451248e-05;

// One sample of the melodic voices alone.
double voices_sample() {
  double sum = 0.0;
  chip::mix_sums sums{&sum};
  chip::voices_render(chip::the_state.voices, chip::the_state.channels, chip::the_state.tables,
                      chip::the_state.hexagon, sums, 1);
  return sum;
}

TEST(VoiceTimbre, FamiliesAndExceptions) {
  for (int32_t p = 0; p < 128; ++p) {
    SCOPED_TRACE(p);
    // The family table and its exceptions, as the literal reference holds them.
    const fixture::timbre_row want = fixture::reference_timbre(p);
    const chip::voice_timbre got = chip::voice_timbre_for(p);
    EXPECT_EQ(got.wave, want.wave);
    EXPECT_EQ(got.duty, want.duty);
    EXPECT_EQ(got.decay, want.decay);
    EXPECT_EQ(got.attack, want.attack);
    EXPECT_EQ(got.release, want.release);
    EXPECT_EQ(got.vibrato, want.vibrato);
    EXPECT_EQ(got.bits, want.bits);
  }
}

TEST(VoicePool, StealsTheOldestLowestSlotOnTies) {
  struct steal_case {
    const char *name;
    int oldest_a, oldest_b;  // slots given the greatest age (may be equal)
    int released;            // slot closed and aged just below the oldest, or -1
    int want;
  };
  const steal_case cases[] = {
      {"one oldest", 17, 17, -1, 17},
      {"tie goes to the lower slot", 21, 6, -1, 6},
      {"releasing voice younger than a held one", 9, 9, 3, 9},
  };
  for (const steal_case &c : cases) {
    SCOPED_TRACE(c.name);
    chip::channels_reset(chip::the_state.channels);
    V = {};
    for (int i = 0; i < 28; ++i)
      chip::voice_note_on(chip::the_state.voices, chip::the_state.channels, 0, 40, 64);
    for (int i = 0; i < 28; ++i) V[i].age = 0.5 + i * 0.001;
    V[c.oldest_a].age = V[c.oldest_b].age = 2.0;
    if (c.released >= 0) {
      V[c.released].gate = 0;
      V[c.released].age = 1.9;
    }
    chip::voice_note_on(chip::the_state.voices, chip::the_state.channels, 1, 70, 127);
    for (int i = 0; i < 28; ++i) EXPECT_EQ(V[i].note == 70, i == c.want) << i;
    const chip_voice &v = V[c.want];
    EXPECT_EQ(v.channel, 1);
    EXPECT_EQ(v.gate, 1);
    EXPECT_EQ(v.age, 0.0);
    EXPECT_EQ(v.lfsr, 1u);
    EXPECT_EQ(v.amp, 1.0);
  }
}

TEST(VoiceWaves, PitchPulseTriangleHexagon) {
  EXPECT_EQ(chip::voice_pitch_hz(69, 128), 440.0);
  EXPECT_EQ(chip::voice_pitch_hz(81, 128), 880.0);
  EXPECT_EQ(chip::voice_pitch_hz(69, 0), 440.0 * tunecast::maths::pow(2.0, -2.0 / 12.0));
  EXPECT_EQ(chip::voice_pitch_hz(69, 255),
            440.0 * tunecast::maths::pow(2.0, (2 * (127 / 128.0)) / 12.0));

  EXPECT_EQ(chip::voice_pulse(0.25, 0.25), -1.0);
  EXPECT_EQ(chip::voice_pulse(0.2499, 0.25), 1.0);

  EXPECT_EQ(chip::voice_triangle(0.25, 0), 0.0);
  EXPECT_EQ(chip::voice_triangle(0.25, 4), 2.0 * (8.0 / 15.0) - 1.0);  // half-way rounds up
  EXPECT_NEAR(chip::voice_triangle(0.25, 4), 1.0 / 15.0, 1e-15);
  EXPECT_EQ(chip::voice_triangle(0.0, 4), -1.0);
  EXPECT_EQ(chip::voice_triangle(0.5, 4), 1.0);
  std::set<double> levels;
  for (int i = 0; i < 4000; ++i) levels.insert(chip::voice_triangle(i / 4000.0, 4));
  EXPECT_EQ(levels.size(), 16u);
  for (int k = 0; k < 16; ++k) EXPECT_EQ(levels.count(2.0 * (k / 15.0) - 1.0), 1u) << k;

  const struct {
    double p, want;
  } hexagon[] = {{0.0, 1.0}, {1.0 / 12, 0.75}, {1.0 / 6, 0.5}, {0.25, 0.0}, {0.5, -1.0}};
  for (const auto &h : hexagon) EXPECT_NEAR(chip::voice_hexagon(h.p), h.want, 1e-12) << h.p;
}

// The hexagon's remainder is the library's fmod bit for bit: at the
// hexagon's angles, thousands of doubles either side of every sector start
// (where a quotient rounds the wrong way), and outside its range.
TEST(VoiceWaves, HexagonSectorOffsetIsTheLibrarysRemainder) {
  constexpr double pi_3 = 1.0471975511965976;
  const auto check = [&](double theta) {
    const double want = std::fmod(theta, pi_3);
    const double got = chip::hexagon_sector_offset(theta);
    return std::bit_cast<uint64_t>(got) == std::bit_cast<uint64_t>(want) ||
           (std::isnan(got) && std::isnan(want));
  };
  int64_t wrong = 0;
  uint64_t seed = 12345;
  for (int i = 0; i < 200000; ++i) {
    seed = seed * 6364136223846793005u + 1442695040888963407u;
    const double p = static_cast<double>(seed >> 11) * 0x1p-53;
    wrong += check((2 * p) * 3.141592653589793) ? 0 : 1;
  }
  for (int q = 1; q <= 8; ++q) {
    const double start = q * pi_3;
    double up = start;
    double down = start;
    for (int i = 0; i < 4096;
         ++i, up = std::nextafter(up, 10.0), down = std::nextafter(down, 0.0)) {
      wrong += (check(up) ? 0 : 1) + (check(down) ? 0 : 1);
    }
  }
  for (const double theta :
       {0.0, -0.0, 1e-300, -1.0, 7 * pi_3, 100.0, std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN()}) {
    wrong += check(theta) ? 0 : 1;
  }
  EXPECT_EQ(wrong, 0);
}

// A noise voice clocks on its first sample and on each wrap of its phase.
TEST(VoiceRender, NoiseClocksOnFirstSampleAndWraps) {
  chip::channels_reset(chip::the_state.channels);
  chip::the_state.channels[2].instrument = 120;
  V = {};
  chip::voice_note_on(chip::the_state.voices, chip::the_state.channels, 2, 93, 100);
  const double f =
      440.0 * tunecast::maths::pow(2.0, ((93 - 69) + 2 * ((128 - 128) * 0.0078125)) / 12.0);
  double phase = 0.0;
  uint32_t s = 1;
  for (int n = 0; n < 2000; ++n) {
    phase = phase + f / 44100.0;
    const bool wrapped = phase >= 1.0;
    if (wrapped) phase -= 1.0;
    if (wrapped || n == 0) s = (s >> 1) | (((s ^ (s >> 1)) & 1u) << 14);
    voices_sample();
    ASSERT_EQ(V[0].lfsr, s) << n;
    ASSERT_EQ(V[0].noise, (s & 1u) ? -1.0 : 1.0) << n;
  }
}

TEST(VoiceRender, EnvelopeAndVibrato) {
  EXPECT_EQ(chip::voice_envelope_shape(0.0, 0.005), 0.0);
  EXPECT_EQ(chip::voice_envelope_shape(0.0025, 0.005), 0.5);
  EXPECT_EQ(chip::voice_envelope_shape(0.005, 0.005), 1.0);
  EXPECT_EQ(chip::voice_envelope_shape(0.02, 0.005),
            1 - ((0.02 - 0.005) / 0.03) * 0.19999999999999996);
  EXPECT_EQ(chip::voice_envelope_shape(0.035, 0.005), 0.8);  // the fall ends on its sustain
  EXPECT_EQ(chip::voice_envelope_shape(0.5, 0.005), 0.8);
  EXPECT_EQ(chip::age_fade(0.45, 0.5), tunecast::maths::exp(-0.5 / 0.45));

  EXPECT_EQ(chip::voice_vibrato_hz(440.0, 0.2, 0.15), 440.0);  // onset is strict
  EXPECT_EQ(chip::voice_vibrato_hz(440.0, 0.0, 1.0), 440.0);
  EXPECT_NEAR(chip::voice_vibrato_hz(440.0, 0.2, 0.15 + 1.0 / 22),
              440.0 * tunecast::maths::pow(2.0, 0.2 / 12), 1e-9);
}

// A release of r seconds frees the voice on the first gated-off sample whose
// repeatedly added release clock reaches r; that sample adds nothing.
TEST(VoiceRender, ReleaseFreesOnTheExpectedSample) {
  const struct {
    int32_t program;
    double release;
    int want;
  } cases[] = {{16, 0.03, 1324}, {40, 0.08, 3529}, {88, 0.12, 5293}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.program);
    int additions = 0;
    for (double rel = 0.0; rel < c.release; rel = rel + step_s) ++additions;
    EXPECT_EQ(additions, c.want);

    chip::channels_reset(chip::the_state.channels);
    chip::the_state.channels[0].instrument = c.program;
    V = {};
    chip::voice_note_on(chip::the_state.voices, chip::the_state.channels, 0, 69, 127);
    for (int i = 0; i < 5000; ++i) voices_sample();
    V[0].gate = 0;
    for (int n = 1; n < c.want; ++n) ASSERT_NE(voices_sample(), 0.0) << n;
    EXPECT_EQ(V[0].active, 1);
    EXPECT_EQ(voices_sample(), 0.0);
    EXPECT_EQ(V[0].active, 0);
  }
}

TEST(VoiceRender, FirstSampleSilentAndVolumeZeroKeepsTheVoice) {
  chip::channels_reset(chip::the_state.channels);
  V = {};
  chip::voice_note_on(chip::the_state.voices, chip::the_state.channels, 0, 69, 127);
  EXPECT_EQ(voices_sample(), 0.0);
  EXPECT_EQ(V[0].phase, 440.0 / 44100.0);
  EXPECT_NE(voices_sample(), 0.0);
  chip::the_state.channels[0].volume = 0;
  for (int i = 0; i < 100; ++i) EXPECT_EQ(voices_sample(), 0.0);
  EXPECT_EQ(V[0].active, 1);
}

// One voice worked out sample by sample from the formulas, in the order they
// are written: pitch, vibrato, phase, waveform, envelope, clocks, release.
struct model_voice {
  int wave;
  double duty, decay, attack, release, vibrato;
  int bits, note;
  double amp;
  double phase = 0, age = 0, rel = 0;
  bool active = true;

  double next(int bend, int volume, bool gate) {
    if (!active) return 0.0;
    double f =
        440.0 * tunecast::maths::pow(2.0, ((note - 69) + 2 * ((bend - 128) * 0.0078125)) / 12.0);
    if (vibrato > 0 && age > 0.15)
      f = f * tunecast::maths::pow(
                  2.0, vibrato * tunecast::maths::sin((age - 0.15) * 34.55751918948772) / 12.0);
    phase = phase + f / 44100.0;
    if (phase >= 1.0) phase -= 1.0;
    double w = 2 * phase - 1;  // saw
    if (wave == 0) w = phase < duty ? 1.0 : -1.0;
    if (wave == 1) {
      w = 4 * (phase < 0.5 ? phase : 1.0 - phase) - 1;
      const double k = std::floor((0.5 * w + 0.5) * 15 + 0.5);
      if (bits == 4) w = 2 * (k / 15) - 1;
    }
    if (wave == 3) {
      const double theta = (2 * phase) * 3.141592653589793;
      w = (0.8660254037844387 /
           tunecast::maths::cos(std::fmod(theta, 1.0471975511965976) - 0.5235987755982988)) *
          tunecast::maths::cos(theta);
    }
    double e = age < attack          ? age / attack
               : age < attack + 0.03 ? 1 - ((age - attack) / 0.03) * 0.19999999999999996
                                     : 0.8;
    if (decay > 0) e = e * tunecast::maths::exp(-age / decay);
    age = age + step_s;
    if (!gate) {
      rel = rel + step_s;
      if (rel >= release) {
        active = false;
        return 0.0;
      }
      e = e * (1 - rel / release);
    }
    return amp * (w * e) * (volume / 127.0);
  }
};

// The melodic sum, to the bit, for one voice of each smooth waveform family,
// held and then released, under a bend and a channel volume.
TEST(VoiceRender, SumsMatchTheFormulas) {
  const struct {
    int32_t program;
    model_voice model;
  } cases[] = {
      {8, {1, 0.5, 0.5, 0.005, 0.03, 0, 4, 57, 90 / 127.0}},
      {16, {0, 0.5, 0, 0.005, 0.03, 0, 0, 69, 100 / 127.0}},
      {40, {2, 0.5, 0, 0.05, 0.08, 0.15, 0, 45, 127 / 127.0}},
      {96, {3, 0.5, 0.7, 0.005, 0.03, 0, 0, 76, 64 / 127.0}},
      {110, {3, 0.5, 0.5, 0.005, 0.03, 0, 0, 30, 1 / 127.0}},
  };
  for (auto c : cases) {
    SCOPED_TRACE(c.program);
    chip::channels_reset(chip::the_state.channels);
    chip::the_state.channels[3] = {c.program, 77, 170, 64};
    V = {};
    chip::voice_note_on(chip::the_state.voices, chip::the_state.channels, 3, c.model.note,
                        static_cast<int32_t>(c.model.amp * 127 + 0.5));
    for (int n = 0; n < 10000; ++n) {
      if (n == 8000) V[0].gate = 0;
      ASSERT_EQ(voices_sample(), c.model.next(170, 77, n < 8000)) << n;
    }
  }
}

// Whole output samples through chip_next, at volume 100 and the gain that
// I_SetMusicVolume(100) gives, with one voice on channel 0 (volume 100).
class VoiceEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { setenv("ZARN_SYNTH", "1", 1); }
  static void start(const fixture::bytes &stream) {
    const fixture::bytes mus = fixture::mus_builder().raw(stream).build();
    ASSERT_EQ(I_RegisterSong(mus.data()), 1);
    I_SetMusicVolume(100);
    I_PlaySong(0, 0);
  }
  static float mix(double sum) {
    const double out = (0.12 * (1.6 * (100 / 127.0))) * sum;
    return out > 1.0 ? 1.0f : out < -1.0 ? -1.0f : static_cast<float>(out);
  }
  static float next() {
    float l = 0, r = 0;
    chip_next(&l, &r);
    EXPECT_EQ(l, r);
    return l;
  }
};

// Program 16 held for one tick (315 samples), then released until it frees
// itself on its 1324th gated-off sample.
TEST_F(VoiceEndToEnd, PulseNote) {
  start(fixture::mus_builder()
            .instrument(0, 16)
            .note_on(0, 69, 100)
            .delay(1)
            .note_off(0, 69)
            .delay(10)
            .score_end()
            .stream());
  model_voice m{0, 0.5, 0, 0.005, 0.03, 0, 0, 69, 100 / 127.0};
  int nonzero = 0;
  for (int n = 0; n < 1800; ++n) {
    const float want = mix(m.next(128, 100, n < 315));
    ASSERT_EQ(next(), want) << n;
    nonzero += want != 0.0f;
  }
  EXPECT_EQ(nonzero, 315 + 1323 - 1);  // all but the first and the freeing sample
}

// Program 8, a decaying 16-level triangle: bend 200 for one tick, bend 0 for
// one tick, then the score ends and the output falls silent.
TEST_F(VoiceEndToEnd, TriangleNoteWithBend) {
  start(fixture::mus_builder()
            .instrument(0, 8)
            .bend(0, 200)
            .note_on(0, 60, 90)
            .delay(1)
            .bend(0, 0)
            .delay(1)
            .score_end()
            .stream());
  model_voice m{1, 0.5, 0.5, 0.005, 0.03, 0, 4, 60, 90 / 127.0};
  for (int n = 0; n < 640; ++n) {
    const double sum = n < 630 ? m.next(n < 315 ? 200 : 0, 100, true) : 0.0;
    ASSERT_EQ(next(), mix(sum)) << n;
  }
  EXPECT_EQ(chip::the_state.flags.playing, 0);
}

}  // namespace
