// state.h: the synthesizer's module state and the functions each of its
// concerns (control, sequencer, voices, drums, recording) offers the others.
// Internal to the module; engines use chip.h. Defined once, in chip.cpp.
#ifndef TUNECAST_CHIP_STATE_H
#define TUNECAST_CHIP_STATE_H

#include <array>
#include <cstddef>
#include <cstdint>

#include "tunecast/chip.h"
#include "chip/age_tables.h"

constexpr int chip_voice_count = 28;
constexpr int chip_drum_count = 8;
constexpr int chip_channel_count = 16;
constexpr int chip_percussion_channel = 15;
constexpr double sample_rate_hz = 44100.0;
// 1/44100 as a double. Every clock advances by repeated addition of this
// step, never as count / 44100: the rounding of the sum decides on which
// sample a release ends or a vibrato starts.
constexpr double sample_step_s = 2.2675736961451248e-05;
// The most samples rendered as one stretch (samples with no event between
// them, run voice after voice).
constexpr int32_t chip_stretch_max = 128;

// One of the 16 MUS channels.
struct chip_channel {
  int32_t instrument;  // program 0..127, read at note-on
  int32_t volume;      // 0..127, read by every voice every sample
  int32_t bend;        // 0..255, 128 = centre, read every sample
};

// One melodic voice slot.
struct chip_voice {
  int32_t active;   // 1 sounding, 0 free
  int32_t channel;  // 0..14
  int32_t note;     // 0..127, 69 = 440 Hz
  int32_t gate;     // 1 held, 0 releasing
  int32_t wave;     // 0 pulse, 1 triangle, 2 saw, 3 hexagon, 4 noise, 5 short noise
  double duty;      // pulse: fraction of the period at +1
  double decay;     // s, time constant of the fade over the whole note; 0 = none
  double attack;    // s, > 0
  double release;   // s, > 0
  double vibrato;   // semitones of peak deviation; 0 = none
  int32_t bits;     // triangle quantisation: 0 smooth, n = 2^n levels
  double phase;     // cycles, [0, 1)
  double age;       // s since note-on
  double rel_age;   // s since the gate closed
  double amp;       // velocity / 127.0
  uint32_t lfsr;    // noise register, 15 bits
  double noise;     // last noise value, +1 or -1

  // Render cache: the pitch and phase step of pitch_note under pitch_bend,
  // valid while pitch_cached is 1. A cleared record has none, so a note-on
  // or a cleared pool recomputes it; a bend change is caught by the key.
  int32_t pitch_cached;
  int32_t pitch_note;
  int32_t pitch_bend;
  double pitch_hz;    // voice_pitch_hz(pitch_note, pitch_bend)
  double pitch_step;  // pitch_hz / 44100.0, the phase step without vibrato
  int64_t clock;  // samples rendered since note-on: the index into the age tables
  chip::age_block_cache tables;  // slot 0 the decay, 1 the vibrato
};

// Two-pole resonator.
struct chip_resonator {
  double b0, a1, a2, y1, y2;
};

// One drum slot.
struct chip_drum {
  int32_t active;
  int32_t kind;     // 0 kick, 1 snare, 2 hi-hat, 3 tom, 4 crash, 5 ride, 6 clap
  double age;       // s since start
  double duration;  // s; freed on the first sample whose age exceeds it
  double amp;       // (velocity / 127.0) * 0.9
  double freq;      // Hz
  double phase;     // cycles, [0, 1)
  uint32_t lfsr;    // generator 1 (taps 0, 1)
  uint32_t lfsr2;   // generator 2 (taps 0, 6)
  std::array<chip_resonator, 6> res;
  int32_t res_count;
  double decay;     // s

  // Set by drum_init from the fields above, so that no sample works it out
  // again: the body's decay (kick, snare, tom: max(duration / k, floor);
  // ride: 1.3 decay for its bell), 0 for the other kinds.
  double body_decay;
  int64_t clock;  // samples since start: the index into the age tables
  chip::age_block_cache fades;  // the kind's fades, numbered by the kind
};

namespace chip {

// Song and sequencer.
extern uint8_t *song;  // own copy of the registered MUS data, header included
extern int32_t song_len;
extern int32_t start_ofs;
extern int32_t pos;
extern int64_t wait_samples;
extern int32_t playing;
extern int32_t paused;
extern int32_t looping;
extern std::array<chip_channel, chip_channel_count> CH;
extern std::array<int32_t, chip_channel_count> lastvel;

// Voice pools.
extern std::array<chip_voice, chip_voice_count> V;
extern std::array<chip_drum, chip_drum_count> D;

// Output gains.
extern double gain;
extern double pcm_gain;

// Recording.
extern int16_t *pcm;
extern int64_t pcm_n;
extern int64_t pcm_pos;
extern int32_t pcm_ch;

// Control (chip.cpp).
void channels_reset();  // instrument 0, volume 100, bend 128 on all channels

// Sequencer (sequencer.cpp): carries out every event group due on this
// sample and counts down. Returns true when the song ended in this call.
bool seq_step();

// Melodic voices (voices.cpp).
void voice_note_on(int32_t channel, int32_t note, int32_t velocity);
// Adds the melodic voices' next n samples to sum[0..n) and advances them. n
// samples with no event in between: the sequencer is not consulted.
void voices_render(double *sum, int32_t n);

// Drums (drums.cpp).
void drum_init(chip_drum *d, int32_t note, double amp);
void drum_note_on(int32_t note, int32_t velocity);
// Adds the drums' next n samples, each drum clamped, to sum[0..n) in slot
// order, and advances them; as voices_render, n samples with no event.
void drums_render(double *sum, int32_t n);

// Recording (recording.cpp).
// The file name of the recording for name: "<dir>/D_<NAME>.wav", dir from
// ZARN_MUSIC_DIR (even when empty) or "music", at most 15 bytes of name,
// upper-cased; a longer result is cut to fit the buffer.
void pcm_path(const char *name, char (&path)[512]);
int32_t pcm_load(const char *name);  // 1 when a recording was loaded for name
void pcm_discard();                  // free pcm; pcm null, pcm_n 0
void recording_play_step(float *left, float *right);

}  // namespace chip

#endif  // TUNECAST_CHIP_STATE_H
