// calls_census.cpp: counts the maths library calls the synthesizer makes on
// each benchmark score, per sounding voice-sample. Linked with --wrap so that
// every call from the module passes through a counter; timing is left to
// chip_bench. Together with the floor benchmark's cost per call this gives
// the cost of the calls the render cannot avoid.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_scores.h"
#include "tunecast/chip.h"

namespace {

enum fn { f_pow, f_exp, f_sin, f_cos, f_fmod, f_count };
int64_t calls[f_count];

}  // namespace

extern "C" {
double __real_pow(double, double);
double __real_exp(double);
double __real_sin(double);
double __real_cos(double);
double __real_fmod(double, double);
double __wrap_pow(double x, double y) { ++calls[f_pow]; return __real_pow(x, y); }
double __wrap_exp(double x) { ++calls[f_exp]; return __real_exp(x); }
double __wrap_sin(double x) { ++calls[f_sin]; return __real_sin(x); }
double __wrap_cos(double x) { ++calls[f_cos]; return __real_cos(x); }
double __wrap_fmod(double x, double y) { ++calls[f_fmod]; return __real_fmod(x, y); }
}

int main() {
  setenv("ZARN_SYNTH", "1", 1);
  std::printf("%-12s %8s %8s %8s %8s %8s %8s %8s\n", "score", "voices", "pow", "exp", "sin", "cos",
              "fmod", "calls");
  for (const bench::score &s : bench::all_scores()) {
    if (I_RegisterSong(s.mus.data()) != 1) return 1;
    I_SetMusicVolume(100);
    const int64_t sounding = bench::sounding_voice_samples(s);
    for (int64_t &c : calls) c = 0;
    std::vector<float> l, r;
    bench::render_in_blocks(s, l, r);
    // Calls per sounding voice-sample; "voices" is the mean number sounding.
    const auto per = [&](int64_t n) { return static_cast<double>(n) / static_cast<double>(sounding); };
    int64_t total = 0;
    for (int64_t c : calls) total += c;
    std::printf("%-12s %8.2f %8.3f %8.3f %8.3f %8.3f %8.3f %8.3f\n", s.name.c_str(),
                static_cast<double>(sounding) / static_cast<double>(s.frames()), per(calls[f_pow]),
                per(calls[f_exp]), per(calls[f_sin]), per(calls[f_cos]), per(calls[f_fmod]), per(total));
  }
  return 0;
}
