/* Proves that synth.h compiles as strict C99 and that a C program links the
 * handle API alone (tunecast::synth, no engine names): two instances of a
 * one-note song, one mono and one stereo, give the same left channel. */
#include <stdio.h>
#include <string.h>

#include "tunecast/synth.h"

static int failures = 0;

static void check(int ok, const char *what) {
  if (!ok) {
    fprintf(stderr, "synth interface: %s\n", what);
    ++failures;
  }
}

int main(void) {
  /* "MUS" 0x1A, score length 6 at 8: note 60 at velocity 100 on channel 0
   * ending its group, a 70-tick delay, then the score end. */
  static const uint8_t song[] = {'M', 'U', 'S', 0x1A, 6, 0, 8, 0, 0x90, 0xBC, 100, 70, 0x60, 0};
  int16_t mono[256], stereo[512];
  size_t i;
  int sounds = 0;
  tc_synth *a = tc_synth_new(), *b = tc_synth_new();

  check(a != NULL && b != NULL, "tc_synth_new gave no instance");
  check(strcmp(tc_status_text(TC_OK), "success") == 0, "tc_status_text(TC_OK)");
  check(tc_version()[0] != '\0', "an empty version");
  check(tc_synth_load(a, song, sizeof song) == TC_OK, "the song was refused");
  check(tc_synth_load(b, song, sizeof song) == TC_OK, "the song was refused twice");
  check(tc_synth_load(NULL, song, sizeof song) == TC_NULL_HANDLE, "a null handle");
  tc_synth_set_stereo(b, 1);
  tc_synth_play(a, 0);
  tc_synth_play(b, 0);
  check(tc_synth_render_s16(a, mono, 256) == 256, "render_s16 mono");
  check(tc_synth_render_s16(b, stereo, 256) == 256, "render_s16 stereo");
  for (i = 0; i < 256; ++i) {
    check(mono[i] == stereo[2 * i] && mono[i] == stereo[2 * i + 1], "centre pan differs");
    sounds |= mono[i] != 0;
  }
  check(sounds, "the note is silent");
  check(tc_synth_tell(a) == 256, "tell after 256 frames");
  check(tc_synth_length(a) > 0.49 && tc_synth_length(a) < 0.51, "the length of 70 ticks");
  tc_synth_free(a);
  tc_synth_free(b);
  tc_synth_free(NULL);
  return failures == 0 ? 0 : 1;
}
