/* chip.h: the music synthesizer's engine-facing interface.
 *
 * The engine-style calls drive one default synthesizer of the process (for
 * several at once, see the handle API of synth.h). It plays one registered
 * MUS song through 28 chip-style melodic voices and 8 synthetic drums, or a
 * pre-rendered WAV recording in its place, at 44100 Hz: one sample per
 * chip_next() call, or a block of them per chip_render() call.
 *
 * Threads: the control calls marked "locked" take snd_lock()/snd_unlock()
 * around their effect, and never read a file or allocate while they hold it.
 * chip_next(), chip_render(), chip_stats(), chip_sounding_voices() and the
 * pcm_* calls take no lock: a program that pulls samples on another thread
 * holds the same lock around them. The default hooks do nothing; link your
 * own snd_lock/snd_unlock to replace them. No call prints anything.
 *
 * Recordings: unless told otherwise by chip_set_music_dir, the I_ calls read
 * the environment for them: ZARN_SYNTH set (to anything, even empty) means
 * never look for one, ZARN_MUSIC_DIR names their directory ("music" when
 * unset).
 */
#ifndef TUNECAST_CHIP_H
#define TUNECAST_CHIP_H

#include <stdint.h>

#include "tunecast/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Present for the engine's calling pattern; they change nothing. */
TUNECAST_API void I_InitMusic(void);
TUNECAST_API void I_ShutdownMusic(void);

/* volume: 0 to 127, not clamped. Synth gain = 1.6 * (volume / 127.0),
 * recording gain = (volume / 127.0) * 0.9. Locked. */
TUNECAST_API void I_SetMusicVolume(int32_t volume);

/* Hold or release playback; no time passes while held. Also before any song:
 * the next I_PlaySong releases it. Locked. */
TUNECAST_API void I_PauseSong(void);
TUNECAST_API void I_ResumeSong(void);

/* mus: MUS data starting with "MUS\x1A"; it must hold at least 8 bytes and at
 * least score start + score length bytes (the header is trusted). The module
 * keeps its own copy; the previous song is released and playback stops.
 * Returns 1, or 0 (null, wrong signature, out of memory: nothing changes).
 * Locked only around the swap of the copy. */
TUNECAST_API int32_t I_RegisterSong(const void *mus);

/* Starts the registered song from its start; does nothing without one.
 * handle: ignored, there is only one song.
 * looping: stored as passed; non-zero repeats the song at its score end.
 * A recording found for g_music_name (see pcm_file_path) plays instead,
 * unless ZARN_SYNTH is set. Locked: the recording is looked for and read
 * before the lock is taken; the lock covers only the swap and the restart,
 * and the replaced recording is freed after it. */
TUNECAST_API void I_PlaySong(int32_t handle, int32_t looping);

/* Stops playback, silences every voice, releases the recording; the song
 * stays registered. Locked. */
TUNECAST_API void I_StopSong(void);

/* As I_StopSong, and releases the song copy. Locked. */
TUNECAST_API void I_UnRegisterSong(void);

/* One output sample (1/44100 s). Both outputs are always written; on the
 * synthesizer they are equal and lie in [-1, 1]. Allocates nothing, opens
 * nothing. Not locked. */
TUNECAST_API void chip_next(float *left, float *right);

/* The next frames samples into left[0..frames) and right[0..frames),
 * exactly as that many chip_next calls would give them, but faster: between
 * two events of the song every voice is run over the whole stretch. The two
 * arrays must not overlap. frames <= 0 does nothing. Not locked: an engine
 * calls it under the same rule as chip_next. */
TUNECAST_API void chip_render(float *left, float *right, int32_t frames);

/* on 1: from the next sample, chip_next and chip_render place each melodic
 * voice between left and right by its channel's pan (MUS controller 4,
 * 0 to 127, 64 = centre, reset to 64 with the other channel settings) and
 * every drum by channel 15's, with an equal-power law whose gains are both
 * exactly 1.0 at the centre, and clamp each side on its own. on 0 (the
 * start): both outputs get the same mono sample. Recordings play as they
 * are either way. Locked. */
TUNECAST_API void chip_set_stereo(int32_t on);

/* mode: 1 recording loaded, 2 song registered, 0 neither. position and
 * length in seconds of the recording, 0.0 otherwise. Not locked. */
TUNECAST_API void chip_stats(int32_t *mode, int32_t *playing, int32_t *paused, double *position_s,
                             double *length_s);

/* The voices sounding now: active melodic voices (0 to 28) plus active drums
 * (0 to 8), so 0 to 36, as the next sample of the song would render them.
 * Not locked: read it where chip_render may run. */
TUNECAST_API int32_t chip_sounding_voices(void);

/* Natural length of the MUS score at mus (size bytes, read no further): the time its
 * score end falls due when played from the start, whole samples / 44100.0, in *seconds.
 * Returns 1, or 0: not MUS, shorter than its header, or no score end. Pure; not locked. */
TUNECAST_API int32_t chip_song_length(const void *mus, int32_t size, double *seconds);

/* Lock hooks, weak and empty here; an embedding program supplies its pair
 * (on Windows, only when it links the static library: the DLL's stay empty). */
TUNECAST_API void snd_lock(void);
TUNECAST_API void snd_unlock(void);

/* Music name under which I_PlaySong looks for a recording (see
 * pcm_file_path). Written by the engine only; empty at start. */
TUNECAST_API extern char g_music_name[16];

/* Where I_SetMusicVolume stores the recording gain (initially 0.8). */
TUNECAST_API extern double *pcm_gain_p;

/* Discards the current recording; then returns 0 when ZARN_SYNTH is set,
 * else 1 when the recording for name loaded (it plays from its first frame
 * under the current playing/looping flags) and 0 when not. Not locked. */
TUNECAST_API int32_t pcm_try(const char *name);

/* The file a recording for name is looked for in, as I_PlaySong and pcm_try
 * open it: the music directory (see chip_set_music_dir), "/D_", the first 15
 * bytes of name upper-cased, ".wav"; at most 511 bytes, as the loader cuts it.
 * name: a music name (null counts as empty); read during the call only.
 * path: size bytes, owned by the caller; always terminated when size >= 1; a
 *   longer path is cut to fit.
 * Returns the length of the whole path (0 to 511), as snprintf does. Reads
 * the environment when no directory was set; not locked. */
TUNECAST_API int32_t pcm_file_path(const char *name, char *path, int32_t size);

/* Sets the directory recordings are looked for in, in place of the
 * environment's.
 * dir: a directory name, copied (the caller may free it at once; more than
 *   511 bytes are cut, as every path made from it would be); "" is the root,
 *   as an empty ZARN_MUSIC_DIR is. Null restores the default: ZARN_MUSIC_DIR,
 *   read at each lookup, or "music" when unset.
 * Not locked: only the control calls (I_PlaySong, pcm_try, pcm_file_path)
 * read it, so call it from the thread that makes them. ZARN_SYNTH still
 * decides whether a recording is looked for at all. */
TUNECAST_API void chip_set_music_dir(const char *dir);

/* Discard the current recording (both do the same). Not locked. */
TUNECAST_API void pcm_stop(void);
TUNECAST_API void pcm_free_all(void);

/* Status of chip_register_song. */
enum {
  CHIP_REGISTERED = 0,
  CHIP_NOT_MUSIC = 1,
  CHIP_MUS_TRUNCATED = 2,
  CHIP_MIDI_INVALID = 3,
  CHIP_OUT_OF_MEMORY = 4
};

/* Registers a music lump, checked against its size: a MUS score, or a
 * Standard MIDI file (format 0 or 1, "MThd") converted into one exactly as
 * the tunecast tool converts it, to the same samples.
 * data: size bytes, read only during the call and never past size; the
 *   module keeps its own copy of the score. Null counts as no data.
 * size: in bytes; 0 or less is no data.
 * Returns CHIP_REGISTERED, after which the song is registered as by
 * I_RegisterSong on the score (the previous one released, playback stopped);
 * otherwise nothing changes and the status says why: CHIP_NOT_MUSIC (neither
 * format, or under 4 bytes), CHIP_MUS_TRUNCATED (shorter than its header
 * declares), CHIP_MIDI_INVALID (a MIDI file that does not convert),
 * CHIP_OUT_OF_MEMORY. Locked only around the swap of the copy, as
 * I_RegisterSong; never throws. */
TUNECAST_API int32_t chip_register_song(const void *data, int32_t size);

#ifdef __cplusplus
}
#endif

#endif /* TUNECAST_CHIP_H */
