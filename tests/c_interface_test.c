/* Proves that the engine-facing headers compile as C and that a C program
 * links against the synthesizer (with its MIDI converter) and the WAD
 * module, the sized registration and the log hook included. */
#include <stdio.h>
#include <stdlib.h>

#include "tunecast/chip.h"
#include "tunecast/version.h"
#include "tunecast/wad.h"

static int failures = 0;
static int failure_lines = 0;

static void count_failures(void *user, int32_t level, const char *line) {
  (void)line;
  if (level == WAD_LOG_FAILURE) ++*(int *)user;
}

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
    chip_set_stereo(1);
    chip_render(block_left, block_right, 4);
    chip_set_stereo(0);
    check(block_left[3] == 0.0f && block_right[3] == 0.0f, "stereo chip_render of a song without notes");
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

  check(chip_register_song(song, (int32_t)sizeof song - 1) == CHIP_MUS_TRUNCATED,
        "chip_register_song of a cut score");
  check(chip_register_song(song, (int32_t)sizeof song) == CHIP_REGISTERED,
        "chip_register_song of a whole score");
  check(chip_sounding_voices() == 0, "no voice sounds before a note");
  chip_set_music_dir(NULL);
  I_UnRegisterSong();

  wad_set_log(count_failures, &failure_lines);
  check(wad_load("/nonexistent/tunecast.wad") == NULL, "wad_load of a missing file");
  check(failure_lines == 1, "the log hook heard the failure");
  {
    /* "PWAD", no lumps, the directory at 12: the smallest archive. */
    static const uint8_t empty[] = {'P', 'W', 'A', 'D', 0, 0, 0, 0, 12, 0, 0, 0};
    wad_file *w = wad_load_memory(empty, sizeof empty, "empty");
    check(w != NULL && w->num_lumps == 0, "wad_load_memory of an empty archive");
    wad_free(w);
  }
  wad_set_log(NULL, NULL);
  wad_free(NULL);
  check(wad_merge(NULL, NULL) == -1, "wad_merge of nulls");
  wad_find_maps_free(NULL, 0);
  {
    /* A null handle is answered, never read through. */
    int32_t count = -1, size = -1;
    char **maps = wad_find_maps(NULL, &count);
    check(maps == NULL && count == 0, "wad_find_maps of a null handle");
    check(wad_get(NULL, "D_X") == NULL, "wad_get of a null handle");
    check(wad_get_data(NULL, "D_X", &size) == NULL && size == -1, "wad_get_data of a null handle");
    map.things.size = 1;
    check(wad_read_map(NULL, "MAP01", &map) == -1 && map.things.size == 0,
          "wad_read_map of a null handle");
  }

  check(TUNECAST_VERSION_MAJOR >= 0 && TUNECAST_VERSION_STRING[0] != '\0', "version macros");
  if (failures == 0) printf("c interface: ok\n");
  return failures == 0 ? 0 : 1;
}
