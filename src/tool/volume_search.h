// volume_search.h: --volumen auto, the loudest music volume at which a song
// renders with no clipped sample. The level is found by rendering the song
// as it will be written, into nothing, and only the chosen level is written.
#ifndef TUNECAST_TOOL_VOLUME_SEARCH_H
#define TUNECAST_TOOL_VOLUME_SEARCH_H

#include <cstddef>
#include <cstdint>
#include <functional>

#include "tool/render_span.h"
#include "tool/song_start.h"
#include "tunecast/synth.h"

// What one render of a song at a volume gave.
struct volume_trial {
  bool clipped = false;  // some sample was clamped at full scale (render_stats.clipped)
  double loudest = 0.0;  // the largest magnitude the synthesizer gave, before any fade
};

// Renders the song at a volume (0 to 127) into trial; anything but TC_OK
// stops the search with that status.
using volume_trial_render = std::function<tc_status(int32_t volume, volume_trial &trial)>;

// The largest volume v from 0 to 127 at which render finds no clipped
// sample while v + 1 clips (or v is 127): the answer is always rendered at
// both, never inferred. One render at a low volume gives an estimate, since
// the volume is a gain applied to the sum of the voices just before it is
// clamped; the estimate and the level above it are then rendered, and if
// either surprises, the range left is halved until it closes. A typical
// song takes three renders; one that does not clip at 127, two. renders
// (may be null) receives how many were made. Should even 0 clip, 0.
tc_status volume_search(const volume_trial_render &render, int32_t &volume, int *renders = nullptr);

// A song as the file render will play it: its score (null for a lump that
// gave none, which plays silence), the style (stereo; its volume is the
// one searched), the span with its fade and whether it loops.
struct volume_song {
  const uint8_t *mus = nullptr;
  size_t size = 0;
  render_style style;
  render_span span;
  bool looping = false;
};

// Renders the song at volume on an instance of its own, started as the
// file render starts it, and measures it; writes nothing and says nothing.
tc_status volume_trial_of(const volume_song &song, int32_t volume, volume_trial &trial);

// volume_search over renders of song.
tc_status volume_find(const volume_song &song, int32_t &volume, int *renders = nullptr);

#endif  // TUNECAST_TOOL_VOLUME_SEARCH_H
