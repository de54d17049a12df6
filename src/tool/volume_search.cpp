// volume_search.cpp: the search for the loudest clean volume, and the
// renders into nothing it is made of.
#include "tool/volume_search.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

namespace {

constexpr int32_t volume_max = 127;
// The first render: so quiet that no song clips there, while its loudest
// value keeps a float's full precision, which is all the estimate needs.
constexpr int32_t probe_volume = 1;
// As the file render pulls them, so that the trials are its frames exactly.
constexpr int32_t trial_block_frames = 1024;

// The synthesizer clamps volume x (the voices' sum) to full scale, so the
// loudest value grows in proportion to the volume until it clips: the
// largest volume that keeps it below full scale. Rounding may put the
// answer one level off, which the renders that follow settle.
int32_t volume_estimate(const volume_trial &probe) {
  if (probe.clipped) return 0;
  if (!(probe.loudest > 0.0)) return volume_max;  // silence is silence at any volume
  const double full_scale_at = probe_volume / probe.loudest;
  if (full_scale_at > volume_max + 1) return volume_max;
  return static_cast<int32_t>(std::ceil(full_scale_at)) - 1;
}

}  // namespace

tc_status volume_search(const volume_trial_render &render, int32_t &volume, int *renders) {
  int32_t clean = -1;              // the loudest volume rendered without clipping
  int32_t clips = volume_max + 1;  // the quietest volume rendered with clipping; 128: none yet
  int made = 0;
  const auto try_at = [&](int32_t v, volume_trial &trial) {
    ++made;
    const tc_status status = render(v, trial);
    if (status == TC_OK) (trial.clipped ? clips : clean) = v;
    return status;
  };
  volume_trial probe;
  tc_status status = try_at(probe_volume, probe);
  int32_t next = volume_estimate(probe);
  // The estimate, then its neighbour on the side the answer lies; a third
  // render means the estimate was off, and halving the range takes over.
  // Every level tried lies strictly between the two known, so it closes.
  for (int tried = 0; status == TC_OK && clips - clean > 1; ++tried) {
    if (tried >= 2 || next <= clean || next >= clips) next = clean + (clips - clean) / 2;
    volume_trial trial;
    status = try_at(next, trial);
    next = trial.clipped ? next - 1 : next + 1;
  }
  if (renders != nullptr) *renders = made;
  volume = std::max(clean, 0);
  return status;
}

tc_status volume_trial_of(const volume_song &song, int32_t volume, volume_trial &trial) {
  const std::unique_ptr<tc_synth, decltype(&tc_synth_free)> synth(tc_synth_new(), &tc_synth_free);
  render_style style = song.style;
  style.volume = volume;
  if (const tc_status status = song_load(synth.get(), song.mus, song.size, style);
      status != TC_OK) {
    return status;
  }
  song_play(synth.get(), song.looping);
  const int channels = style.channels();
  std::array<float, 2 * trial_block_frames> pulled;
  // Made and dropped: what counts as clipped is the file render's own count.
  std::array<int16_t, 2 * trial_block_frames> samples;
  render_stats st;
  float loudest = 0.0f;
  for (int64_t start = 0; start < song.span.frames; start += trial_block_frames) {
    const auto count =
        static_cast<int32_t>(std::min<int64_t>(trial_block_frames, song.span.frames - start));
    tc_synth_render_f32(synth.get(), pulled.data(), static_cast<size_t>(count));
    span_convert(pulled.data(), channels, count, start, song.span, samples.data(), st);
    const auto values = static_cast<size_t>(count * channels);
    for (size_t i = 0; i < values; ++i) loudest = std::max(loudest, std::fabs(pulled[i]));
  }
  trial.clipped = st.clipped > 0;
  trial.loudest = loudest;
  return TC_OK;
}

tc_status volume_find(const volume_song &song, int32_t &volume, int *renders) {
  return volume_search(
      [&song](int32_t v, volume_trial &trial) { return volume_trial_of(song, v, trial); }, volume,
      renders);
}
