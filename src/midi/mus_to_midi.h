// mus_to_midi.h: writes a MUS score out as a Standard MIDI file (format 0,
// one track) that plays what the synthesizer plays from the score, with the
// score's timing kept to the tick. Internal C++ interface of the tool.
//
// Pure function over the caller's bytes: no global state, safe to call from
// any thread. Nothing is printed; failures come back as Spanish text.
#ifndef TUNECAST_MUS_TO_MIDI_H
#define TUNECAST_MUS_TO_MIDI_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tunecast {

// Outcome of mus_to_midi.
struct midi_file_result {
  // On success a whole MIDI file: "MThd" (format 0, one track, 140 ticks per
  // quarter note), then one "MTrk" that opens with a tempo of 1000000 us per
  // quarter note, so one MIDI tick is one MUS tick (1/140 s). Empty on failure.
  bool ok = false;
  std::vector<uint8_t> midi;
  // On failure one line of Spanish without a newline, e.g.
  // "MUS cortado: la cabecera declara 300 bytes y el lump tiene 120". Empty on success.
  std::string error;
  // On failure: true when memory ran out rather than the score being bad.
  bool out_of_memory = false;
};

// Converts a MUS lump of size bytes (never read past size) into a format-0
// Standard MIDI file. The lump must hold all the bytes its header declares;
// within them the events are read as the synthesizer reads them, so a stream
// cut short converts to what plays of it. The output is at most
// 7 * size + 36 bytes. Never throws.
midi_file_result mus_to_midi(const uint8_t *data, size_t size) noexcept;

}  // namespace tunecast

#endif  // TUNECAST_MUS_TO_MIDI_H
