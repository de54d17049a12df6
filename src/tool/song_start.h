// song_start.h: how every song of the tool starts on its own synthesizer
// instance, whether a file render, a batch worker or the live player pulls
// it, so that the three hand out the same frames.
#ifndef TUNECAST_TOOL_SONG_START_H
#define TUNECAST_TOOL_SONG_START_H

#include <cstddef>
#include <cstdint>

#include "midi/music_lump.h"
#include "tunecast/synth.h"

// How loud, and how much the tool says while it works.
struct render_style {
  int32_t volume = 100;  // 0 to 127, the synthesizer's music volume
  bool quiet = false;    // no closing line: errors and warnings only
  bool stereo = false;   // two channels placed by the song's pan
  // A file render finds volume for each song: the loudest with no clipped
  // sample (volume_find).
  bool volume_auto = false;
  int channels() const { return stereo ? 2 : 1; }
};

// Loads the score (mus, size bytes; null for a lump that gave none, which
// then plays silence) into synth with the style's volume and channels, and
// recordings looked for where ZARN_SYNTH and ZARN_MUSIC_DIR say. The
// synthesizer's status: anything but TC_OK is a refusal (song_refusal).
tc_status song_load(tc_synth *synth, const uint8_t *mus, size_t size, const render_style &style);

// Says on standard error why the synthesizer refused the lump's score.
void song_refusal(const char *lump_name, tc_status status);

// Prints why a prepared lump cannot be played (a truncated MUS score, a
// MIDI file that does not convert) and returns false; true when it can.
bool song_score_usable(const char *lump_name, const tunecast::music_score &score);

// Plays the loaded song from its first frame, looping as the file render of
// passes sets it. Returns whether a recording plays in its place.
bool song_play(tc_synth *synth, bool looping);

// A recording plays instead of the song: says so on standard error (naming
// lump_name unless it is null), since a stray file would otherwise silently
// replace every song.
void song_warn_recording(const char *lump_name);

#endif  // TUNECAST_TOOL_SONG_START_H
