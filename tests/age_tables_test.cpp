// The age tables: which ages they stand for, that every entry is the
// function's own result at that age, and that they decline (so the caller
// makes the call) rather than hand out a wrong or partial run.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>

#include "chip_age_tables.h"

namespace {

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
  EXPECT_FALSE(chip::is_note_age(note_age(chip::age_table_len), chip::age_table_len));
}

TEST(AgeTables, EntriesAreTheFunctionAtEachNoteAge) {
  for (const int64_t k0 : {int64_t{0}, int64_t{4000}, int64_t{9000}, chip::age_table_len - 96}) {
    SCOPED_TRACE(k0);
    const double *fade = chip::age_table(chip::age_fade, 0.7, k0, 96);
    ASSERT_NE(fade, nullptr);
    for (int32_t i = 0; i < 96; ++i) {
      ASSERT_EQ(bits(fade[i]), bits(std::exp(-note_age(k0 + i) / 0.7))) << i;
    }
  }
  // Another constant, or another function with the same constant, is its own table.
  const double *other = chip::age_table(chip::age_fade, 0.5, 100, 1);
  const double *ratio = chip::age_table(half_age, 0.7, 100, 1);
  ASSERT_NE(other, nullptr);
  ASSERT_NE(ratio, nullptr);
  EXPECT_EQ(bits(*other), bits(std::exp(-note_age(100) / 0.5)));
  EXPECT_EQ(bits(*ratio), bits(note_age(100) / 0.7));
}

TEST(AgeTables, RunsPastTheEndOrAcrossABlockAreDeclined) {
  EXPECT_EQ(chip::age_table(chip::age_fade, 0.7, chip::age_table_len - 10, 11), nullptr);
  EXPECT_EQ(chip::age_table(chip::age_fade, 0.7, -1, 4), nullptr);
  EXPECT_EQ(chip::age_table(chip::age_fade, 0.7, 0, 0), nullptr);
  EXPECT_EQ(chip::age_table(chip::age_fade, 0.7, 4090, 7), nullptr);  // 4090..4096
  EXPECT_NE(chip::age_table(chip::age_fade, 0.7, 4090, 6), nullptr);  // 4090..4095
  EXPECT_NE(chip::age_table(chip::age_fade, 0.7, 4096, 7), nullptr);
}

// Tables are claimed for good; once their room is gone every further
// request is declined, and the ones already made keep answering.
TEST(AgeTables, FullTablesDeclineAndKeepTheirEntries) {
  const double *first = chip::age_table(chip::age_fade, 0.25, 0, 128);
  ASSERT_NE(first, nullptr);
  int granted = 1;
  bool declined = false;
  for (int c = 1; c < 1000 && !declined; ++c) {
    // Whole tables, so the arena of entries runs out before the names do.
    const double constant = 0.25 + c;
    for (int64_t k0 = 0; k0 < chip::age_table_len && !declined; k0 += 4096) {
      declined = chip::age_table(chip::age_fade, constant, k0, 4096) == nullptr;
    }
    if (!declined) ++granted;
  }
  EXPECT_TRUE(declined);
  EXPECT_LT(granted, 32);
  EXPECT_EQ(chip::age_table(chip::age_fade, 123456.0, 0, 1), nullptr);
  const double *again = chip::age_table(chip::age_fade, 0.25, 0, 128);
  EXPECT_EQ(again, first);
  EXPECT_EQ(bits(again[127]), bits(std::exp(-note_age(127) / 0.25)));
}

}  // namespace
