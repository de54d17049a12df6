// mix.cpp: an instance's render: picks the source of each sample
// (recording, song or silence), runs the voices and drums over each stretch
// between two events and mixes them through the pan law and the master gain.
#include <algorithm>
#include <array>
#if defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#include "chip/state.h"
#include "maths/maths.h"

namespace tunecast::chip {

namespace {

constexpr double mix_scale = 0.12;

// Pan gains by value. Away from the centre the angle runs from 0 (value 0,
// all left) to pi/2 (value 127, all right), each side scaled to its own
// number of steps; the centre is exactly 1.0 so that a song that never pans
// gives each channel the mono sum bit for bit.
struct pan_table {
  std::array<pan_gains, 128> gains;
  pan_table() {
    constexpr double quarter_pi = 0.7853981633974483;
    constexpr double sqrt_2 = 1.4142135623730951;
    for (int32_t p = 0; p < 128; ++p) {
      if (p == 64) {
        gains[64] = {1.0, 1.0};
        continue;
      }
      const double x = p < 64 ? (p - 64) / 64.0 : (p - 64) / 63.0;
      const double theta = (x + 1.0) * quarter_pi;
      gains[static_cast<size_t>(p)] = {sqrt_2 * maths::cos(theta), sqrt_2 * maths::sin(theta)};
    }
  }
};
const pan_table pan_by_value;

// The master gain on one sample's sum. The two gain factors are multiplied
// first; the clamp happens in double precision and only the result in range
// is narrowed to float. A NaN fails both comparisons and passes as it is.
float mix_one(double scale, double sum) {
  const double out = scale * sum;
  if (out > 1.0) return 1.0f;
  if (out < -1.0) return -1.0f;
  return static_cast<float>(out);
}

void mix(double gain, const double *sum, int32_t n, float *left, float *right) {
  mix_block(mix_scale * gain, sum, n, left);
  std::copy_n(left, n, right);
}

// Each side clamped on its own.
void mix_stereo(double gain, const double *sum_left, const double *sum_right, int32_t n,
                float *left, float *right) {
  const double scale = mix_scale * gain;
  mix_block(scale, sum_left, n, left);
  mix_block(scale, sum_right, n, right);
}

}  // namespace

void mix_block(double scale, const double *sum, int32_t n, float *out) {
  int32_t i = 0;
#if defined(__x86_64__) || defined(_M_X64)
  // Four samples a turn, two per register. min(1.0, x) is 1.0 < x ? 1.0 : x
  // and max(-1.0, x) is -1.0 > x ? -1.0 : x: with the bound first, a NaN x
  // is the operand returned, as mix_one lets it through.
  const __m128d scale2 = _mm_set1_pd(scale);
  const __m128d top = _mm_set1_pd(1.0);
  const __m128d bottom = _mm_set1_pd(-1.0);
  for (; i + 4 <= n; i += 4) {
    const __m128d low = _mm_mul_pd(scale2, _mm_loadu_pd(sum + i));
    const __m128d high = _mm_mul_pd(scale2, _mm_loadu_pd(sum + i + 2));
    const __m128 low_f = _mm_cvtpd_ps(_mm_max_pd(bottom, _mm_min_pd(top, low)));
    const __m128 high_f = _mm_cvtpd_ps(_mm_max_pd(bottom, _mm_min_pd(top, high)));
    _mm_storeu_ps(out + i, _mm_movelh_ps(low_f, high_f));
  }
#endif
  for (; i < n; ++i) out[i] = mix_one(scale, sum[i]);
}

pan_gains pan_gains_for(int32_t pan) { return pan_by_value.gains[static_cast<size_t>(pan & 0x7F)]; }

void mix_sums_part(mix_sums &sums, int32_t n) {
  if (sums.apart) return;
  std::copy_n(sums.left, n, sums.right);
  sums.apart = true;
}

void synth_render(module_state &m, float *left, float *right, int32_t frames) {
  int32_t i = 0;
  while (i < frames) {
    if (m.recording.pcm != nullptr) {
      if (m.flags.playing == 0) {
        left[i] = right[i] = 0.0f;
      } else {
        recording_play_step(m.recording, m.flags, &left[i], &right[i]);
      }
      ++i;
      continue;
    }
    if (m.song.song == nullptr || m.flags.playing == 0 || m.flags.paused != 0 ||
        seq_step(m.song, m.flags, m.channels, m.voices, m.drums)) {
      left[i] = right[i] = 0.0f;
      ++i;
      continue;
    }
    // seq_step has carried out this sample's events; the next wait_samples
    // samples only count down, so they render as one stretch.
    const int32_t n = 1 + static_cast<int32_t>(std::min<int64_t>(
                              m.song.wait_samples, std::min(frames - i, chip_stretch_max) - 1));
    m.song.wait_samples -= n - 1;
    std::array<double, chip_stretch_max> sum;
    std::fill_n(sum.begin(), n, 0.0);
    if (m.stereo == 0) {
      mix_sums sums{sum.data()};
      voices_render(m.voices, m.channels, m.tables, m.hexagon, sums, n);
      drums_render(m.drums, m.tables, m.drum_tables, sum.data(), n);
      mix(m.gain, sum.data(), n, left + i, right + i);
    } else {
      // The right sum is written only once a source sits off the centre;
      // until then both sides are the one sum, mixed once.
      std::array<double, chip_stretch_max> sum_right;
      mix_sums sums{sum.data(), sum_right.data()};
      voices_render(m.voices, m.channels, m.tables, m.hexagon, sums, n);
      drums_render_stereo(m.drums, m.tables, m.drum_tables,
                          pan_gains_for(m.channels[chip_percussion_channel].pan), sums, n);
      if (sums.apart) {
        mix_stereo(m.gain, sum.data(), sum_right.data(), n, left + i, right + i);
      } else {
        mix(m.gain, sum.data(), n, left + i, right + i);
      }
    }
    i += n;
  }
}

}  // namespace tunecast::chip
