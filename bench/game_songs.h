// game_songs.h: a set of songs built like game music, generated in code from
// a few styles (action, ambient, march, ballad, boss) and a seeded random
// generator of our own, so every build makes the same bytes. Between them
// they use all 128 programs, and they hold what makes a render slow: 10 to
// 16 voices at once with drums, leads held with vibrato past 6 s, pads held
// 8 to 20 s, parts moving over 30 and more pitches, bends and pan spread.
#ifndef TUNECAST_BENCH_GAME_SONGS_H
#define TUNECAST_BENCH_GAME_SONGS_H

#include <string>
#include <vector>

#include "bench_scores.h"

namespace bench {

constexpr int game_song_count = 24;

// Song index (0 to game_song_count - 1, else std::out_of_range), 20 s to
// 4 min long. Its name is its number and style, e.g. "gs02_ambient".
score game_song(int index);
// The MUS lump name the set's WAD gives song index, e.g. "D_GS05".
std::string game_song_lump(int index);

std::vector<score> game_songs();

}  // namespace bench

#endif  // TUNECAST_BENCH_GAME_SONGS_H
