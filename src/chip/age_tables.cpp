// age_tables.cpp: the age tables. They are module state that never
// goes stale (each entry is a pure function of its k), made a block of 4096
// at a time when a note first reaches it, and never allocated: the render
// path stays free of allocation. The blocks come from one fixed arena, so
// a short drum fade holds little and the arena bounds them all; pages no
// table has reached are never touched.
#include "chip/age_tables.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>

#include "chip/state.h"

namespace chip {
namespace {

constexpr int64_t block_len = age_block_len;
constexpr size_t blocks_per_table = static_cast<size_t>(age_table_len / block_len);
// 3 MiB of entries, and room to name every decay, vibrato depth and drum
// fade of the timbres; a song that wants more calls for the rest.
constexpr size_t arena_blocks = 96;
constexpr size_t table_count = 32;

using block = std::array<double, block_len>;

struct age_values {
  age_function f = nullptr;
  uint64_t constant_bits = 0;
  std::array<block *, blocks_per_table> blocks{};
};

std::array<block, arena_blocks> arena;
size_t arena_used = 0;
std::array<age_values, table_count> tables;
size_t tables_used = 0;

age_values *find_or_claim(age_function f, double constant) {
  const uint64_t bits = std::bit_cast<uint64_t>(constant);
  for (size_t i = 0; i < tables_used; ++i) {
    if (tables[i].f == f && tables[i].constant_bits == bits) return &tables[i];
  }
  if (tables_used == table_count) return nullptr;
  age_values *t = &tables[tables_used++];
  t->f = f;
  t->constant_bits = bits;
  return t;
}

}  // namespace

std::array<double, age_table_len> note_ages;
int64_t note_ages_made = 0;

void make_note_ages(int64_t k_end) {
  for (; note_ages_made < k_end; ++note_ages_made) {
    const auto k = static_cast<size_t>(note_ages_made);
    note_ages[k] = k == 0 ? 0.0 : note_ages[k - 1] + sample_step_s;
  }
}

double age_fade(double time_constant, double age) { return std::exp(-age / time_constant); }

const double *age_block(age_function f, double constant, int64_t b) {
  if (b < 0 || b >= static_cast<int64_t>(blocks_per_table)) return nullptr;
  age_values *t = find_or_claim(f, constant);
  if (t == nullptr) return nullptr;
  block *&entries = t->blocks[static_cast<size_t>(b)];
  if (entries == nullptr) {
    if (arena_used == arena_blocks) return nullptr;
    entries = &arena[arena_used++];
    // A whole block at once: a note that reaches it reads it for up to
    // 4096 samples, and a cache may hand it out without asking again.
    const int64_t k_first = b * block_len;
    make_note_ages(k_first + block_len);
    for (size_t j = 0; j < static_cast<size_t>(block_len); ++j) {
      (*entries)[j] = f(constant, note_ages[static_cast<size_t>(k_first) + j]);
    }
  }
  return entries->data();
}

const double *age_entries_lookup(age_block_cache &cache, size_t slot, age_function f,
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
      std::bit_cast<uint64_t>(cache.constant[slot]) != std::bit_cast<uint64_t>(constant)) {
    cache.looked_up[slot] = true;
    cache.f[slot] = f;
    cache.constant[slot] = constant;
    cache.entries[slot] = age_block(f, constant, b);
  }
  return cache.entries[slot] != nullptr ? cache.entries[slot] + (k0 - cache.first) : nullptr;
}

}  // namespace chip
