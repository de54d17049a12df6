// The age tables: which ages they stand for, that every entry is the
// function's own result at that age, and that they decline (so the caller
// makes the call) rather than hand out a wrong or partial run.
#include "chip/age_tables.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <vector>

#include "chip/state.h"
#include "maths/maths.h"

namespace chip = tunecast::chip;

namespace {

// The module's own tables, emptied before every test with the rest of the
// state, so each test sees them as a fresh process does.
chip::age_tables &tables = chip::the_state.tables;

constexpr double step_s = 2.2675736961451248e-05;

uint64_t bits(double x) { return std::bit_cast<uint64_t>(x); }

// The age of a note's k-th sample, by the repeated addition every voice makes.
double note_age(int64_t k) {
  double age = 0.0;
  for (int64_t i = 0; i < k; ++i) age = age + step_s;
  return age;
}

double half_age(double c, double age) { return age / c; }

TEST(AgeTables, NoteAgesAreTheRepeatedSumNotTheProduct) {
  EXPECT_TRUE(chip::is_note_age(0.0, 0));
  EXPECT_TRUE(chip::is_note_age(note_age(1), 1));
  EXPECT_TRUE(chip::is_note_age(note_age(44100), 44100));
  // 44100 steps added one by one drift from 1.0; the product is not a note age.
  ASSERT_NE(bits(note_age(44100)), bits(44100 * step_s));
  EXPECT_FALSE(chip::is_note_age(44100 * step_s, 44100));
  EXPECT_FALSE(chip::is_note_age(note_age(5), 6));
  EXPECT_FALSE(chip::is_note_age(0.0, -1));
  EXPECT_FALSE(chip::is_note_age(note_age(chip::note_ages_len), chip::note_ages_len));
}

// The closed form against the additions themselves, on every sample it
// covers, one at a time and as runs that start anywhere and cross binades.
TEST(AgeTables, NoteAgesEqualTheAdditionsOnEverySample) {
  std::vector<double> added(static_cast<size_t>(chip::note_ages_len));
  double age = 0.0;
  for (double &a : added) {
    a = age;
    age = age + step_s;
  }
  int64_t wrong = 0;
  for (int64_t k = 0; k < chip::note_ages_len; ++k) {
    wrong += bits(chip::note_age(k)) != bits(added[static_cast<size_t>(k)]) ? 1 : 0;
  }
  EXPECT_EQ(wrong, 0);
  // Through the instance's store of first ages, on either side of its end.
  std::vector<double> scratch(64);
  for (const int64_t k0 : {int64_t{5}, chip::note_ages_early - 64, chip::note_ages_early - 63,
                           chip::note_ages_early - 3, chip::note_ages_early}) {
    SCOPED_TRACE(k0);
    const double *ages = chip::note_ages_run(tables, k0, 64, scratch.data());
    for (size_t i = 0; i < 64; ++i) {
      ASSERT_EQ(bits(ages[i]), bits(added[static_cast<size_t>(k0) + i])) << i;
    }
  }
  std::vector<double> run(1024);
  // Runs across the crossings at 1 s (k 44100) and 4 s, and the last one.
  for (const int64_t k0 :
       {int64_t{0}, int64_t{44000}, int64_t{176399}, int64_t{352300}, chip::note_ages_len - 1024}) {
    SCOPED_TRACE(k0);
    chip::note_ages_fill(k0, 1024, run.data());
    for (size_t i = 0; i < run.size(); ++i) {
      ASSERT_EQ(bits(run[i]), bits(added[static_cast<size_t>(k0) + i])) << i;
    }
  }
}

TEST(AgeTables, EntriesAreTheFunctionAtEachNoteAge) {
  const double *first = chip::age_block(tables, chip::age_fade, 0.7, 0);
  const double *third = chip::age_block(tables, chip::age_fade, 0.7, 2);
  const double *last = chip::age_block(tables, chip::age_fade, 0.7, chip::age_table_len / 4096 - 1);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(third, nullptr);
  ASSERT_NE(last, nullptr);
  double age = 0.0;
  for (int64_t k = 0; k < chip::age_table_len; ++k, age = age + step_s) {
    const double want = tunecast::maths::exp(-age / 0.7);
    const double *block = k < 4096                          ? first
                          : k / 4096 == 2                   ? third
                          : k >= chip::age_table_len - 4096 ? last
                                                            : nullptr;
    if (block != nullptr) {
      ASSERT_EQ(bits(block[k % 4096]), bits(want)) << k;
    }
  }
  // Another constant, or another function with the same constant, is its own table.
  const double *other = chip::age_block(tables, chip::age_fade, 0.5, 0);
  const double *ratio = chip::age_block(tables, half_age, 0.7, 0);
  ASSERT_NE(other, nullptr);
  ASSERT_NE(ratio, nullptr);
  EXPECT_EQ(bits(other[100]), bits(tunecast::maths::exp(-note_age(100) / 0.5)));
  EXPECT_EQ(bits(ratio[100]), bits(note_age(100) / 0.7));
  EXPECT_EQ(chip::age_block(tables, chip::age_fade, 0.7, 0), first);  // made once
}

TEST(AgeTables, RunsPastTheEndOrAcrossABlockAreDeclined) {
  chip::age_block_cache cache;
  const auto entries = [&cache](int64_t k0, int32_t n) {
    return chip::age_entries(tables, cache, 0, chip::age_fade, 0.7, k0, n);
  };
  EXPECT_EQ(entries(chip::age_table_len - 10, 11), nullptr);
  EXPECT_EQ(entries(-1, 4), nullptr);
  EXPECT_EQ(entries(0, 0), nullptr);
  EXPECT_EQ(entries(4090, 7), nullptr);  // 4090..4096
  const double *run = entries(4090, 6);  // 4090..4095
  ASSERT_NE(run, nullptr);
  EXPECT_EQ(run, chip::age_block(tables, chip::age_fade, 0.7, 0) + 4090);
  EXPECT_EQ(bits(entries(4096, 7)[3]), bits(tunecast::maths::exp(-note_age(4099) / 0.7)));
  // The cache follows a constant changed under it.
  EXPECT_EQ(bits(chip::age_entries(tables, cache, 0, chip::age_fade, 0.3, 4096, 7)[3]),
            bits(tunecast::maths::exp(-note_age(4099) / 0.3)));
}

// Held notes stay on the tables for 2^20 samples (23.8 s), each block made
// when a note first reaches it.
TEST(AgeTables, NotesHeldFor23SecondsAreCovered) {
  const int64_t old_end = int64_t{1} << 18;
  EXPECT_EQ(chip::age_table_len, int64_t{1} << 20);
  const double *past = chip::age_block(tables, chip::age_fade, 0.7, old_end / 4096);
  ASSERT_NE(past, nullptr);
  EXPECT_EQ(tables.arena_used, 1u);
  EXPECT_EQ(bits(past[5]), bits(tunecast::maths::exp(-note_age(old_end + 5) / 0.7)));
}

// Tables are claimed for good; once their room is gone every further
// request is declined, and the blocks already made keep answering.
TEST(AgeTables, FullTablesDeclineAndKeepTheirEntries) {
  const double *first = chip::age_block(tables, chip::age_fade, 0.25, 0);
  ASSERT_NE(first, nullptr);
  int blocks = 1;
  bool declined = false;
  for (int c = 1; c < 1000 && !declined; ++c) {
    for (int64_t b = 0; b < chip::age_table_len / 4096 && !declined; ++b) {
      declined = chip::age_block(tables, chip::age_fade, 0.25 + c, b) == nullptr;
      if (!declined) ++blocks;
    }
  }
  EXPECT_TRUE(declined);
  EXPECT_EQ(blocks * 4096 * sizeof(double), size_t{8} << 20);  // the budget docs/design.md states
  EXPECT_EQ(chip::age_block(tables, chip::age_fade, 123456.0, 0), nullptr);
  const double *again = chip::age_block(tables, chip::age_fade, 0.25, 0);
  EXPECT_EQ(again, first);
  EXPECT_EQ(bits(again[127]), bits(tunecast::maths::exp(-note_age(127) / 0.25)));
}

}  // namespace
