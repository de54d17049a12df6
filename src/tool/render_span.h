// render_span.h: how long a song renders (a fixed duration, or whole passes
// of the song and a fade) and how a pulled block of synthesizer output
// becomes 16-bit samples, with the peak and the clipping count. The file
// render and the live player share both, so the player hands the device
// exactly the samples the file would hold.
#ifndef TUNECAST_TOOL_RENDER_SPAN_H
#define TUNECAST_TOOL_RENDER_SPAN_H

#include <cstdint>

#include "midi/music_lump.h"
#include "tunecast/synth.h"

// A duration from the command line, already read as a number of seconds.
struct render_seconds {
  double value = 60.0;         // seconds, 0 or more; 60 when none was given
  const char *text = nullptr;  // as typed, for messages; null when none was given
};

// How long to render.
struct render_length {
  render_seconds seconds;  // used when loops is 0
  int64_t loops = 0;       // > 0: that many passes of the song instead
  double fade_s = 0.0;     // with loops: seconds more, fading to silence
  const char *fade_text = nullptr;
};

// Frames to render, the last fade_frames of them fading out, and the
// seconds the closing line shows.
struct render_span {
  int64_t frames = 2646000;  // 60 s
  int64_t fade_frames = 0;
  double seconds = 60.0;
  int64_t fade_from() const { return frames - fade_frames; }
};

struct render_stats {
  double peak = 0.0;
  int64_t clipped = 0;      // frames whose output was clamped to full scale
  int64_t first_clip = -1;  // the first of them
};

// seconds x 44100, truncated toward zero. Prints the Spanish refusal and
// returns false when the count does not fit a WAV of `channels` channels.
bool span_from_seconds(const render_seconds &seconds, int channels, render_span &span);

// One pass of a score that lasts pass_s seconds, in frames. False when
// the pass alone does not fit a WAV of `channels` channels.
bool span_pass_frames(double pass_s, int channels, int64_t &frames);

// Prints the refusal of length.loops passes of pass_s seconds (and the
// fade) as too long ("duración demasiado larga: ..."); returns false.
bool span_refuse_too_long(const render_length &length, double pass_s);

// `loops` whole passes of the score, then the fade. The pass is measured on
// the score that will play; pass_frames receives it. Prints the refusal
// (naming lump_name) and returns false when the score has no end, lasts
// 0 s, or the total does not fit a WAV of `channels` channels.
bool span_from_loops(const render_length &length, const char *lump_name, int channels,
                     const tunecast::music_score &score, render_span &span, int64_t &pass_frames);

// The same for the song loaded in an instance of the file render, measured
// there; a null song stands for a lump that gave no score.
bool span_from_song_loops(const render_length &length, const char *lump_name, int channels,
                          const tc_synth *song, render_span &span, int64_t &pass_frames);

// Where a song rendered in passes (span, of passes pass_frames long, from
// span_from_song_loops) repeats: from frame start on, each frame equals the
// one length frames later, up to the fade. Usually the first pass is like
// every other and start is 0; it is not when a note there plays at its
// channel's remembered velocity before the score gave one (the synthesizer
// keeps velocities across the loop), or when the score end's delay flag has
// the loop read a delay from the score's first bytes (the later passes
// then last their own length): the repeat starts with the second pass.
// False when the span holds no whole repeat before its fade, or the score
// does not come round again.
bool span_loop(const tunecast::music_score &score, const render_span &span, int64_t pass_frames,
               int64_t &start, int64_t &length);

// Converts the frames [start, start + count) of the span, pulled into
// `pulled` as an instance gives them (interleaved in stereo), to samples at
// out, interleaved alike. Over the fade the gain falls by 1/fade_frames per
// frame, from just under 1 to exactly 0 on the last frame. Adds to the peak
// and the clipping count.
void span_convert(const float *pulled, int channels, int32_t count, int64_t start,
                  const render_span &span, int16_t *out, render_stats &st);

#endif  // TUNECAST_TOOL_RENDER_SPAN_H
