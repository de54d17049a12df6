// render.cpp: one lump from bytes to WAV file. Every check that can
// refuse the job runs before the output is touched, so a refusal leaves no
// file; the samples are then written as they are rendered.
#include "tool/render.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tunecast/chip.h"
#include "common/console_text.h"
#include "midi/music_lump.h"
#include "tool/midi_out.h"
#include "tool/sndfile_out.h"
#include "tool/wav_out.h"

namespace {

constexpr int64_t default_frames = 2646000;  // 60 s
constexpr double default_seconds = 60.0;
constexpr int32_t render_block_frames = 1024;  // frames pulled from the synthesizer at a time
constexpr double rate_hz = wav_rate_hz;

// Frames to render, the last fade_frames of them fading out, and the
// seconds the closing line shows.
struct render_span {
  int64_t frames = default_frames;
  int64_t fade_frames = 0;
  double seconds = default_seconds;
};

struct render_stats {
  double peak = 0.0;
  int64_t clipped = 0;      // frames whose output was clamped to full scale
  int64_t first_clip = -1;  // the first of them
};

bool refuse(const std::string &line) {
  std::fprintf(stderr, "%s\n", line.c_str());
  return false;
}

// A duration already read from the command line: seconds x 44100, truncated
// toward zero, and the value itself for the closing line. The command line
// only gives finite values of 0 or more; the check still covers a caller
// that fills the value by hand, since the conversion below is undefined for
// NaN and out of range.
bool span_from_seconds(const render_seconds &seconds, int channels, render_span &span) {
  char shown_value[40];
  std::snprintf(shown_value, sizeof shown_value, "%g", seconds.value);
  const std::string shown = seconds.text != nullptr ? seconds.text : shown_value;
  if (!(seconds.value >= 0.0)) return refuse("duración no válida: " + shown);
  const double product = seconds.value * rate_hz;
  // The truncated count stays within the frames a WAV can hold exactly when
  // this holds (an infinity fails it too).
  if (!(product < static_cast<double>(wav_max_frames_for(channels) + 1))) {
    return refuse("duración demasiado larga: " + shown);
  }
  span.seconds = seconds.value;
  span.frames = static_cast<int64_t>(product);
  return true;
}

bool too_long_for_loops(const render_length &len, double pass_s) {
  char passes[80];
  std::snprintf(passes, sizeof passes, "%lld %s de %.3f s", static_cast<long long>(len.loops),
                len.loops == 1 ? "vuelta" : "vueltas", pass_s);
  std::string line = std::string("duración demasiado larga: ") + passes;
  if (len.fade_text != nullptr && len.fade_s > 0.0) {
    line += std::string(" y ") + len.fade_text + " s de fundido";
  }
  return refuse(line);
}

// N whole passes of the song, then the fade. The pass is measured on the
// score that will play, in the samples the sequencer counts.
bool span_from_loops(const render_job &job, const music_score &score, render_span &span) {
  const render_length &len = job.length;
  const int64_t max_frames = wav_max_frames_for(job.style.channels());
  const std::string who = std::string("lump ") + job.lump_name + ": ";
  double pass_s = 0.0;
  if (score.mus() == nullptr) {
    return refuse(who + "no es MUS ni MIDI, no tiene vueltas");
  }
  if (chip_song_length(score.mus(), score.mus_size(), &pass_s) == 0) {
    return refuse(who + "la partitura no llega a su fin, no se puede medir");
  }
  const double limit = static_cast<double>(max_frames + 1);
  // The length is a whole number of samples divided by 44100, so the product
  // rounds back to that number exactly.
  if (!(pass_s * rate_hz < limit)) return too_long_for_loops(len, pass_s);
  const int64_t pass = std::llround(pass_s * rate_hz);
  if (pass == 0) return refuse(who + "dura 0 s, no hay vueltas que dar");
  if (!(len.fade_s * rate_hz < limit) || len.loops > max_frames / pass) {
    return too_long_for_loops(len, pass_s);
  }
  span.fade_frames = static_cast<int64_t>(len.fade_s * rate_hz);
  span.frames = len.loops * pass + span.fade_frames;
  if (span.frames > max_frames) return too_long_for_loops(len, pass_s);
  span.seconds = static_cast<double>(span.frames) / rate_hz;
  return true;
}

// Where the samples go: the project's own WAV writer, whose bytes never
// change, or libsndfile for the compressed formats.
class sample_sink {
 public:
  explicit sample_sink(output_format format) : format_(format) {}
  int open(const wav_target &target, int64_t frames, int channels) {
    if (format_ == output_format::wav) return wav_.open(target, frames, channels);
    return encoded_.open(target, format_, channels);
  }
  int write(int16_t *samples, size_t count) {
    if (format_ == output_format::wav) return wav_.write(samples, count);
    return encoded_.write(samples, count);
  }
  int finish() { return format_ == output_format::wav ? wav_.finish() : encoded_.finish(); }

 private:
  output_format format_;
  wav_writer wav_;
  sndfile_writer encoded_;
};

// Counts the frames k in [from, to) of a block whose output on some side
// reached full scale, which the mix reaches only by clamping a louder sum.
void count_clipped(const std::array<const float *, 2> &sides, int channels, int32_t from,
                   int32_t to, int64_t start, render_stats &st) {
  for (int32_t k = from; k < to; ++k) {
    bool clipped = false;
    for (int c = 0; c < channels; ++c) {
      clipped = clipped || std::fabs(sides[static_cast<size_t>(c)][k]) == 1.0f;
    }
    if (clipped && st.clipped++ == 0) st.first_clip = start + k;
  }
}

// The frames [0, to) of a block that lie before the fade, written as pulled
// to out: the loudest value is all the peak needs, and the frames are looked
// at one by one only when it reached full scale.
void emit_unfaded(const std::array<const float *, 2> &sides, int channels, int32_t to,
                  int64_t start, int16_t *out, render_stats &st) {
  float loudest = 0.0f;
  if (channels == 1) {
    for (int32_t k = 0; k < to; ++k) {
      loudest = std::max(loudest, std::fabs(sides[0][k]));
      out[k] = wav_sample(sides[0][k]);
    }
  } else {
    for (int32_t k = 0; k < to; ++k) {
      loudest = std::max(loudest, std::max(std::fabs(sides[0][k]), std::fabs(sides[1][k])));
      out[2 * k] = wav_sample(sides[0][k]);
      out[2 * k + 1] = wav_sample(sides[1][k]);
    }
  }
  st.peak = std::max(st.peak, static_cast<double>(loudest));
  if (loudest == 1.0f) count_clipped(sides, channels, 0, to, start, st);
}

// Pulls the song in blocks and keeps the left output in mono (a stereo
// recording contributes its first channel), both outputs interleaved in
// stereo. Over the fade the gain falls by 1/fade_frames per frame, from
// just under 1 to exactly 0 on the last frame. The samples go to out a chunk
// at a time, so memory stays the same however long the render. Returns 0,
// or the reason the output failed.
int render(sample_sink &out, const render_span &span, int channels, render_stats &st) {
  const int64_t fade_from = span.frames - span.fade_frames;
  std::array<float, render_block_frames> left;
  std::array<float, render_block_frames> right;
  const std::array<const float *, 2> sides = {left.data(), right.data()};
  static_assert(wav_chunk_frames % render_block_frames == 0, "a block never straddles a chunk");
  std::vector<int16_t> chunk(wav_chunk_frames * static_cast<size_t>(channels));
  size_t filled = 0;
  for (int64_t start = 0; start < span.frames; start += render_block_frames) {
    const auto count =
        static_cast<int32_t>(std::min<int64_t>(render_block_frames, span.frames - start));
    chip_render(left.data(), right.data(), count);
    const auto unfaded = static_cast<int32_t>(std::clamp<int64_t>(fade_from - start, 0, count));
    emit_unfaded(sides, channels, unfaded, start, &chunk[filled], st);
    filled += static_cast<size_t>(unfaded * channels);
    count_clipped(sides, channels, unfaded, count, start, st);
    for (int32_t k = unfaded; k < count; ++k) {
      const int64_t i = start + k;
      const double g =
          static_cast<double>(span.frames - 1 - i) / static_cast<double>(span.fade_frames);
      for (int c = 0; c < channels; ++c) {
        const float value = static_cast<float>(sides[static_cast<size_t>(c)][k] * g);
        const double up = value;
        const double down = -value;
        if (up > st.peak) st.peak = up;
        if (down > st.peak) st.peak = down;
        chunk[filled++] = wav_sample(value);
      }
    }
    if (filled == chunk.size() || start + count == span.frames) {
      if (const int err = out.write(chunk.data(), filled); err != 0) return err;
      filled = 0;
    }
  }
  return 0;
}

int output_failed(const char *path, int err) {
  std::fprintf(stderr, "no se puede escribir %s: %s\n", path, wav_error_text(err).c_str());
  return 1;
}

// The volume to suggest after clipping: four fifths of the one used. The
// synthesizer clamps its mix before the tool sees it, so how far past full
// scale the song went is unknown and no volume can be promised to be clean;
// a step down is the useful hint.
int32_t quieter_volume(int32_t volume) { return volume * 4 / 5; }

void report_clipping(const render_job &job, const render_stats &st) {
  if (st.clipped == 0) return;
  const std::string who = job.batch ? std::string(job.lump_name) + ": " : std::string();
  const double at = static_cast<double>(st.first_clip) / rate_hz;
  const std::string hint =
      "prueba --volumen " + std::to_string(quieter_volume(job.style.volume));
  if (st.clipped == 1) {
    std::fprintf(stderr, "aviso: %s1 muestra recortada, a %.3f s: %s\n", who.c_str(), at,
                 hint.c_str());
  } else {
    std::fprintf(stderr, "aviso: %s%lld muestras recortadas; la primera a %.3f s: %s\n",
                 who.c_str(), static_cast<long long>(st.clipped), at, hint.c_str());
  }
}

// A recording found in the music directory plays instead of the song: say
// so, since a stray file would otherwise silently replace every song.
void report_recording(const render_job &job) {
  int32_t mode = 0, playing = 0, paused = 0;
  double position_s = 0.0, length_s = 0.0;
  chip_stats(&mode, &playing, &paused, &position_s, &length_s);
  if (mode != 1) return;
  char path[512];
  pcm_file_path(g_music_name, path, sizeof path);
  const std::string who = job.batch ? std::string(job.lump_name) + ": " : std::string();
  std::fprintf(stderr,
               "aviso: %ssuena la grabación %s en lugar del sintetizador (ZARN_SYNTH=1 "
               "para sintetizar)\n",
               who.c_str(), console_escape(path).c_str());
}

}  // namespace

bool render_score_usable(const render_job &job, const music_score &score) {
  if (score.kind == lump_kind::truncated_mus) {
    std::fprintf(stderr, "lump %s truncado\n", job.lump_name);
    return false;
  }
  if (!score.error.empty()) {
    std::fprintf(stderr, "lump %s: %s\n", job.lump_name, score.error.c_str());
    return false;
  }
  return true;
}

bool render_seconds_valid(const render_seconds &seconds, int channels) {
  render_span span;
  return span_from_seconds(seconds, channels, span);
}

int render_run(const render_job &job) {
  if (job.format == output_format::mid) return midi_out_run(job);
  render_span span;
  if (job.length.loops == 0 && !span_from_seconds(job.length.seconds, job.style.channels(), span)) {
    return 1;
  }
  const music_score score = music_prepare(job.data, job.size);
  if (!render_score_usable(job, score)) return 1;
  if (job.length.loops > 0) {
    if (!span_from_loops(job, score, span)) return 1;
  } else if (score.kind == lump_kind::not_music) {
    std::fprintf(stderr, "aviso: el lump %s no es música que se pueda tocar (ni MUS ni MIDI): "
                 "se escribe silencio\n", job.lump_name);
  }
  // Every refusal is behind; only now is the output touched.
  sample_sink out(job.format);
  const wav_target target{job.out_path, job.out_fd, job.batch, job.input};
  if (const int err = out.open(target, span.frames, job.style.channels()); err != 0) {
    return output_failed(job.out_path, err);
  }
  // Without a score nothing registers and every sample is silence.
  if (score.mus() != nullptr) chip_register_song(score.mus(), score.mus_size());
  I_SetMusicVolume(job.style.volume);
  chip_set_stereo(job.style.stereo ? 1 : 0);
  I_PlaySong(0, job.length.loops > 0 ? 1 : 0);
  report_recording(job);

  render_stats st;
  int err = render(out, span, job.style.channels(), st);
  if (err == 0) err = out.finish();
  if (err != 0) return output_failed(job.out_path, err);
  if (!job.batch && !job.style.quiet) {
    // Standard output carries no line when it carries the WAV itself.
    std::FILE *closing = job.out_fd == STDOUT_FILENO ? stderr : stdout;
    std::fprintf(closing, "pico %.2f, %.1f s\n", st.peak, span.seconds);
    std::fflush(closing);  // before the warning, which may go to the other stream
  }
  report_clipping(job, st);
  return 0;
}
