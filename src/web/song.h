// song.h: one lump of an open archive made ready for the module to render
// or play: read, prepared as a score, its span settled, and started on an
// instance exactly as the tool starts a song. Every refusal is said on
// standard error, which the module's JavaScript turns into the thrown
// Error's message.
#ifndef TUNECAST_WEB_SONG_H
#define TUNECAST_WEB_SONG_H

#include <cstdint>
#include <memory>
#include <vector>

#include "midi/music_lump.h"
#include "tool/render_span.h"
#include "tool/song_start.h"
#include "tunecast/synth.h"
#include "tunecast/wad.h"

// What JavaScript asks for, already checked there for type and range.
struct web_request {
  double seconds = 60.0;  // used when loops is 0
  int32_t loops = 0;      // > 0: that many passes, then fade_s seconds of fade
  double fade_s = 0.0;
  int32_t volume = 100;  // 0 to 127
  bool stereo = false;
};

struct synth_deleter {
  void operator()(tc_synth *s) const { tc_synth_free(s); }
};
using synth_owner = std::unique_ptr<tc_synth, synth_deleter>;

// A lump ready to play. Not moved once prepared: the score borrows lump.
struct web_song {
  std::vector<uint8_t> lump;
  tunecast::music_score score;
  render_span span;
  render_style style;
  bool looping = false;
  web_song() = default;
  web_song(const web_song &) = delete;
  web_song &operator=(const web_song &) = delete;
};

// Reads the lump called name from w and settles its score and span as the
// tool's render does. Null after saying why ("no hay NAME", a truncated
// score, a duration too long, ...).
std::unique_ptr<web_song> web_song_prepare(wad_file *w, const char *name, const web_request &req);

// A new instance playing song from its first frame, as the tool's render
// and player start it; null after saying why.
synth_owner web_song_start(const web_song &song, const char *name);

// Says "sin memoria" on standard error.
void web_say_no_memory() noexcept;

// Runs body, which returns a result; a C++ exception never reaches
// JavaScript. The glue throws none of its own, and the libraries' only
// fault that throws is memory (std::bad_alloc, a vector's length), so any
// exception is said as memory running out, and `failed` is returned.
template <typename Result, typename Body>
Result web_guard(Result failed, Body body) noexcept {
  try {
    return body();
  } catch (...) {
    web_say_no_memory();
  }
  return failed;
}

#endif  // TUNECAST_WEB_SONG_H
