// table_arena.cpp: chunks calloc'd on first use. A chunk's pages stay
// untouched until a block in them is made, so even a chunk costs a song
// only the blocks it fills.
#include "chip/table_arena.h"

#include <cstdlib>

#include "chip/state.h"

namespace tunecast::chip {

age_block_entries *table_arena_block(table_arena &a, std::size_t i) {
  const std::size_t chunk = i / arena_chunk_blocks;
  if (chunk >= arena_chunk_count) return nullptr;
  age_block_entries *&blocks = a.chunks[chunk];
  if (blocks == nullptr) {
    blocks = static_cast<age_block_entries *>(
        std::calloc(arena_chunk_blocks, sizeof(age_block_entries)));
    if (blocks == nullptr) return nullptr;
  }
  return &blocks[i % arena_chunk_blocks];
}

void table_arena_free(table_arena &a) {
  for (age_block_entries *&blocks : a.chunks) {
    std::free(blocks);
    blocks = nullptr;
  }
}

void table_stores_free(synth_stores &stores) {
  table_arena_free(stores.ages.arena);
  table_arena_free(stores.hexagon.arena);
}

}  // namespace tunecast::chip
