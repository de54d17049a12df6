// synth.cpp: the handle API of synth.h. Each tc_synth is an instance with
// tables of its own, so instances share nothing they write; the steps are
// the ones the chip.h facade runs on its default instance, without its lock
// hooks, globals or environment.
#include "tunecast/synth.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "chip/state.h"
#include "mus/song_length.h"
#include "tunecast/version.h"

struct tc_synth : tunecast::chip::module_state {
  tunecast::chip::synth_stores *stores = nullptr;  // calloc'd, so untouched pages cost nothing
  uint64_t position = 0;                           // frames rendered since play or seek
  int32_t started = 0;                             // 1 from play or seek until stop
  std::array<char, 16> music_name{};               // for recordings, when music_name_set
  int32_t music_name_set = 0;                      // 0: no name given, never look
};

namespace {

using namespace tunecast::chip;

// Frames rendered in one pass through the instance: the stack buffers'
// size. Any split gives the same samples.
constexpr size_t render_chunk_frames = 1024;

int channels_of(const tc_synth &s) { return s.stereo != 0 ? 2 : 1; }

// x 32000, not 32767, formed in single precision and truncated: the sample
// the tool writes to its WAV files for the same value.
int16_t sample_s16(float value) { return static_cast<int16_t>(value * 32000.0f); }

template <typename Sample, typename Convert>
size_t render_interleaved(tc_synth *s, Sample *out, size_t frames, Convert convert) {
  if (s == nullptr || out == nullptr) return 0;
  const int channels = channels_of(*s);
  std::array<float, render_chunk_frames> left, right;
  for (size_t done = 0; done < frames;) {
    const size_t n = std::min(frames - done, render_chunk_frames);
    synth_render(*s, left.data(), right.data(), static_cast<int32_t>(n));
    Sample *at = out + done * static_cast<size_t>(channels);
    for (size_t i = 0; i < n; ++i) {
      if (channels == 1) {
        at[i] = convert(left[i]);
      } else {
        at[2 * i] = convert(left[i]);
        at[2 * i + 1] = convert(right[i]);
      }
    }
    done += n;
  }
  // No time passes for a held or stopped song.
  if (s->started != 0 && s->flags.paused == 0) s->position += frames;
  return frames;
}

void start(tc_synth &s, int32_t looping) {
  // The recording for the instance's music name, none when no directory or
  // name was set; read before anything changes.
  recording_file file;
  if (s.recording.music_dir_set != 0 && s.music_name_set != 0) {
    pcm_read(s.recording.music_dir.data(), s.music_name.data(), file);
  }
  std::free(playback_start(s, file, looping));
  s.position = 0;
  s.started = 1;
}

}  // namespace

extern "C" {

const char *tc_status_text(tc_status status) {
  switch (status) {
    case TC_OK:
      return "success";
    case TC_NOT_MUSIC:
      return "not a MUS score or a Standard MIDI file";
    case TC_MUS_TRUNCATED:
      return "the MUS score is shorter than its header declares";
    case TC_MIDI_INVALID:
      return "the MIDI file does not convert to a score";
    case TC_OUT_OF_MEMORY:
      return "out of memory";
    case TC_NULL_HANDLE:
      return "null synthesizer handle";
    case TC_TOO_LARGE:
      return "the data is larger than 2 GiB";
  }
  return "unknown status";
}

const char *tc_version(void) { return TUNECAST_VERSION_STRING; }

tc_synth *tc_synth_new(void) {
  auto *stores = static_cast<synth_stores *>(std::calloc(1, sizeof(synth_stores)));
  if (stores == nullptr) return nullptr;
  auto *s = new (std::nothrow) tc_synth{};
  if (s == nullptr) {
    std::free(stores);
    return nullptr;
  }
  static_cast<module_state &>(*s) = state_over(stores);
  s->stores = stores;
  s->gain = synth_gain_for(100);
  s->recording.pcm_gain = recording_gain_for(100);
  return s;
}

void tc_synth_free(tc_synth *s) {
  if (s == nullptr) return;
  std::free(s->song.song);
  std::free(s->recording.pcm);
  std::free(s->stores);
  delete s;
}

tc_status tc_synth_load(tc_synth *s, const void *data, size_t size) {
  if (s == nullptr) return TC_NULL_HANDLE;
  if (size > INT32_MAX) return TC_TOO_LARGE;
  song_copy copy;
  const tc_status status = song_copy_from_lump(data, static_cast<int32_t>(size), copy);
  if (status != TC_OK) return status;
  std::free(song_install(*s, copy));
  synth_stop(*s);
  s->started = 0;
  s->position = 0;
  return TC_OK;
}

void tc_synth_play(tc_synth *s, int looping) {
  if (s == nullptr || s->song.song == nullptr) return;
  start(*s, looping);
}

void tc_synth_stop(tc_synth *s) {
  if (s == nullptr) return;
  synth_stop(*s);
  s->started = 0;
}

void tc_synth_pause(tc_synth *s) {
  if (s != nullptr) s->flags.paused = 1;
}

void tc_synth_resume(tc_synth *s) {
  if (s != nullptr) s->flags.paused = 0;
}

void tc_synth_set_volume(tc_synth *s, int volume) {
  if (s == nullptr) return;
  const int32_t v = std::clamp(volume, 0, 127);
  s->gain = synth_gain_for(v);
  s->recording.pcm_gain = recording_gain_for(v);
}

void tc_synth_set_stereo(tc_synth *s, int on) {
  if (s != nullptr) s->stereo = on != 0 ? 1 : 0;
}

size_t tc_synth_render_f32(tc_synth *s, float *out, size_t frames) {
  return render_interleaved(s, out, frames, [](float v) { return v; });
}

size_t tc_synth_render_s16(tc_synth *s, int16_t *out, size_t frames) {
  return render_interleaved(s, out, frames, sample_s16);
}

int tc_synth_seek(tc_synth *s, uint64_t frame) {
  if (s == nullptr || s->song.song == nullptr) return 0;
  const int32_t paused = s->flags.paused;
  start(*s, s->flags.looping);
  std::array<float, render_chunk_frames> left, right;
  for (uint64_t done = 0; done < frame;) {
    const auto n = static_cast<int32_t>(std::min<uint64_t>(frame - done, render_chunk_frames));
    synth_render(*s, left.data(), right.data(), n);
    done += static_cast<uint64_t>(n);
  }
  s->position = frame;
  s->flags.paused = paused;
  return 1;
}

uint64_t tc_synth_tell(const tc_synth *s) { return s != nullptr ? s->position : 0; }

double tc_synth_length(const tc_synth *s) {
  if (s == nullptr || s->song.song == nullptr) return -1.0;
  double seconds = 0.0;
  if (tunecast::mus::song_length(s->song.song, s->song.song_len, seconds)) return seconds;
  return -1.0;
}

tc_status tc_synth_set_music_dir(tc_synth *s, const char *dir) {
  if (s == nullptr) return TC_NULL_HANDLE;
  recording_state &rec = s->recording;
  rec.music_dir = {};
  rec.music_dir_set = dir != nullptr ? 1 : 0;
  if (dir != nullptr)
    std::memcpy(rec.music_dir.data(), dir, strnlen(dir, rec.music_dir.size() - 1));
  return TC_OK;
}

tc_status tc_synth_set_music_name(tc_synth *s, const char *name) {
  if (s == nullptr) return TC_NULL_HANDLE;
  s->music_name = {};
  s->music_name_set = name != nullptr ? 1 : 0;
  if (name != nullptr) {
    std::memcpy(s->music_name.data(), name, strnlen(name, s->music_name.size() - 1));
  }
  return TC_OK;
}

int tc_synth_playing_recording(const tc_synth *s) {
  return s != nullptr && s->recording.pcm != nullptr ? 1 : 0;
}

}  // extern "C"
