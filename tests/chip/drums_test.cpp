// drums_test.cpp: the drum voices, driven directly through drum_note_on and
// drums_render. Expected figures are the documented ones or a few lines of
// arithmetic written here from the drum formulas.
#include "chip/drums.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "chip/state.h"
#include "maths/maths.h"

namespace chip = tunecast::chip;
using namespace tunecast::chip;

namespace {

constexpr double pi = 3.141592653589793;

// One sample of the drum pool alone.
double drums_sample() {
  double sum = 0.0;
  chip::module_state &m = chip::the_state;
  chip::drums_render(m.drums, m.tables, m.drum_tables, &sum, 1);
  return sum;
}

// Renders n samples of the drum pool alone.
std::vector<double> render(int n) {
  std::vector<double> out;
  for (int i = 0; i < n; ++i) out.push_back(drums_sample());
  return out;
}

// Samples a drum sounds: the age, summed one step at a time, must pass it.
int samples_before_free(double duration_s) {
  int n = 0;
  for (double t = 0.0; !(t > duration_s); t += sample_step_s) ++n;
  return n;
}

// The pool is module state: every pool test starts from an empty one.
class Drums : public testing::Test {
 protected:
  void SetUp() override { chip::the_state.drums = {}; }
};

TEST(DrumNoteTable, EveryNoteGetsItsKindAndShape) {
  struct row {
    std::vector<int> notes;
    int32_t kind;
    double duration, freq, decay;
    int32_t res_count;
  };
  const std::vector<row> rows = {
      {{35, 36}, chip::drum_kick, 0.25, 60, 0, 0},
      {{37, 38, 40}, chip::drum_snare, 0.2, 190, 0, 0},
      {{39}, chip::drum_clap, 0.15, 0, 0, 0},
      {{41}, chip::drum_tom, 0.35, 80, 0, 0},
      {{43}, chip::drum_tom, 0.35, 100, 0, 0},
      {{45}, chip::drum_tom, 0.35, 120, 0, 0},
      {{47}, chip::drum_tom, 0.35, 140, 0, 0},
      {{48}, chip::drum_tom, 0.35, 170, 0, 0},
      {{50}, chip::drum_tom, 0.35, 200, 0, 0},
      {{42, 44}, chip::drum_hihat, 0.06, 0, 0.02, 0},
      {{46}, chip::drum_hihat, 0.3, 0, 0.1, 0},
      {{49, 52, 55, 57}, chip::drum_crash, 1.2, 300, 0.7, 6},
      {{51, 53, 59}, chip::drum_ride, 0.8, 400, 0.4, 5},
  };
  const row short_hit = {{}, chip::drum_hihat, 0.08, 0, 0.03, 0};
  for (int note = 0; note <= 127; ++note) {
    SCOPED_TRACE(note);
    const row *want = &short_hit;
    for (const row &r : rows) {
      for (int n : r.notes) {
        if (n == note) want = &r;
      }
    }
    chip_drum d{};
    d.age = d.phase = 5.0;  // stale values drum_init must clear
    d.res[3].y1 = 5.0;
    chip::drum_init(&d, note, 0.5);
    EXPECT_EQ(d.active, 1);
    EXPECT_EQ(d.kind, want->kind);
    EXPECT_EQ(d.duration, want->duration);
    EXPECT_EQ(d.freq, want->freq);
    EXPECT_EQ(d.decay, want->decay);
    EXPECT_EQ(d.res_count, want->res_count);
    EXPECT_EQ(d.amp, 0.5);
    EXPECT_EQ(d.lfsr, 1u);
    EXPECT_EQ(d.lfsr2, 1u);
    EXPECT_EQ(d.age, 0.0);
    EXPECT_EQ(d.phase, 0.0);
    EXPECT_EQ(d.res[3].y1, 0.0);
  }
}

TEST(DrumResonator, CoefficientsMatchTheirFigures) {
  chip_drum clap{};
  chip::drum_init(&clap, 39, 0.9);
  EXPECT_EQ(clap.res[0].b0, 0.03061339511746708);
  EXPECT_EQ(clap.res[0].a1, 1.8616617941402462);
  EXPECT_EQ(clap.res[0].a2, -0.8922751892577133);

  // At 0 Hz the cosine is 1, so a1 is 2r itself.
  EXPECT_EQ(chip::drum_resonator_setup(0, 400).a1, 1.9438139740509395);
  EXPECT_EQ(chip::drum_resonator_setup(0, 300).a1, 1.9577107422499191);

  struct bank {
    int note;
    size_t first, count;
    double base_hz, two_r, r_squared;
    std::vector<double> ratios;
  };
  const std::vector<bank> banks = {
      {49, 0, 6, 300, 1.9438139740509395, 0.9446031914289266, {1.0, 1.44, 1.86, 2.29, 2.66, 3.32}},
      {51, 1, 4, 400, 1.9577107422499191, 0.9581578375801824, {1.4, 2.6, 3.3, 4.8}},
  };
  for (const bank &b : banks) {
    chip_drum d{};
    chip::drum_init(&d, b.note, 0.9);
    for (size_t k = 0; k < b.count; ++k) {
      SCOPED_TRACE(testing::Message() << "note " << b.note << " resonator " << b.first + k);
      const chip_resonator &r = d.res[b.first + k];
      const double a1 = b.two_r * tunecast::maths::cos(2 * pi * (b.base_hz * b.ratios[k]) / 44100);
      EXPECT_EQ(r.a1, a1);
      EXPECT_EQ(r.a2, -b.r_squared);
      EXPECT_EQ(r.b0, (1 - a1) + b.r_squared);
    }
  }
  chip_drum ride{};
  chip::drum_init(&ride, 51, 0.9);
  EXPECT_EQ(ride.res[0].a2, -0.9943171743977944);
}

TEST(DrumResonator, StepSumsInOrderAndShiftsHistory) {
  // (1 + 1e16) rounds to 1e16 before the last term cancels it; any other
  // grouping leaves 1.
  chip_resonator r{1.0, 1.0, 1.0, 1e16, -1e16};
  EXPECT_EQ(chip::drum_resonator_step(&r, 1.0), 0.0);
  EXPECT_EQ(r.y1, 0.0);
  EXPECT_EQ(r.y2, 1e16);
}

TEST(DrumClap, EnvelopeBurstsAndTail) {
  EXPECT_EQ(chip::drum_clap_envelope(0.0), 1.0);
  EXPECT_EQ(chip::drum_clap_envelope(0.011), tunecast::maths::exp(-0.011 / 0.008));
  EXPECT_EQ(chip::drum_clap_envelope(0.012), 1.0);  // a new burst starts
  EXPECT_EQ(chip::drum_clap_envelope(0.044), tunecast::maths::exp(-(0.044 - 0.038) / 0.008));
  EXPECT_EQ(chip::drum_clap_envelope(0.045), 0.6);  // the tail begins above the burst
  EXPECT_EQ(chip::drum_clap_envelope(0.1), 0.6 * tunecast::maths::exp(-(0.1 - 0.045) / 0.15));
}

TEST_F(Drums, ClapFirstSamplesBitForBit) {
  chip::drum_note_on(chip::the_state.drums, 39, 100);
  const std::vector<double> got = render(12);
  const double amp = (100 / 127.0) * 0.9;
  const double b0 = 0.03061339511746708, a1 = 1.8616617941402462, a2 = -0.8922751892577133;
  double y1 = 0, y2 = 0, t = 0;
  for (int i = 0; i < 12; ++i) {
    SCOPED_TRACE(i);
    const double y = (b0 * 1.0 + a1 * y1) + a2 * y2;  // the noise gives +1 fourteen times
    y2 = y1;
    y1 = y;
    EXPECT_EQ(got[static_cast<size_t>(i)], ((y * tunecast::maths::exp(-t / 0.008)) * amp) * 0.8);
    t += sample_step_s;
  }
}

TEST_F(Drums, ClosedHihatStartsAtItsAmpAndSounds2647Samples) {
  ASSERT_EQ(samples_before_free(0.06), 2647);
  chip::drum_note_on(chip::the_state.drums, 42, 127);
  EXPECT_EQ(drums_sample(), 0.9);
  int sounded = 1;
  while (chip::the_state.drums[0].active == 1 && sounded < 10000) {
    drums_sample();
    if (chip::the_state.drums[0].active == 1) ++sounded;
  }
  EXPECT_EQ(sounded, 2647);
  EXPECT_EQ(drums_sample(), 0.0);
}

TEST_F(Drums, TakeTheFirstFreeSlotThenSlotZeroWhenFull) {
  for (int i = 0; i < 8; ++i) chip::drum_note_on(chip::the_state.drums, i == 3 ? 42 : 49, 100);
  render(samples_before_free(0.06) + 1);  // the hi-hat in slot 3 frees itself
  ASSERT_EQ(chip::the_state.drums[3].active, 0);
  chip::drum_note_on(chip::the_state.drums, 36, 100);
  EXPECT_EQ(chip::the_state.drums[3].kind, chip::drum_kick);
  render(10);
  chip::drum_note_on(chip::the_state.drums, 38, 100);  // all busy: slot 0, the oldest
  EXPECT_EQ(chip::the_state.drums[0].kind, chip::drum_snare);
  EXPECT_EQ(chip::the_state.drums[0].age, 0.0);
  render(10);
  chip::drum_note_on(chip::the_state.drums, 39, 100);  // slot 0 again, though it holds the newest
  EXPECT_EQ(chip::the_state.drums[0].kind, chip::drum_clap);
  EXPECT_EQ(chip::the_state.drums[0].age, 0.0);
  EXPECT_EQ(chip::the_state.drums[3].kind, chip::drum_kick);
  EXPECT_GT(chip::the_state.drums[3].age, 0.0);
}

TEST_F(Drums, VelocityZeroOccupiesASlotSilentlyForItsDuration) {
  chip::drum_note_on(chip::the_state.drums, 38, 0);
  chip::drum_note_on(chip::the_state.drums, 38, 0);
  EXPECT_EQ(chip::the_state.drums[1].active, 1);
  const int n = samples_before_free(0.2);
  ASSERT_EQ(n, 8820);  // counting 0.2 * 44100 by multiplication would give 8821
  for (double v : render(n)) ASSERT_EQ(v, 0.0);
  EXPECT_EQ(chip::the_state.drums[0].active, 1);
  render(1);
  EXPECT_EQ(chip::the_state.drums[0].active, 0);
}

TEST_F(Drums, KickFullVelocityReachesTheClampPerDrum) {
  // Two identical kicks: each is clamped on its own, so where they peak the
  // pool gives exactly 2.0, neither more nor a clamped sum of 1.0.
  chip::drum_note_on(chip::the_state.drums, 36, 127);
  chip::drum_note_on(chip::the_state.drums, 36, 127);
  int at_clamp = 0;
  for (double v : render(400)) {
    EXPECT_LE(std::fabs(v), 2.0);
    if (v == 2.0) ++at_clamp;
  }
  EXPECT_GE(at_clamp, 3);
}

TEST_F(Drums, KickAndSnarePhaseAdvanceBeforeTheFirstSample) {
  // Seen in the first samples: the drums' own phases stay at their start
  // while their tables serve them.
  const double amp = (100 / 127.0) * 0.9;
  chip::drum_note_on(chip::the_state.drums, 36, 100);
  EXPECT_EQ(drums_sample(),
            amp * (tunecast::maths::sin(2 * pi * (180 / 44100.0)) * 1.0 + 0.35 * 1.0 * 1.0));
  chip::the_state.drums = {};
  chip::drum_note_on(chip::the_state.drums, 38, 100);
  EXPECT_EQ(drums_sample(),
            amp * (0.85 * 1.0 * 1.0 + 0.4 * tunecast::maths::sin(2 * pi * (190 / 44100.0)) * 1.0));
}

// Renders one drum of note at velocity to its end, alone in the pool, by its
// table (by_table) or with its table taken away at the start so that it
// runs on its own state; tabled_samples counts the samples after which it
// still held its table (it lets go on the first sample past the table).
std::vector<double> render_alone(int note, int velocity, bool by_table, int *tabled_samples) {
  chip::the_state.drums = {};
  chip::drum_note_on(chip::the_state.drums, note, velocity);
  chip_drum &d = chip::the_state.drums[0];
  if (!by_table) d.table = 0;
  std::vector<double> out;
  *tabled_samples = 0;
  while (d.active == 1 && out.size() < 60000) {
    out.push_back(drums_sample());
    if (d.table != 0) ++*tabled_samples;
  }
  return out;
}

const int variant_notes[chip::drum_variant_count] = {36, 38, 39, 41, 43, 45, 47,
                                                     48, 50, 42, 46, 60, 49, 51};

TEST_F(Drums, TablesServeEveryVariantsWholeLifeAsItsOwnStateWould) {
  chip::the_state.drum_tables = {chip::the_state.drum_tables.store};
  for (size_t v = 0; v < chip::drum_variant_count; ++v) {
    const int note = variant_notes[v];
    ASSERT_EQ(chip::drum_variant_shapes[v].note, note);
    for (int velocity : {127, 50, 1}) {
      SCOPED_TRACE(testing::Message() << "note " << note << " velocity " << velocity);
      int tabled = 0, untabled = 0;
      const std::vector<double> by_table = render_alone(note, velocity, true, &tabled);
      const std::vector<double> by_state = render_alone(note, velocity, false, &untabled);
      const int life = samples_before_free(chip::drum_variant_shapes[v].duration_s);
      EXPECT_EQ(by_table.size(), static_cast<size_t>(life) + 1);  // the last adds 0
      EXPECT_EQ(tabled, life + 1);                                // never left its table
      EXPECT_EQ(untabled, 0);
      EXPECT_LE(life + 1, chip::drum_table_capacity(v));
      ASSERT_EQ(by_table, by_state);
    }
  }
}

TEST_F(Drums, ADrumOutlivingItsTableGoesOnFromTheTablesEnd) {
  for (int64_t len : {int64_t{1}, int64_t{333}, int64_t{4096}, int64_t{4097}}) {
    for (size_t v : {size_t{0}, size_t{3}, size_t{10}, size_t{12}, size_t{13}}) {
      SCOPED_TRACE(testing::Message() << "variant " << v << " table of " << len);
      chip::the_state.drum_tables = {chip::the_state.drum_tables.store};
      int untabled = 0, tabled = 0;
      const std::vector<double> by_state = render_alone(variant_notes[v], 90, false, &untabled);
      chip::the_state.drum_tables.variants[v].len = len;
      const std::vector<double> by_table = render_alone(variant_notes[v], 90, true, &tabled);
      EXPECT_EQ(tabled, len);
      ASSERT_EQ(by_table, by_state);
      // A later hit of the same variant reads the finished table, then leaves it too.
      const std::vector<double> again = render_alone(variant_notes[v], 90, true, &tabled);
      EXPECT_EQ(tabled, len);
      ASSERT_EQ(again, by_state);
    }
  }
  chip::the_state.drum_tables = {chip::the_state.drum_tables.store};
}

TEST_F(Drums, RestartOfANoteRepeatsItsSamples) {
  for (int note : {36, 38, 39, 42, 45, 49, 51}) {
    SCOPED_TRACE(note);
    chip::the_state.drums = {};
    chip::drum_note_on(chip::the_state.drums, note, 100);
    const std::vector<double> first = render(600);
    // Seven silent, long drums fill the pool so the restart lands on slot 0.
    for (int i = 1; i < 8; ++i) chip::drum_note_on(chip::the_state.drums, 49, 0);
    chip::drum_note_on(chip::the_state.drums, note, 100);
    EXPECT_EQ(render(600), first);
  }
}

}  // namespace
