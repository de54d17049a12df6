// song.cpp: a lump of the open archive made ready to render or play, with
// the tool's own checks, spans and song start, so that the module's samples
// are the tool's.
#include "web/song.h"

#include <cstdio>
#include <cstdlib>

#include "tool/messages.h"

using tunecast::music_prepare;
using tunecast::tr;

namespace {

// The module has no recordings to play in a song's place: their lookup is
// off from the start, as ZARN_SYNTH turns it off for the tool.
[[maybe_unused]] const bool recordings_off = setenv("ZARN_SYNTH", "1", 1) == 0;

}  // namespace

void web_say_no_memory() noexcept { std::fprintf(stderr, "%s\n", tr("sin memoria")); }

std::unique_ptr<web_song> web_song_prepare(wad_file *w, const char *name, const web_request &req) {
  auto song = std::make_unique<web_song>();
  song->style.volume = req.volume;
  song->style.stereo = req.stereo;
  song->looping = req.loops > 0;
  const int channels = song->style.channels();
  // The tool checks the duration before it reads anything; so does this.
  if (req.loops == 0 && !span_from_seconds({req.seconds, nullptr}, channels, song->span)) {
    return nullptr;
  }
  const wad_lump *entry = wad_get(w, name);
  const auto *data = entry != nullptr && entry->size > 0 ? entry->data : nullptr;
  if (data == nullptr) {
    std::fprintf(stderr, tr("no hay %s\n"), name);
    return nullptr;
  }
  song->lump.assign(data, data + entry->size);
  song->score = music_prepare(song->lump.data(), entry->size);
  if (!song_score_usable(name, song->score)) return nullptr;
  if (song->looping) {
    render_length length;
    length.loops = req.loops;
    length.fade_s = req.fade_s;
    int64_t pass_frames = 0;
    if (!span_from_loops(length, name, channels, song->score, song->span, pass_frames)) {
      return nullptr;
    }
  }
  return song;
}

synth_owner web_song_start(const web_song &song, const char *name) {
  synth_owner synth(tc_synth_new());
  const tc_status status = song_load(synth.get(), song.score.mus(),
                                     static_cast<size_t>(song.score.mus_size()), song.style);
  if (status != TC_OK) {
    song_refusal(name, status);
    return nullptr;
  }
  song_play(synth.get(), song.looping);  // the module has no recordings to play instead
  return synth;
}
