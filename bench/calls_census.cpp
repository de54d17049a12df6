// calls_census.cpp: counts the maths calls the synthesizer makes on each
// benchmark score, per sounding voice-sample: sin, cos, exp and pow of the
// project's own maths (src/maths), fmod of the C library. Linked with --wrap
// so that every call from the module passes through a counter; timing is
// left to chip_bench. Together with the floor benchmark's cost per call this
// gives the cost of the calls the render cannot avoid.
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

// The wrapped names are the mangled ones of tunecast::maths::pow, exp, sin
// and cos.
extern "C" {
double __real__ZN8tunecast5maths3powEdd(double, double);
double __real__ZN8tunecast5maths3expEd(double);
double __real__ZN8tunecast5maths3sinEd(double);
double __real__ZN8tunecast5maths3cosEd(double);
double __real_fmod(double, double);
double __wrap__ZN8tunecast5maths3powEdd(double x, double y) {
  ++calls[f_pow];
  return __real__ZN8tunecast5maths3powEdd(x, y);
}
double __wrap__ZN8tunecast5maths3expEd(double x) {
  ++calls[f_exp];
  return __real__ZN8tunecast5maths3expEd(x);
}
double __wrap__ZN8tunecast5maths3sinEd(double x) {
  ++calls[f_sin];
  return __real__ZN8tunecast5maths3sinEd(x);
}
double __wrap__ZN8tunecast5maths3cosEd(double x) {
  ++calls[f_cos];
  return __real__ZN8tunecast5maths3cosEd(x);
}
double __wrap_fmod(double x, double y) {
  ++calls[f_fmod];
  return __real_fmod(x, y);
}
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
    const auto per = [&](int64_t n) {
      return static_cast<double>(n) / static_cast<double>(sounding);
    };
    int64_t total = 0;
    for (int64_t c : calls) total += c;
    std::printf("%-12s %8.2f %8.3f %8.3f %8.3f %8.3f %8.3f %8.3f\n", s.name.c_str(),
                static_cast<double>(sounding) / static_cast<double>(s.frames()), per(calls[f_pow]),
                per(calls[f_exp]), per(calls[f_sin]), per(calls[f_cos]), per(calls[f_fmod]),
                per(total));
  }
  return 0;
}
