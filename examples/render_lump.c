/* render_lump.c: an engine's use of the tunecast libraries, in C. Loads a
 * WAD archive, registers one music lump (MUS or Standard MIDI), plays it once
 * and writes the samples as the tunecast tool writes them into its WAV file:
 * raw 16-bit little-endian mono at 44100 Hz, each sample (int16_t)(left *
 * 32000.0f). Play the result with `aplay -f S16_LE -r 44100 -c 1 OUT.raw`.
 *
 *   render_lump ARCHIVE LUMP SECONDS OUT.raw
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "tunecast/chip.h"
#include "tunecast/version.h"
#include "tunecast/wad.h"

enum { rate_hz = 44100, block_frames = 1024 };

static const char *register_error(int32_t status) {
  switch (status) {
    case CHIP_NOT_MUSIC: return "neither MUS nor MIDI";
    case CHIP_MUS_TRUNCATED: return "MUS lump shorter than its header says";
    case CHIP_MIDI_INVALID: return "MIDI file that does not convert";
    case CHIP_OUT_OF_MEMORY: return "out of memory";
    default: return "unknown status";
  }
}

int main(int argc, char **argv) {
  if (argc != 5) {
    fprintf(stderr, "render_lump (tunecast %s)\nusage: render_lump ARCHIVE LUMP SECONDS OUT.raw\n",
            TUNECAST_VERSION_STRING);
    return 2;
  }
  const double seconds = atof(argv[3]);
  if (!(seconds >= 0.0 && seconds <= 3600.0)) {
    fprintf(stderr, "render_lump: SECONDS from 0 to 3600\n");
    return 2;
  }

  wad_file *wad = wad_load(argv[1]); /* prints one [WAD] line */
  if (wad == NULL) return 1;
  int32_t size = 0;
  const void *lump = wad_get_data(wad, argv[2], &size);
  if (lump == NULL) {
    fprintf(stderr, "render_lump: no lump %s\n", argv[2]);
    wad_free(wad);
    return 1;
  }
  /* The synthesizer keeps its own copy: the archive may go at once. */
  const int32_t status = chip_register_song(lump, size);
  wad_free(wad);
  if (status != CHIP_REGISTERED) {
    fprintf(stderr, "render_lump: %s: %s\n", argv[2], register_error(status));
    return 1;
  }

  FILE *out = fopen(argv[4], "wb");
  if (out == NULL) {
    perror(argv[4]);
    return 1;
  }
  I_SetMusicVolume(100); /* as the tool plays */
  I_PlaySong(0, 0);      /* once, no loop */
  static float left[block_frames], right[block_frames];
  static uint8_t bytes[2 * block_frames];
  const int64_t frames = (int64_t)(seconds * rate_hz); /* truncated, as the tool counts */
  int failed = 0;
  for (int64_t done = 0; done < frames && !failed; done += block_frames) {
    const int32_t n = (int32_t)(frames - done < block_frames ? frames - done : block_frames);
    chip_render(left, right, n);
    for (int32_t k = 0; k < n; ++k) {
      const uint16_t sample = (uint16_t)(int16_t)(left[k] * 32000.0f); /* not 32767: headroom */
      bytes[2 * k] = (uint8_t)(sample & 0xFF);
      bytes[2 * k + 1] = (uint8_t)(sample >> 8);
    }
    failed = fwrite(bytes, 2, (size_t)n, out) != (size_t)n;
  }
  I_UnRegisterSong();
  if (fclose(out) != 0) failed = 1;
  if (failed) {
    perror(argv[4]);
    return 1;
  }
  return 0;
}
