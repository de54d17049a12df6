// Sequencer tests: event decoding and its missing-byte rules, delays and
// their timing, loop and end of the score, observed on the module state.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <limits>

#include "tunecast/chip.h"
#include "chip/state.h"
#include "fixtures.h"

namespace chip = tunecast::chip;

namespace {

using fixture::bytes;
constexpr int64_t wait_max = std::numeric_limits<int64_t>::max();
constexpr double step_s = 2.2675736961451248e-05;  // 1/44100

class Sequencer : public ::testing::Test {
 protected:
  void SetUp() override { setenv("ZARN_SYNTH", "1", 1); }
  static void play(const bytes &stream, int32_t looping = 0) {
    const bytes mus = fixture::mus_builder().raw(stream).build();
    ASSERT_EQ(I_RegisterSong(mus.data()), 1);
    I_SetMusicVolume(100);
    I_PlaySong(0, looping);
  }
  static float step() {
    float left = -2.0f, right = -2.0f;
    chip_next(&left, &right);
    EXPECT_EQ(left, right);
    return left;
  }
};

// Each stream ends without a delay, so the first call carries out every
// event, finds the end, and is silent.
TEST_F(Sequencer, EventTypesAndMissingBytes) {
  chip::channel_state &CH = chip::the_state.channels;
  chip::voice_pool &V = chip::the_state.voices;
  struct event_case {
    const char *name;
    bytes stream;
    std::function<void()> check;
  };
  const double v100 = 100 / 127.0, v55 = 55 / 127.0;
  // clang-format off
  const event_case cases[] = {
      {"note with velocity, then without", {0x10, 0xBC, 0x64, 0x90, 0x3E}, [&] {
         EXPECT_EQ(V[0].note, 60); EXPECT_EQ(V[0].amp, v100);
         EXPECT_EQ(V[1].note, 62); EXPECT_EQ(V[1].amp, v100);
         EXPECT_EQ(chip::the_state.song.lastvel[0], 100);
       }},
      {"no velocity ever given", {0x13, 0x40}, [] {
         EXPECT_EQ(V[0].active, 1); EXPECT_EQ(V[0].channel, 3); EXPECT_EQ(V[0].amp, 0.0);
       }},
      {"note byte missing", {0x12, 0xBC, 0x37, 0x12}, [&] {
         EXPECT_EQ(V[1].active, 1); EXPECT_EQ(V[1].note, 0); EXPECT_EQ(V[1].amp, v55);
       }},
      {"velocity byte missing", {0x14, 0xBC, 0x37, 0x14, 0x85}, [] {
         EXPECT_EQ(V[1].note, 5); EXPECT_EQ(V[1].amp, 0.0); EXPECT_EQ(chip::the_state.song.lastvel[4], 0);
       }},
      {"release closes every match", {0x10, 0xBC, 0x64, 0x10, 0x3C, 0x11, 0x3C, 0x00, 0x3C}, [] {
         EXPECT_EQ(V[0].gate, 0); EXPECT_EQ(V[1].gate, 0); EXPECT_EQ(V[2].gate, 1);
         EXPECT_EQ(V[0].active, 1);
       }},
      {"release note byte missing", {0x10, 0x80, 0x64, 0x10, 0x05, 0x00}, [] {
         EXPECT_EQ(V[0].gate, 0); EXPECT_EQ(V[1].gate, 1);
       }},
      {"channel 15 plays a drum", {0x1F, 0xA4, 0x64}, [] {
         EXPECT_EQ(chip::the_state.drums[0].active, 1); EXPECT_EQ(chip::the_state.drums[0].kind, 0);  // note 36: kick
         EXPECT_EQ(chip::the_state.drums[0].amp, (100 / 127.0) * 0.9); EXPECT_EQ(V[0].active, 0);
       }},
      {"release on channel 15", {0x10, 0xBC, 0x64, 0x0F, 0x3C}, [] { EXPECT_EQ(V[0].gate, 1); }},
      {"bend", {0x25, 0xC8}, [] { EXPECT_EQ(CH[5].bend, 200); }},
      {"bend byte missing", {0x25}, [] { EXPECT_EQ(CH[5].bend, 0); }},
      {"instrument takes 7 bits", {0x46, 0x00, 0xC5}, [] { EXPECT_EQ(CH[6].instrument, 0x45); }},
      {"volume", {0x46, 0x03, 0x20}, [] { EXPECT_EQ(CH[6].volume, 0x20); }},
      {"controllers 0x80 and 0x83 ignored", {0x46, 0x80, 0x05, 0x46, 0x83, 0x05}, [] {
         EXPECT_EQ(CH[6].instrument, 0); EXPECT_EQ(CH[6].volume, 100);
       }},
      {"number byte missing", {0x46, 0x00, 0x05, 0x46}, [] { EXPECT_EQ(CH[6].instrument, 0); }},
      {"instrument value missing", {0x46, 0x00, 0x05, 0x46, 0x00}, [] {
         EXPECT_EQ(CH[6].instrument, 0);
       }},
      {"volume value missing", {0x46, 0x03}, [] { EXPECT_EQ(CH[6].volume, 0); }},
      // Were the skipped byte read as a delay, the song would not end here.
      {"system event skips a byte", {0xB0, 0x10, 0x00}, [] { EXPECT_EQ(V[0].active, 0); }},
      {"type 7 skips a byte", {0xF0, 0x10, 0x00}, [] { EXPECT_EQ(V[0].active, 0); }},
      {"system event at the end", {0x30}, [] { EXPECT_EQ(V[0].active, 0); }},
      {"measure end has no data", {0x50, 0x25, 0xC8}, [] { EXPECT_EQ(CH[5].bend, 200); }},
      {"stream ends after a note byte", {0x90}, [] {
         EXPECT_EQ(V[0].active, 1); EXPECT_EQ(V[0].note, 0); EXPECT_EQ(V[0].age, 0.0);
       }},
  };
  // clang-format on
  for (const event_case &c : cases) {
    SCOPED_TRACE(c.name);
    chip::the_state.song.lastvel = {};
    play(c.stream);
    EXPECT_EQ(step(), 0.0f);
    EXPECT_EQ(chip::the_state.flags.playing, 0);
    EXPECT_EQ(chip::the_state.song.pos, chip::the_state.song.song_len);
    c.check();
  }
}

// A note-on group, a delay, then a second note-on group with a long delay.
TEST_F(Sequencer, DelaysAndTheirTiming) {
  struct delay_case {
    const char *name;
    bytes delay;
    int64_t samples;
  };
  bytes ten_ff_end(10, 0xFF);
  ten_ff_end.push_back(0x7F);
  const delay_case cases[] = {
      {"one tick", {0x01}, 315},
      {"0x81 0x00", {0x81, 0x00}, 40320},
      {"zero: same call", {0x00}, 0},
      {"2^54 ticks", fixture::mus_delay_bytes(uint64_t{1} << 54), int64_t{315} << 54},
      {"2^55 ticks: the count overflows", fixture::mus_delay_bytes(uint64_t{1} << 55), wait_max},
      {"ten 0xFF then 0x7F", ten_ff_end, wait_max},
  };
  for (const delay_case &c : cases) {
    SCOPED_TRACE(c.name);
    play(fixture::mus_builder().raw({0x90, 0x3C}).raw(c.delay).raw({0x91, 0x3E, 0x7F}).stream());
    step();
    if (c.samples == 0) {
      EXPECT_EQ(chip::the_state.voices[1].active, 1);
      EXPECT_EQ(chip::the_state.song.wait_samples, 127 * 315 - 1);
      continue;
    }
    EXPECT_EQ(chip::the_state.song.wait_samples, c.samples - 1);
    if (c.samples > 40320) continue;
    // The group is due exactly d calls after the call that read the delay.
    for (int64_t i = 1; i < c.samples; ++i) step();
    EXPECT_EQ(chip::the_state.voices[1].active, 0);
    step();
    EXPECT_EQ(chip::the_state.voices[1].active, 1);
    EXPECT_EQ(chip::the_state.song.wait_samples, 127 * 315 - 1);
  }
}

TEST_F(Sequencer, CutOffDelays) {
  play({0x90, 0x3C, 0x81});  // counts as 0x81 0x00: 128 ticks
  step();
  EXPECT_EQ(chip::the_state.song.wait_samples, 40320 - 1);
  for (int i = 1; i < 40320; ++i) step();
  EXPECT_EQ(chip::the_state.flags.playing, 1);
  EXPECT_EQ(step(), 0.0f);
  EXPECT_EQ(chip::the_state.flags.playing, 0);

  play(fixture::mus_builder().raw({0x90, 0x3C}).raw(bytes(10, 0xFF)).stream());  // waits for ever
  step();
  EXPECT_EQ(chip::the_state.song.wait_samples, wait_max - 1);
  EXPECT_EQ(chip::the_state.flags.playing, 1);
  EXPECT_EQ(chip::the_state.song.pos, chip::the_state.song.song_len);
}

TEST_F(Sequencer, NotesSoundAtOnceAndTheEndingCallIsSilent) {
  play(fixture::mus_builder().note_on(0, 69, 127).delay(1).score_end().stream());
  EXPECT_EQ(step(), 0.0f);            // the envelope starts at 0
  EXPECT_EQ(chip::the_state.voices[0].age, step_s);  // rendered in the call that read it
  EXPECT_NE(step(), 0.0f);
  double age = step_s + step_s;
  for (int i = 2; i < 315; ++i) {
    step();
    age += step_s;
  }
  EXPECT_EQ(chip::the_state.flags.playing, 1);
  EXPECT_EQ(step(), 0.0f);
  EXPECT_EQ(chip::the_state.flags.playing, 0);
  EXPECT_EQ(chip::the_state.voices[0].active, 1);  // cut, not released, and not rendered
  EXPECT_EQ(chip::the_state.voices[0].age, age);
  EXPECT_EQ(step(), 0.0f);
}

TEST_F(Sequencer, LoopReadsTheDelayAtTheScoreStart) {
  // 0x90 0xBC 0x64, read as a delay: ((0x10 * 128) + 0x3C) * 128 + 0x64 ticks.
  play({0x90, 0xBC, 0x64, 0x01, 0xE0}, 1);
  step();
  for (int i = 1; i < 315; ++i) step();
  EXPECT_EQ(chip::the_state.voices[0].active, 1);
  chip::the_state.channels[0].volume = 7;
  chip::the_state.drums[5].active = 1;
  EXPECT_EQ(step(), 0.0f);  // the rewind silenced the note; the pools are clear
  EXPECT_EQ(chip::the_state.flags.playing, 1);
  EXPECT_EQ(chip::the_state.voices[0].active, 0);
  EXPECT_EQ(chip::the_state.drums[5].active, 0);
  EXPECT_EQ(chip::the_state.channels[0].volume, 100);
  EXPECT_EQ(chip::the_state.song.pos, chip::the_state.song.start_ofs + 3);
  const int64_t ticks = (0x10 * 128 + 0x3C) * 128 + 0x64;
  EXPECT_EQ(chip::the_state.song.wait_samples, ticks * 315 - 1);
}

TEST_F(Sequencer, ScoreEndWithoutBit7GoesOnAtTheScoreStart) {
  const bytes stream = fixture::mus_builder()
                           .note_on(0, 60, 100)
                           .delay(1)
                           .volume(1, 50)
                           .note_on(2, 64, 90)
                           .raw({0x60})
                           .stream();
  for (int32_t looping : {1, 0}) {
    SCOPED_TRACE(looping);
    play(stream, looping);
    for (int i = 0; i < 315; ++i) step();
    EXPECT_EQ(chip::the_state.voices[1].active, 0);
    step();  // reads the second group, its 0x60, and (looping) the first group
    if (looping == 0) {
      EXPECT_EQ(chip::the_state.flags.playing, 0);
      EXPECT_EQ(chip::the_state.voices[1].active, 1);
      continue;
    }
    EXPECT_EQ(chip::the_state.flags.playing, 1);
    EXPECT_EQ(chip::the_state.voices[0].active, 1);
    EXPECT_EQ(chip::the_state.voices[0].age, step_s);
    EXPECT_EQ(chip::the_state.voices[1].active, 0);
    EXPECT_EQ(chip::the_state.channels[1].volume, 100);
    EXPECT_EQ(chip::the_state.song.lastvel[2], 90);  // survives the loop
    EXPECT_EQ(chip::the_state.song.wait_samples, 314);
  }
}

// A looping score that meets its end twice in one call, with no time in
// between, ends as though it did not loop instead of spinning for ever.
TEST_F(Sequencer, LoopWithoutTimeEnds) {
  const bytes streams[] = {{0x60}, {0x90, 0x3C, 0x00, 0x60}};
  for (const bytes &s : streams) {
    SCOPED_TRACE(testing::PrintToString(s));
    play(s, 1);
    EXPECT_EQ(step(), 0.0f);
    EXPECT_EQ(chip::the_state.flags.playing, 0);
  }
  play({0x90, 0x3C, 0x01, 0x60}, 1);  // a positive delay: loops on
  for (int i = 0; i < 3 * 315 + 1; ++i) step();
  EXPECT_EQ(chip::the_state.flags.playing, 1);
  EXPECT_EQ(chip::the_state.voices[0].active, 1);
  EXPECT_EQ(chip::the_state.voices[0].age, step_s);
}

}  // namespace
