/* crossfade.c: an engine's change of music through the handle API of
 * synth.h. Song A plays; at FADE_START seconds a second instance starts song
 * B, and over FADE_SECONDS A fades out while B fades in; then A is freed and
 * B plays on to SECONDS_TOTAL. Writes a 16-bit stereo WAV file at 44100 Hz.
 *
 *   crossfade ARCHIVE LUMP_A LUMP_B SECONDS_TOTAL FADE_START FADE_SECONDS OUT.wav
 *
 * The fade is a gain per frame in the program's own mix of the two float
 * streams, not tc_synth_set_volume: the volume moves in whole steps of 0 to
 * 127 and takes effect a block at a time, so a fade through it climbs in
 * audible stairs. Left alone, each instance renders exactly what it would on
 * its own, so before the fade the file holds the tool's samples of A, and
 * after it those of B.
 */
#include <errno.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tunecast/synth.h"
#include "tunecast/wad.h"

enum { rate_hz = 44100, channels = 2, block_frames = 1024, wav_header_bytes = 44 };
static const double seconds_max = 3600.0;
static const double half_pi = 1.57079632679489661923;

/* A whole argument that is a number of seconds from 0 to seconds_max. */
static int parse_seconds(const char *text, double *seconds) {
  char *end = NULL;
  *seconds = strtod(text, &end);
  return end != text && *end == '\0' && *seconds >= 0.0 && *seconds <= seconds_max;
}

/* A stereo instance at the tool's volume holding the lump name of wad, not
 * yet playing; or NULL after one line on stderr. */
static tc_synth *synth_with_lump(wad_file *wad, const char *name) {
  int32_t size = 0;
  const void *lump = wad_get_data(wad, name, &size);
  if (lump == NULL) {
    fprintf(stderr, "crossfade: no lump %s\n", name);
    return NULL;
  }
  tc_synth *synth = tc_synth_new();
  if (synth == NULL) {
    fprintf(stderr, "crossfade: out of memory for %s\n", name);
    return NULL;
  }
  /* The instance keeps its own copy of the lump. */
  const tc_status status = tc_synth_load(synth, lump, (size_t)size);
  if (status != TC_OK) {
    fprintf(stderr, "crossfade: %s: %s\n", name, tc_status_text(status));
    tc_synth_free(synth);
    return NULL;
  }
  tc_synth_set_volume(synth, 100); /* as the tool plays */
  tc_synth_set_stereo(synth, 1);
  return synth;
}

static void put_u16le(uint8_t *p, uint32_t v) {
  p[0] = (uint8_t)(v & 0xFF);
  p[1] = (uint8_t)(v >> 8 & 0xFF);
}

static void put_u32le(uint8_t *p, uint32_t v) {
  put_u16le(p, v & 0xFFFF);
  put_u16le(p + 2, v >> 16);
}

/* The header of a 16-bit PCM stereo WAV file at rate_hz whose samples take
 * data_bytes (at most an hour of them: far below 4 GiB). */
static void wav_header(uint8_t header[wav_header_bytes], uint32_t data_bytes) {
  memcpy(header, "RIFF", 4);
  put_u32le(header + 4, 36 + data_bytes); /* the rest of the file */
  memcpy(header + 8, "WAVEfmt ", 8);
  put_u32le(header + 16, 16); /* the fmt chunk's size */
  put_u16le(header + 20, 1);  /* PCM */
  put_u16le(header + 22, channels);
  put_u32le(header + 24, rate_hz);
  put_u32le(header + 28, rate_hz * channels * 2); /* bytes a second */
  put_u16le(header + 32, channels * 2);           /* bytes a frame */
  put_u16le(header + 34, 16);                     /* bits a sample */
  memcpy(header + 36, "data", 4);
  put_u32le(header + 40, data_bytes);
}

/* The tool's sample for a value: x 32000, not 32767, for headroom, truncated
 * toward zero as tc_synth_render_s16 does it. Two songs added can pass 1, so
 * the mix is clamped first; one song alone never reaches the clamp. */
static int16_t sample_s16(float value) {
  if (value > 1.0f) value = 1.0f;
  if (value < -1.0f) value = -1.0f;
  return (int16_t)(value * 32000.0f);
}

/* Writes frames frames: A alone until fade_start, both during the fade, B
 * alone from fade_end. Frees song_a at fade_end. Returns 0 when a write
 * failed. */
static int write_crossfade(FILE *out, tc_synth **song_a, tc_synth *song_b, int64_t frames,
                           int64_t fade_start, int64_t fade_end) {
  /* A stream whose song is not playing (B before the fade, A after it)
   * stays zero, so the mix below needs no special cases. */
  static float a[channels * block_frames], b[channels * block_frames];
  static uint8_t bytes[2 * channels * block_frames];
  tc_synth_play(*song_a, 0); /* once, no loop */
  for (int64_t done = 0; done < frames;) {
    /* Blocks break where B starts and where A ends, so each starts on time. */
    int64_t n = frames - done < block_frames ? frames - done : block_frames;
    if (done < fade_start && fade_start - done < n) n = fade_start - done;
    if (done < fade_end && fade_end - done < n) n = fade_end - done;
    if (done == fade_start) tc_synth_play(song_b, 0);
    if (done == fade_end && *song_a != NULL) {
      tc_synth_free(*song_a);
      *song_a = NULL;
      memset(a, 0, sizeof a);
    }
    if (*song_a != NULL) tc_synth_render_f32(*song_a, a, (size_t)n);
    if (done >= fade_start) tc_synth_render_f32(song_b, b, (size_t)n);

    for (int64_t k = 0; k < n; ++k) {
      const int64_t frame = done + k;
      float gain_a = frame < fade_start ? 1.0f : 0.0f;
      float gain_b = frame >= fade_end ? 1.0f : 0.0f;
      if (frame >= fade_start && frame < fade_end) {
        /* Equal power, gain_a^2 + gain_b^2 = 1: two unrelated songs keep
         * their loudness through the fade, where straight lines would dip
         * by 3 dB halfway. */
        const double angle =
            half_pi * (double)(frame - fade_start) / (double)(fade_end - fade_start);
        gain_a = (float)cos(angle);
        gain_b = (float)sin(angle);
      }
      for (int64_t c = 0; c < channels; ++c) {
        const int64_t i = k * channels + c;
        const uint16_t sample = (uint16_t)sample_s16(a[i] * gain_a + b[i] * gain_b);
        bytes[2 * i] = (uint8_t)(sample & 0xFF);
        bytes[2 * i + 1] = (uint8_t)(sample >> 8);
      }
    }
    if (fwrite(bytes, 2 * channels, (size_t)n, out) != (size_t)n) return 0;
    done += n;
  }
  return 1;
}

int main(int argc, char **argv) {
  if (argc != 8) {
    fprintf(stderr,
            "crossfade (tunecast %s)\nusage: crossfade ARCHIVE LUMP_A LUMP_B SECONDS_TOTAL "
            "FADE_START FADE_SECONDS OUT.wav\n",
            tc_version());
    return 2;
  }
  double total_s = 0.0, fade_start_s = 0.0, fade_s = 0.0;
  if (!parse_seconds(argv[4], &total_s) || !parse_seconds(argv[5], &fade_start_s) ||
      !parse_seconds(argv[6], &fade_s)) {
    fprintf(stderr, "crossfade: seconds from 0 to 3600\n");
    return 2;
  }
  /* Frames truncated, as the tool counts a duration. */
  const int64_t frames = (int64_t)(total_s * rate_hz);
  const int64_t fade_start = (int64_t)(fade_start_s * rate_hz);
  const int64_t fade_end = fade_start + (int64_t)(fade_s * rate_hz);
  if (fade_end > frames) {
    fprintf(stderr, "crossfade: the fade ends after the end (%s + %s > %s s)\n", argv[5],
            argv[6], argv[4]);
    return 2;
  }

  wad_file *wad = wad_load(argv[1]); /* prints one [WAD] line */
  if (wad == NULL) return 1;
  tc_synth *song_a = synth_with_lump(wad, argv[2]);
  tc_synth *song_b = song_a != NULL ? synth_with_lump(wad, argv[3]) : NULL;
  wad_free(wad); /* the instances hold their own copies */
  if (song_b == NULL) {
    tc_synth_free(song_a);
    return 1;
  }

  /* "x" (C11; glibc and musl take it in any mode) creates the file only if
   * it is absent: then it is ours to remove if writing fails. Anything that
   * was there already, a device or a pipe too, is written but never
   * removed. */
  FILE *out = fopen(argv[7], "wbx");
  const int created = out != NULL;
  if (out == NULL && errno == EEXIST) out = fopen(argv[7], "wb");
  int written = out != NULL;
  if (written) {
    uint8_t header[wav_header_bytes];
    wav_header(header, (uint32_t)(frames * channels * 2));
    written = fwrite(header, 1, sizeof header, out) == sizeof header &&
              write_crossfade(out, &song_a, song_b, frames, fade_start, fade_end);
    if (fclose(out) != 0) written = 0;
  }
  const int write_errno = errno;
  tc_synth_free(song_a); /* NULL when the fade freed it */
  tc_synth_free(song_b);
  if (!written) {
    fprintf(stderr, "crossfade: cannot write %s: %s\n", argv[7], strerror(write_errno));
    if (created) remove(argv[7]); /* no half-written file left behind */
    return 1;
  }
  return 0;
}
