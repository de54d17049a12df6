// demo_song.h: the bundled demo song, an original piece for the
// synthesizer's chip voices and drums, as MUS data, as a Standard MIDI file
// of the same events, and as a WAD archive holding the MUS data under the
// lump name D_DEMO.
#ifndef TUNECAST_DEMO_SONG_H
#define TUNECAST_DEMO_SONG_H

#include <cstdint>
#include <vector>

namespace demo {

// 140 beats per minute at 140 MUS ticks per second: a sixteenth note is
// 15 ticks and a bar of four beats 240 ticks.
inline constexpr int ticks_per_step = 15;
inline constexpr int steps_per_bar = 16;
inline constexpr int ticks_per_bar = ticks_per_step * steps_per_bar;
inline constexpr int bars = 25;
// Notes sound from the first tick; the last bar fades out, and the score
// ends when it is over (about 42.9 s in).
inline constexpr int score_end_tick = bars * ticks_per_bar;

using bytes = std::vector<uint8_t>;

bytes song_mus();
bytes song_midi();  // format 0, one MIDI tick per MUS tick
bytes song_wad();

}  // namespace demo

#endif  // TUNECAST_DEMO_SONG_H
