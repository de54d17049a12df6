// render_bench.cpp: the synthesizer rendering the generated scores through
// chip_render, one whole piece per iteration, as the tool pulls it.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "bench_scores.h"
#include "game_songs.h"
#include "tunecast/chip.h"

namespace {

constexpr double frames_per_s = 44100.0;

// How the score is pulled: in the tool's blocks, or one chip_next call per
// sample as an engine without a buffer would; or in blocks, in stereo.
enum class pull { blocks, per_sample, stereo_blocks };

void render_score(benchmark::State &state, const bench::score &s, pull how = pull::blocks) {
  setenv("ZARN_SYNTH", "1", 1);  // never look for a recording
  if (I_RegisterSong(s.mus.data()) != 1) {
    state.SkipWithError("score does not register");
    return;
  }
  I_SetMusicVolume(100);
  const int64_t sounding = bench::sounding_voice_samples(s);
  std::vector<float> l, r;
  chip_set_stereo(how == pull::stereo_blocks ? 1 : 0);
  for (auto _ : state) {
    if (how != pull::per_sample) {
      bench::render_in_blocks(s, l, r);
      benchmark::DoNotOptimize(l.data());
    } else {
      I_PlaySong(0, 0);
      float left = 0, right = 0;
      for (int64_t i = 0; i < s.frames(); ++i) {
        chip_next(&left, &right);
        benchmark::DoNotOptimize(left);
      }
    }
  }
  chip_set_stereo(0);
  const auto frames = static_cast<double>(s.frames());
  using benchmark::Counter;
  state.counters["frames_per_s"] = Counter(frames, Counter::kIsIterationInvariantRate);
  state.counters["realtime_x"] = Counter(frames / frames_per_s, Counter::kIsIterationInvariantRate);
  state.counters["voices"] = static_cast<double>(sounding) / frames;
  // Seconds per sounding voice-sample, shown in nanoseconds.
  state.counters["ns_per_voice_sample"] = Counter(
      static_cast<double>(sounding) * 1e-9, Counter::kIsIterationInvariantRate | Counter::kInvert);
}

const bench::score typical = bench::typical_score();
const bench::score dense = bench::dense_score();
const bench::score drums = bench::drums_only_score();
const bench::score real_song = bench::real_song_score();

void BM_typical(benchmark::State &state) { render_score(state, typical); }
void BM_dense(benchmark::State &state) { render_score(state, dense); }
void BM_drums_only(benchmark::State &state) { render_score(state, drums); }
void BM_real_song(benchmark::State &state) { render_score(state, real_song); }
void BM_typical_per_sample(benchmark::State &state) {
  render_score(state, typical, pull::per_sample);
}
void BM_typical_stereo(benchmark::State &state) {
  render_score(state, typical, pull::stereo_blocks);
}

// A song of the game-like set by its index; the ones registered below are
// the slowest for the tool by compare_peer.sh --game-songs (held hexagon
// pads past the tables, leads held with vibrato, running parts).
void BM_game_song(benchmark::State &state) {
  const bench::score song = bench::game_song(static_cast<int>(state.range(0)));
  state.SetLabel(song.name);
  render_score(state, song);
}
// The same songs in stereo; 6 is one that spreads its parts across the two
// sides, the others keep every part at the centre.
void BM_game_song_stereo(benchmark::State &state) {
  const bench::score song = bench::game_song(static_cast<int>(state.range(0)));
  state.SetLabel(song.name);
  render_score(state, song, pull::stereo_blocks);
}

BENCHMARK(BM_typical)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_dense)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_drums_only)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_real_song)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_typical_per_sample)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_typical_stereo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_game_song)->Arg(0)->Arg(4)->Arg(6)->Arg(18)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_game_song_stereo)->Arg(0)->Arg(4)->Arg(6)->Arg(18)->Unit(benchmark::kMillisecond);

}  // namespace
