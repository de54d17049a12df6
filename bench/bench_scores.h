// bench_scores.h: the scores the benchmarks render, generated in code with
// the MUS builder. Each is a whole piece that ends on its own after
// frames() samples; every sample before that is rendered.
#ifndef TUNECAST_BENCH_SCORES_H
#define TUNECAST_BENCH_SCORES_H

#include <cstdint>
#include <string>
#include <vector>

#include "fixtures.h"

namespace bench {

struct score {
  std::string name;
  fixture::bytes mus;
  int64_t ticks;  // length of the piece; the score end follows its last delay
  int64_t frames() const { return ticks * 315; }
};

// About eight melodic voices (lead with vibrato, bass, a three-note pad,
// an arpeggio, an occasional bell) and a drum hit every other beat.
score typical_score();
// 28 melodic voices of every family (vibrato and decay included) held all
// the time, and a drum pool kept full with all kinds.
score dense_score();
// The same drum pattern as the dense score and nothing else.
score drums_only_score();

std::vector<score> all_scores();

}  // namespace bench

#endif  // TUNECAST_BENCH_SCORES_H
