// note_ages.h: the age a note has on its k-th sample, without adding.
//
// Every clock starts at 0.0 and adds sample_step_s once a sample, so its
// value after k samples is a fixed double, the note age of k. The sum moves
// through powers of two: while it stays between two of them (one binade),
// every value is a multiple of the binade's unit in the last place and each
// addition rounds the step to the same multiple of that unit. Within a
// binade the ages therefore climb by one fixed increment, and the age of k
// is that binade's first age plus (k - its first k) times the increment:
// both terms are multiples of the unit, the product and the sum stay below
// the binade's top, so neither rounds. Only the additions that cross into
// the next binade are made as additions, once, when the runs are built.
#ifndef TUNECAST_CHIP_NOTE_AGES_H
#define TUNECAST_CHIP_NOTE_AGES_H

#include <cstdint>

#include "common/bit_cast.h"

namespace tunecast::chip {

// Samples whose note age this gives (47.5 s): every k below note_ages_len.
// A clock past it is no note's age here.
constexpr int64_t note_ages_len = int64_t{1} << 21;

// The note age of k, for 0 <= k < note_ages_len.
double note_age(int64_t k);

// out[i] = note_age(k0 + i) for i in [0, n); k0 >= 0, k0 + n <= note_ages_len.
void note_ages_fill(int64_t k0, int32_t n, double *out);

// True when age is the note age of k: a clock that counted k samples from
// note-on and was never set otherwise.
inline bool is_note_age(double age, int64_t k) {
  return k >= 0 && k < note_ages_len &&
         tunecast::bit_cast<uint64_t>(note_age(k)) == tunecast::bit_cast<uint64_t>(age);
}

}  // namespace tunecast::chip

#endif  // TUNECAST_CHIP_NOTE_AGES_H
