// chip_length.cpp: a MUS score's natural length, measured without playing
// it. The walk reads the event stream exactly as the sequencer does (same
// data bytes per event, same delay decoding, same tick-to-sample rounding and
// saturation), so the measured count is the call on which playback ends.
#include <cstdint>
#include <limits>

#include "chip.h"

namespace {

constexpr uint32_t mus_signature = 0x1A53554D;  // "MUS" 0x1A, little-endian
constexpr int32_t mus_header_bytes = 8;
constexpr int64_t count_max = std::numeric_limits<int64_t>::max();
constexpr double rate_hz = 44100.0;
constexpr double ticks_per_s = 140.0;
constexpr double count_limit = 9223372036854775808.0;  // 2^63

enum length_event : int {
  ev_release_note = 0,
  ev_play_note = 1,
  ev_pitch_bend = 2,
  ev_system = 3,
  ev_controller = 4,
  ev_measure_end = 5,
  ev_score_end = 6,
  ev_unassigned = 7,
};

struct length_cursor {
  const uint8_t *bytes;
  int32_t pos;
  int32_t end;

  // A byte past the end is not there: pos stays, as in the sequencer.
  int32_t read() { return pos < end ? bytes[pos++] : 0; }
  void skip() {
    if (pos < end) ++pos;
  }

  // The variable-length tick count, saturating like the sequencer's.
  int64_t ticks() {
    int64_t t = 0;
    for (;;) {
      t = t > count_max / 128 ? count_max : t * 128;
      if (pos >= end) return t;
      const int32_t b = read();
      const int64_t low = b & 0x7F;
      t = t > count_max - low ? count_max : t + low;
      if ((b & 0x80) == 0) return t;
    }
  }
};

// ticks * 44100.0 / 140.0 in that order, truncated: the sequencer's wait.
int64_t length_samples(int64_t ticks) {
  const double samples = static_cast<double>(ticks) * rate_hz / ticks_per_s;
  if (samples >= count_limit) return count_max;
  return static_cast<int64_t>(samples);
}

}  // namespace

extern "C" int32_t chip_song_length(const void *mus, int32_t size, double *seconds) {
  const auto *b = static_cast<const uint8_t *>(mus);
  if (b == nullptr || seconds == nullptr || size < mus_header_bytes) return 0;
  const uint32_t signature =
      uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
  if (signature != mus_signature) return 0;
  const int32_t score_len = b[4] | b[5] << 8;
  const int32_t score_start = b[6] | b[7] << 8;
  if (score_len + score_start > size) return 0;  // at most 131070: no overflow

  length_cursor c{b, score_start, score_start + score_len};
  int64_t samples = 0;
  // Every pass reads at least one byte, so the walk ends within the score.
  while (c.pos < c.end) {
    const int32_t event = c.read();
    switch ((event >> 4) & 7) {
      case ev_release_note:
      case ev_pitch_bend:
      case ev_system:
      case ev_unassigned:
        c.skip();
        break;
      case ev_play_note:
        if (c.pos < c.end && (c.read() & 0x80) != 0) c.skip();
        break;
      case ev_controller:
        c.skip();
        c.skip();
        break;
      case ev_measure_end:
        break;
      case ev_score_end:
        *seconds = static_cast<double>(samples) / rate_hz;
        return 1;
    }
    if ((event & 0x80) == 0) continue;
    const int64_t wait = length_samples(c.ticks());
    samples = samples > count_max - wait ? count_max : samples + wait;
  }
  // The stream ran out before a score end. Playback stops there too, but the
  // score has no end to loop from, so it has no natural length.
  return 0;
}
