// note_ages.cpp: the runs of note ages, one per binade the clock passes
// through before note_ages_len (about 23 of them), built before main.
#include "chip/note_ages.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>

#include "chip/state.h"

namespace tunecast::chip {
namespace {

// From sample k on, the note age is age + (k' - k) * increment, up to the
// next run's k.
struct age_run {
  int64_t k;
  double age;
  double increment;
};

constexpr std::size_t runs_max = 64;

struct age_runs {
  std::array<age_run, runs_max> run{};
  std::size_t count = 0;

  age_runs() {
    // The first age is 0.0, a binade of its own; the second is the step.
    run[count++] = {0, 0.0, 0.0};
    int64_t k = 1;
    double age = sample_step_s;
    while (k < note_ages_len) {
      int exponent = 0;
      std::frexp(age, &exponent);  // age = m * 2^exponent, m in [0.5, 1)
      const double unit = std::ldexp(1.0, exponent - 53);
      const double top = std::ldexp(1.0, exponent);
      const double increment = (age + sample_step_s) - age;
      // The ages age + j * increment below top are this run's; the unit
      // divides all three, so the count is exact integer arithmetic.
      const auto room = static_cast<int64_t>((top - age) / unit);
      const auto units = static_cast<int64_t>(increment / unit);
      const int64_t last = (room - 1) / units;
      run[count++] = {k, age, increment};
      const double last_age = age + static_cast<double>(last) * increment;
      k += last + 1;
      age = last_age + sample_step_s;  // the crossing, added as every clock adds it
    }
  }

  const age_run &of(int64_t k) const {
    const auto *end = run.data() + count;
    const auto *after = std::upper_bound(run.data(), end, k,
                                         [](int64_t key, const age_run &r) { return key < r.k; });
    return *(after - 1);
  }
};

const age_runs runs;

}  // namespace

double note_age(int64_t k) {
  const age_run &r = runs.of(k);
  return r.age + static_cast<double>(static_cast<int32_t>(k - r.k)) * r.increment;
}

void note_ages_fill(int64_t k0, int32_t n, double *out) {
  int32_t i = 0;
  while (i < n) {
    const age_run &r = runs.of(k0 + i);
    const age_run *next = &r + 1;
    const int64_t run_end =
        next < runs.run.data() + runs.count ? next->k : std::numeric_limits<int64_t>::max();
    const auto stop = static_cast<int32_t>(std::min<int64_t>(n, run_end - k0));
    const auto j0 = static_cast<int32_t>(k0 + i - r.k);
    // j fits 32 bits, so the conversions run two at a time.
    for (int32_t j = j0; i < stop; ++i, ++j) out[i] = r.age + static_cast<double>(j) * r.increment;
  }
}

}  // namespace tunecast::chip
