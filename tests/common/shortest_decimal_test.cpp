// The listing's numbers where the C++ library has no floating-point
// std::to_chars: the same text as std::to_chars, which this library has.
#include "common/shortest_decimal.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cstring>
#include <random>

namespace {

std::string library_text(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

TEST(ShortestDecimal, WritesWhatToCharsWrites) {
  // Song lengths (whole samples over 44100 Hz), and the edges of the two
  // notations: integers that fixed writes shorter, powers that scientific
  // writes shorter, ties, small fractions, and the extremes of a double.
  const double cases[] = {0.0,
                          -0.0,
                          42.857142857142854,
                          1.0 / 44100.0,
                          100.0,
                          1e5,
                          1234567.0,
                          1e16,
                          1e20,
                          1.5e20,
                          0.001,
                          0.0001,
                          1e-5,
                          1.25e-7,
                          123.456,
                          0.1,
                          1.0 / 3.0,
                          -2.5,
                          5e-324,
                          1.7976931348623157e308,
                          2.0e-308,
                          9007199254740993.0};
  for (const double value : cases) {
    SCOPED_TRACE(library_text(value));
    EXPECT_EQ(tunecast::shortest_decimal(value), library_text(value));
  }
}

TEST(ShortestDecimal, AgreesOnManyLengths) {
  std::mt19937_64 random(7);
  std::uniform_int_distribution<int64_t> samples(0, int64_t{44100} * 3600 * 24);
  for (int i = 0; i < 20000; ++i) {
    const double value = static_cast<double>(samples(random)) / 44100.0;
    ASSERT_EQ(tunecast::shortest_decimal(value), library_text(value)) << i;
  }
}

}  // namespace
