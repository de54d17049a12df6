// song_length.cpp: a MUS score's natural length, measured without playing
// it. The walk reads the event stream exactly as the sequencer does (same
// data bytes per event, same delay decoding, same tick-to-sample rounding and
// saturation), so the measured count is the call on which playback ends.
#include <cstdint>

#include "tunecast/chip.h"
#include "mus/stream.h"

namespace {

constexpr uint32_t mus_signature = 0x1A53554D;  // "MUS" 0x1A, little-endian
constexpr int32_t mus_header_bytes = 8;

}  // namespace

extern "C" int32_t chip_song_length(const void *data, int32_t size, double *seconds) {
  const auto *b = static_cast<const uint8_t *>(data);
  if (b == nullptr || seconds == nullptr || size < mus_header_bytes) return 0;
  const uint32_t signature =
      uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
  if (signature != mus_signature) return 0;
  const int32_t score_len = b[4] | b[5] << 8;
  const int32_t score_start = b[6] | b[7] << 8;
  if (score_len + score_start > size) return 0;  // at most 131070: no overflow

  mus::cursor c{b, score_start, score_start + score_len};
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
        *seconds = static_cast<double>(samples) / 44100.0;
        return 1;
    }
    if ((event & 0x80) == 0) continue;
    const int64_t wait = mus::ticks_to_samples(c.ticks());
    samples = samples > mus::count_max - wait ? mus::count_max : samples + wait;
  }
  // The stream ran out before a score end. Playback stops there too, but the
  // score has no end to loop from, so it has no natural length.
  return 0;
}
