// The synthesizer's control side: registration, play/stop, volume, pause,
// status, and the mix's clamp in chip_next.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "chip/state.h"
#include "fixtures.h"

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
  const uint8_t *kept = chip::song;

  fixture::bytes wrong = song;
  wrong[3] = 0x1B;  // "MUS" followed by another byte
  EXPECT_EQ(I_RegisterSong(nullptr), 0);
  EXPECT_EQ(I_RegisterSong(wrong.data()), 0);
  EXPECT_EQ(chip::song, kept);
  EXPECT_EQ(chip::playing, 1);
}

TEST_F(Control, RegisterCopiesExactlyScoreStartPlusLength) {
  fixture::bytes song = mus_builder().header_padding(24).measure_end(3).delay(1).build();
  song.push_back(0xEE);  // trailing bytes are not part of the song
  ASSERT_EQ(I_RegisterSong(song.data()), 1);
  EXPECT_EQ(chip::start_ofs, 32);
  EXPECT_EQ(chip::song_len, 32 + 2);
  song[32] = 0;  // the module keeps its own copy
  EXPECT_EQ(chip::song[32], 0xD3);  // measure end on channel 3, last of its group
  EXPECT_EQ(chip::playing, 0);
}

TEST_F(Control, EmptyScoreRegistersAndEndsOnTheFirstSample) {
  const fixture::bytes song = mus_builder().build();  // score start 8, length 0
  ASSERT_EQ(song.size(), 8u);
  ASSERT_EQ(I_RegisterSong(song.data()), 1);
  EXPECT_EQ(chip::song_len, 8);
  I_PlaySong(0, 0);
  EXPECT_EQ(chip::playing, 1);
  float l = NAN, r = NAN;
  chip_next(&l, &r);
  EXPECT_EQ(l, 0.0f);
  EXPECT_EQ(r, 0.0f);
  EXPECT_EQ(chip::playing, 0);
}

TEST_F(Control, RegisteringASecondSongStopsTheFirst) {
  const fixture::bytes first = quiet_song();
  const fixture::bytes second = mus_builder().measure_end(1).delay(5).build();
  ASSERT_EQ(I_RegisterSong(first.data()), 1);
  I_PlaySong(0, 1);
  chip::pos = 11;
  ASSERT_EQ(I_RegisterSong(second.data()), 1);
  EXPECT_EQ(chip::playing, 0);
  EXPECT_EQ(chip::pos, 11);  // nothing else changes until the next play
  EXPECT_EQ(chip::looping, 1);
  float l = NAN, r = NAN;
  chip_next(&l, &r);
  EXPECT_EQ(l, 0.0f);
}

TEST_F(Control, PlayResetsChannelsVoicesAndPosition) {
  const fixture::bytes song = quiet_song();
  ASSERT_EQ(I_RegisterSong(song.data()), 1);
  // Channels hold zeros until the first play.
  EXPECT_EQ(chip::CH[4].volume, 0);
  I_PlaySong(0, 7);
  for (const chip_channel &c : chip::CH) {
    EXPECT_EQ(c.instrument, 0);
    EXPECT_EQ(c.volume, 100);
    EXPECT_EQ(c.bend, 128);
  }
  EXPECT_EQ(chip::looping, 7);  // stored as passed
  chip::CH[2] = {5, 6, 7};
  chip::V[3].active = 1;
  chip::D[1].active = 1;
  chip::pos = 20;
  chip::wait_samples = 99;
  chip::lastvel[0] = 33;
  I_PlaySong(0, 0);
  EXPECT_EQ(chip::CH[2].volume, 100);
  EXPECT_EQ(chip::V[3].active, 0);
  EXPECT_EQ(chip::D[1].active, 0);
  EXPECT_EQ(chip::pos, chip::start_ofs);
  EXPECT_EQ(chip::wait_samples, 0);
  EXPECT_EQ(chip::lastvel[0], 33);  // never reset
}

TEST_F(Control, PlayWithoutSongDoesNothing) {
  I_PauseSong();
  I_PlaySong(0, 1);
  EXPECT_EQ(chip::playing, 0);
  EXPECT_EQ(chip::paused, 1);
  EXPECT_EQ(chip::looping, 0);
}

TEST_F(Control, PauseBeforeAnySongIsClearedByPlay) {
  I_PauseSong();
  EXPECT_EQ(chip::paused, 1);
  const fixture::bytes song = quiet_song();
  ASSERT_EQ(I_RegisterSong(song.data()), 1);
  I_PlaySong(0, 0);
  EXPECT_EQ(chip::paused, 0);
  I_PauseSong();
  I_ResumeSong();
  EXPECT_EQ(chip::paused, 0);
}

TEST_F(Control, PausedSongHoldsItsTime) {
  const fixture::bytes song = quiet_song();
  ASSERT_EQ(I_RegisterSong(song.data()), 1);
  I_PlaySong(0, 0);
  float l, r;
  chip_next(&l, &r);  // reads the first group
  const int64_t wait = chip::wait_samples;
  I_PauseSong();
  for (int i = 0; i < 10; ++i) chip_next(&l, &r);
  EXPECT_EQ(chip::wait_samples, wait);
  I_ResumeSong();
  chip_next(&l, &r);
  EXPECT_EQ(chip::wait_samples, wait - 1);

  // A block counts down one sample per frame, and an empty one nothing.
  float left[5] = {9, 9, 9, 9, 9}, right[5] = {9, 9, 9, 9, 9};
  chip_render(left, right, 0);
  chip_render(left, right, -3);
  EXPECT_EQ(chip::wait_samples, wait - 1);
  EXPECT_EQ(left[0], 9.0f);
  chip_render(left, right, 4);
  EXPECT_EQ(chip::wait_samples, wait - 5);
  EXPECT_EQ(left[4], 9.0f);
  I_PauseSong();
  chip_render(left, right, 5);
  EXPECT_EQ(chip::wait_samples, wait - 5);
  for (float v : left) EXPECT_EQ(v, 0.0f);
}

TEST_F(Control, StopAndUnregisterSilenceEverything) {
  const fixture::bytes song = quiet_song();
  ASSERT_EQ(I_RegisterSong(song.data()), 1);
  I_PlaySong(0, 1);
  chip::V[0].active = 1;
  chip::D[7].active = 1;
  chip::pos = 9;
  I_StopSong();
  EXPECT_EQ(chip::playing, 0);
  EXPECT_EQ(chip::V[0].active, 0);
  EXPECT_EQ(chip::D[7].active, 0);
  EXPECT_NE(chip::song, nullptr);
  EXPECT_EQ(chip::pos, 9);
  EXPECT_EQ(chip::looping, 1);
  I_UnRegisterSong();
  EXPECT_EQ(chip::song, nullptr);
  I_PlaySong(0, 0);
  EXPECT_EQ(chip::playing, 0);
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
  EXPECT_EQ(chip::gain, 0.5);
  EXPECT_EQ(*pcm_gain_p, 0.8);
  for (const auto &c : cases) {
    SCOPED_TRACE(c.volume);
    I_SetMusicVolume(c.volume);
    EXPECT_EQ(chip::gain, c.gain);
    EXPECT_EQ(*pcm_gain_p, c.pcm);
  }
  EXPECT_GT(chip::gain, 1.6);  // 200 is not clamped
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
  EXPECT_EQ(chip::wait_samples, 0);
  EXPECT_EQ(chip::playing, 0);
}

// A held voice past its attack and fall, with a pulse that is +1 (duty 1)
// or -1 (duty 0) on every sample, at a volume far beyond 127.
void clamp_case(double duty, float expected) {
  const fixture::bytes song = quiet_song();
  ASSERT_EQ(I_RegisterSong(song.data()), 1);
  I_PlaySong(0, 0);
  I_SetMusicVolume(100000);
  chip_voice &v = chip::V[0];
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
