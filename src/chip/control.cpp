// control.cpp: the control steps of one instance (volume, the song copy and
// its swap, start and stop), shared by the handle API and the chip.h facade.
// The facade takes its lock around them; none of them takes one.
#include <cstdlib>
#include <cstring>

#include "chip/state.h"
#include "mus/header.h"

namespace tunecast::chip {

void channels_reset(channel_state &channels) {
  for (chip_channel &c : channels) c = channel_reset_value();
}

double synth_gain_for(int32_t volume) { return 1.6 * (volume / 127.0); }

double recording_gain_for(int32_t volume) { return (volume / 127.0) * 0.9; }

bool song_copy_make(const uint8_t *mus, song_copy &out) {
  // The header is trusted here: the bytes are taken to hold whatever it
  // declares, so only the signature can refuse them.
  mus_header header;
  if (!mus_header_read(mus, mus_declared_max_bytes, header)) return false;
  const auto len = static_cast<int32_t>(mus_declared_bytes(header));
  // Eight spare bytes past the copy; the sequencer never reads them.
  auto *bytes = static_cast<uint8_t *>(std::malloc(static_cast<size_t>(len) + 8));
  if (bytes == nullptr) return false;
  std::memcpy(bytes, mus, static_cast<size_t>(len));
  out = {bytes, len, header.score_start};
  return true;
}

uint8_t *song_install(module_state &m, song_copy &copy) {
  uint8_t *replaced = m.song.song;
  m.song.song = copy.bytes;
  m.song.song_len = copy.len;
  m.song.start_ofs = copy.start;
  m.flags.playing = 0;
  copy.bytes = nullptr;
  return replaced;
}

void song_restart(module_state &m, int32_t looping) {
  channels_reset(m.channels);
  m.flags.looping = looping;
  m.song.wait_samples = 0;
  m.voices = {};
  m.flags.paused = 0;
  m.drums = {};
  m.flags.playing = 1;
  m.song.pos = m.song.start_ofs;
}

int16_t *playback_start(module_state &m, recording_file &found, int32_t looping) {
  int16_t *replaced = m.recording.pcm;
  m.recording.pcm = nullptr;
  m.recording.pcm_n = 0;
  if (found.samples != nullptr) {
    pcm_install(m.recording, found);  // replaces nothing: the slot was emptied above
    m.flags.looping = looping;
    m.flags.paused = 0;
    m.flags.playing = 1;
  } else {
    song_restart(m, looping);
  }
  return replaced;
}

void synth_stop(module_state &m) {
  m.flags.playing = 0;
  m.voices = {};
  m.drums = {};
  pcm_discard(m.recording);
}

}  // namespace tunecast::chip
