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
#include <cstddef>
#include <cstdint>

#include "chip/note_ages.h"
#include "common/bit_cast.h"

namespace tunecast::chip {

// Samples of a note covered by the tables (23.8 s, so that held pads and
// vibrato leads stay on them); later ones call. The tables are made and
// handed out in blocks of age_block_len, each only when a note reaches it.
constexpr int64_t age_table_len = int64_t{1} << 20;
constexpr int64_t age_block_len = 4096;
static_assert(age_table_len <= note_ages_len, "every tabled sample has a note age");
// The first ages of every note (1.49 s), kept in the store: the pieces that
// read ages (attacks, falls, releases) are mostly there.
constexpr int64_t note_ages_early = int64_t{1} << 16;

// A pure function of a timbre constant and an age.
using age_function = double (*)(double constant, double age);

// exp(-age / time_constant): the fade of decays and drums.
double age_fade(double time_constant, double age);

// At most 8 MiB of blocks (two functions over a whole table, or many over a
// note's first second), and names for every decay, vibrato depth and drum
// fade of the timbres; a song that wants more calls for the rest.
constexpr std::size_t age_arena_blocks = 256;
constexpr std::size_t age_table_count = 32;
constexpr std::size_t age_blocks_per_table =
    static_cast<std::size_t>(age_table_len / age_block_len);

using age_block_entries = std::array<double, age_block_len>;

// The entries themselves, 8.5 MiB of address space, one store per synthesizer
// instance. They stay apart from the age_tables record and start zero: held
// inside a record whose start values are not all zero, they would be carried
// in the program's data section, and zero pages no table reaches are never
// touched, so the store grows in memory page by page as notes reach it
// without the render ever allocating.
struct age_table_store {
  // note_ages[k]: the note age of k, for the first samples of every note,
  // where attacks, falls and releases read them.
  std::array<double, note_ages_early> note_ages;
  std::array<age_block_entries, age_arena_blocks> arena;
};

// One function and constant: the blocks of its entries made so far.
struct age_values {
  age_function f = nullptr;
  uint64_t constant_bits = 0;
  std::array<age_block_entries *, age_blocks_per_table> blocks{};
};

// What has been made in a store: entries past these counts are never read,
// so a default-built record over a used store is an empty set of tables.
struct age_tables {
  age_table_store *store = nullptr;  // the instance's (synth_stores)
  int64_t note_ages_made = 0;        // note_ages[k] is valid for k below this
  std::size_t arena_used = 0;
  std::array<age_values, age_table_count> values{};
  std::size_t values_used = 0;
};

// The note ages k0 .. k0 + n - 1 (n >= 1, k0 + n <= note_ages_len): from
// the store where they lie among its first ages, else worked out into
// scratch, which has room for n.
const double *note_ages_run(age_tables &t, int64_t k0, int32_t n, double *scratch);

// is_note_age, from the store's first ages where they are made: asked once
// per run of every voice and drum.
inline bool is_note_age(const age_tables &t, double age, int64_t k) {
  if (k >= 0 && k < t.note_ages_made) {
    return tunecast::bit_cast<uint64_t>(t.store->note_ages[static_cast<std::size_t>(k)]) ==
           tunecast::bit_cast<uint64_t>(age);
  }
  return is_note_age(age, k);
}

// The block of f(constant, age_k) for the k in block number b (entry j is
// for k = b * age_block_len + j), every entry made. Null when the block is
// past the tables or the tables have no room left: the caller calls f.
const double *age_block(age_tables &t, age_function f, double constant, int64_t b);

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
const double *age_entries_lookup(age_tables &t, age_block_cache &cache, std::size_t slot,
                                 age_function f, double constant, int64_t k0, int32_t n);
inline const double *age_entries(age_tables &t, age_block_cache &cache, std::size_t slot,
                                 age_function f, double constant, int64_t k0, int32_t n) {
  // The common case: the run lies in the block the cache already holds.
  if (k0 >= cache.first && n >= 1 && k0 + n <= cache.end && cache.looked_up[slot] &&
      cache.f[slot] == f &&
      tunecast::bit_cast<uint64_t>(cache.constant[slot]) ==
          tunecast::bit_cast<uint64_t>(constant)) {
    const double *entries = cache.entries[slot];
    return entries != nullptr ? entries + (k0 - cache.first) : nullptr;
  }
  return age_entries_lookup(t, cache, slot, f, constant, k0, n);
}

}  // namespace tunecast::chip

#endif  // TUNECAST_CHIP_AGE_TABLES_H
