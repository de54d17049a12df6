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
#include <memory>
#include <string>
#include <vector>

#include "midi/music_lump.h"
#include "tool/messages.h"
#include "tool/midi_out.h"
#include "tool/sndfile_out.h"
#include "tool/song_start.h"
#include "tool/standard_streams.h"
#include "tool/volume_search.h"
#include "tool/wav_out.h"
#include "tunecast/synth.h"

using tunecast::format_text;
using tunecast::lump_kind;
using tunecast::music_prepare;
using tunecast::music_score;
using tunecast::tr;

namespace {

constexpr int32_t render_block_frames = 1024;  // frames pulled from the synthesizer at a time
constexpr double rate_hz = wav_rate_hz;

struct synth_deleter {
  void operator()(tc_synth *s) const { tc_synth_free(s); }
};
using synth_owner = std::unique_ptr<tc_synth, synth_deleter>;

// Where the samples go: the project's own WAV writer, whose bytes never
// change, or libsndfile for the compressed formats.
class sample_sink {
 public:
  explicit sample_sink(output_format format) : format_(format) {}
  // The WAV carries no tags: its bytes stay as they are.
  int open(const wav_target &target, int64_t frames, int channels, const sndfile_tags &tags) {
    if (format_ == output_format::wav) return wav_.open(target, frames, channels);
    return encoded_.open(target, format_, channels, tags);
  }
  void set_loop(int64_t start, int64_t length) {
    if (format_ != output_format::wav) encoded_.set_loop(start, length);
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

// Pulls the song in blocks (in mono a stereo recording contributes its
// first channel). The samples go to out a chunk at a time, so memory stays
// the same however long the render. Returns 0, or the reason the output
// failed.
int render(tc_synth *synth, sample_sink &out, const render_span &span, int channels,
           render_stats &st) {
  std::array<float, 2 * render_block_frames> pulled;  // interleaved, as the instance gives them
  static_assert(wav_chunk_frames % render_block_frames == 0, "a block never straddles a chunk");
  std::vector<int16_t> chunk(wav_chunk_frames * static_cast<size_t>(channels));
  size_t filled = 0;
  for (int64_t start = 0; start < span.frames; start += render_block_frames) {
    const auto count =
        static_cast<int32_t>(std::min<int64_t>(render_block_frames, span.frames - start));
    tc_synth_render_f32(synth, pulled.data(), static_cast<size_t>(count));
    span_convert(pulled.data(), channels, count, start, span, &chunk[filled], st);
    filled += static_cast<size_t>(count * channels);
    if (filled == chunk.size() || start + count == span.frames) {
      if (const int err = out.write(chunk.data(), filled); err != 0) return err;
      filled = 0;
    }
  }
  return 0;
}

int output_failed(const char *path, int err) {
  std::fprintf(stderr, tr("no se puede escribir %s: %s\n"), path, wav_error_text(err).c_str());
  return 1;
}

// The synthesizer clamps its mix before the tool sees it, so how far past
// full scale the song went is unknown: the hint is the level that renders
// the song as loud as it can be without clipping.
void report_clipping(const render_job &job, const render_stats &st) {
  if (st.clipped == 0) return;
  const std::string who = job.batch ? std::string(job.lump_name) + ": " : std::string();
  const double at = static_cast<double>(st.first_clip) / rate_hz;
  if (st.clipped == 1) {
    std::fprintf(stderr, tr("aviso: %s1 muestra recortada, a %.3f s: prueba --volumen auto\n"),
                 who.c_str(), at);
  } else {
    std::fprintf(stderr,
                 tr("aviso: %s%lld muestras recortadas; la primera a %.3f s: prueba --volumen "
                    "auto\n"),
                 who.c_str(), static_cast<long long>(st.clipped), at);
  }
}

// With --volumen auto, one of a batch says the level its song was written
// at, on a line of its own (a single render says it in its closing line).
void report_batch_volume(const render_job &job, int32_t volume) {
  if (!job.batch || job.style.quiet || !job.style.volume_auto) return;
  std::printf(tr("%s: volumen %d\n"), job.lump_name, static_cast<int>(volume));
  standard_stream_flush(stdout);  // a worker process ends without flushing
}

// The default length cuts most songs short without saying so: when no
// duration was given and the song's natural end lies past it, one line
// names the song's length and how to get it whole. A song without an end
// has no whole to offer.
void report_default_cut(const render_job &job, const tc_synth *synth, const render_span &span) {
  if (job.style.quiet || job.length.loops > 0 || job.length.seconds.text != nullptr) return;
  const double natural_s = tc_synth_length(synth);
  if (!(natural_s > span.seconds)) return;
  const std::string who = job.batch ? std::string(job.lump_name) + ": " : std::string();
  std::fprintf(stderr,
               tr("aviso: %sla canción dura %.1f s y se han escrito sus primeros %.0f s: -v 1 la "
                  "escribe entera\n"),
               who.c_str(), natural_s, span.seconds);
}

// A new instance with the job's song loaded (none without a score), its
// volume, channels and recording lookup set. Prints the refusal and gives
// null when the synthesizer cannot take the song.
synth_owner render_synth(const render_job &job, const music_score &score) {
  synth_owner synth(tc_synth_new());
  const tc_status status =
      song_load(synth.get(), score.mus(), static_cast<size_t>(score.mus_size()), job.style);
  if (status != TC_OK) {
    song_refusal(job.lump_name, status);
    return nullptr;
  }
  return synth;
}

// --volumen auto: the search renders the song as it is about to be
// written, into nothing, and the instance that writes it takes the level
// found. Prints the refusal and returns false when an instance of the
// search found no memory.
bool settle_volume_auto(const render_job &job, const music_score &score, const render_span &span,
                        tc_synth *synth, int32_t &volume) {
  const volume_song song{score.mus(), static_cast<size_t>(score.mus_size()), job.style, span,
                         job.length.loops > 0};
  if (const tc_status status = volume_find(song, volume); status != TC_OK) {
    song_refusal(job.lump_name, status);
    return false;
  }
  tc_synth_set_volume(synth, volume);
  return true;
}

}  // namespace

void render_closing_line(const render_job &job, const char *line) {
  if (job.batch || job.style.quiet) return;
  // Standard output carries no line when it carries the file itself.
  std::FILE *stream = job.out_fd == STDOUT_FILENO ? stderr : stdout;
  std::fprintf(stream, "%s\n", line);
  standard_stream_flush(stream);  // before any warning, which may go to the other stream
}

bool render_score_usable(const render_job &job, const music_score &score) {
  return song_score_usable(job.lump_name, score);
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
  // Without a score nothing loads and every sample is silence. A score the
  // synthesizer cannot take (its copy found no memory) is a refusal like
  // the others, so it comes before the output is touched.
  const synth_owner synth = render_synth(job, score);
  if (synth == nullptr) return 1;
  int64_t pass_frames = 0;
  if (job.length.loops > 0) {
    if (!span_from_song_loops(job.length, job.lump_name, job.style.channels(),
                              score.mus() != nullptr ? synth.get() : nullptr, span, pass_frames)) {
      return 1;
    }
  } else if (score.kind == lump_kind::not_music) {
    std::fprintf(stderr,
                 tr("aviso: el lump %s no es música que se pueda tocar (ni MUS ni MIDI): "
                    "se escribe silencio\n"),
                 job.lump_name);
  }
  int32_t volume = job.style.volume;
  if (job.style.volume_auto && !settle_volume_auto(job, score, span, synth.get(), volume)) return 1;
  // Every refusal is behind; only now is the output touched.
  sample_sink out(job.format);
  const wav_target target{job.out_path, job.out_fd, job.batch, job.input, job.out_dir_fd};
  const sndfile_tags tags{job.title != nullptr ? job.title : "",
                          job.album != nullptr ? job.album : ""};
  if (const int err = out.open(target, span.frames, job.style.channels(), tags); err != 0) {
    return output_failed(job.out_path, err);
  }
  const bool recording = song_play(synth.get(), job.length.loops > 0);
  if (recording) song_warn_recording(job.batch ? job.lump_name : nullptr);
  // The passes' loop points, for a player to repeat the song without end;
  // a recording playing instead has none the score can tell.
  int64_t loop_start = 0;
  int64_t loop_length = 0;
  if (job.length.loops > 0 && !recording &&
      span_loop(score, span, pass_frames, loop_start, loop_length)) {
    out.set_loop(loop_start, loop_length);
  }

  render_stats st;
  int err = render(synth.get(), out, span, job.style.channels(), st);
  if (err == 0) err = out.finish();
  if (err != 0) return output_failed(job.out_path, err);
  char closing[128];
  if (job.style.volume_auto) {
    std::snprintf(closing, sizeof closing, tr("pico %.2f, %.1f s, volumen %d"), st.peak,
                  span.seconds, static_cast<int>(volume));
  } else {
    std::snprintf(closing, sizeof closing, tr("pico %.2f, %.1f s"), st.peak, span.seconds);
  }
  render_closing_line(job, closing);
  report_batch_volume(job, volume);
  report_clipping(job, st);
  report_default_cut(job, synth.get(), span);
  return 0;
}
