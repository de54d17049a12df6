// synth_threads_test.cpp: instances on threads of their own share nothing
// they write. Eight instances render two unlike songs at once, each to exactly the
// samples it gives alone; a binary of its own so that the ThreadSanitizer
// build (preset tsan) runs it.
#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "demo_song.h"
#include "synth_songs.h"
#include "tunecast/synth.h"

namespace {

using samples = std::vector<int16_t>;
constexpr size_t frames = 12 * 44100;

// The song from its start, mono or stereo, in pieces of piece frames.
samples render(const demo::bytes &song, bool stereo, size_t piece) {
  tc_synth *s = tc_synth_new();
  samples out;
  if (s == nullptr || tc_synth_load(s, song.data(), song.size()) != TC_OK) return out;
  tc_synth_set_stereo(s, stereo ? 1 : 0);
  tc_synth_play(s, 1);
  out.resize(frames * (stereo ? 2 : 1));
  for (size_t done = 0; done < frames; done += piece) {
    const size_t n = std::min(piece, frames - done);
    tc_synth_render_s16(s, out.data() + done * (stereo ? 2 : 1), n);
  }
  tc_synth_free(s);
  return out;
}

TEST(SynthThreads, EightInstancesOnEightThreadsEachRenderAsAlone) {
  const demo::bytes songs[2] = {demo::song_midi(), other_song()};
  // Alone, before any thread starts; each its own tables, made from empty.
  const samples alone[2][2] = {{render(songs[0], false, 4096), render(songs[0], true, 4096)},
                               {render(songs[1], false, 4096), render(songs[1], true, 4096)}};
  std::vector<samples> got(8);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < got.size(); ++t) {
    // Different piece sizes, so that the threads reach the same table
    // blocks at different moments.
    threads.emplace_back([&, t] { got[t] = render(songs[t % 2], t / 2 % 2 == 1, 500 + 331 * t); });
  }
  for (std::thread &thread : threads) thread.join();
  for (size_t t = 0; t < got.size(); ++t) {
    SCOPED_TRACE(t);
    ASSERT_EQ(got[t].size(), alone[t % 2][t / 2 % 2].size());
    EXPECT_TRUE(got[t] == alone[t % 2][t / 2 % 2]);
  }
}

}  // namespace
