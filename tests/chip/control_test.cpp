// The synthesizer's control side: registration, play/stop, volume, pause,
// status, and the mix's clamp in chip_next.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "chip/state.h"
#include "tunecast/chip.h"
#include "fixtures.h"

namespace chip = tunecast::chip;
using namespace tunecast::chip;

namespace {

using fixture::mus_builder;

// A song that holds one long group so that playback stays quietly busy.
fixture::bytes quiet_song() { return mus_builder().measure_end(0).delay(10000).score_end().build(); }

class Control : public ::testing::Test {
 protected:
  void SetUp() override { setenv("ZARN_SYNTH", "1", 1); }
  void TearDown() override { I_UnRegisterSong(); }
};

TEST_F(Control, RegisterRefusesNullAndWrongSignatureAndKeepsTheSong) {
  const fixture::bytes song = quiet_song();
  ASSERT_EQ(I_RegisterSong(song.data()), 1);
  I_PlaySong(0, 0);
  const uint8_t *kept = chip::the_state.song.song;

  fixture::bytes wrong = song;
  wrong[3] = 0x1B;  // "MUS" followed by another byte
  EXPECT_EQ(I_RegisterSong(nullptr), 0);
  EXPECT_EQ(I_RegisterSong(wrong.data()), 0);
  EXPECT_EQ(chip::the_state.song.song, kept);
  EXPECT_EQ(chip::the_state.flags.playing, 1);
}

TEST_F(Control, RegisterCopiesExactlyScoreStartPlusLength) {
  fixture::bytes song = mus_builder().header_padding(24).measure_end(3).delay(1).build();
  song.push_back(0xEE);  // trailing bytes are not part of the song
  ASSERT_EQ(I_RegisterSong(song.data()), 1);
  EXPECT_EQ(chip::the_state.song.start_ofs, 32);
  EXPECT_EQ(chip::the_state.song.song_len, 32 + 2);
  song[32] = 0;  // the module keeps its own copy
  EXPECT_EQ(chip::the_state.song.song[32], 0xD3);  // measure end on channel 3, last of its group
  EXPECT_EQ(chip::the_state.flags.playing, 0);
}

TEST_F(Control, EmptyScoreRegistersAndEndsOnTheFirstSample) {
  const fixture::bytes song = mus_builder().build();  // score start 8, length 0
  ASSERT_EQ(song.size(), 8u);
  ASSERT_EQ(I_RegisterSong(song.data()), 1);
  EXPECT_EQ(chip::the_state.song.song_len, 8);
  I_PlaySong(0, 0);
  EXPECT_EQ(chip::the_state.flags.playing, 1);
  float l = NAN, r = NAN;
  chip_next(&l, &r);
  EXPECT_EQ(l, 0.0f);
  EXPECT_EQ(r, 0.0f);
  EXPECT_EQ(chip::the_state.flags.playing, 0);
}

TEST_F(Control, RegisteringASecondSongStopsTheFirst) {
  const fixture::bytes first = quiet_song();
  const fixture::bytes second = mus_builder().measure_end(1).delay(5).build();
  ASSERT_EQ(I_RegisterSong(first.data()), 1);
  I_PlaySong(0, 1);
  chip::the_state.song.pos = 11;
  ASSERT_EQ(I_RegisterSong(second.data()), 1);
  EXPECT_EQ(chip::the_state.flags.playing, 0);
  EXPECT_EQ(chip::the_state.song.pos, 11);  // nothing else changes until the next play
  EXPECT_EQ(chip::the_state.flags.looping, 1);
  float l = NAN, r = NAN;
  chip_next(&l, &r);
  EXPECT_EQ(l, 0.0f);
}

TEST_F(Control, PlayResetsChannelsVoicesAndPosition) {
  const fixture::bytes song = quiet_song();
  ASSERT_EQ(I_RegisterSong(song.data()), 1);
  // Channels hold zeros until the first play.
  EXPECT_EQ(chip::the_state.channels[4].volume, 0);
  I_PlaySong(0, 7);
  for (const chip_channel &c : chip::the_state.channels) {
    EXPECT_EQ(c.instrument, 0);
    EXPECT_EQ(c.volume, 100);
    EXPECT_EQ(c.bend, 128);
    EXPECT_EQ(c.pan, 64);
  }
  EXPECT_EQ(chip::the_state.flags.looping, 7);  // stored as passed
  chip::the_state.channels[2] = {5, 6, 7, 8};
  chip::the_state.voices[3].active = 1;
  chip::the_state.drums[1].active = 1;
  chip::the_state.song.pos = 20;
  chip::the_state.song.wait_samples = 99;
  chip::the_state.song.lastvel[0] = 33;
  I_PlaySong(0, 0);
  EXPECT_EQ(chip::the_state.channels[2].volume, 100);
  EXPECT_EQ(chip::the_state.voices[3].active, 0);
  EXPECT_EQ(chip::the_state.drums[1].active, 0);
  EXPECT_EQ(chip::the_state.song.pos, chip::the_state.song.start_ofs);
  EXPECT_EQ(chip::the_state.song.wait_samples, 0);
  EXPECT_EQ(chip::the_state.song.lastvel[0], 33);  // never reset
}

TEST_F(Control, PlayWithoutSongDoesNothing) {
  I_PauseSong();
  I_PlaySong(0, 1);
  EXPECT_EQ(chip::the_state.flags.playing, 0);
  EXPECT_EQ(chip::the_state.flags.paused, 1);
  EXPECT_EQ(chip::the_state.flags.looping, 0);
}

TEST_F(Control, PauseBeforeAnySongIsClearedByPlay) {
  I_PauseSong();
  EXPECT_EQ(chip::the_state.flags.paused, 1);
  const fixture::bytes song = quiet_song();
  ASSERT_EQ(I_RegisterSong(song.data()), 1);
  I_PlaySong(0, 0);
  EXPECT_EQ(chip::the_state.flags.paused, 0);
  I_PauseSong();
  I_ResumeSong();
  EXPECT_EQ(chip::the_state.flags.paused, 0);
}

TEST_F(Control, PausedSongHoldsItsTime) {
  const fixture::bytes song = quiet_song();
  ASSERT_EQ(I_RegisterSong(song.data()), 1);
  I_PlaySong(0, 0);
  float l, r;
  chip_next(&l, &r);  // reads the first group
  const int64_t wait = chip::the_state.song.wait_samples;
  I_PauseSong();
  for (int i = 0; i < 10; ++i) chip_next(&l, &r);
  EXPECT_EQ(chip::the_state.song.wait_samples, wait);
  I_ResumeSong();
  chip_next(&l, &r);
  EXPECT_EQ(chip::the_state.song.wait_samples, wait - 1);

  // A block counts down one sample per frame, and an empty one nothing.
  float left[5] = {9, 9, 9, 9, 9}, right[5] = {9, 9, 9, 9, 9};
  chip_render(left, right, 0);
  chip_render(left, right, -3);
  EXPECT_EQ(chip::the_state.song.wait_samples, wait - 1);
  EXPECT_EQ(left[0], 9.0f);
  chip_render(left, right, 4);
  EXPECT_EQ(chip::the_state.song.wait_samples, wait - 5);
  EXPECT_EQ(left[4], 9.0f);
  I_PauseSong();
  chip_render(left, right, 5);
  EXPECT_EQ(chip::the_state.song.wait_samples, wait - 5);
  for (float v : left) EXPECT_EQ(v, 0.0f);
}

TEST_F(Control, StopAndUnregisterSilenceEverything) {
  const fixture::bytes song = quiet_song();
  ASSERT_EQ(I_RegisterSong(song.data()), 1);
  I_PlaySong(0, 1);
  chip::the_state.voices[0].active = 1;
  chip::the_state.drums[7].active = 1;
  chip::the_state.song.pos = 9;
  I_StopSong();
  EXPECT_EQ(chip::the_state.flags.playing, 0);
  EXPECT_EQ(chip::the_state.voices[0].active, 0);
  EXPECT_EQ(chip::the_state.drums[7].active, 0);
  EXPECT_NE(chip::the_state.song.song, nullptr);
  EXPECT_EQ(chip::the_state.song.pos, 9);
  EXPECT_EQ(chip::the_state.flags.looping, 1);
  I_UnRegisterSong();
  EXPECT_EQ(chip::the_state.song.song, nullptr);
  I_PlaySong(0, 0);
  EXPECT_EQ(chip::the_state.flags.playing, 0);
}

TEST(Volume, GainsFollowTheVolume) {
  struct {
    int32_t volume;
    double gain, pcm;
  } const cases[] = {
      {100, 1.2598425196850396, 0.7086614173228347},
      {127, 1.6, 0.9},
      {0, 0.0, 0.0},
      {200, 1.6 * (200 / 127.0), (200 / 127.0) * 0.9},
  };
  EXPECT_EQ(chip::the_state.gain, 0.5);
  EXPECT_EQ(*pcm_gain_p, 0.8);
  for (const auto &c : cases) {
    SCOPED_TRACE(c.volume);
    I_SetMusicVolume(c.volume);
    EXPECT_EQ(chip::the_state.gain, c.gain);
    EXPECT_EQ(*pcm_gain_p, c.pcm);
  }
  EXPECT_GT(chip::the_state.gain, 1.6);  // 200 is not clamped
}

TEST(Stats, ReportModeFlagsAndZeroTimesWithoutRecording) {
  int32_t mode = -1, playing = -1, paused = -1;
  double position = -1, length = -1;
  I_PauseSong();
  chip_stats(&mode, &playing, &paused, &position, &length);
  EXPECT_EQ(mode, 0);
  EXPECT_EQ(playing, 0);
  EXPECT_EQ(paused, 1);
  EXPECT_EQ(position, 0.0);
  EXPECT_EQ(length, 0.0);

  setenv("ZARN_SYNTH", "", 1);
  const fixture::bytes song = quiet_song();
  ASSERT_EQ(I_RegisterSong(song.data()), 1);
  I_PlaySong(0, 0);
  chip_stats(&mode, &playing, &paused, &position, &length);
  EXPECT_EQ(mode, 2);
  EXPECT_EQ(playing, 1);
  EXPECT_EQ(paused, 0);
  EXPECT_EQ(position, 0.0);
  EXPECT_EQ(length, 0.0);
  I_UnRegisterSong();
}

TEST(Silence, NothingRegisteredWritesZeroAndChangesNothing) {
  float l = NAN, r = NAN;
  for (int i = 0; i < 100; ++i) chip_next(&l, &r);
  EXPECT_EQ(l, 0.0f);
  EXPECT_EQ(r, 0.0f);
  EXPECT_EQ(chip::the_state.song.wait_samples, 0);
  EXPECT_EQ(chip::the_state.flags.playing, 0);
}

TEST(Sounding, CountsActiveVoicesAndDrumsUpToThePools) {
  setenv("ZARN_SYNTH", "1", 1);
  struct {
    int notes, hits;
    int32_t want;
  } const cases[] = {
      {0, 0, 0},
      {2, 1, 3},
      {30, 9, 28 + 8},  // notes past 28 steal voices, hits past 8 take drum slot 0
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.notes);
    mus_builder b;
    for (int i = 0; i < c.notes; ++i) b.note_on(i % 15, 40 + i, 100);
    for (int i = 0; i < c.hits; ++i) b.note_on(15, 36, 100);
    const fixture::bytes song = b.measure_end(0).delay(100).score_end().build();
    ASSERT_EQ(I_RegisterSong(song.data()), 1);
    I_PlaySong(0, 0);
    EXPECT_EQ(chip_sounding_voices(), 0);  // nothing starts before the first sample
    float l, r;
    chip_next(&l, &r);
    EXPECT_EQ(chip_sounding_voices(), c.want);
    I_StopSong();
    EXPECT_EQ(chip_sounding_voices(), 0);
  }
}

// After any use, the reset gives back what a new process starts with.
TEST(StateReset, ReturnsEveryPartToItsProgramStartValue) {
  setenv("ZARN_SYNTH", "1", 1);
  const fixture::bytes song =
      mus_builder().instrument(0, 80).note_on(0, 60, 100).note_on(15, 36, 90).delay(50).build();
  ASSERT_EQ(I_RegisterSong(song.data()), 1);
  I_SetMusicVolume(127);
  I_PlaySong(0, 1);
  float l, r;
  for (int i = 0; i < 1000; ++i) chip_next(&l, &r);
  I_PauseSong();
  std::strcpy(g_music_name, "e1m1");
  chip_set_music_dir("/nowhere");
  double elsewhere = 0.0;
  pcm_gain_p = &elsewhere;
  chip::module_state &m = chip::the_state;
  ASSERT_GT(m.tables.arena_used, 0u);  // the notes filled table blocks

  chip::state_reset();
  EXPECT_EQ(m.song.song, nullptr);
  EXPECT_EQ(m.song.song_len, 0);
  EXPECT_EQ(m.song.start_ofs, 0);
  EXPECT_EQ(m.song.pos, 0);
  EXPECT_EQ(m.song.wait_samples, 0);
  EXPECT_EQ(m.song.lastvel[0], 0);
  EXPECT_EQ(m.flags.playing, 0);
  EXPECT_EQ(m.flags.paused, 0);
  EXPECT_EQ(m.flags.looping, 0);
  for (const chip_channel &c : m.channels) EXPECT_EQ(c.volume, 0);  // zeros, not the reset values
  EXPECT_EQ(chip_sounding_voices(), 0);
  EXPECT_EQ(m.voices[0].note, 0);
  EXPECT_EQ(m.drums[0].kind, 0);
  EXPECT_EQ(m.drums[0].amp, 0.0);
  EXPECT_EQ(m.gain, 0.5);
  EXPECT_EQ(pcm_gain_p, &m.recording.pcm_gain);
  EXPECT_EQ(*pcm_gain_p, 0.8);
  EXPECT_EQ(m.recording.pcm_ch, 2);
  EXPECT_EQ(g_music_name[0], '\0');
  EXPECT_EQ(m.tables.arena_used, 0u);
  EXPECT_EQ(m.tables.values_used, 0u);
  char path[512];
  unsetenv("ZARN_MUSIC_DIR");
  pcm_file_path("x", path, sizeof path);
  EXPECT_STREQ(path, "music/D_X.wav");  // the set directory is forgotten
}

// A held voice past its attack and fall, with a pulse that is +1 (duty 1)
// or -1 (duty 0) on every sample, at a volume far beyond 127.
void clamp_case(double duty, float expected) {
  const fixture::bytes song = quiet_song();
  ASSERT_EQ(I_RegisterSong(song.data()), 1);
  I_PlaySong(0, 0);
  I_SetMusicVolume(100000);
  chip_voice &v = chip::the_state.voices[0];
  v.active = 1;
  v.gate = 1;
  v.note = 69;
  v.wave = 0;
  v.duty = duty;
  v.attack = 0.005;
  v.release = 0.03;
  v.age = 1.0;
  v.amp = 1.0;
  float l = NAN, r = NAN;
  chip_next(&l, &r);
  EXPECT_EQ(l, expected);
  EXPECT_EQ(r, expected);
  I_UnRegisterSong();
}

TEST(Mix, ClampsToExactlyFullScale) {
  setenv("ZARN_SYNTH", "1", 1);
  clamp_case(1.0, 1.0f);
  clamp_case(0.0, -1.0f);
}

}  // namespace
