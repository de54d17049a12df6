// song_length.cpp: a MUS score's natural length, measured without playing
// it. The walk reads the event stream exactly as the sequencer does (same
// data bytes per event, same delay decoding, same tick-to-sample rounding and
// saturation), so the measured count is the call on which playback ends.
#include <cstdint>

#include "chip/state.h"
#include "mus/header.h"
#include "mus/stream.h"

namespace chip {

bool song_length_of(const uint8_t *b, int32_t size, double &seconds) {
  mus_header header;
  if (size < 0 || !mus_header_read(b, static_cast<size_t>(size), header)) return false;
  const int32_t score_start = header.score_start;
  mus::cursor c{b, score_start, score_start + int32_t{header.score_length}};
  int64_t samples = 0;
  // Every pass reads at least one byte, so the walk ends within the score.
  while (!c.at_end()) {
    const int32_t event = c.read();
    switch ((event >> 4) & 7) {
      case mus::ev_release_note:
      case mus::ev_pitch_bend:
      case mus::ev_system:
      case mus::ev_unassigned:
        c.skip();
        break;
      case mus::ev_play_note:
        if (!c.at_end() && (c.read() & 0x80) != 0) c.skip();
        break;
      case mus::ev_controller:
        c.skip();
        c.skip();
        break;
      case mus::ev_measure_end:
        break;
      case mus::ev_score_end:
        seconds = static_cast<double>(samples) / 44100.0;
        return true;
    }
    if ((event & 0x80) == 0) continue;
    const int64_t wait = mus::ticks_to_samples(c.ticks());
    samples = samples > mus::count_max - wait ? mus::count_max : samples + wait;
  }
  // The stream ran out before a score end. Playback stops there too, but the
  // score has no end to loop from, so it has no natural length.
  return false;
}

}  // namespace chip
