// chip_age_tables.cpp: the age tables. They are module state that never
// goes stale (each entry is a pure function of its k), filled on first use
// as far as notes have reached, and never allocated: the render path stays
// free of allocation. Pages of a table no note has reached are never
// touched.
#include "chip_age_tables.h"

#include <array>
#include <bit>
#include <cstddef>

#include "chip_state.h"

namespace chip {
namespace {

// Twelve tables of 256 KiB: enough for the decays and vibrato depths of the
// timbre table; a song that wants more calls for the rest.
constexpr size_t table_count = 12;

struct age_values {
  age_function f = nullptr;
  uint64_t constant_bits = 0;
  int64_t filled = 0;
  std::array<double, age_table_len> values;
};

// The ages themselves: ages[k] is 0.0 with the step added k times.
std::array<double, age_table_len> ages;
int64_t ages_filled = 0;
std::array<age_values, table_count> tables;
size_t tables_used = 0;

void fill_ages(int64_t k_end) {
  for (; ages_filled < k_end; ++ages_filled) {
    const auto k = static_cast<size_t>(ages_filled);
    ages[k] = k == 0 ? 0.0 : ages[k - 1] + sample_step_s;
  }
}

}  // namespace

bool is_note_age(double age, int64_t k) {
  if (k < 0 || k >= age_table_len) return false;
  fill_ages(k + 1);
  return std::bit_cast<uint64_t>(ages[static_cast<size_t>(k)]) == std::bit_cast<uint64_t>(age);
}

const double *age_table(age_function f, double constant, int64_t k_end) {
  if (k_end < 0 || k_end > age_table_len) return nullptr;
  const uint64_t bits = std::bit_cast<uint64_t>(constant);
  age_values *t = nullptr;
  for (size_t i = 0; i < tables_used && t == nullptr; ++i) {
    if (tables[i].f == f && tables[i].constant_bits == bits) t = &tables[i];
  }
  if (t == nullptr) {
    if (tables_used == table_count) return nullptr;
    t = &tables[tables_used++];
    t->f = f;
    t->constant_bits = bits;
    t->filled = 0;
  }
  if (t->filled < k_end) {
    fill_ages(k_end);
    for (; t->filled < k_end; ++t->filled) {
      const auto k = static_cast<size_t>(t->filled);
      t->values[k] = f(constant, ages[k]);
    }
  }
  return t->values.data();
}

}  // namespace chip
