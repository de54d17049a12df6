// table_arena.h: the blocks the age and hexagon tables are made in. They
// come from chunks calloc'd the first time a table reaches them, so a song
// pays only for the blocks its notes reach, up to each arena's cap.
#ifndef TUNECAST_CHIP_TABLE_ARENA_H
#define TUNECAST_CHIP_TABLE_ARENA_H

#include <array>
#include <cstddef>
#include <cstdint>

namespace tunecast::chip {

// A block holds one table's entries for age_block_len samples of a note.
constexpr int64_t age_block_len = 4096;
using age_block_entries = std::array<double, age_block_len>;

// 16 blocks (512 KiB) a chunk: few enough allocations that a song makes
// them in passing, small enough that a song that needs little holds little.
constexpr std::size_t arena_chunk_blocks = 16;
constexpr std::size_t arena_chunk_count = 32;  // room for any cap up to 16 MiB

// The chunks allocated so far; all null in a store that starts zero. They
// stay with the store when its tables are emptied, to be filled again.
struct table_arena {
  std::array<age_block_entries *, arena_chunk_count> chunks{};
};

// Block number i (below arena_chunk_blocks * arena_chunk_count), its chunk
// allocated on first use. Null when the allocation fails: the caller then
// makes the calls itself, as when the arena is full.
age_block_entries *table_arena_block(table_arena &a, std::size_t i);

// Frees every chunk; the arena is empty afterwards.
void table_arena_free(table_arena &a);

}  // namespace tunecast::chip

#endif  // TUNECAST_CHIP_TABLE_ARENA_H
