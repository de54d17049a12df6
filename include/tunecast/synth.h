/* synth.h: the music synthesizer as an object. C99.
 *
 * A tc_synth holds one song (MUS, or Standard MIDI converted to MUS) and
 * everything needed to play it through 28 chip-style melodic voices and 8
 * synthetic drums at 44100 Hz, to the bit the same samples as the tunecast
 * tool renders. The caller creates as many as it likes, passes one first to
 * every call and frees it.
 *
 * Threads: an instance is driven by one thread at a time; no call locks
 * anything. A program that controls an instance from one thread (load, play,
 * pause, volume...) and renders it in another holds its own mutex around
 * every call on that instance, render included. Different instances share
 * nothing they write: they run on different threads at once with no lock.
 * tc_status_text and tc_version may be called from any thread.
 *
 * Nothing here prints or reads the environment; a recording replaces the
 * song only after tc_synth_set_music_dir. A null handle is answered (a
 * status, 0, or nothing done), never dereferenced; no call throws.
 */
#ifndef TUNECAST_SYNTH_H
#define TUNECAST_SYNTH_H

#include <stddef.h>
#include <stdint.h>

#include "tunecast/export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct tc_synth tc_synth;

typedef enum {
  TC_OK = 0,
  TC_NOT_MUSIC = 1,     /* neither MUS nor MIDI, or under 4 bytes */
  TC_MUS_TRUNCATED = 2, /* MUS shorter than its header declares */
  TC_MIDI_INVALID = 3,  /* a MIDI file that does not convert */
  TC_OUT_OF_MEMORY = 4,
  TC_NULL_HANDLE = 5, /* the instance (or a required pointer) was null */
  TC_TOO_LARGE = 6    /* more than 2^31 - 1 bytes of data */
} tc_status;

/* A short English sentence for status, static, never null ("unknown status"
 * for a value outside the enum). Any thread. */
TUNECAST_API const char *tc_status_text(tc_status status);

/* The library's version, "MAJOR.MINOR.PATCH", static. Any thread. */
TUNECAST_API const char *tc_version(void);

/* A new instance: no song, stopped, volume 100 (the tool's default), mono.
 * Returns NULL when out of memory. Its tables take up to 27 MiB of address
 * space, of which only the pages a song reaches are ever touched. */
TUNECAST_API tc_synth *tc_synth_new(void);

/* Frees s, its song and its recording. NULL does nothing. */
TUNECAST_API void tc_synth_free(tc_synth *s);

/* Loads a music lump: MUS, or a Standard MIDI file (format 0 or 1) converted
 * exactly as the tool converts it.
 * data: size bytes, read during the call only and never past size; the
 *   instance keeps its own copy. NULL counts as no data.
 * Returns TC_OK, the previous song released and playback stopped; otherwise
 * nothing changes and the status says why (TC_NOT_MUSIC, TC_MUS_TRUNCATED,
 * TC_MIDI_INVALID, TC_OUT_OF_MEMORY, TC_TOO_LARGE, TC_NULL_HANDLE). */
TUNECAST_API tc_status tc_synth_load(tc_synth *s, const void *data, size_t size);

/* Starts the loaded song from its start; does nothing without one.
 * looping: non-zero repeats the song at its score end for ever.
 * With a music directory set, a recording found for the music name plays
 * instead (it is read here, in the calling thread). Clears a pause. */
TUNECAST_API void tc_synth_play(tc_synth *s, int looping);

/* Stops playback and silences every voice; the song stays loaded. */
TUNECAST_API void tc_synth_stop(tc_synth *s);

/* Holds or releases playback: while held, renders give silence and no time
 * passes in the song. */
TUNECAST_API void tc_synth_pause(tc_synth *s);
TUNECAST_API void tc_synth_resume(tc_synth *s);

/* volume: 0 to 127 (clamped), the engines' music volume: synthesizer gain
 * 1.6 * volume / 127, recording gain 0.9 * volume / 127. The tool's default
 * is 100. Applies from the next rendered frame. */
TUNECAST_API void tc_synth_set_volume(tc_synth *s, int volume);

/* on non-zero: two interleaved channels, each voice placed by its channel's
 * pan (equal-power, both gains 1.0 at the centre); 0 (the start): one
 * channel. Applies from the next rendered frame. */
TUNECAST_API void tc_synth_set_stereo(tc_synth *s, int on);

/* The next frames frames, interleaved (1 or 2 samples a frame, as set by
 * tc_synth_set_stereo), into out, which holds frames * channels values and
 * belongs to the caller.
 * render_f32: the synthesizer's values, in [-1, 1] for a song.
 * render_s16: the same values times 32000 in single precision, truncated
 *   toward zero: the samples the tool writes to its WAV files.
 * Returns frames: silence where nothing plays (stopped, paused, no song, after
 * the end of a song that does not loop). 0 for a null s or out. */
TUNECAST_API size_t tc_synth_render_f32(tc_synth *s, float *out, size_t frames);
TUNECAST_API size_t tc_synth_render_s16(tc_synth *s, int16_t *out, size_t frames);

/* Restarts the loaded song (or recording) with the last looping flag and
 * advances it frame frames without output, so that what follows is exactly
 * a render from the start after frame frames; a pause is kept. Takes time
 * in proportion to frame. Returns 1, or 0 with nothing loaded or a null s. */
TUNECAST_API int tc_synth_seek(tc_synth *s, uint64_t frame);

/* Frames rendered since the last play or seek, frames rendered while paused
 * or stopped left out; 0 for a null s. */
TUNECAST_API uint64_t tc_synth_tell(const tc_synth *s);

/* The loaded song's natural length in seconds, the time its score end falls
 * due when played from the start; negative for a score without an end, no
 * song or a null s. */
TUNECAST_API double tc_synth_length(const tc_synth *s);

/* Recordings: a 16-bit 44100 Hz WAV "<dir>/D_<NAME>.wav" (name upper-cased,
 * at most 15 bytes) plays in place of the song at tc_synth_play.
 * dir: copied (cut to 511 bytes); NULL (the start) means never look.
 * name: copied (at most 15 bytes); NULL (the start) means never look; ""
 *   is a name too, the file "<dir>/D_.wav".
 * Return TC_OK, or TC_NULL_HANDLE. */
TUNECAST_API tc_status tc_synth_set_music_dir(tc_synth *s, const char *dir);
TUNECAST_API tc_status tc_synth_set_music_name(tc_synth *s, const char *name);

/* 1 when the last tc_synth_play or tc_synth_seek found a recording, which
 * then plays (or has played out) in place of the song until the next stop,
 * load, play or seek; 0 otherwise and for a null s. */
TUNECAST_API int tc_synth_playing_recording(const tc_synth *s);

#ifdef __cplusplus
}
#endif

#endif /* TUNECAST_SYNTH_H */
