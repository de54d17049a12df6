// chip.cpp: the synthesizer's control side. Defines the module state, the
// engine-facing I_ calls, the status query and chip_render (chip_next is one
// sample of it), which picks the source of each sample (recording, song or
// silence) and mixes it.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "chip/state.h"
#include "mus/header.h"

namespace chip {

// Built at compile time, so that no call can come before its start values.
constinit module_state the_state{};

void channels_reset(channel_state &channels) {
  for (chip_channel &c : channels) c = channel_reset_value();
}

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
      gains[static_cast<size_t>(p)] = {sqrt_2 * std::cos(theta), sqrt_2 * std::sin(theta)};
    }
  }
};
const pan_table pan_by_value;

// The master gain on each sample's sum. The two gain factors are multiplied
// first; the clamp happens in double precision and only the result in range
// is narrowed to float.
float mix_one(double scale, double sum) {
  const double out = scale * sum;
  if (out > 1.0) return 1.0f;
  if (out < -1.0) return -1.0f;
  return static_cast<float>(out);
}

void mix(double gain, const double *sum, int32_t n, float *left, float *right) {
  const double scale = mix_scale * gain;
  for (int32_t i = 0; i < n; ++i) left[i] = right[i] = mix_one(scale, sum[i]);
}

// Each side clamped on its own.
void mix_stereo(double gain, const double *sum_left, const double *sum_right, int32_t n,
                float *left, float *right) {
  const double scale = mix_scale * gain;
  for (int32_t i = 0; i < n; ++i) {
    left[i] = mix_one(scale, sum_left[i]);
    right[i] = mix_one(scale, sum_right[i]);
  }
}

void silence_pools(module_state &m) {
  m.voices = {};
  m.drums = {};
}

}  // namespace

pan_gains pan_gains_for(int32_t pan) { return pan_by_value.gains[static_cast<size_t>(pan & 0x7F)]; }

}  // namespace chip

using namespace chip;

extern "C" {

char g_music_name[16] = "";
double *pcm_gain_p = &chip::the_state.recording.pcm_gain;

__attribute__((weak)) void snd_lock(void) {}
__attribute__((weak)) void snd_unlock(void) {}

void I_InitMusic(void) {}
void I_ShutdownMusic(void) {}

void I_SetMusicVolume(int32_t volume) {
  snd_lock();
  double v = volume / 127.0;
  the_state.gain = 1.6 * v;
  *pcm_gain_p = v * 0.9;
  snd_unlock();
}

void I_PauseSong(void) {
  snd_lock();
  the_state.flags.paused = 1;
  snd_unlock();
}

void I_ResumeSong(void) {
  snd_lock();
  the_state.flags.paused = 0;
  snd_unlock();
}

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

  song_state &song = the_state.song;
  snd_lock();
  std::free(song.song);
  song.song = copy;
  song.song_len = copy_len;
  song.start_ofs = score_start;
  the_state.flags.playing = 0;
  snd_unlock();
  return 1;
}

void I_PlaySong(int32_t handle, int32_t looping_flag) {
  (void)handle;  // there is only one song
  module_state &m = the_state;
  if (m.song.song == nullptr) return;
  // The recording is read before the lock is taken, so that the audio side
  // never waits on a file; the lock only swaps it in. The directory and the
  // name belong to the control side, which is the one calling.
  recording_file file;
  const bool found = std::getenv("ZARN_SYNTH") == nullptr &&
                     pcm_read(music_dir(m.recording), g_music_name, file);
  snd_lock();
  int16_t *replaced = m.recording.pcm;
  m.recording.pcm = nullptr;
  m.recording.pcm_n = 0;
  if (found) {
    pcm_install(m.recording, file);
    m.flags.looping = looping_flag;
    m.flags.paused = 0;
    m.flags.playing = 1;
  } else {
    channels_reset(m.channels);
    m.flags.looping = looping_flag;
    m.song.wait_samples = 0;
    m.voices = {};
    m.flags.paused = 0;
    m.drums = {};
    m.flags.playing = 1;
    m.song.pos = m.song.start_ofs;
  }
  snd_unlock();
  std::free(replaced);  // out of the audio side's reach since the swap
}

void I_StopSong(void) {
  snd_lock();
  the_state.flags.playing = 0;
  silence_pools(the_state);
  pcm_discard(the_state.recording);
  snd_unlock();
}

void I_UnRegisterSong(void) {
  snd_lock();
  the_state.flags.playing = 0;
  silence_pools(the_state);
  pcm_discard(the_state.recording);
  std::free(the_state.song.song);
  the_state.song.song = nullptr;
  snd_unlock();
}

void chip_stats(int32_t *mode, int32_t *playing_out, int32_t *paused_out, double *position_s,
                double *length_s) {
  const module_state &m = the_state;
  const recording_state &rec = m.recording;
  *mode = rec.pcm != nullptr ? 1 : m.song.song != nullptr ? 2 : 0;
  *playing_out = m.flags.playing;
  *paused_out = m.flags.paused;
  if (rec.pcm != nullptr) {
    *position_s = static_cast<double>(rec.pcm_pos) / 44100.0;
    *length_s = static_cast<double>(rec.pcm_n) / 44100.0;
  } else {
    *position_s = 0.0;
    *length_s = 0.0;
  }
}

int32_t chip_sounding_voices(void) {
  return voices_sounding(the_state.voices) + drums_sounding(the_state.drums);
}

void chip_next(float *left, float *right) { chip_render(left, right, 1); }

void chip_set_stereo(int32_t on) {
  snd_lock();
  the_state.stereo = on != 0 ? 1 : 0;
  snd_unlock();
}

void chip_render(float *left, float *right, int32_t frames) {
  module_state &m = the_state;
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
      voices_render(m.voices, m.channels, m.tables, m.hexagon, {sum.data()}, n);
      drums_render(m.drums, m.tables, m.drum_tables, sum.data(), n);
      mix(m.gain, sum.data(), n, left + i, right + i);
    } else {
      std::array<double, chip_stretch_max> sum_right;
      std::fill_n(sum_right.begin(), n, 0.0);
      const mix_sums sums{sum.data(), sum_right.data()};
      voices_render(m.voices, m.channels, m.tables, m.hexagon, sums, n);
      drums_render_stereo(m.drums, m.tables, m.drum_tables,
                          pan_gains_for(m.channels[chip_percussion_channel].pan), sums, n);
      mix_stereo(m.gain, sum.data(), sum_right.data(), n, left + i, right + i);
    }
    i += n;
  }
}

}  // extern "C"

void chip::state_reset() {
  module_state &m = the_state;
  std::free(m.song.song);
  std::free(m.recording.pcm);
  m = module_state{};
  std::memset(g_music_name, 0, sizeof g_music_name);
  pcm_gain_p = &m.recording.pcm_gain;
}
