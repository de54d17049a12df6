// hexagon_tables.cpp: the hexagon tables, made a block of 4096 samples at
// a time when a note first reaches it, from the instance's fixed arena,
// never allocated while rendering, kept for the instance's life (an entry
// never goes stale).
#include "chip/hexagon_tables.h"

#include <cstddef>

#include "chip/voices.h"
#include "common/bit_cast.h"

namespace tunecast::chip {
namespace {

hexagon_values *find_or_claim(hexagon_tables &t, double step) {
  const uint64_t bits = tunecast::bit_cast<uint64_t>(step);
  for (size_t i = 0; i < t.values_used; ++i) {
    if (t.values[i].step_bits == bits) return &t.values[i];
  }
  if (t.values_used == hexagon_table_count) return nullptr;
  hexagon_values *v = &t.values[t.values_used++];
  v->step_bits = bits;
  return v;
}

const double *hexagon_block(hexagon_tables &t, double step, int64_t b) {
  if (b < 0 || b >= static_cast<int64_t>(age_blocks_per_table)) return nullptr;
  hexagon_values *v = find_or_claim(t, step);
  if (v == nullptr) return nullptr;
  age_block_entries *&entries = v->blocks[static_cast<size_t>(b)];
  if (entries == nullptr) {
    if (t.arena_used == hexagon_arena_blocks) return nullptr;
    entries = &t.store->arena[t.arena_used++];
    // Notes reach a step's blocks in order, so the phase usually stands at
    // this block's start already; from anywhere later it starts again.
    const int64_t k_first = b * age_block_len;
    if (v->phase_steps > k_first) {
      v->phase_steps = 0;
      v->phase = 0.0;
    }
    bool wrapped = false;
    for (; v->phase_steps < k_first; ++v->phase_steps) {
      v->phase = voice_phase_advance(v->phase, step, wrapped);
    }
    for (double &w : *entries) {
      v->phase = voice_phase_advance(v->phase, step, wrapped);
      w = voice_hexagon(v->phase);
    }
    v->phase_steps += age_block_len;
  }
  return entries->data();
}

}  // namespace

const double *hexagon_entries(hexagon_tables &t, hexagon_block_cache &cache, double step,
                              int64_t k0, int32_t n) {
  if (k0 < 0 || n < 1) return nullptr;
  if (k0 < cache.first || k0 + n > cache.end) {
    const int64_t b = k0 / age_block_len;
    cache.first = b * age_block_len;
    cache.end = cache.first + age_block_len;
    cache.entries = hexagon_block(t, step, b);
    if (k0 + n > cache.end) return nullptr;
  }
  return cache.entries != nullptr ? cache.entries + (k0 - cache.first) : nullptr;
}

}  // namespace tunecast::chip
