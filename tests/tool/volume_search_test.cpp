// volume_search_test.cpp: the search for the loudest volume with no clipped
// sample, called in process on model songs whose renders the test computes.
#include "tool/volume_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// A song whose voices sum at most to `sum`, under the synthesizer's master
// gain: 0.12 x 1.6 x volume / 127, clamped to full scale in double
// precision, then narrowed to float.
volume_trial model_trial(double sum, int32_t volume) {
  const double out = std::min(1.0, 0.12 * (1.6 * (volume / 127.0)) * sum);
  const auto value = static_cast<float>(out);
  return {value == 1.0f, value};
}

// The answer by brute force: the last volume before the first that clips.
int32_t last_clean(const std::vector<bool> &clips_at) {
  for (int32_t v = 0; v < 128; ++v) {
    if (clips_at[static_cast<size_t>(v)]) return std::max(v - 1, 0);
  }
  return 127;
}

TEST(VolumeSearch, FindsTheLastCleanVolumeOfEveryModelSong) {
  // The sum that just reaches full scale at volume 90, and a hair below it.
  const double at_90 = 1.0 / (0.12 * (1.6 * (90 / 127.0)));
  struct model {
    double sum;
    int max_renders;
  };
  const model models[] = {
      {0.0, 2},                             // silence: 127 at once
      {5.0, 2},                             // never clips
      {7.3, 3},                             // clips from a typical level on
      {at_90, 3},                           // exactly full scale at 90
      {std::nextafter(at_90, 0.0), 3},      // a rounding away from it
      {1e4, 2},                             // clips even at 1
      {(1.0 - 0x1p-23) / (0.12 * 1.6), 2},  // just clean at 127
  };
  for (const model &m : models) {
    SCOPED_TRACE(testing::Message() << "sum " << m.sum);
    std::vector<bool> clips_at;
    for (int32_t v = 0; v < 128; ++v) clips_at.push_back(model_trial(m.sum, v).clipped);
    std::vector<int32_t> tried;
    const auto render = [&](int32_t v, volume_trial &trial) {
      tried.push_back(v);
      trial = model_trial(m.sum, v);
      return TC_OK;
    };
    int32_t volume = -1;
    int renders = 0;
    ASSERT_EQ(volume_search(render, volume, &renders), TC_OK);
    EXPECT_EQ(volume, last_clean(clips_at));
    // Both sides of the answer were rendered, not inferred.
    EXPECT_NE(std::find(tried.begin(), tried.end(), volume), tried.end());
    const int32_t above = std::min(volume + 1, 127);
    EXPECT_NE(std::find(tried.begin(), tried.end(), above), tried.end());
    EXPECT_EQ(renders, static_cast<int>(tried.size()));
    EXPECT_LE(renders, m.max_renders);
  }
}

// A render whose loudness does not follow the volume misleads the estimate;
// the search still ends on a rendered boundary, in few renders.
TEST(VolumeSearch, AMisleadingEstimateIsCorrectedByRenders) {
  for (const int32_t first_clip : {1, 2, 40, 64, 126, 127}) {
    SCOPED_TRACE(first_clip);
    std::vector<int32_t> tried;
    const auto render = [&](int32_t v, volume_trial &trial) {
      tried.push_back(v);
      trial = {v >= first_clip, 1e-6};  // far too quiet a probe: the estimate says 127
      return TC_OK;
    };
    int32_t volume = -1;
    ASSERT_EQ(volume_search(render, volume), TC_OK);
    EXPECT_EQ(volume, first_clip - 1);
    EXPECT_NE(std::find(tried.begin(), tried.end(), first_clip - 1), tried.end());
    EXPECT_NE(std::find(tried.begin(), tried.end(), first_clip), tried.end());
    EXPECT_LE(tried.size(), 10u);
  }
  // A render that fails ends the search with its status.
  int32_t volume = -1;
  const auto no_memory = [](int32_t, volume_trial &) { return TC_OUT_OF_MEMORY; };
  EXPECT_EQ(volume_search(no_memory, volume), TC_OUT_OF_MEMORY);
}

}  // namespace
