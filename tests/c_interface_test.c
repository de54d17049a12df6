/* Proves that the engine-facing headers compile as C and that a C program
 * links against the synthesizer and the WAD module. */
#include <stdio.h>
#include <stdlib.h>

#include "tunecast/chip.h"
#include "tunecast/wad.h"

static int failures = 0;

static void check(int ok, const char *what) {
  if (!ok) {
    fprintf(stderr, "c interface: %s\n", what);
    ++failures;
  }
}

int main(void) {
  /* "MUS" 0x1A, score length 2, score start 8: a measure end that ends its
   * group, then a one-tick delay. */
  static const uint8_t song[] = {'M', 'U', 'S', 0x1A, 2, 0, 8, 0, 0xD0, 0x01};
  int32_t mode = -1, playing = -1, paused = -1;
  double position = -1.0, length = -1.0;
  float left = 1.0f, right = 1.0f;
  wad_map map; /* the records compile as C too */

  setenv("ZARN_SYNTH", "1", 1);
  I_InitMusic();
  check(I_RegisterSong(song) == 1, "I_RegisterSong refused a valid song");
  I_SetMusicVolume(100);
  I_PlaySong(0, 0);
  chip_next(&left, &right);
  check(left == 0.0f && right == 0.0f, "a song without notes is not silent");
  {
    float block_left[4] = {1.0f, 1.0f, 1.0f, 1.0f}, block_right[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    chip_render(block_left, block_right, 4);
    check(block_left[3] == 0.0f && block_right[3] == 0.0f, "chip_render of a song without notes");
  }
  chip_stats(&mode, &playing, &paused, &position, &length);
  check(mode == 2 && playing == 1 && paused == 0, "chip_stats after I_PlaySong");
  check(pcm_gain_p != NULL && *pcm_gain_p > 0.70 && *pcm_gain_p < 0.71, "pcm_gain_p");
  check(g_music_name[0] == '\0', "g_music_name starts empty");
  check(pcm_try("none") == 0, "pcm_try with ZARN_SYNTH set");
  pcm_stop();
  pcm_free_all();
  I_PauseSong();
  I_ResumeSong();
  I_StopSong();
  I_UnRegisterSong();
  I_ShutdownMusic();

  check(wad_load("/nonexistent/tunecast.wad") == NULL, "wad_load of a missing file");
  wad_free(NULL);
  check(wad_merge(NULL, NULL) == -1, "wad_merge of nulls");
  wad_find_maps_free(NULL, 0);
  (void)map;

  if (failures == 0) printf("c interface: ok\n");
  return failures == 0 ? 0 : 1;
}
