// render.cpp: a lump rendered into memory, the same bytes the tool writes
// for the same options: a WAV (its header, then the samples the span
// converts), or the score as a Standard MIDI file.
#include <emscripten/emscripten.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "midi/mus_to_midi.h"
#include "tool/messages.h"
#include "tool/wav_out.h"
#include "web/song.h"

using tunecast::music_prepare;
using tunecast::tr;

namespace {

constexpr int32_t block_frames = 1024;  // frames pulled from the instance at a time

// The last file rendered, until JavaScript has copied it out.
std::vector<uint8_t> output;

bool render_wav(wad_file *w, const char *name, const web_request &req) {
  const auto song = web_song_prepare(w, name, req);
  if (song == nullptr) return false;
  const synth_owner synth = web_song_start(*song, name);
  if (synth == nullptr) return false;
  const int channels = song->style.channels();
  const auto header = wav_header(static_cast<uint32_t>(song->span.frames), channels);
  // WebAssembly is little-endian, as the file: the samples are copied as they are.
  const auto sample_bytes =
      static_cast<size_t>(song->span.frames) * 2 * static_cast<size_t>(channels);
  output.assign(header.begin(), header.end());
  output.resize(header.size() + sample_bytes);
  std::array<float, 2 * block_frames> pulled;
  std::array<int16_t, 2 * block_frames> samples;
  render_stats stats;
  uint8_t *at = output.data() + header.size();
  for (int64_t start = 0; start < song->span.frames; start += block_frames) {
    const auto count =
        static_cast<int32_t>(std::min<int64_t>(block_frames, song->span.frames - start));
    tc_synth_render_f32(synth.get(), pulled.data(), static_cast<size_t>(count));
    span_convert(pulled.data(), channels, count, start, song->span, samples.data(), stats);
    const auto bytes = static_cast<size_t>(count) * 2 * static_cast<size_t>(channels);
    std::memcpy(at, samples.data(), bytes);
    at += bytes;
  }
  return true;
}

// As the tool's --formato mid: the whole score, whatever the length asked.
bool render_midi(wad_file *w, const char *name) {
  const auto song = web_song_prepare(w, name, web_request{});
  if (song == nullptr) return false;
  if (song->score.mus() == nullptr) {
    std::fprintf(stderr, tr("lump %s: no es MUS ni MIDI, no hay partitura que escribir\n"), name);
    return false;
  }
  tunecast::midi_file_result midi =
      tunecast::mus_to_midi(song->score.mus(), static_cast<size_t>(song->score.mus_size()));
  if (!midi.ok) {
    std::fprintf(stderr, "lump %s: %s\n", name,
                 midi.out_of_memory ? tr("sin memoria") : midi.error.c_str());
    return false;
  }
  output = std::move(midi.midi);
  return true;
}

}  // namespace

extern "C" {

// Renders the lump called name from w: as MIDI when midi is 1, else as WAV
// for seconds (loops 0) or loops passes and fade_s seconds of fade, at
// volume (0 to 127), in stereo when stereo is 1. 1 with the file ready at
// tc_web_output; 0 after saying why on standard error.
EMSCRIPTEN_KEEPALIVE int32_t tc_web_render(wad_file *w, const char *name, double seconds,
                                           int32_t loops, double fade_s, int32_t volume,
                                           int32_t stereo, int32_t midi) {
  return web_guard<int32_t>(0, [&] {
    std::vector<uint8_t>().swap(output);
    if (midi != 0) return render_midi(w, name) ? 1 : 0;
    const web_request req{seconds, loops, fade_s, volume, stereo != 0};
    return render_wav(w, name, req) ? 1 : 0;
  });
}

EMSCRIPTEN_KEEPALIVE const uint8_t *tc_web_output() { return output.data(); }
EMSCRIPTEN_KEEPALIVE double tc_web_output_size() { return static_cast<double>(output.size()); }
// Lets the file go once JavaScript holds its copy.
EMSCRIPTEN_KEEPALIVE void tc_web_output_free() { std::vector<uint8_t>().swap(output); }
}
