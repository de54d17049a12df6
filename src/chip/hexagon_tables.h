// hexagon_tables.h: the hexagon waveform of notes whose pitch never moved.
//
// A voice starts its phase at 0.0 and, while no bend or vibrato changes its
// step, adds the same step on every sample. Its phase after k samples, and
// the fmod and cos the hexagon draws from it, are then the same bit for bit
// for every note of that step: these tables make them once per (step, k).
// A note whose step changes leaves them for good and makes the calls itself.
#ifndef TUNECAST_CHIP_HEXAGON_TABLES_H
#define TUNECAST_CHIP_HEXAGON_TABLES_H

#include <array>
#include <cstddef>
#include <cstdint>

#include "chip/age_tables.h"

namespace tunecast::chip {

// At most 8 MiB of blocks, shared by up to 64 steps; a song that wants
// more makes the calls for the rest. A step's table covers the same samples
// as the age tables. A block is made for the first note that reaches it:
// holding it back for a second note saves memory but makes the first one's
// calls twice over whenever a second note comes, which most steps get.
constexpr std::size_t hexagon_arena_blocks = 256;
constexpr std::size_t hexagon_table_count = 64;

// Zero at the start and apart from the record below, as the age tables'.
struct hexagon_table_store {
  std::array<age_block_entries, hexagon_arena_blocks> arena;
};

// One step: the blocks made so far, and where its phase has got to, so that
// the next block goes on from there rather than from note-on.
struct hexagon_values {
  uint64_t step_bits = 0;
  int64_t phase_steps = 0;  // phase is the phase after this many samples
  double phase = 0.0;
  std::array<age_block_entries *, age_blocks_per_table> blocks{};
};

// What has been made in a store; a default-built record is empty.
struct hexagon_tables {
  hexagon_table_store *store = nullptr;  // the instance's (synth_stores)
  std::size_t arena_used = 0;
  std::array<hexagon_values, hexagon_table_count> values{};
  std::size_t values_used = 0;
};

// A note's own record of the block it reads.
struct hexagon_block_cache {
  int64_t first = 0;  // entries is for k in [first, end), or null
  int64_t end = 0;
  const double *entries = nullptr;
};

// The waveform of the samples k0 .. k0 + n - 1 of a note whose phase has
// moved by step on every sample since note-on: entry i is for k0 + i. Null
// when the run is not covered (past the tables, across two blocks, no room):
// the caller then draws the waveform itself.
const double *hexagon_entries(hexagon_tables &t, hexagon_block_cache &cache, double step,
                              int64_t k0, int32_t n);

}  // namespace tunecast::chip

#endif  // TUNECAST_CHIP_HEXAGON_TABLES_H
