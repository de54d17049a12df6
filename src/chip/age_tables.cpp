// age_tables.cpp: the age tables. They are instance state that never
// goes stale (each entry is a pure function of its k), made a block of 4096
// at a time when a note first reaches it, and never allocated: the render
// path stays free of allocation. The blocks come from the store's arena, so
// a short drum fade holds little and the arena's cap bounds them all; pages
// no table has reached are never touched.
#include "chip/age_tables.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "chip/note_ages.h"
#include "chip/state.h"
#include "common/bit_cast.h"
#include "maths/maths.h"

namespace tunecast::chip {
namespace {

constexpr int64_t block_len = age_block_len;

age_values *find_or_claim(age_tables &t, age_function f, double constant) {
  const uint64_t bits = tunecast::bit_cast<uint64_t>(constant);
  for (size_t i = 0; i < t.values_used; ++i) {
    if (t.values[i].f == f && t.values[i].constant_bits == bits) return &t.values[i];
  }
  if (t.values_used == age_table_count) return nullptr;
  age_values *v = &t.values[t.values_used++];
  v->f = f;
  v->constant_bits = bits;
  return v;
}

}  // namespace

const double *note_ages_run(age_tables &t, int64_t k0, int32_t n, double *scratch) {
  if (k0 + n > note_ages_early) {
    note_ages_fill(k0, n, scratch);
    return scratch;
  }
  if (t.note_ages_made < k0 + n) {
    // Made a block at a time, as far as notes have reached.
    const int64_t end = std::min(note_ages_early, (k0 + n + block_len - 1) / block_len * block_len);
    note_ages_fill(t.note_ages_made, static_cast<int32_t>(end - t.note_ages_made),
                   &t.store->note_ages[static_cast<size_t>(t.note_ages_made)]);
    t.note_ages_made = end;
  }
  return &t.store->note_ages[static_cast<size_t>(k0)];
}

double age_fade(double time_constant, double age) { return maths::exp(-age / time_constant); }

const double *age_block(age_tables &t, age_function f, double constant, int64_t b) {
  if (b < 0 || b >= static_cast<int64_t>(age_blocks_per_table)) return nullptr;
  age_values *v = find_or_claim(t, f, constant);
  if (v == nullptr) return nullptr;
  age_block_entries *&entries = v->blocks[static_cast<size_t>(b)];
  if (entries == nullptr) {
    if (t.arena_used == age_arena_blocks) return nullptr;
    entries = &t.store->arena[t.arena_used++];
    // A whole block at once: a note that reaches it reads it for up to
    // 4096 samples, and a cache may hand it out without asking again.
    // The ages go into the block first and are replaced entry by entry.
    note_ages_fill(b * block_len, static_cast<int32_t>(block_len), entries->data());
    for (double &entry : *entries) entry = f(constant, entry);
  }
  return entries->data();
}

const double *age_entries_lookup(age_tables &t, age_block_cache &cache, size_t slot, age_function f,
                                 double constant, int64_t k0, int32_t n) {
  if (k0 < 0 || n < 1 || k0 + n > age_table_len) return nullptr;
  const int64_t b = k0 / block_len;
  if ((k0 + n - 1) / block_len != b) return nullptr;
  if (cache.first != b * block_len || cache.end != (b + 1) * block_len) {
    cache.first = b * block_len;
    cache.end = (b + 1) * block_len;
    cache.looked_up = {};
  }
  // A function or constant changed under the note is looked up afresh.
  if (!cache.looked_up[slot] || cache.f[slot] != f ||
      tunecast::bit_cast<uint64_t>(cache.constant[slot]) !=
          tunecast::bit_cast<uint64_t>(constant)) {
    cache.looked_up[slot] = true;
    cache.f[slot] = f;
    cache.constant[slot] = constant;
    cache.entries[slot] = age_block(t, f, constant, b);
  }
  return cache.entries[slot] != nullptr ? cache.entries[slot] + (k0 - cache.first) : nullptr;
}

}  // namespace tunecast::chip
