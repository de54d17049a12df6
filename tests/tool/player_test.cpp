// The live player's core without a device: what fill() hands over equals
// the file render of the same song in any block sizes, looping carries a
// song into one more pass, a pause holds the song where it was, a seek
// lands on the render's frame, the next song follows with no gap, and
// control calls from another thread leave the synthesizer sound (this test
// also runs under ThreadSanitizer).
#include "tool/player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "fixtures.h"
#include "midi/music_lump.h"
#include "tool/song_start.h"
#include "tunecast/synth.h"

using tunecast::music_prepare;
using tunecast::music_score;

namespace {

using fixture::bytes;

// About a second and a half: a lead, a bass and a snare.
bytes song_a() {
  fixture::mus_builder m;
  m.instrument(0, 80).instrument(1, 33);
  m.note_on(0, 72, 110).note_on(1, 40, 100).delay(60).note_on(15, 38, 120).delay(40);
  m.note_off(0, 72).note_on(0, 76, 90).delay(80).note_off(0, 76).note_off(1, 40).delay(30);
  return m.score_end().build();
}

bytes song_b() {
  fixture::mus_builder m;
  m.instrument(2, 19).note_on(2, 55, 127).delay(50).note_on(2, 62, 80).delay(50);
  return m.note_off(2, 55).note_off(2, 62).delay(20).score_end().build();
}

// A song planned as --vueltas `loops` --fundido `fade_s` plans it.
player_song planned(const bytes &mus, int64_t loops, double fade_s) {
  const music_score score = music_prepare(mus.data(), static_cast<int32_t>(mus.size()));
  player_song song;
  song.name = "SONG";
  song.mus = std::make_shared<const bytes>(mus);
  song.looping = true;
  render_length length;
  length.loops = loops;
  length.fade_s = fade_s;
  EXPECT_TRUE(span_from_loops(length, "SONG", 1, score, song.span, song.pass_frames));
  return song;
}

// The file render's frames for the same plan: a fresh instance started as
// the tool starts every song, then pulled in blocks of 1024 from the start.
std::vector<int16_t> file_render(const player_song &song, int32_t volume = 100) {
  tc_synth *synth = tc_synth_new();
  render_style style;
  style.volume = volume;
  EXPECT_EQ(song_load(synth, song.mus->data(), song.mus->size(), style), TC_OK);
  song_play(synth, song.looping);
  std::vector<int16_t> out(static_cast<size_t>(song.span.frames));
  std::vector<float> pulled(1024);
  render_stats stats;
  for (int64_t start = 0; start < song.span.frames; start += 1024) {
    const auto n = static_cast<int32_t>(std::min<int64_t>(1024, song.span.frames - start));
    tc_synth_render_f32(synth, pulled.data(), static_cast<size_t>(n));
    span_convert(pulled.data(), 1, n, start, song.span, &out[start], stats);
  }
  tc_synth_free(synth);
  return out;
}

// Pulls from p in the block sizes given, cycling, until the song finishes,
// and appends what came out (the last block's silence included).
void pull_to_end(player &p, std::vector<int16_t> &out, const std::vector<int32_t> &sizes) {
  for (size_t k = 0; !p.status().finished; ++k) {
    const int32_t n = sizes[k % sizes.size()];
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(n));
    p.fill(&out[at], n);
  }
}

void pull(player &p, std::vector<int16_t> &out, int64_t frames) {
  const size_t at = out.size();
  out.resize(at + static_cast<size_t>(frames));
  p.fill(&out[at], static_cast<int32_t>(frames));
}

// out holds expected, then only silence.
void expect_song_then_silence(const std::vector<int16_t> &out,
                              const std::vector<int16_t> &expected) {
  ASSERT_GE(out.size(), expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()));
  EXPECT_TRUE(std::all_of(out.begin() + static_cast<ptrdiff_t>(expected.size()), out.end(),
                          [](int16_t v) { return v == 0; }));
}

TEST(Player, FillsTheFileRenderInAnyBlocksThenSilence) {
  const player_song song = planned(song_a(), 2, 0.3);
  const std::vector<int16_t> expected = file_render(song);
  player p({song}, 1, 100);
  ASSERT_EQ(p.play(0), TC_OK);
  std::vector<int16_t> out;
  pull_to_end(p, out, {1, 441, 1024, 3000, 77, 1023});
  expect_song_then_silence(out, expected);
  EXPECT_EQ(p.status().position, song.span.frames);
  EXPECT_EQ(p.frames_filled(), static_cast<int64_t>(out.size()));
  // Once finished, only silence, and the position stays at the end.
  std::vector<int16_t> after;
  pull(p, after, 5000);
  EXPECT_TRUE(std::all_of(after.begin(), after.end(), [](int16_t v) { return v == 0; }));
  EXPECT_EQ(p.status().position, song.span.frames);
}

// Each player owns its synthesizer: two filled in turn each give their own
// song, as a render alone would.
TEST(Player, TwoPlayersFilledInTurnEachPlayTheirOwnSong) {
  const player_song a = planned(song_a(), 1, 0.0);
  const player_song b = planned(song_b(), 2, 0.4);
  player pa({a}, 1, 100);
  player pb({b}, 1, 90);
  ASSERT_EQ(pa.play(0), TC_OK);
  ASSERT_EQ(pb.play(0), TC_OK);
  std::vector<int16_t> out_a, out_b;
  while (!pa.status().finished || !pb.status().finished) {
    pull(pa, out_a, 700);
    pull(pb, out_b, 1100);
  }
  expect_song_then_silence(out_a, file_render(a));
  expect_song_then_silence(out_b, file_render(b, 90));
}

TEST(Player, LoopingCarriesTheSongIntoOneMorePass) {
  const player_song once = planned(song_a(), 1, 0.25);
  const std::vector<int16_t> twice = file_render(planned(song_a(), 2, 0.25));
  player p({once}, 1, 100);
  ASSERT_EQ(p.play(0), TC_OK);
  p.toggle_loop();
  std::vector<int16_t> out;
  pull(p, out, once.pass_frames + once.pass_frames / 2);  // into the second pass
  EXPECT_FALSE(p.status().finished);
  p.toggle_loop();  // off: the second pass is the last, with its fade
  pull_to_end(p, out, {1024});
  expect_song_then_silence(out, twice);
}

TEST(Player, APauseHoldsTheSongWhereItWas) {
  const player_song song = planned(song_a(), 1, 0.0);
  const std::vector<int16_t> expected = file_render(song);
  player p({song}, 1, 100);
  ASSERT_EQ(p.play(0), TC_OK);
  std::vector<int16_t> out;
  pull(p, out, 20000);
  p.toggle_pause();
  std::vector<int16_t> paused;
  pull(p, paused, 9000);
  EXPECT_TRUE(std::all_of(paused.begin(), paused.end(), [](int16_t v) { return v == 0; }));
  EXPECT_TRUE(p.status().paused);
  EXPECT_EQ(p.status().position, 20000);
  p.toggle_pause();
  pull_to_end(p, out, {1024});
  expect_song_then_silence(out, expected);
}

TEST(Player, ASongChangeStartsTheNextFromItsFirstFrame) {
  const player_song first = planned(song_a(), 1, 0.0);
  const player_song second = planned(song_b(), 1, 0.5);
  const std::vector<int16_t> expected = file_render(second);
  player p({first, second}, 1, 100);
  ASSERT_EQ(p.play(0), TC_OK);
  p.toggle_loop();  // a loop is the song's own: the next song starts without it
  std::vector<int16_t> ignored;
  pull(p, ignored, 30000);
  ASSERT_EQ(p.play(1), TC_OK);
  EXPECT_FALSE(p.status().loop);
  EXPECT_EQ(p.status().index, 1u);
  std::vector<int16_t> out;
  pull_to_end(p, out, {700});
  expect_song_then_silence(out, expected);
}

// The device's thread pulls without pause while the main thread pauses,
// skips, loops and turns the volume thousands of times. Under
// ThreadSanitizer any access outside the lock is reported; here, the song
// played afterwards must still be the file render.
// Each seek (the deltas asked in a row, before tend() renders) then plays
// on from the render's frame at its target, the song going on where it was
// until then; before the start is the start; past the end finishes it.
TEST(Player, ASeekPlaysOnFromTheRendersFrame) {
  const player_song song = planned(song_a(), 3, 0.5);
  const std::vector<int16_t> expected = file_render(song);
  const auto end = static_cast<int64_t>(expected.size());
  struct seek {
    int64_t played;               // frames pulled before the seek
    std::vector<int64_t> deltas;  // asked in a row
    int64_t target;               // where the song goes on; `end`: it finishes
  };
  const seek seeks[] = {
      {10000, {30000}, 40000},
      {30000, {-50000}, 0},
      {10000, {20000, 20000}, 50000},
      {150000, {20000, -40000}, 130000},
      {1000, {100000, 104000}, 205000},  // into the fade
      {200000, {end}, end},
  };
  for (const seek &k : seeks) {
    SCOPED_TRACE(k.played);
    player p({song}, 1, 100);
    ASSERT_EQ(p.play(0), TC_OK);
    std::vector<int16_t> out;
    pull(p, out, k.played);
    for (const int64_t delta : k.deltas) p.seek_by(delta);
    if (k.target == end) {
      EXPECT_TRUE(p.status().finished);
      continue;
    }
    EXPECT_EQ(p.status().position, k.target);  // shown at once
    pull(p, out, 1000);
    while (p.tend()) {
    }
    EXPECT_EQ(p.status().position, k.target);
    std::vector<int16_t> after;
    pull_to_end(p, after, {1024});
    ASSERT_TRUE(std::equal(expected.begin(), expected.begin() + k.played + 1000, out.begin()));
    expect_song_then_silence(after, {expected.begin() + k.target, expected.end()});
  }
}

// tend() starts the next song ahead: the first song's last frame is
// followed by the second's first in the same buffer.
TEST(Player, TheNextSongFollowsWithNoGap) {
  const player_song first = planned(song_a(), 1, 0.0);
  const player_song second = planned(song_b(), 1, 0.2);
  std::vector<int16_t> expected = file_render(first);
  const std::vector<int16_t> then = file_render(second);
  expected.insert(expected.end(), then.begin(), then.end());
  player p({first, second}, 1, 100);
  ASSERT_EQ(p.play(0), TC_OK);
  EXPECT_FALSE(p.tend());
  std::vector<int16_t> out;
  pull(p, out, first.span.frames - 100);
  pull(p, out, 1000);
  EXPECT_EQ(p.status().index, 1u);
  pull_to_end(p, out, {1024});
  expect_song_then_silence(out, expected);
}

TEST(Player, ControlCallsRacingTheAudioThreadLeaveTheSynthesizerSound) {
  const player_song first = planned(song_a(), 3, 0.5);
  const player_song second = planned(song_b(), 2, 0.0);
  player p({first, second}, 1, 100);
  ASSERT_EQ(p.play(0), TC_OK);
  std::atomic<bool> stop{false};
  std::atomic<int64_t> pulls{0};
  std::thread audio([&] {
    std::vector<int16_t> buffer(1024);
    while (!stop.load()) {
      p.fill(buffer.data(), 1024);
      pulls.fetch_add(1);
    }
  });
  std::mt19937 dice(20261208);
  for (int call = 0; call < 3000; ++call) {
    switch (dice() % 8) {
      case 0:
        ASSERT_EQ(p.play(dice() % 2), TC_OK);
        break;
      case 1:
        p.toggle_pause();
        break;
      case 2:
        p.change_volume(8);
        break;
      case 3:
        p.change_volume(-8);
        break;
      case 4:
        p.toggle_loop();
        break;
      case 5:
        p.seek_by(static_cast<int64_t>(dice() % 60000) - 30000);
        break;
      case 6:
        (void)p.tend();
        break;
      default:
        (void)p.status();
        break;
    }
  }
  while (pulls.load() < 50) std::this_thread::yield();
  stop = true;
  audio.join();
  const int32_t volume = p.status().volume;
  EXPECT_GE(volume, 0);
  EXPECT_LE(volume, 127);
  ASSERT_EQ(p.play(1), TC_OK);
  std::vector<int16_t> out;
  pull_to_end(p, out, {1024});
  const std::vector<int16_t> expected = file_render(second, volume);
  expect_song_then_silence(out, expected);
}

}  // namespace
