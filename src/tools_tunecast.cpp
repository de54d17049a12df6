// tools_tunecast.cpp: the render tool. Plays one MUS lump of a WAD archive
// through the synthesizer for a fixed time, keeps every sample in memory and
// then writes a mono 16-bit 44100 Hz WAV file.
//   tunecast ARCHIVE LUMP OUT.wav [seconds]
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "chip.h"
#include "music_lump.h"
#include "tool_wav.h"
#include "wad.h"

namespace {

constexpr const char *usage_text = "uso: tunecast ZARN.WAD D_E1M1 salida.wav [segundos]\n";
constexpr double default_seconds = 60.0;
constexpr int64_t default_frames = 2646000;  // 60 s
constexpr int32_t render_volume = 100;

// What the command line asks for.
struct tool_request {
  const char *archive;
  const char *lump;
  const char *out_path;
  const char *seconds;  // null: the default length
};

// The length of a render: the seconds as parsed, shown in the closing line,
// and the frame count derived from them.
struct render_length {
  enum verdict_kind { ok, invalid, too_long };
  double seconds = default_seconds;
  int64_t frames = default_frames;
  verdict_kind verdict = ok;
};

render_length parse_length(const char *text) {
  render_length len;
  if (text == nullptr) return len;
  // strtod's rules: leading blanks skipped, text after the number ignored,
  // text without a number gives 0.
  len.seconds = std::strtod(text, nullptr);
  if (std::isnan(len.seconds) || std::isinf(len.seconds) || len.seconds < 0.0) {
    len.verdict = render_length::invalid;
    return len;
  }
  const double product = len.seconds * static_cast<double>(wav_rate_hz);
  // Checked before the conversion, which is undefined out of range; the
  // truncated count stays within wav_max_frames exactly when this holds.
  if (!(product < static_cast<double>(wav_max_frames + 1))) {
    len.verdict = render_length::too_long;
    return len;
  }
  len.frames = static_cast<int64_t>(product);
  return len;
}

// Pulls one sample per frame and keeps the left output (a stereo recording
// contributes its first channel). Returns the peak of |left|.
double render(int16_t *samples, int64_t frames) {
  double peak = 0.0;
  for (int64_t i = 0; i < frames; ++i) {
    float left = 0.0f;
    float right = 0.0f;
    chip_next(&left, &right);
    const double up = left;
    const double down = -left;
    if (up > peak) peak = up;
    if (down > peak) peak = down;
    samples[i] = wav_sample(left);
  }
  return peak;
}

struct wad_closer {
  void operator()(wad_file *w) const { wad_free(w); }
};
struct buffer_release {
  void operator()(int16_t *p) const { std::free(p); }
};

int output_failed(const char *path, int err) {
  std::fprintf(stderr, "no se puede escribir %s: %s\n", path, wav_error_text(err).c_str());
  return 1;
}

int render_to_file(const tool_request &req) {
  const std::unique_ptr<wad_file, wad_closer> wad(wad_load(req.archive));
  if (!wad) return 1;  // the loader has said why
  int32_t size = 0;
  const auto *data = static_cast<const uint8_t *>(wad_get_data(wad.get(), req.lump, &size));
  if (data == nullptr) {
    std::fprintf(stderr, "no hay %s\n", req.lump);
    return 1;
  }
  const render_length len = parse_length(req.seconds);
  if (len.verdict == render_length::invalid) {
    std::fprintf(stderr, "duración no válida: %s\n", req.seconds);
    return 1;
  }
  if (len.verdict == render_length::too_long) {
    std::fprintf(stderr, "duración demasiado larga: %s\n", req.seconds);
    return 1;
  }
  const lump_kind kind = classify_lump(data, size);
  if (kind == lump_kind::truncated_mus) {
    std::fprintf(stderr, "lump %s truncado\n", req.lump);
    return 1;
  }
  // Anything but MUS would be refused by the synthesizer: no song is
  // registered and the render is silent.
  if (kind == lump_kind::mus) I_RegisterSong(data);
  I_SetMusicVolume(render_volume);
  I_PlaySong(0, 0);

  std::unique_ptr<int16_t, buffer_release> samples;
  if (len.frames > 0) {
    samples.reset(static_cast<int16_t *>(std::malloc(static_cast<size_t>(len.frames) * 2)));
    if (!samples) return output_failed(req.out_path, ENOMEM);
  }
  const double peak = render(samples.get(), len.frames);
  // Only now is the file touched, so every failure above leaves none.
  if (const int err = wav_write_file(req.out_path, samples.get(), len.frames); err != 0) {
    return output_failed(req.out_path, err);
  }
  std::printf("pico %.2f, %.1f s\n", peak, len.seconds);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 4) {
    std::fputs(usage_text, stderr);
    return 1;
  }
  // Arguments after the fourth are ignored.
  const tool_request req{argv[1], argv[2], argv[3], argc > 4 ? argv[4] : nullptr};
  return render_to_file(req);
}
