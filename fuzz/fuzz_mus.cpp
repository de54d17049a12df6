// Fuzzes a MUS score through the tool's size check, registration and a
// bounded render (1 s, without looping, with looping, and in stereo). Each
// render is made twice, one chip_next call per sample and in chip_render
// blocks of uneven sizes, and the two must agree bit for bit on both sides;
// every output must lie in [-1, 1], with both channels equal in mono, and
// no single call may take longer than a generous bound (the sequencer must
// never hang).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

#include "midi/music_lump.h"
#include "tunecast/chip.h"

using tunecast::classify_lump;
using tunecast::lump_kind;

namespace {

constexpr int32_t render_frames = 44100;  // longer renders only repeat the same code
constexpr auto slowest_call = std::chrono::milliseconds(200);

template <typename Pull>
void timed(Pull pull) {
  const auto start = std::chrono::steady_clock::now();
  pull();
  if (std::chrono::steady_clock::now() - start > slowest_call) std::abort();
}

// A channel's last velocity outlives its song, and a note without one
// reuses it: both passes start from the same ones, set by a song of
// sixteen note-ons that ends at once.
std::vector<uint8_t> priming_song() {
  std::vector<uint8_t> mus = {'M', 'U', 'S', 0x1A, 48, 0, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  for (uint8_t ch = 0; ch < 16; ++ch)
    mus.insert(mus.end(), {static_cast<uint8_t>(0x10 | ch), 0x80 | 60, 77});
  return mus;
}

void play_from_known_velocities(const uint8_t *data, int32_t looping) {
  static const std::vector<uint8_t> priming = priming_song();
  if (I_RegisterSong(priming.data()) != 1) std::abort();
  I_PlaySong(0, 0);
  float left, right;
  chip_next(&left, &right);
  if (I_RegisterSong(data) != 1) std::abort();
  I_SetMusicVolume(127);
  I_PlaySong(0, looping);
}

void render(const uint8_t *data, int32_t looping, int32_t stereo) {
  static std::vector<float> one(render_frames), block(render_frames), right(render_frames),
      one_right(render_frames);
  chip_set_stereo(stereo);
  play_from_known_velocities(data, looping);
  int32_t frames = render_frames;
  for (int32_t i = 0; i < frames; ++i) {
    timed([&] { chip_next(&one[static_cast<size_t>(i)], &right[static_cast<size_t>(i)]); });
    const float left = one[static_cast<size_t>(i)];
    const float other = right[static_cast<size_t>(i)];
    if (!(left >= -1.0f && left <= 1.0f) || !(other >= -1.0f && other <= 1.0f)) std::abort();
    if (stereo == 0 && left != other) std::abort();
    if ((i & 1023) == 0) {
      int32_t mode, playing, paused;
      double position, length;
      chip_stats(&mode, &playing, &paused, &position, &length);
      if (playing == 0) frames = i + 1;  // ended: only silence follows
    }
  }
  one_right = right;
  play_from_known_velocities(data, looping);
  constexpr int32_t sizes[] = {1, 127, 128, 129, 700, 3, 4096};
  size_t k = 0;
  for (int32_t i = 0; i < frames;) {
    const int32_t n = std::min(sizes[k++ % std::size(sizes)], frames - i);
    timed([&] { chip_render(&block[static_cast<size_t>(i)], &right[static_cast<size_t>(i)], n); });
    i += n;
  }
  const size_t bytes = static_cast<size_t>(frames) * sizeof(float);
  if (std::memcmp(one.data(), block.data(), bytes) != 0) std::abort();
  if (std::memcmp(one_right.data(), right.data(), bytes) != 0) std::abort();
  chip_set_stereo(0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  setenv("ZARN_SYNTH", "1", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 1 << 20) return -1;
  if (classify_lump(data, static_cast<int32_t>(size)) != lump_kind::mus) return 0;
  render(data, 0, 0);
  render(data, 1, 0);
  render(data, 0, 1);
  I_UnRegisterSong();
  return 0;
}
