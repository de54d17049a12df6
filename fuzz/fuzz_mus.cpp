// Fuzzes a MUS score through the tool's size check, registration and a
// bounded render (1 s, once without and once with looping): every output
// must lie in [-1, 1] with both channels equal, and no single sample may
// take longer than a generous bound (the sequencer must never hang).
#include <chrono>
#include <cmath>
#include <cstdlib>

#include "chip.h"
#include "music_lump.h"

namespace {

constexpr int render_frames = 44100;  // longer renders only repeat the same code
constexpr auto slowest_call = std::chrono::milliseconds(200);

void render(int32_t looping) {
  I_SetMusicVolume(127);
  I_PlaySong(0, looping);
  for (int i = 0; i < render_frames; ++i) {
    float left = NAN, right = NAN;
    const auto start = std::chrono::steady_clock::now();
    chip_next(&left, &right);
    if (std::chrono::steady_clock::now() - start > slowest_call) std::abort();
    if (!(left >= -1.0f && left <= 1.0f) || left != right) std::abort();
    if ((i & 1023) == 0) {
      int32_t mode, playing, paused;
      double position, length;
      chip_stats(&mode, &playing, &paused, &position, &length);
      if (playing == 0) break;  // ended: only silence follows
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  setenv("ZARN_SYNTH", "1", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 1 << 20) return -1;
  if (classify_lump(data, static_cast<int32_t>(size)) != lump_kind::mus) return 0;
  if (I_RegisterSong(data) != 1) std::abort();
  render(0);
  render(1);
  I_UnRegisterSong();
  return 0;
}
