// song_start.cpp: the one way the tool loads and starts a song.
#include "tool/song_start.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/console_text.h"
#include "tool/messages.h"

using tunecast::tr;

namespace {

// Where the tool's recordings are looked for: nowhere when ZARN_SYNTH is
// set, even empty; else ZARN_MUSIC_DIR, "music" when unset. Null: nowhere.
const char *recording_dir() {
  if (std::getenv("ZARN_SYNTH") != nullptr) return nullptr;
  const char *dir = std::getenv("ZARN_MUSIC_DIR");
  return dir != nullptr ? dir : "music";
}

}  // namespace

tc_status song_load(tc_synth *synth, const uint8_t *mus, size_t size, const render_style &style) {
  if (synth == nullptr) return TC_OUT_OF_MEMORY;
  if (mus != nullptr) {
    if (const tc_status status = tc_synth_load(synth, mus, size); status != TC_OK) return status;
  }
  tc_synth_set_volume(synth, style.volume);
  tc_synth_set_stereo(synth, style.stereo ? 1 : 0);
  tc_synth_set_music_dir(synth, recording_dir());
  // The tool never names its music: the name is the empty one.
  tc_synth_set_music_name(synth, "");
  return TC_OK;
}

void song_refusal(const char *lump_name, tc_status status) {
  std::fprintf(stderr, "lump %s: %s\n", lump_name,
               status == TC_OUT_OF_MEMORY ? tr("sin memoria para registrarlo")
                                          : tr("el sintetizador no lo acepta"));
}

bool song_score_usable(const char *lump_name, const tunecast::music_score &score) {
  if (score.kind == tunecast::lump_kind::truncated_mus) {
    std::fprintf(stderr, tr("lump %s truncado\n"), lump_name);
    return false;
  }
  if (!score.error.empty()) {
    std::fprintf(stderr, "lump %s: %s\n", lump_name, score.error.c_str());
    return false;
  }
  return true;
}

bool song_play(tc_synth *synth, bool looping) {
  tc_synth_play(synth, looping ? 1 : 0);
  return tc_synth_playing_recording(synth) != 0;
}

void song_warn_recording(const char *lump_name) {
  // The path as the instance opens it, cut to the 511 bytes it can hold.
  constexpr size_t path_max_bytes = 511;
  const char *dir = recording_dir();
  const std::string path =
      (std::string(dir != nullptr ? dir : "") + "/D_.wav").substr(0, path_max_bytes);
  const std::string who = lump_name != nullptr ? std::string(lump_name) + ": " : std::string();
  std::fprintf(stderr,
               tr("aviso: %ssuena la grabación %s en lugar del sintetizador (ZARN_SYNTH=1 "
                  "para sintetizar)\n"),
               who.c_str(), tunecast::console_escape(path).c_str());
}
