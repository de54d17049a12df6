/* render_synth.c: render_lump.c through the handle API of synth.h, with no
 * engine names: loads a WAD archive, loads one music lump (MUS or Standard
 * MIDI) into an instance, plays it once and writes the tool's samples as raw
 * 16-bit little-endian mono at 44100 Hz.
 *
 *   render_synth ARCHIVE LUMP SECONDS OUT.raw
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "tunecast/synth.h"
#include "tunecast/wad.h"

enum { rate_hz = 44100, block_frames = 1024 };

int main(int argc, char **argv) {
  if (argc != 5) {
    fprintf(stderr,
            "render_synth (tunecast %s)\nusage: render_synth ARCHIVE LUMP SECONDS OUT.raw\n",
            tc_version());
    return 2;
  }
  const double seconds = atof(argv[3]);
  if (!(seconds >= 0.0 && seconds <= 3600.0)) {
    fprintf(stderr, "render_synth: SECONDS from 0 to 3600\n");
    return 2;
  }

  wad_file *wad = wad_load(argv[1]); /* prints one [WAD] line */
  if (wad == NULL) return 1;
  int32_t size = 0;
  const void *lump = wad_get_data(wad, argv[2], &size);
  tc_synth *synth = tc_synth_new();
  if (lump == NULL || synth == NULL) {
    fprintf(stderr, "render_synth: %s\n", lump == NULL ? "no such lump" : "out of memory");
    wad_free(wad);
    tc_synth_free(synth);
    return 1;
  }
  /* The instance keeps its own copy: the archive may go at once. */
  const tc_status status = tc_synth_load(synth, lump, (size_t)size);
  wad_free(wad);
  if (status != TC_OK) {
    fprintf(stderr, "render_synth: %s: %s\n", argv[2], tc_status_text(status));
    tc_synth_free(synth);
    return 1;
  }

  FILE *out = fopen(argv[4], "wb");
  if (out == NULL) {
    perror(argv[4]);
    tc_synth_free(synth);
    return 1;
  }
  tc_synth_set_volume(synth, 100); /* as the tool plays */
  tc_synth_play(synth, 0);         /* once, no loop */
  static int16_t samples[block_frames];
  static uint8_t bytes[2 * block_frames];
  const int64_t frames = (int64_t)(seconds * rate_hz); /* truncated, as the tool counts */
  int failed = 0;
  for (int64_t done = 0; done < frames && !failed; done += block_frames) {
    const size_t n = (size_t)(frames - done < block_frames ? frames - done : block_frames);
    tc_synth_render_s16(synth, samples, n);
    for (size_t k = 0; k < n; ++k) {
      bytes[2 * k] = (uint8_t)((uint16_t)samples[k] & 0xFF);
      bytes[2 * k + 1] = (uint8_t)((uint16_t)samples[k] >> 8);
    }
    failed = fwrite(bytes, 2, n, out) != n;
  }
  tc_synth_free(synth);
  if (fclose(out) != 0) failed = 1;
  if (failed) {
    perror(argv[4]);
    return 1;
  }
  return 0;
}
