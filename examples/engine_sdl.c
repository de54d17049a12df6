/* engine_sdl.c: an engine's use of the tunecast libraries with SDL2 audio.
 * Loads a WAD archive, registers one music lump (MUS or Standard MIDI), and
 * plays it once through SDL's audio device for SECONDS seconds: SDL's audio
 * thread pulls the synthesizer with chip_render in its callback, each sample
 * (int16_t)(left * 32000.0f) as the tool writes it, silence after SECONDS.
 *
 *   engine_sdl ARCHIVE LUMP SECONDS
 */
#include <SDL.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "tunecast/chip.h"
#include "tunecast/version.h"
#include "tunecast/wad.h"

enum { rate_hz = 44100, block_frames = 1024 };

static SDL_AudioDeviceID dev; /* 0 until the device is open */
static int64_t frames_left;   /* under the device lock */

/* The library's control calls take these. SDL holds the same lock while it
 * runs the callback, so they never meet chip_render halfway. Before the
 * device opens there is no other thread, so nothing to lock. */
void snd_lock(void) {
  if (dev != 0) SDL_LockAudioDevice(dev);
}
void snd_unlock(void) {
  if (dev != 0) SDL_UnlockAudioDevice(dev);
}

/* SDL's audio thread, with the device lock held. */
static void SDLCALL fill(void *user, Uint8 *stream, int len) {
  (void)user;
  static float left[block_frames], right[block_frames];
  int16_t *out = (int16_t *)(void *)stream;
  int32_t todo = len / 2; /* mono, 16-bit */
  while (todo > 0) {
    const int32_t n = todo < block_frames ? todo : block_frames;
    const int32_t played = frames_left < n ? (int32_t)frames_left : n;
    chip_render(left, right, played);
    for (int32_t k = 0; k < played; ++k)
      out[k] = (int16_t)(left[k] * 32000.0f); /* not 32767: headroom */
    for (int32_t k = played; k < n; ++k) out[k] = 0;
    frames_left -= played;
    out += n;
    todo -= n;
  }
}

static const char *register_error(int32_t status) {
  switch (status) {
    case CHIP_NOT_MUSIC:
      return "neither MUS nor MIDI";
    case CHIP_MUS_TRUNCATED:
      return "MUS lump shorter than its header says";
    case CHIP_MIDI_INVALID:
      return "MIDI file that does not convert";
    case CHIP_OUT_OF_MEMORY:
      return "out of memory";
    default:
      return "unknown status";
  }
}

int main(int argc, char **argv) {
  if (argc != 4) {
    fprintf(stderr, "engine_sdl (tunecast %s)\nusage: engine_sdl ARCHIVE LUMP SECONDS\n",
            TUNECAST_VERSION_STRING);
    return 2;
  }
  const double seconds = atof(argv[3]);
  if (!(seconds > 0.0 && seconds <= 3600.0)) {
    fprintf(stderr, "engine_sdl: SECONDS above 0, up to 3600\n");
    return 2;
  }

  wad_file *wad = wad_load(argv[1]); /* prints one [WAD] line */
  if (wad == NULL) return 1;
  int32_t size = 0;
  const void *lump = wad_get_data(wad, argv[2], &size);
  if (lump == NULL) {
    fprintf(stderr, "engine_sdl: no lump %s\n", argv[2]);
    wad_free(wad);
    return 1;
  }
  /* The synthesizer keeps its own copy: the archive may go at once. */
  const int32_t status = chip_register_song(lump, size);
  wad_free(wad);
  if (status != CHIP_REGISTERED) {
    fprintf(stderr, "engine_sdl: %s: %s\n", argv[2], register_error(status));
    return 1;
  }
  I_SetMusicVolume(100);                      /* as the tool plays */
  frames_left = (int64_t)(seconds * rate_hz); /* truncated, as the tool counts */

  if (SDL_Init(SDL_INIT_AUDIO) != 0) {
    fprintf(stderr, "engine_sdl: cannot start SDL audio: %s\n", SDL_GetError());
    return 1;
  }
  SDL_AudioSpec want;
  SDL_zero(want);
  want.freq = rate_hz;
  want.format = AUDIO_S16SYS;
  want.channels = 1;
  want.samples = block_frames;
  want.callback = fill;
  /* No changes allowed: SDL converts to the device if it must, so the
   * callback always gets the format the samples are written in. */
  const SDL_AudioDeviceID opened = SDL_OpenAudioDevice(NULL, 0, &want, NULL, 0);
  if (opened == 0) {
    fprintf(stderr, "engine_sdl: cannot open an audio device: %s\n", SDL_GetError());
    SDL_Quit();
    return 1;
  }
  dev = opened;     /* set while the device is paused: the callback has not run */
  I_PlaySong(0, 0); /* once, no loop; takes the device lock */
  SDL_PauseAudioDevice(dev, 0);

  for (int64_t remaining = 1; remaining > 0;) {
    SDL_Delay(10);
    SDL_LockAudioDevice(dev);
    remaining = frames_left;
    SDL_UnlockAudioDevice(dev);
  }
  SDL_CloseAudioDevice(dev); /* waits for the callback to finish */
  dev = 0;
  I_UnRegisterSong();
  SDL_Quit();
  return 0;
}
