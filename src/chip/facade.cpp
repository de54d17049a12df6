// facade.cpp: the engine-facing interface of chip.h over one default
// instance. Only this layer keeps the engine's lock hooks, its name and gain
// globals, and the environment defaults for recordings; every step itself is
// the instance's (control.cpp, mix.cpp, recording.cpp).
#include <cstdlib>
#include <cstring>

#include "chip/state.h"
#include "mus/song_length.h"
#include "tunecast/chip.h"

namespace tunecast::chip {
namespace {

// The default instance's tables: zero at program start, in no data section.
synth_stores default_stores;

static_assert(int{CHIP_REGISTERED} == int{TC_OK} && int{CHIP_NOT_MUSIC} == int{TC_NOT_MUSIC} &&
                  int{CHIP_MUS_TRUNCATED} == int{TC_MUS_TRUNCATED} &&
                  int{CHIP_MIDI_INVALID} == int{TC_MIDI_INVALID} &&
                  int{CHIP_OUT_OF_MEMORY} == int{TC_OUT_OF_MEMORY},
              "chip_register_song passes the instance's statuses on as they are");

}  // namespace

// Built at compile time, so that no call can come before its start values.
constinit module_state the_state = state_over(&default_stores);

const char *music_dir(const recording_state &rec) {
  if (rec.music_dir_set != 0) return rec.music_dir.data();
  const char *dir = std::getenv("ZARN_MUSIC_DIR");
  return dir != nullptr ? dir : "music";
}

int32_t pcm_load(recording_state &rec, const char *name) {
  recording_file file;
  if (!pcm_read(music_dir(rec), name, file)) return 0;
  std::free(pcm_install(rec, file));
  return 1;
}

}  // namespace tunecast::chip

using namespace tunecast::chip;

extern "C" {

char g_music_name[16] = "";
double *pcm_gain_p = &the_state.recording.pcm_gain;

#ifdef TUNECAST_BUILDING_DLL
// A DLL exports no weak name, and no program can replace a DLL's own
// function by linking one: the Windows DLL's hooks do nothing, for good.
void snd_lock(void) {}
void snd_unlock(void) {}
#else
__attribute__((weak)) void snd_lock(void) {}
__attribute__((weak)) void snd_unlock(void) {}
#endif

void I_InitMusic(void) {}
void I_ShutdownMusic(void) {}

void I_SetMusicVolume(int32_t volume) {
  snd_lock();
  the_state.gain = synth_gain_for(volume);
  *pcm_gain_p = recording_gain_for(volume);
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
  song_copy copy;
  if (!song_copy_make(static_cast<const uint8_t *>(mus), copy)) return 0;
  snd_lock();
  uint8_t *replaced = song_install(the_state, copy);
  snd_unlock();
  std::free(replaced);
  return 1;
}

int32_t chip_register_song(const void *data, int32_t size) {
  song_copy copy;
  const tc_status status = song_copy_from_lump(data, size, copy);
  if (status != TC_OK) return status;
  snd_lock();
  uint8_t *replaced = song_install(the_state, copy);
  snd_unlock();
  std::free(replaced);
  return CHIP_REGISTERED;
}

void I_PlaySong(int32_t handle, int32_t looping_flag) {
  (void)handle;  // there is only one song
  module_state &m = the_state;
  if (m.song.song == nullptr) return;
  // The recording is read before the lock is taken, so that the audio side
  // never waits on a file; the lock only swaps it in. The directory and the
  // name belong to the control side, which is the one calling.
  recording_file file;
  if (std::getenv("ZARN_SYNTH") == nullptr) pcm_read(music_dir(m.recording), g_music_name, file);
  snd_lock();
  int16_t *replaced = playback_start(m, file, looping_flag);
  snd_unlock();
  std::free(replaced);  // out of the audio side's reach since the swap
}

void I_StopSong(void) {
  snd_lock();
  synth_stop(the_state);
  snd_unlock();
}

void I_UnRegisterSong(void) {
  snd_lock();
  synth_stop(the_state);
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

void chip_next(float *left, float *right) { synth_render(the_state, left, right, 1); }

void chip_render(float *left, float *right, int32_t frames) {
  synth_render(the_state, left, right, frames);
}

int32_t chip_song_length(const void *mus, int32_t size, double *seconds) {
  if (seconds == nullptr) return 0;
  return tunecast::mus::song_length(static_cast<const uint8_t *>(mus), size, *seconds) ? 1 : 0;
}

void chip_set_stereo(int32_t on) {
  snd_lock();
  the_state.stereo = on != 0 ? 1 : 0;
  snd_unlock();
}

int32_t pcm_file_path(const char *name, char *path, int32_t size) {
  char full[512];
  pcm_path(music_dir(the_state.recording), name != nullptr ? name : "", full);
  const size_t length = std::strlen(full);
  if (path != nullptr && size > 0) {
    const size_t kept = length < static_cast<size_t>(size) ? length : static_cast<size_t>(size) - 1;
    std::memcpy(path, full, kept);
    path[kept] = '\0';
  }
  return static_cast<int32_t>(length);
}

int32_t pcm_try(const char *name) {
  recording_state &rec = the_state.recording;
  pcm_discard(rec);
  if (std::getenv("ZARN_SYNTH") != nullptr) return 0;
  return pcm_load(rec, name);
}

void pcm_stop(void) { pcm_discard(the_state.recording); }

void pcm_free_all(void) { pcm_discard(the_state.recording); }

void chip_set_music_dir(const char *dir) {
  recording_state &rec = the_state.recording;
  rec.music_dir = {};
  rec.music_dir_set = dir != nullptr ? 1 : 0;
  if (dir == nullptr) return;
  // A directory longer than a path can hold is cut: every path made from it
  // would be cut to the same 511 bytes anyway.
  const size_t kept = strnlen(dir, rec.music_dir.size() - 1);
  std::memcpy(rec.music_dir.data(), dir, kept);
}

}  // extern "C"

void tunecast::chip::state_reset() {
  module_state &m = the_state;
  std::free(m.song.song);
  std::free(m.recording.pcm);
  m = state_over(&default_stores);
  std::memset(g_music_name, 0, sizeof g_music_name);
  pcm_gain_p = &m.recording.pcm_gain;
}
