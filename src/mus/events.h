// events.h: the one decoder of a MUS event stream. Each call reads one event
// (its type, channel and data bytes, and the delay after its group) through
// the bounded cursor. The sequencer, the length measurement and the MIDI
// writer all read through it, so they agree on every byte.
#ifndef TUNECAST_MUS_EVENTS_H
#define TUNECAST_MUS_EVENTS_H

#include <cstdint>

#include "mus/stream.h"

namespace tunecast::mus {

struct event {
  event_type type;
  int32_t channel;      // 0 to 15; 15 is the percussion channel
  int32_t note;         // release and play: 0 to 127
  int32_t velocity;     // play, when has_velocity: 0 to 127
  bool has_velocity;    // play: bit 7 of the note byte brought a velocity byte
  int32_t controller;   // controller: the number byte, 0 to 255
  int32_t value;        // pitch bend 0 to 255 (128 centre), system byte, controller 0 to 127
  bool delay_follows;   // bit 7 of the event byte: the last event of its group
  int64_t delay_ticks;  // when delay_follows and the event is no score end
  bool cut;             // a byte of the event or of its delay lay past the end
};

// Reads the event at c.pos into e and moves past it and its delay. Returns
// false, reading nothing, when the stream has ended. Bytes past the end read
// as 0 (a missing note byte plays note 0, a missing velocity is 0) and set
// e.cut. A score end's delay is left unread: a player that stops there never
// reads it, and one that loops reads it from the bytes it rewinds to.
inline bool event_read(cursor &c, event &e) {
  if (c.at_end()) return false;
  c.cut = false;
  const int32_t byte = c.read();
  e = event{};
  e.type = static_cast<event_type>((byte >> 4) & 7);
  e.channel = byte & 0x0F;
  e.delay_follows = (byte & 0x80) != 0;
  switch (e.type) {
    case ev_release_note:
      e.note = c.read() & 0x7F;
      break;
    case ev_play_note: {
      const int32_t note = c.read();
      e.note = note & 0x7F;
      e.has_velocity = (note & 0x80) != 0;
      if (e.has_velocity) e.velocity = c.read() & 0x7F;
      break;
    }
    case ev_pitch_bend:
    case ev_system:
    case ev_unassigned:
      e.value = c.read();
      break;
    case ev_controller:
      e.controller = c.read();
      e.value = c.read() & 0x7F;
      break;
    case ev_measure_end:
      break;
    case ev_score_end:
      e.cut = c.cut;
      return true;
  }
  if (e.delay_follows) e.delay_ticks = c.ticks();
  e.cut = c.cut;
  return true;
}

}  // namespace tunecast::mus

#endif  // TUNECAST_MUS_EVENTS_H
