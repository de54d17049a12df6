// chip.cpp: the synthesizer's control side. Defines the module state, the
// engine-facing I_ calls, the status query and chip_render (chip_next is one
// sample of it), which picks the source of each sample (recording, song or
// silence) and mixes it.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "chip/state.h"
#include "mus/header.h"

namespace chip {

uint8_t *song = nullptr;
int32_t song_len = 0;
int32_t start_ofs = 0;
int32_t pos = 0;
int64_t wait_samples = 0;
int32_t playing = 0;
int32_t paused = 0;
int32_t looping = 0;
std::array<chip_channel, chip_channel_count> CH{};
std::array<int32_t, chip_channel_count> lastvel{};
std::array<chip_voice, chip_voice_count> V{};
std::array<chip_drum, chip_drum_count> D{};
double gain = 0.5;
double pcm_gain = 0.8;
int16_t *pcm = nullptr;
int64_t pcm_n = 0;
int64_t pcm_pos = 0;
int32_t pcm_ch = 2;

void channels_reset() {
  for (chip_channel &c : CH) c = chip_channel{0, 100, 128};
}

namespace {

constexpr double mix_scale = 0.12;

// The master gain on each sample's sum. The two gain factors are multiplied
// first; the clamp happens in double precision and only the result in range
// is narrowed to float.
void mix(const double *sum, int32_t n, float *left, float *right) {
  const double scale = mix_scale * gain;
  for (int32_t i = 0; i < n; ++i) {
    const double out = scale * sum[i];
    float value;
    if (out > 1.0) {
      value = 1.0f;
    } else if (out < -1.0) {
      value = -1.0f;
    } else {
      value = static_cast<float>(out);
    }
    left[i] = right[i] = value;
  }
}

void silence_pools() {
  V = {};
  D = {};
}

}  // namespace
}  // namespace chip

using namespace chip;

extern "C" {

char g_music_name[16] = "";
double *pcm_gain_p = &chip::pcm_gain;

__attribute__((weak)) void snd_lock(void) {}
__attribute__((weak)) void snd_unlock(void) {}

void I_InitMusic(void) {}
void I_ShutdownMusic(void) {}

void I_SetMusicVolume(int32_t volume) {
  snd_lock();
  double v = volume / 127.0;
  gain = 1.6 * v;
  *pcm_gain_p = v * 0.9;
  snd_unlock();
}

void I_PauseSong(void) { paused = 1; }
void I_ResumeSong(void) { paused = 0; }

int32_t I_RegisterSong(const void *mus) {
  if (mus == nullptr) return 0;
  const auto *bytes = static_cast<const uint8_t *>(mus);
  // The header is trusted here: the bytes are taken to hold whatever it
  // declares, so only the signature can refuse them.
  mus_header header;
  if (!mus_header_read(bytes, mus_declared_max_bytes, header)) return 0;
  const int32_t score_start = header.score_start;
  const auto copy_len = static_cast<int32_t>(mus_declared_bytes(header));
  // Eight spare bytes past the copy; the sequencer never reads them.
  auto *copy = static_cast<uint8_t *>(std::malloc(static_cast<size_t>(copy_len) + 8));
  if (copy == nullptr) return 0;
  std::memcpy(copy, bytes, static_cast<size_t>(copy_len));

  snd_lock();
  std::free(song);
  song = copy;
  song_len = copy_len;
  start_ofs = score_start;
  playing = 0;
  snd_unlock();
  return 1;
}

void I_PlaySong(int32_t handle, int32_t looping_flag) {
  (void)handle;  // there is only one song
  if (song == nullptr) return;
  snd_lock();
  pcm_discard();
  if (std::getenv("ZARN_SYNTH") == nullptr && pcm_load(g_music_name) != 0) {
    looping = looping_flag;
    paused = 0;
    playing = 1;
    snd_unlock();
    return;
  }
  channels_reset();
  looping = looping_flag;
  wait_samples = 0;
  V = {};
  paused = 0;
  D = {};
  playing = 1;
  pos = start_ofs;
  snd_unlock();
}

void I_StopSong(void) {
  snd_lock();
  playing = 0;
  silence_pools();
  pcm_discard();
  snd_unlock();
}

void I_UnRegisterSong(void) {
  snd_lock();
  playing = 0;
  silence_pools();
  pcm_discard();
  std::free(song);
  song = nullptr;
  snd_unlock();
}

void chip_stats(int32_t *mode, int32_t *playing_out, int32_t *paused_out, double *position_s,
                double *length_s) {
  *mode = pcm != nullptr ? 1 : song != nullptr ? 2 : 0;
  *playing_out = playing;
  *paused_out = paused;
  if (pcm != nullptr) {
    *position_s = static_cast<double>(pcm_pos) / 44100.0;
    *length_s = static_cast<double>(pcm_n) / 44100.0;
  } else {
    *position_s = 0.0;
    *length_s = 0.0;
  }
}

void chip_next(float *left, float *right) { chip_render(left, right, 1); }

void chip_render(float *left, float *right, int32_t frames) {
  int32_t i = 0;
  while (i < frames) {
    if (pcm != nullptr) {
      if (playing == 0) {
        left[i] = right[i] = 0.0f;
      } else {
        recording_play_step(&left[i], &right[i]);
      }
      ++i;
      continue;
    }
    if (song == nullptr || playing == 0 || paused != 0 || seq_step()) {
      left[i] = right[i] = 0.0f;
      ++i;
      continue;
    }
    // seq_step has carried out this sample's events; the next wait_samples
    // samples only count down, so they render as one stretch.
    const int32_t n = 1 + static_cast<int32_t>(std::min<int64_t>(
                              wait_samples, std::min(frames - i, chip_stretch_max) - 1));
    wait_samples -= n - 1;
    std::array<double, chip_stretch_max> sum;
    std::fill_n(sum.begin(), n, 0.0);
    voices_render(sum.data(), n);
    drums_render(sum.data(), n);
    mix(sum.data(), n, left + i, right + i);
    i += n;
  }
}

}  // extern "C"
