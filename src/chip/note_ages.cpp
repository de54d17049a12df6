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
    while (k < note_ages_len && count < runs_max) {
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
    index_blocks();
  }

  // first_of_block[b]: the run that holds k = b * 4096. Past the first
  // block at most one run starts within a block, so a lookup steps at most
  // once from there.
  static constexpr int block_shift = 12;
  std::array<uint8_t, (note_ages_len >> block_shift)> first_of_block{};

  void index_blocks() {
    std::size_t i = 0;
    for (std::size_t b = 0; b < first_of_block.size(); ++b) {
      const auto k = static_cast<int64_t>(b) << block_shift;
      while (i + 1 < count && run[i + 1].k <= k) ++i;
      first_of_block[b] = static_cast<uint8_t>(i);
    }
  }

  const age_run &of(int64_t k) const {
    std::size_t i = first_of_block[static_cast<std::size_t>(k >> block_shift)];
    while (i + 1 < count && run[i + 1].k <= k) ++i;
    return run[i];
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
    const double first = r.age;
    const double increment = r.increment;
    double *to = out + i;
    // j fits 32 bits, so the conversions run two at a time.
    for (int32_t j = 0; j < stop - i; ++j) to[j] = first + static_cast<double>(j0 + j) * increment;
    i = stop;
  }
}

}  // namespace tunecast::chip
