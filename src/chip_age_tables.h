// chip_age_tables.h: results of maths calls kept by a note's age.
//
// Every voice and drum starts its age at 0.0 and advances it by the same
// step on each sample, so the k-th sample of any note has the same age,
// bit for bit. A call whose argument is made of the age and a constant of
// the timbre (a decay's exp, a vibrato's sin and pow) therefore gives the
// same result at the same k note after note: these tables make it once.
#ifndef TUNECAST_CHIP_AGE_TABLES_H
#define TUNECAST_CHIP_AGE_TABLES_H

#include <cstdint>

namespace chip {

// Samples of a note covered by the tables (1.49 s); later ones call.
constexpr int64_t age_table_len = int64_t{1} << 16;

// A pure function of a timbre constant and an age.
using age_function = double (*)(double constant, double age);

// exp(-age / time_constant): the fade of decays and drums.
double age_fade(double time_constant, double age);

// True when age is the age a note has on its k-th sample (k additions of
// the step to 0.0), so that the tables hold its results.
bool is_note_age(double age, int64_t k);

// f(constant, age_k) for k in [k0, k0 + n), entry i for k0 + i, made now
// where not yet. Null when the entries pass age_table_len or straddle two
// of the table's blocks of 4096 (a run of n samples does once in 4096 / n),
// or when the tables are full: the caller then calls f.
const double *age_table(age_function f, double constant, int64_t k0, int32_t n);

}  // namespace chip

#endif  // TUNECAST_CHIP_AGE_TABLES_H
