// floor_bench.cpp: the cost of the maths calls a voice cannot do without.
// Per sample and voice exactly one pow, one exp and one sin of the
// project's own maths (src/maths, what the synthesizer calls), with
// arguments that move every sample as a voice's clock does, summed so that
// nothing can be folded, hoisted or dropped.
#include <benchmark/benchmark.h>

#include <vector>

#include "maths/maths.h"

namespace {

constexpr double sample_step_s = 2.2675736961451248e-05;

void BM_floor(benchmark::State &state) {
  const auto voices = static_cast<size_t>(state.range(0));
  constexpr int64_t frames = 44100;
  std::vector<double> age(voices), note(voices), decay(voices);
  for (size_t i = 0; i < voices; ++i) {
    age[i] = 0.01 * static_cast<double>(i);
    note[i] = static_cast<double>(36 + (i * 7) % 48);
    decay[i] = 0.3 + 0.1 * static_cast<double>(i % 8);
  }
  for (auto _ : state) {
    double sum = 0.0;
    for (int64_t n = 0; n < frames; ++n) {
      for (size_t i = 0; i < voices; ++i) {
        const double a = age[i];
        // Pitch with a vibrato-like drift, a decay, an oscillator.
        sum += tunecast::maths::pow(2.0, (note[i] - 69 + 0.5 * a) / 12.0) +
               tunecast::maths::exp(-a / decay[i]) +
               tunecast::maths::sin((a - 0.15) * 34.55751918948772);
        age[i] = a + sample_step_s;
      }
    }
    benchmark::DoNotOptimize(sum);
  }
  using benchmark::Counter;
  const double voice_samples = static_cast<double>(frames) * static_cast<double>(voices);
  state.counters["ns_per_voice_sample"] =
      Counter(voice_samples * 1e-9, Counter::kIsIterationInvariantRate | Counter::kInvert);
  state.counters["ns_per_call"] =
      Counter(3 * voice_samples * 1e-9, Counter::kIsIterationInvariantRate | Counter::kInvert);
}

BENCHMARK(BM_floor)->Arg(8)->Arg(28)->Unit(benchmark::kMillisecond);

}  // namespace
