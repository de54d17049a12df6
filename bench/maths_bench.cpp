// maths_bench.cpp: one call of the project's sin, cos, exp and pow (src/maths)
// against the C library's, on arguments like the synthesizer's: a hexagon's
// angles over a turn and its sixth, vibrato angles, fades, pitch exponents.
// Calls are independent (each sum starts afresh), so the figure is
// throughput, as in a render loop.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <vector>

#include "maths/maths.h"

namespace {

constexpr std::size_t argument_count = 4096;

// Arguments evenly spread over [low, high), in an order a cache cannot guess.
std::vector<double> arguments(double low, double high) {
  std::vector<double> xs(argument_count);
  for (std::size_t i = 0; i < argument_count; ++i) {
    const std::size_t j = (i * 2654435761u) % argument_count;
    xs[i] = low + (high - low) * (static_cast<double>(j) + 0.5) / argument_count;
  }
  return xs;
}

// Through a pointer, the same for both, so neither call is inlined.
void BM_call(benchmark::State &state, double (*f)(double), double low, double high) {
  const std::vector<double> xs = arguments(low, high);
  for (auto _ : state) {
    double sum = 0.0;
    for (double x : xs) sum += f(x);
    benchmark::DoNotOptimize(sum);
  }
  state.counters["ns_per_call"] = benchmark::Counter(
      static_cast<double>(argument_count) * 1e-9,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

double own_sin(double x) { return tunecast::maths::sin(x); }
double own_cos(double x) { return tunecast::maths::cos(x); }
double own_exp(double x) { return tunecast::maths::exp(x); }
double own_pow2(double y) { return tunecast::maths::pow(2.0, y); }
double libm_sin(double x) { return std::sin(x); }
double libm_cos(double x) { return std::cos(x); }
double libm_exp(double x) { return std::exp(x); }
double libm_pow2(double y) { return std::pow(2.0, y); }

constexpr double two_pi = 6.283185307179586;
constexpr double pi_6 = 0.5235987755982988;

BENCHMARK_CAPTURE(BM_call, own_cos_turn, own_cos, 0.0, two_pi);
BENCHMARK_CAPTURE(BM_call, libm_cos_turn, libm_cos, 0.0, two_pi);
BENCHMARK_CAPTURE(BM_call, own_cos_sixth, own_cos, -pi_6, pi_6);
BENCHMARK_CAPTURE(BM_call, libm_cos_sixth, libm_cos, -pi_6, pi_6);
BENCHMARK_CAPTURE(BM_call, own_sin_vibrato, own_sin, 0.0, 200.0);
BENCHMARK_CAPTURE(BM_call, libm_sin_vibrato, libm_sin, 0.0, 200.0);
BENCHMARK_CAPTURE(BM_call, own_exp_fade, own_exp, -20.0, 0.0);
BENCHMARK_CAPTURE(BM_call, libm_exp_fade, libm_exp, -20.0, 0.0);
BENCHMARK_CAPTURE(BM_call, own_pow2_pitch, own_pow2, -2.0, 2.0);
BENCHMARK_CAPTURE(BM_call, libm_pow2_pitch, libm_pow2, -2.0, 2.0);

}  // namespace
