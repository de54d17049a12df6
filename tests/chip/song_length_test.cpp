// chip_song_length: exact figures worked out by hand (315 samples a tick),
// the scores it refuses, and agreement with the sequencer: playback ends, or
// loops, on exactly the measured sample.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include "tunecast/chip.h"
#include "demo_song.h"
#include "fixtures.h"

namespace {

using fixture::bytes;
using fixture::mus_builder;

constexpr int64_t count_max = std::numeric_limits<int64_t>::max();

bool measure(const bytes &mus, double &seconds) {
  seconds = -1.0;
  return chip_song_length(mus.data(), static_cast<int32_t>(mus.size()), &seconds) == 1;
}

// Every data byte below is 0x60 (a score end if read as an event byte) or
// 0xE0, so an event read with the wrong number of data bytes ends early.
bytes every_event_kind() {
  return mus_builder()
      .note_on(0, 0x60, 0x60)
      .note_on(0, 0x60)
      .note_off(0, 0x60)
      .bend(1, 0xE0)
      .system_event(2, 0x60)
      .controller(3, 0xE0, 0x60)
      .raw({0x70, 0x60})  // unassigned type 7: one byte skipped
      .measure_end(4)
      .delay(2)
      .score_end()
      .build();
}

TEST(SongLength, ExactFiguresInWholeSamples) {
  struct row {
    const char *name;
    bytes mus;
    int64_t samples;
  };
  bytes delay_then_padding = mus_builder().measure_end(0).delay(3).score_end().build();
  delay_then_padding.insert(delay_then_padding.end(), {0x80, 0x01});  // past the score: unread
  const row rows[] = {
      {"score end alone", mus_builder().score_end().build(), 0},
      {"one tick", mus_builder().note_on(0, 60, 100).delay(1).score_end().build(), 315},
      {"two-byte delay 0x81 0x00", mus_builder().measure_end(0).delay(128).score_end().build(),
       40320},
      {"1 + 2 + 3 ticks, zero delay between",
       mus_builder().note_on(0, 60, 9).delay(1).note_off(0, 60).delay(0).measure_end(0).delay(2)
           .note_on(15, 36, 9).delay(3).score_end().build(),
       6 * 315},
      {"every event kind", every_event_kind(), 630},
      {"header padding", mus_builder().header_padding(24).measure_end(0).delay(7).score_end()
                             .build(), 2205},
      {"score end mid-group, events after it",
       mus_builder().measure_end(0).delay(5).note_on(0, 1, 2).score_end().note_on(0, 3).delay(9)
           .build(), 1575},
      {"bytes beyond the score length", delay_then_padding, 945},
      {"demo song", demo::song_mus(), int64_t{demo::score_end_tick} * 315},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.name);
    double seconds = 0.0;
    ASSERT_TRUE(measure(r.mus, seconds));
    EXPECT_EQ(seconds, static_cast<double>(r.samples) / 44100.0);
    // The figure converts back to the whole sample count exactly.
    EXPECT_EQ(std::llround(seconds * 44100.0), r.samples);
  }
}

TEST(SongLength, AbsurdDelaysConvertAndSaturateLikeTheSequencer) {
  // 2^50 ticks: past 2^53 once multiplied, so the double rounding counts.
  const int64_t ticks = int64_t{1} << 50;
  const auto big = static_cast<int64_t>(static_cast<double>(ticks) * 44100.0 / 140.0);
  const bytes ten_bytes = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F};
  bytes huge_twice;
  for (int group = 0; group < 2; ++group) {
    huge_twice.push_back(0xD0);  // measure end, last of its group
    for (const uint8_t b : ten_bytes) huge_twice.push_back(b);
  }
  huge_twice.push_back(0x60);
  const std::pair<bytes, double> rows[] = {
      {mus_builder().measure_end(0).delay(static_cast<uint64_t>(ticks)).score_end().build(),
       static_cast<double>(big) / 44100.0},
      {mus_builder().raw(huge_twice).build(), static_cast<double>(count_max) / 44100.0},
  };
  for (const auto &[mus, expected] : rows) {
    double seconds = 0.0;
    ASSERT_TRUE(measure(mus, seconds));
    EXPECT_EQ(seconds, expected);
  }
}

TEST(SongLength, RefusesWhatIsNotAWholeScoreWithAnEnd) {
  const bytes song = mus_builder().note_on(0, 60, 100).delay(4).score_end().build();
  bytes wrong_signature = song;
  wrong_signature[3] = 0x1B;
  const std::pair<const char *, bytes> rows[] = {
      {"shorter than the 8-byte header", bytes(song.begin(), song.begin() + 7)},
      {"wrong signature", wrong_signature},
      {"one byte short of its score length", bytes(song.begin(), song.end() - 1)},
      {"empty score", mus_builder().build()},
      {"stream runs off its end", mus_builder().note_on(0, 60, 100).delay(4).build()},
      {"cut inside a play note", mus_builder().raw({0x90, 0x01, 0x10, 0x10}).build()},
      {"cut inside a delay", mus_builder().raw({0xD0, 0x81}).build()},
  };
  for (const auto &[name, mus] : rows) {
    SCOPED_TRACE(name);
    double seconds = 7.0;
    EXPECT_EQ(chip_song_length(mus.data(), static_cast<int32_t>(mus.size()), &seconds), 0);
    EXPECT_EQ(seconds, 7.0);  // untouched
  }
  double seconds = 0.0;
  EXPECT_EQ(chip_song_length(nullptr, 100, &seconds), 0);
  EXPECT_EQ(chip_song_length(song.data(), -1, &seconds), 0);
  EXPECT_EQ(chip_song_length(song.data(), static_cast<int32_t>(song.size()), &seconds), 1);
}

int32_t playing_now() {
  int32_t mode = 0, playing = 0, paused = 0;
  double position = 0.0, length = 0.0;
  chip_stats(&mode, &playing, &paused, &position, &length);
  return playing;
}

float next_sample() {
  float left = 0.0f, right = 0.0f;
  chip_next(&left, &right);
  return left;
}

// Without looping the call after the measured L samples is the silent one
// that ends playback; with looping that call starts the second pass, which
// repeats the first sample for sample (the rewind clears every voice).
TEST(SongLength, AgreesWithTheSequencerLoopingOrNot) {
  setenv("ZARN_SYNTH", "1", 1);
  const bytes scores[] = {
      mus_builder().score_end().build(),
      mus_builder().instrument(0, 80).note_on(0, 60, 120).note_on(15, 38, 100).delay(3)
          .note_off(0, 60).delay(0).note_on(1, 67, 90).delay(5).score_end().build(),
      every_event_kind(),
      mus_builder().note_on(0, 48, 127).delay(1).bend(0, 200).delay(2).score_end().build(),
  };
  for (const bytes &mus : scores) {
    SCOPED_TRACE(mus.size());
    double seconds = 0.0;
    ASSERT_TRUE(measure(mus, seconds));
    const int64_t length = std::llround(seconds * 44100.0);
    ASSERT_EQ(I_RegisterSong(mus.data()), 1);
    I_SetMusicVolume(100);
    I_PlaySong(0, 0);
    for (int64_t i = 0; i < length; ++i) next_sample();
    EXPECT_EQ(playing_now(), 1);
    EXPECT_EQ(next_sample(), 0.0f);
    EXPECT_EQ(playing_now(), 0);
    if (length == 0) continue;

    I_PlaySong(0, 1);
    std::vector<float> first(static_cast<size_t>(length));
    for (float &v : first) v = next_sample();
    for (int64_t i = 0; i < length; ++i) {
      ASSERT_EQ(next_sample(), first[static_cast<size_t>(i)]) << i;
    }
    EXPECT_EQ(playing_now(), 1);
  }
}

}  // namespace
