// player.cpp: a song pulled a block at a time for the page's audio, the
// same samples as its WAV render from any frame on. A seek starts the song
// again and renders forward to the frame, as the tool's player does: the
// synthesizer cannot be wound back.
#include <emscripten/emscripten.h>

#include <algorithm>
#include <array>
#include <vector>

#include "web/song.h"

namespace {

constexpr int32_t block_frames = 1024;  // frames pulled from the instance at a time
// The most one pull gives: a few seconds, so a page asking for more cannot
// make the module hold a whole song.
constexpr int32_t max_pull_frames = 1 << 18;

}  // namespace

struct web_player {
  std::unique_ptr<web_song> song;
  std::string name;
  synth_owner synth;
  int64_t position = 0;
  std::array<float, 2 * block_frames> pulled;
  std::vector<int16_t> samples;  // the last pull, interleaved in stereo
};

namespace {

// Pulls count frames (at most block_frames) from the position on into out.
void pull_block(web_player &p, int32_t count, int16_t *out) {
  render_stats stats;
  tc_synth_render_f32(p.synth.get(), p.pulled.data(), static_cast<size_t>(count));
  span_convert(p.pulled.data(), p.song->style.channels(), count, p.position, p.song->span, out,
               stats);
  p.position += count;
}

}  // namespace

extern "C" {

// A player of the lump called name from w, with the options of
// tc_web_render (WAV only). Null after saying why.
EMSCRIPTEN_KEEPALIVE web_player *tc_web_player_new(wad_file *w, const char *name, double seconds,
                                                   int32_t loops, double fade_s, int32_t volume,
                                                   int32_t stereo) {
  return web_guard<web_player *>(nullptr, [&]() -> web_player * {
    auto p = std::make_unique<web_player>();
    p->name = name;
    p->song = web_song_prepare(w, name, web_request{seconds, loops, fade_s, volume, stereo != 0});
    if (p->song == nullptr) return nullptr;
    p->synth = web_song_start(*p->song, name);
    if (p->synth == nullptr) return nullptr;
    return p.release();
  });
}

EMSCRIPTEN_KEEPALIVE void tc_web_player_free(web_player *p) { delete p; }

EMSCRIPTEN_KEEPALIVE double tc_web_player_frames(const web_player *p) {
  return static_cast<double>(p->song->span.frames);
}
EMSCRIPTEN_KEEPALIVE double tc_web_player_position(const web_player *p) {
  return static_cast<double>(p->position);
}
EMSCRIPTEN_KEEPALIVE int32_t tc_web_player_channels(const web_player *p) {
  return p->song->style.channels();
}

// Renders up to frames frames from the position on (fewer at the end,
// none past it): their samples are at tc_web_player_samples. Returns the
// count, or -1 after saying why (memory).
EMSCRIPTEN_KEEPALIVE int32_t tc_web_player_pull(web_player *p, int32_t frames) {
  return web_guard<int32_t>(-1, [&] {
    const int64_t left = p->song->span.frames - p->position;
    const auto count = static_cast<int32_t>(
        std::clamp<int64_t>(std::min<int64_t>(frames, left), 0, max_pull_frames));
    const int channels = p->song->style.channels();
    p->samples.resize(static_cast<size_t>(count) * static_cast<size_t>(channels));
    for (int32_t done = 0; done < count;) {
      const int32_t n = std::min(block_frames, count - done);
      pull_block(*p, n, p->samples.data() + static_cast<ptrdiff_t>(done) * channels);
      done += n;
    }
    return count;
  });
}

EMSCRIPTEN_KEEPALIVE const int16_t *tc_web_player_samples(const web_player *p) {
  return p->samples.data();
}

// Moves to frame (clamped to the song): the next pull starts there. 1, or
// 0 after saying why (the synthesizer refused the song again: memory).
EMSCRIPTEN_KEEPALIVE int32_t tc_web_player_seek(web_player *p, double frame) {
  return web_guard<int32_t>(0, [&] {
    const int64_t target =
        frame > 0 ? std::min(static_cast<int64_t>(std::min(frame, 9e15)), p->song->span.frames) : 0;
    synth_owner fresh = web_song_start(*p->song, p->name.c_str());
    if (fresh == nullptr) return 0;
    p->synth = std::move(fresh);
    for (int64_t at = 0; at < target;) {
      const auto n = static_cast<size_t>(std::min<int64_t>(block_frames, target - at));
      tc_synth_render_f32(p->synth.get(), p->pulled.data(), n);
      at += static_cast<int64_t>(n);
    }
    p->position = target;
    return 1;
  });
}

// The music volume (0 to 127) from the next pull on, and for every restart.
EMSCRIPTEN_KEEPALIVE void tc_web_player_set_volume(web_player *p, int32_t volume) {
  p->song->style.volume = volume;
  tc_synth_set_volume(p->synth.get(), volume);
}
}
