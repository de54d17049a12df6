// synth_songs.h: a second song for the instance tests, unlike the demo in
// every table it fills (hexagon leads, a decaying triangle, a vibrato saw,
// toms, crash and ride), so that two instances sharing a table would show.
#ifndef TUNECAST_TESTS_SYNTH_SONGS_H
#define TUNECAST_TESTS_SYNTH_SONGS_H

#include "fixtures.h"

inline fixture::bytes other_song() {
  fixture::mus_builder b;
  b.instrument(0, 100).instrument(1, 12).instrument(2, 40).instrument(3, 104);
  for (int bar = 0; bar < 12; ++bar) {
    b.note_on(0, 60 + bar % 5, 100).note_on(1, 48 + bar % 3, 90).note_on(2, 67, 80);
    b.note_on(15, 41 + 2 * (bar % 5), 110).delay(35);
    b.note_on(15, bar % 2 == 0 ? 49 : 51, 100).note_on(3, 72, 70).delay(35);
    b.note_off(0, 60 + bar % 5).note_off(3, 72).delay(35);
    b.note_off(1, 48 + bar % 3).note_off(2, 67).delay(35);
  }
  return b.score_end().build();
}

#endif  // TUNECAST_TESTS_SYNTH_SONGS_H
