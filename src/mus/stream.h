// stream.h: the pieces of a MUS event stream: the event types, bounded byte
// reads, the variable-length delay and its conversion to samples. Events are
// decoded in mus/events.h; the MIDI converter writes the same event types.
#ifndef TUNECAST_MUS_STREAM_H
#define TUNECAST_MUS_STREAM_H

#include <cstdint>
#include <limits>

namespace tunecast::mus {

enum event_type : int32_t {
  ev_release_note = 0,
  ev_play_note = 1,
  ev_pitch_bend = 2,
  ev_system = 3,
  ev_controller = 4,
  ev_measure_end = 5,
  ev_score_end = 6,
  ev_unassigned = 7,
};

inline constexpr int32_t ctrl_instrument = 0;
inline constexpr int32_t ctrl_volume = 3;
inline constexpr int32_t ctrl_pan = 4;
inline constexpr int64_t count_max = std::numeric_limits<int64_t>::max();

// The bytes [pos, end) of a score. A byte past the end reads as 0, leaves
// pos where it is and sets cut.
struct cursor {
  const uint8_t *bytes;
  int32_t pos;
  int32_t end;
  bool cut = false;

  int32_t read() {
    if (pos < end) return bytes[pos++];
    cut = true;
    return 0;
  }
  bool at_end() const { return pos >= end; }

  // The variable-length tick count, 7 bits per byte, most significant
  // first. The count is multiplied by 128 before each byte, so a cut-off
  // delay counts as though a final 0 followed. It saturates instead of
  // overflowing.
  int64_t ticks() {
    int64_t t = 0;
    for (;;) {
      t = t > count_max / 128 ? count_max : t * 128;
      if (at_end()) {
        cut = true;
        return t;
      }
      const int32_t b = read();
      const int64_t low = b & 0x7F;
      t = t > count_max - low ? count_max : t + low;
      if ((b & 0x80) == 0) return t;
    }
  }
};

// ticks * 44100.0 / 140.0 in that order, truncated toward zero; a count
// from 2^63 up saturates (the conversion would be undefined).
inline int64_t ticks_to_samples(int64_t ticks) {
  const double samples = static_cast<double>(ticks) * 44100.0 / 140.0;
  if (samples >= 9223372036854775808.0) return count_max;
  return static_cast<int64_t>(samples);
}

}  // namespace tunecast::mus

#endif  // TUNECAST_MUS_STREAM_H
