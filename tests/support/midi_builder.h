// midi_builder.h: builds Standard MIDI files from readable calls for the MIDI
// reader's tests: a header with format and division, then tracks of
// delta-timed events, with running status on demand, plus the raw pieces
// (unknown chunks, wrong lengths, cut-off bytes) that malformed files need.
#ifndef TUNECAST_MIDI_BUILDER_H
#define TUNECAST_MIDI_BUILDER_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fixtures.h"

namespace fixture {

// One track's events. Every event takes the delta time (MIDI ticks since the
// previous event of the track) first. Channels are 0..15.
class midi_track {
 public:
  // When on, a channel event whose status byte equals the previous one's
  // leaves it out. Applies to the events added after the call.
  midi_track &running_status(bool on);
  midi_track &note_on(uint32_t delta, int channel, int note, int velocity);
  midi_track &note_off(uint32_t delta, int channel, int note, int velocity = 64);
  midi_track &key_pressure(uint32_t delta, int channel, int note, int value);
  midi_track &controller(uint32_t delta, int channel, int number, int value);
  midi_track &program(uint32_t delta, int channel, int program);
  midi_track &channel_pressure(uint32_t delta, int channel, int value);
  midi_track &pitch_bend(uint32_t delta, int channel, int value);  // 0..16383, 8192 = centre
  midi_track &tempo(uint32_t delta, uint32_t us_per_quarter);
  midi_track &meta(uint32_t delta, int type, const bytes &data);
  midi_track &sysex(uint32_t delta, const bytes &data, uint8_t kind = 0xF0);  // kind F0 or F7
  midi_track &end(uint32_t delta = 0);  // end-of-track meta event
  // Appends bytes as they are (for malformed tracks).
  midi_track &raw(const bytes &data);
  const bytes &data() const { return data_; }

 private:
  midi_track &channel_event(uint32_t delta, int kind, int channel, const bytes &data);
  bytes data_;
  bool running_ = false;
  int last_status_ = -1;
};

class midi_builder {
 public:
  // Division in MIDI ticks per quarter note (1..32767).
  midi_builder(int format, int ticks_per_quarter);
  // SMPTE division: fps 24, 25, 29 (29.97 drop frame) or 30, ticks per frame.
  static midi_builder smpte(int format, int fps, int ticks_per_frame);
  // The header's track count, when it should differ from the MTrk chunks given.
  midi_builder &track_count(int count);
  midi_builder &track(const midi_track &track);
  // Any chunk; length, when given, is written instead of the payload's size.
  midi_builder &chunk(const std::string &id, const bytes &payload,
                      std::optional<uint32_t> length = std::nullopt);
  bytes build() const;

 private:
  struct chunk_rec {
    std::string id;
    bytes payload;
    std::optional<uint32_t> length;
  };
  int format_;
  uint16_t division_;
  std::optional<int> count_;
  std::vector<chunk_rec> chunks_;
};

}  // namespace fixture

#endif  // TUNECAST_MIDI_BUILDER_H
