// render_span_test.cpp: the conversion of pulled blocks to 16-bit samples,
// with the peak and the clipping count, called in process.
#include "tool/render_span.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

// Blocks of every length up to a few turns of eight values, mono and stereo,
// of values across the range with some that truncation and rounding would
// part; the loudest value and a full-scale one move through every place.
TEST(SpanConvert, BlocksBeforeTheFadeGivePeakClipsAndTruncatedSamples) {
  std::mt19937 pick(20261208);
  std::uniform_real_distribution<float> any(-0.9f, 0.9f);
  const float awkward[] = {-0.0f,
                           0.0f,
                           12345.999f / 32000.0f,
                           -0.5f / 32000.0f,
                           std::nextafter(1.0f, 0.0f),
                           -std::nextafter(1.0f, 0.0f)};
  for (const int channels : {1, 2}) {
    for (int32_t count = 0; count <= 21; ++count) {
      for (const bool clips : {false, true}) {
        SCOPED_TRACE(testing::Message() << channels << " channels, " << count << " frames, "
                                        << (clips ? "clipping" : "not clipping"));
        const auto values = static_cast<size_t>(count * channels);
        std::vector<float> pulled(values);
        for (size_t i = 0; i < values; ++i) pulled[i] = i % 5 == 2 ? awkward[i % 6] : any(pick);
        if (values > 0) pulled[(static_cast<size_t>(count) * 7) % values] = -0.95f;
        int64_t want_clipped = 0, want_first = -1;
        if (clips && values > 0) {
          const size_t at = (static_cast<size_t>(count) * 3) % values;
          pulled[at] = at % 2 == 0 ? 1.0f : -1.0f;
          want_clipped = 1;
          want_first = 1000 + static_cast<int64_t>(at) / channels;
        }
        float want_peak = 0.0f;
        for (const float x : pulled) want_peak = std::fmax(want_peak, std::fabs(x));

        std::vector<int16_t> out(values + 1, 0x5555);
        render_stats st;
        span_convert(pulled.data(), channels, count, 1000, render_span{}, out.data(), st);
        for (size_t i = 0; i < values; ++i) {
          EXPECT_EQ(out[i], static_cast<int16_t>(std::trunc(pulled[i] * 32000.0f))) << i;
        }
        EXPECT_EQ(out[values], 0x5555);  // nothing past the block
        EXPECT_EQ(st.peak, static_cast<double>(want_peak));
        EXPECT_EQ(st.clipped, want_clipped);
        EXPECT_EQ(st.first_clip, want_first);
      }
    }
  }
}

}  // namespace
