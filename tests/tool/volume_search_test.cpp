// volume_search_test.cpp: the search for the loudest volume with no clipped
// sample, called in process on model songs whose renders the test computes.
#include "tool/volume_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// A song whose voices sum at most to `sum` under the synthesizer's master
// gain, 0.12 x 1.6 x volume / 127, clamped in double and narrowed to float;
// or, with sum < 0, one whose loudness misleads: it clips from -sum on, yet
// its quiet render is far too soft.
volume_trial model_trial(double sum, int32_t volume) {
  if (sum < 0) return {volume >= -sum, 1e-6};
  const auto value = static_cast<float>(std::min(1.0, 0.12 * (1.6 * (volume / 127.0)) * sum));
  return {value == 1.0f, value};
}

TEST(VolumeSearch, EndsOnARenderedBoundaryInFewRenders) {
  const double at_90 = 1.0 / (0.12 * (1.6 * (90 / 127.0)));  // full scale exactly at 90
  const struct {
    double sum;
    int max_renders;
  } models[] = {
      {0.0, 2},
      {5.0, 2},
      {7.3, 3},
      {at_90, 3},
      {std::nextafter(at_90, 0.0), 3},
      {1e4, 2},                             // clips even at 1
      {(1.0 - 0x1p-23) / (0.12 * 1.6), 2},  // just clean at 127
      {-1, 10},
      {-40, 10},
      {-126, 10},
      {-127, 10},
  };
  for (const auto &m : models) {
    SCOPED_TRACE(testing::Message() << "sum " << m.sum);
    int32_t expected = 127;  // by brute force: the last volume before the first that clips
    for (int32_t v = 0; v < 128; ++v) {
      if (model_trial(m.sum, v).clipped) {
        expected = std::max(v - 1, 0);
        break;
      }
    }
    std::vector<int32_t> tried;
    const auto render = [&](int32_t v, volume_trial &trial) {
      tried.push_back(v);
      trial = model_trial(m.sum, v);
      return TC_OK;
    };
    int32_t volume = -1;
    int renders = 0;
    ASSERT_EQ(volume_search(render, volume, &renders), TC_OK);
    EXPECT_EQ(volume, expected);
    // Both sides of the answer were rendered, not inferred.
    EXPECT_NE(std::find(tried.begin(), tried.end(), volume), tried.end());
    EXPECT_NE(std::find(tried.begin(), tried.end(), std::min(volume + 1, 127)), tried.end());
    EXPECT_EQ(renders, static_cast<int>(tried.size()));
    EXPECT_LE(renders, m.max_renders);
  }
  int32_t volume = -1;
  const auto no_memory = [](int32_t, volume_trial &) { return TC_OUT_OF_MEMORY; };
  EXPECT_EQ(volume_search(no_memory, volume), TC_OUT_OF_MEMORY);
}

}  // namespace
