// midi.h: reads a Standard MIDI file (format 0 or 1) and converts it into a
// MUS score in memory, so that a MIDI music lump plays through the same
// synthesizer as a MUS one. Internal C++ interface of the tool.
//
// Pure functions over the caller's bytes: no global state, safe to call from
// any thread. Nothing is printed; failures come back as Spanish text.
#ifndef TUNECAST_MIDI_H
#define TUNECAST_MIDI_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tunecast {

// Outcome of midi_to_mus.
struct midi_result {
  bool ok = false;
  // On success a whole MUS file: "MUS\x1A", score length, score start 16,
  // eight zero header bytes, then the event stream (at most 65535 bytes).
  // Ready for I_RegisterSong. Empty on failure.
  std::vector<uint8_t> mus;
  // On failure one line of Spanish without a newline, e.g.
  // "MIDI dañado: evento cortado al final de la pista (byte 57)". Empty on success.
  std::string error;
  // On failure: true when memory ran out rather than the file being bad.
  bool out_of_memory = false;
};

// True when data starts with the "MThd" chunk signature (size >= 4).
bool midi_is_file(const uint8_t *data, size_t size) noexcept;

// Converts the size bytes at data (read only, never past size). Memory used is
// bounded whatever size is: at most 65534 events are kept (notes and other
// score events, tempo changes and track ends alike), and a file that holds
// more is refused. Never throws.
midi_result midi_to_mus(const uint8_t *data, size_t size) noexcept;

}  // namespace tunecast

#endif  // TUNECAST_MIDI_H
