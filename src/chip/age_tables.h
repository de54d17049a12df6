// age_tables.h: results of maths calls kept by a note's age.
//
// Every voice and drum starts its age at 0.0 and advances it by the same
// step on each sample, so the k-th sample of any note has the same age,
// bit for bit. A call whose argument is made of the age and a constant of
// the timbre (a decay's exp, a vibrato's sin and pow, a drum's fades)
// therefore gives the same result at the same k note after note: these
// tables make it once.
#ifndef TUNECAST_CHIP_AGE_TABLES_H
#define TUNECAST_CHIP_AGE_TABLES_H

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace chip {

// Samples of a note covered by the tables (1.49 s); later ones call. The
// tables are made and handed out in blocks of age_block_len.
constexpr int64_t age_table_len = int64_t{1} << 16;
constexpr int64_t age_block_len = 4096;

// A pure function of a timbre constant and an age.
using age_function = double (*)(double constant, double age);

// exp(-age / time_constant): the fade of decays and drums.
double age_fade(double time_constant, double age);

// The ages themselves, note_ages[k] for k < note_ages_made: 0.0 with the
// step added k times. make_note_ages extends them to k_end.
extern std::array<double, age_table_len> note_ages;
extern int64_t note_ages_made;
void make_note_ages(int64_t k_end);

// True when age is the age a note has on its k-th sample, so that the
// tables hold its results. Asked once per run of every voice and drum.
inline bool is_note_age(double age, int64_t k) {
  if (k < 0 || k >= age_table_len) return false;
  if (k >= note_ages_made) make_note_ages(k + 1);
  return std::bit_cast<uint64_t>(note_ages[static_cast<std::size_t>(k)]) ==
         std::bit_cast<uint64_t>(age);
}

// The block of f(constant, age_k) for the k in block number b (entry j is
// for k = b * age_block_len + j), every entry made. Null when the block is
// past the tables or the tables have no room left: the caller calls f.
const double *age_block(age_function f, double constant, int64_t b);

// A note's own record of the blocks it reads: each of its few functions
// is looked up once per block of its life rather than once per run.
struct age_block_cache {
  int64_t first = 0;  // the entries below are for k in [first, end): one block
  int64_t end = 0;    // (empty until the first lookup)
  std::array<bool, 3> looked_up{};
  std::array<age_function, 3> f{};
  std::array<double, 3> constant{};
  std::array<const double *, 3> entries{};
};

// f(constant, age_k) for the n samples k0 .. k0 + n - 1 of a note whose age
// at k0 is its note age, through slot of cache: entry i is for k0 + i. Null
// when the run is not covered (past the tables, across two blocks, no room):
// the caller then calls f.
const double *age_entries_lookup(age_block_cache &cache, std::size_t slot, age_function f,
                                 double constant, int64_t k0, int32_t n);
inline const double *age_entries(age_block_cache &cache, std::size_t slot, age_function f,
                                 double constant, int64_t k0, int32_t n) {
  // The common case: the run lies in the block the cache already holds.
  if (k0 >= cache.first && n >= 1 && k0 + n <= cache.end && cache.looked_up[slot] &&
      cache.f[slot] == f &&
      std::bit_cast<uint64_t>(cache.constant[slot]) == std::bit_cast<uint64_t>(constant)) {
    const double *entries = cache.entries[slot];
    return entries != nullptr ? entries + (k0 - cache.first) : nullptr;
  }
  return age_entries_lookup(cache, slot, f, constant, k0, n);
}

}  // namespace chip

#endif  // TUNECAST_CHIP_AGE_TABLES_H
