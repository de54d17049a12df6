// render_bench.cpp: the synthesizer rendering the generated scores through
// chip_next, one whole piece per iteration, as the tool pulls it.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "bench_scores.h"
#include "chip.h"
#include "chip_state.h"

namespace {

constexpr double frames_per_s = 44100.0;

// Sounding voices and drums summed over every frame of the piece.
int64_t voice_samples(const bench::score &s) {
  I_PlaySong(0, 0);
  int64_t n = 0;
  float l = 0, r = 0;
  for (int64_t i = 0; i < s.frames(); ++i) {
    chip_next(&l, &r);
    for (const chip_voice &v : chip::V) n += v.active;
    for (const chip_drum &d : chip::D) n += d.active;
  }
  return n;
}

void render_score(benchmark::State &state, const bench::score &s) {
  setenv("ZARN_SYNTH", "1", 1);  // never look for a recording
  if (I_RegisterSong(s.mus.data()) != 1) {
    state.SkipWithError("score does not register");
    return;
  }
  I_SetMusicVolume(100);
  const int64_t sounding = voice_samples(s);
  float l = 0, r = 0;
  for (auto _ : state) {
    I_PlaySong(0, 0);
    for (int64_t i = 0; i < s.frames(); ++i) {
      chip_next(&l, &r);
      benchmark::DoNotOptimize(l);
    }
  }
  const auto frames = static_cast<double>(s.frames());
  using benchmark::Counter;
  state.counters["frames_per_s"] = Counter(frames, Counter::kIsIterationInvariantRate);
  state.counters["realtime_x"] = Counter(frames / frames_per_s, Counter::kIsIterationInvariantRate);
  state.counters["voices"] = static_cast<double>(sounding) / frames;
  // Seconds per sounding voice-sample, shown in nanoseconds.
  state.counters["ns_per_voice_sample"] =
      Counter(static_cast<double>(sounding) * 1e-9, Counter::kIsIterationInvariantRate | Counter::kInvert);
}

const bench::score typical = bench::typical_score();
const bench::score dense = bench::dense_score();
const bench::score drums = bench::drums_only_score();

void BM_typical(benchmark::State &state) { render_score(state, typical); }
void BM_dense(benchmark::State &state) { render_score(state, dense); }
void BM_drums_only(benchmark::State &state) { render_score(state, drums); }

BENCHMARK(BM_typical)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_dense)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_drums_only)->Unit(benchmark::kMillisecond);

}  // namespace
