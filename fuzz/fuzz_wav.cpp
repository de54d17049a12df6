// Fuzzes the recording loader and its playback: the input is written as
// the recording of a music name, a song is started so that the recording
// replaces it, and a bounded number of frames is pulled, looping.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tunecast/chip.h"
#include "fuzz_support.h"

namespace {

// "MUS" 0x1A, score length 2, score start 8: one measure end and a delay.
const uint8_t tiny_song[] = {'M', 'U', 'S', 0x1A, 2, 0, 8, 0, 0xD0, 0x7F};
constexpr int frames_to_pull = 20000;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  setenv("ZARN_MUSIC_DIR", fuzz::scratch_dir().c_str(), 1);
  unsetenv("ZARN_SYNTH");
  std::strcpy(g_music_name, "fuzz");
  if (I_RegisterSong(tiny_song) != 1) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::write_input(fuzz::scratch_dir() + "/D_FUZZ.wav", data, size);
  I_PlaySong(0, 1);
  int32_t mode, playing, paused;
  double position, length;
  chip_stats(&mode, &playing, &paused, &position, &length);
  for (int i = 0; i < frames_to_pull; ++i) {
    float left, right;
    chip_next(&left, &right);
    // Recording samples are at most 32768/32768 times the gain (0.8).
    if (!(std::fabs(left) <= 0.8f && std::fabs(right) <= 0.8f)) std::abort();
  }
  I_StopSong();
  // pcm_try loads the same file without the song's help.
  pcm_try("FUZZ");
  pcm_free_all();
  return 0;
}
