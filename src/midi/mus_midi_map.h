// mus_midi_map.h: how MUS events and channels correspond to MIDI ones. The
// reader (midi.cpp) maps MIDI to MUS by these tables and the writer
// (mus_to_midi.cpp) maps back by the same ones, so a score that goes out as
// MIDI and comes back keeps its events.
#ifndef TUNECAST_MUS_MIDI_MAP_H
#define TUNECAST_MUS_MIDI_MAP_H

#include <array>
#include <cstdint>

namespace tunecast::mus_midi {

inline constexpr uint8_t midi_drum_channel = 9;
inline constexpr uint8_t mus_drum_channel = 15;

inline constexpr uint64_t mus_ticks_per_s = 140;
// Longer songs are refused both ways rather than written: a day of music is
// far past any real song, and it keeps every tick count and delay small
// (below 2^28, so any one delay fits a MIDI variable-length number).
inline constexpr uint64_t mus_ticks_max = mus_ticks_per_s * 24 * 60 * 60;

// MUS controllers 1..9 and their MIDI controllers. MUS controller 0 is the
// program change, a message of its own in MIDI; other MIDI controllers have
// no MUS counterpart.
struct controller_row {
  uint8_t midi, mus;
};
inline constexpr std::array<controller_row, 9> controller_map{
    {{0, 1}, {1, 2}, {7, 3}, {10, 4}, {11, 5}, {91, 6}, {93, 7}, {64, 8}, {67, 9}}};

// MIDI channel mode messages, controllers 120..127, as MUS system events.
// MUS names five of them; omni off and on imply all notes off in MIDI, so
// they take that value, and local control, which has no musical effect,
// takes 15. Going back, the first controller of a value is the one used.
inline constexpr uint8_t midi_channel_mode_first = 120;
inline constexpr std::array<uint8_t, 8> system_map{10, 14, 15, 11, 11, 11, 12, 13};

}  // namespace tunecast::mus_midi

#endif  // TUNECAST_MUS_MIDI_MAP_H
