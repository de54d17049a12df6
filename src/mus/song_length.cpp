// song_length.cpp: a MUS score's natural length, measured without playing
// it. The walk reads the event stream through the sequencer's decoder and
// converts delays with its tick-to-sample rounding and saturation, so the
// measured count is the call on which playback ends.
#include "mus/song_length.h"

#include "mus/events.h"
#include "mus/header.h"

namespace tunecast::mus {

bool song_length(const uint8_t *b, int32_t size, double &seconds) {
  mus_header header;
  if (size < 0 || !mus_header_read(b, static_cast<size_t>(size), header)) return false;
  const int32_t score_start = header.score_start;
  cursor c{b, score_start, score_start + int32_t{header.score_length}};
  int64_t samples = 0;
  event e;
  // Every event read moves the cursor on, so the walk ends within the score.
  while (event_read(c, e)) {
    if (e.type == ev_score_end) {
      seconds = static_cast<double>(samples) / 44100.0;
      return true;
    }
    if (!e.delay_follows) continue;
    const int64_t wait = ticks_to_samples(e.delay_ticks);
    samples = samples > count_max - wait ? count_max : samples + wait;
  }
  // The stream ran out before a score end. Playback stops there too, but the
  // score has no end to loop from, so it has no natural length.
  return false;
}

}  // namespace tunecast::mus
