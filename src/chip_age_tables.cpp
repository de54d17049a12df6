// chip_age_tables.cpp: the age tables. They are module state that never
// goes stale (each entry is a pure function of its k), filled on first use
// as far as notes have reached, and never allocated: the render path stays
// free of allocation. The entries live in blocks of 4096 taken from one
// fixed arena as a table grows, so a short drum fade holds little and the
// arena bounds them all; pages no table has reached are never touched.
#include "chip_age_tables.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>

#include "chip_state.h"

namespace chip {
namespace {

constexpr int64_t block_len = 4096;
constexpr size_t blocks_per_table = static_cast<size_t>(age_table_len / block_len);
// 3 MiB of entries, and room to name every decay, vibrato depth and drum
// fade of the timbres; a song that wants more calls for the rest.
constexpr size_t arena_blocks = 96;
constexpr size_t table_count = 32;

using block = std::array<double, block_len>;

struct age_values {
  age_function f = nullptr;
  uint64_t constant_bits = 0;
  int64_t filled = 0;
  std::array<block *, blocks_per_table> blocks{};
};

// The ages themselves: ages[k] is 0.0 with the step added k times.
std::array<double, age_table_len> ages;
int64_t ages_filled = 0;
std::array<block, arena_blocks> arena;
size_t arena_used = 0;
std::array<age_values, table_count> tables;
size_t tables_used = 0;

void fill_ages(int64_t k_end) {
  for (; ages_filled < k_end; ++ages_filled) {
    const auto k = static_cast<size_t>(ages_filled);
    ages[k] = k == 0 ? 0.0 : ages[k - 1] + sample_step_s;
  }
}

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

// Fills t up to k_end, or as far as the arena lets it grow.
void fill(age_values *t, double constant, int64_t k_end) {
  fill_ages(k_end);
  while (t->filled < k_end) {
    const auto b = static_cast<size_t>(t->filled / block_len);
    if (t->blocks[b] == nullptr) {
      if (arena_used == arena_blocks) return;
      t->blocks[b] = &arena[arena_used++];
    }
    const int64_t end = std::min(k_end, static_cast<int64_t>(b + 1) * block_len);
    for (; t->filled < end; ++t->filled) {
      (*t->blocks[b])[static_cast<size_t>(t->filled % block_len)] =
          t->f(constant, ages[static_cast<size_t>(t->filled)]);
    }
  }
}

}  // namespace

double age_fade(double time_constant, double age) { return std::exp(-age / time_constant); }

bool is_note_age(double age, int64_t k) {
  if (k < 0 || k >= age_table_len) return false;
  fill_ages(k + 1);
  return std::bit_cast<uint64_t>(ages[static_cast<size_t>(k)]) == std::bit_cast<uint64_t>(age);
}

const double *age_table(age_function f, double constant, int64_t k0, int32_t n) {
  const int64_t k_end = k0 + n;
  // The n entries must lie in one block to be handed out as one array.
  if (k0 < 0 || n < 1 || k_end > age_table_len || k0 / block_len != (k_end - 1) / block_len) {
    return nullptr;
  }
  age_values *t = find_or_claim(f, constant);
  if (t == nullptr) return nullptr;
  fill(t, constant, k_end);
  if (t->filled < k_end) return nullptr;
  return t->blocks[static_cast<size_t>(k0 / block_len)]->data() + k0 % block_len;
}

}  // namespace chip
