// render_span.cpp: the length of a render and the conversion of its
// blocks, shared by the file writer and the live player.
#include "tool/render_span.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#if defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#include "mus/events.h"
#include "mus/header.h"
#include "mus/song_length.h"
#include "tool/messages.h"
#include "tool/wav_out.h"
#include "tunecast/synth.h"

using tunecast::format_text;
using tunecast::music_score;
using tunecast::tr;

namespace {

constexpr double rate_hz = wav_rate_hz;

bool refuse(const std::string &line) {
  std::fprintf(stderr, "%s\n", line.c_str());
  return false;
}

// Counts the frames k in [from, to) of a block whose output on some side
// reached full scale, which the mix reaches only by clamping a louder sum.
void count_clipped(const float *pulled, int channels, int32_t from, int32_t to, int64_t start,
                   render_stats &st) {
  for (int32_t k = from; k < to; ++k) {
    bool clipped = false;
    for (int c = 0; c < channels; ++c) {
      clipped = clipped || std::fabs(pulled[static_cast<ptrdiff_t>(k) * channels + c]) == 1.0f;
    }
    if (clipped && st.clipped++ == 0) st.first_clip = start + k;
  }
}

// The loop of emit_unfaded eight values a turn with SSE2 on x86-64, where it
// is the baseline; returns the values done (none elsewhere) and folds their
// magnitudes into loudest.
ptrdiff_t emit_eights(const float *pulled, ptrdiff_t values, int16_t *out, float &loudest) {
  ptrdiff_t i = 0;
#if defined(__x86_64__) || defined(_M_X64)
  const __m128 magnitude_bits = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
  const __m128 full_scale = _mm_set1_ps(32000.0f);
  __m128 loud = _mm_set1_ps(loudest);
  for (; i + 8 <= values; i += 8) {
    const __m128 a = _mm_loadu_ps(pulled + i);
    const __m128 b = _mm_loadu_ps(pulled + i + 4);
    // max(x, loud) is x > loud ? x : loud: a NaN x leaves the loudest as
    // std::max(loudest, x) does.
    loud = _mm_max_ps(_mm_and_ps(a, magnitude_bits), loud);
    loud = _mm_max_ps(_mm_and_ps(b, magnitude_bits), loud);
    // wav_sample's product truncated toward zero; then each value's low 16
    // bits, as the scalar narrowing keeps them, rather than the saturation
    // of the pack (the two differ only out of range).
    __m128i low = _mm_cvttps_epi32(_mm_mul_ps(a, full_scale));
    __m128i high = _mm_cvttps_epi32(_mm_mul_ps(b, full_scale));
    low = _mm_srai_epi32(_mm_slli_epi32(low, 16), 16);
    high = _mm_srai_epi32(_mm_slli_epi32(high, 16), 16);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_packs_epi32(low, high));
  }
  // No NaN reaches the lanes, so the order they are folded in is free.
  std::array<float, 4> lanes;
  _mm_storeu_ps(lanes.data(), loud);
  for (const float x : lanes) loudest = std::max(loudest, x);
#else
  (void)pulled, (void)values, (void)out, (void)loudest;
#endif
  return i;
}

// The frames [0, to) of a block that lie before the fade, written as pulled
// to out: the loudest value is all the peak needs, and the frames are looked
// at one by one only when it reached full scale.
void emit_unfaded(const float *pulled, int channels, int32_t to, int64_t start, int16_t *out,
                  render_stats &st) {
  float loudest = 0.0f;
  const ptrdiff_t values = static_cast<ptrdiff_t>(to) * channels;
  for (ptrdiff_t i = emit_eights(pulled, values, out, loudest); i < values; ++i) {
    loudest = std::max(loudest, std::fabs(pulled[i]));
    out[i] = wav_sample(pulled[i]);
  }
  st.peak = std::max(st.peak, static_cast<double>(loudest));
  if (loudest == 1.0f) count_clipped(pulled, channels, 0, to, start, st);
}

}  // namespace

bool span_refuse_too_long(const render_length &len, double pass_s) {
  const std::string passes =
      format_text(len.loops == 1 ? tr("%lld vuelta de %.3f s") : tr("%lld vueltas de %.3f s"),
                  static_cast<long long>(len.loops), pass_s);
  if (len.fade_text != nullptr && len.fade_s > 0.0) {
    // The fade as typed: "6" takes its unit here, "6s" and "0:06" carry one.
    const std::string_view typed = len.fade_text;
    const bool has_unit = typed.back() == 's' || typed.find(':') != std::string_view::npos;
    const std::string fade = std::string(len.fade_text) + (has_unit ? "" : " s");
    return refuse(format_text(tr("duración demasiado larga: %s y %s de fundido"), passes.c_str(),
                              fade.c_str()));
  }
  return refuse(format_text(tr("duración demasiado larga: %s"), passes.c_str()));
}

// The length is a whole number of samples divided by 44100, so the product
// rounds back to that number exactly.
bool span_pass_frames(double pass_s, int channels, int64_t &frames) {
  if (!(pass_s * rate_hz < static_cast<double>(wav_max_frames_for(channels) + 1))) return false;
  frames = std::llround(pass_s * rate_hz);
  return true;
}

// The command line only gives finite values of 0 or more; the check still
// covers a caller that fills the value by hand, since the conversion below
// is undefined for NaN and out of range.
bool span_from_seconds(const render_seconds &seconds, int channels, render_span &span) {
  char shown_value[40];
  std::snprintf(shown_value, sizeof shown_value, "%g", seconds.value);
  const std::string shown = seconds.text != nullptr ? seconds.text : shown_value;
  if (!(seconds.value >= 0.0))
    return refuse(format_text(tr("duración no válida: %s"), shown.c_str()));
  const double product = seconds.value * rate_hz;
  // The truncated count stays within the frames a WAV can hold exactly when
  // this holds (an infinity fails it too).
  if (!(product < static_cast<double>(wav_max_frames_for(channels) + 1))) {
    return refuse(format_text(tr("duración demasiado larga: %s"), shown.c_str()));
  }
  span.seconds = seconds.value;
  span.frames = static_cast<int64_t>(product);
  span.fade_frames = 0;
  return true;
}

namespace {

// The passes and the fade of a score whose natural length is pass_s seconds
// (negative when it has no end); has_score false: the lump gave no score.
bool loops_span(const render_length &len, const char *lump_name, int channels, bool has_score,
                double pass_s, render_span &span, int64_t &pass_frames) {
  const int64_t max_frames = wav_max_frames_for(channels);
  if (!has_score)
    return refuse(format_text(tr("lump %s: no es MUS ni MIDI, no tiene vueltas"), lump_name));
  if (pass_s < 0.0) {
    return refuse(
        format_text(tr("lump %s: la partitura no llega a su fin, no se puede medir"), lump_name));
  }
  int64_t pass = 0;
  if (!span_pass_frames(pass_s, channels, pass)) return span_refuse_too_long(len, pass_s);
  if (pass == 0)
    return refuse(format_text(tr("lump %s: dura 0 s, no hay vueltas que dar"), lump_name));
  const double limit = static_cast<double>(max_frames + 1);
  if (!(len.fade_s * rate_hz < limit) || len.loops > max_frames / pass) {
    return span_refuse_too_long(len, pass_s);
  }
  span.fade_frames = static_cast<int64_t>(len.fade_s * rate_hz);
  span.frames = len.loops * pass + span.fade_frames;
  if (span.frames > max_frames) return span_refuse_too_long(len, pass_s);
  span.seconds = static_cast<double>(span.frames) / rate_hz;
  pass_frames = pass;
  return true;
}

}  // namespace

bool span_from_loops(const render_length &len, const char *lump_name, int channels,
                     const music_score &score, render_span &span, int64_t &pass_frames) {
  double pass_s = -1.0;
  if (score.mus() != nullptr &&
      !tunecast::mus::song_length(score.mus(), score.mus_size(), pass_s)) {
    pass_s = -1.0;
  }
  return loops_span(len, lump_name, channels, score.mus() != nullptr, pass_s, span, pass_frames);
}

bool span_from_song_loops(const render_length &len, const char *lump_name, int channels,
                          const tc_synth *song, render_span &span, int64_t &pass_frames) {
  return loops_span(len, lump_name, channels, song != nullptr, tc_synth_length(song), span,
                    pass_frames);
}

namespace {

// One pass of a score as the sequencer plays it from c: the samples to its
// score end, whether a note played at its channel's remembered velocity
// before one was given, and whether the score end carries the delay flag.
struct pass_walk {
  int64_t samples = 0;
  bool remembered_velocity = false;
  bool end_delay = false;
};

// False when the stream runs out before a score end.
bool walk_pass(tunecast::mus::cursor &c, pass_walk &walk) {
  namespace mus = tunecast::mus;
  std::array<bool, 16> given{};
  mus::event e;
  // Every event read moves the cursor on, so the walk ends within the score.
  while (mus::event_read(c, e)) {
    if (e.type == mus::ev_score_end) {
      walk.end_delay = e.delay_follows;
      return true;
    }
    if (e.type == mus::ev_play_note) {
      bool &channel_given = given[static_cast<size_t>(e.channel)];
      walk.remembered_velocity = walk.remembered_velocity || (!e.has_velocity && !channel_given);
      channel_given = channel_given || e.has_velocity;
    }
    if (!e.delay_follows) continue;
    const int64_t wait = mus::ticks_to_samples(e.delay_ticks);
    walk.samples = walk.samples > mus::count_max - wait ? mus::count_max : walk.samples + wait;
  }
  return false;
}

}  // namespace

bool span_loop(const music_score &score, const render_span &span, int64_t pass_frames,
               int64_t &start, int64_t &length) {
  tunecast::mus_header header;
  if (score.mus() == nullptr ||
      !tunecast::mus_header_read(score.mus(), static_cast<size_t>(score.mus_size()), header)) {
    return false;
  }
  const int32_t score_start = header.score_start;
  const int32_t score_end = score_start + int32_t{header.score_length};
  tunecast::mus::cursor c{score.mus(), score_start, score_end};
  pass_walk first;
  if (!walk_pass(c, first) || first.samples != pass_frames) return false;
  start = first.remembered_velocity || first.end_delay ? pass_frames : 0;
  length = pass_frames;
  if (first.end_delay) {
    // The loop reads the score end's delay from the score's first bytes and
    // goes on after them; a second pass that met remembered velocities
    // could still differ from the third.
    tunecast::mus::cursor again{score.mus(), score_start, score_end};
    pass_walk second;
    second.samples = tunecast::mus::ticks_to_samples(again.ticks());
    if (!walk_pass(again, second) || second.remembered_velocity) return false;
    length = second.samples;
  }
  return length > 0 && start <= span.fade_from() - length;
}

void span_convert(const float *pulled, int channels, int32_t count, int64_t start,
                  const render_span &span, int16_t *out, render_stats &st) {
  const auto unfaded =
      static_cast<int32_t>(std::clamp<int64_t>(span.fade_from() - start, 0, count));
  emit_unfaded(pulled, channels, unfaded, start, out, st);
  count_clipped(pulled, channels, unfaded, count, start, st);
  int16_t *faded = out + static_cast<ptrdiff_t>(unfaded) * channels;
  for (int32_t k = unfaded; k < count; ++k) {
    const int64_t i = start + k;
    const double g =
        static_cast<double>(span.frames - 1 - i) / static_cast<double>(span.fade_frames);
    for (int c = 0; c < channels; ++c) {
      const float value = static_cast<float>(pulled[static_cast<ptrdiff_t>(k) * channels + c] * g);
      const double up = value;
      const double down = -value;
      if (up > st.peak) st.peak = up;
      if (down > st.peak) st.peak = down;
      *faded++ = wav_sample(value);
    }
  }
}
