// state.h: the state of one synthesizer instance and the functions each of
// its concerns (control, mix, sequencer, voices, drums, recording) offers the
// others. Internal to the library; engines use synth.h or chip.h.
#ifndef TUNECAST_CHIP_STATE_H
#define TUNECAST_CHIP_STATE_H

#include <array>
#include <cstddef>
#include <cstdint>

#include "chip/age_tables.h"
#include "chip/drum_tables.h"
#include "chip/hexagon_tables.h"
#include "tunecast/synth.h"

namespace tunecast::chip {

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
constexpr int32_t chip_stretch_max = 1024;

// One of the 16 MUS channels.
struct chip_channel {
  int32_t instrument;  // program 0..127, read at note-on
  int32_t volume;      // 0..127, read by every voice every sample
  int32_t bend;        // 0..255, 128 = centre, read every sample
  int32_t pan;         // 0..127, 64 = centre; places the channel in stereo only
};

// One melodic voice slot.
struct chip_voice {
  int32_t active;     // 1 sounding, 0 free
  int32_t channel;    // 0..14
  int32_t note;       // 0..127, 69 = 440 Hz
  int32_t gate;       // 1 held, 0 releasing
  int32_t wave;       // 0 pulse, 1 triangle, 2 saw, 3 hexagon, 4 noise, 5 short noise
  double duty;        // pulse: fraction of the period at +1
  double decay;       // s, time constant of the fade over the whole note; 0 = none
  double attack;      // s, > 0
  double release;     // s, > 0
  double vibrato;     // semitones of peak deviation; 0 = none
  int32_t bits;       // triangle quantisation: 0 smooth, n = 2^n levels
  double phase;       // cycles, [0, 1)
  double age;         // s since note-on
  double rel_age;     // s since the gate closed
  int64_t rel_clock;  // samples since the gate closed; rel_age is then note_ages[rel_clock]
  double amp;         // velocity / 127.0
  uint32_t lfsr;      // noise register, 15 bits
  double noise;       // last noise value, +1 or -1

  // Render cache: the pitch and phase step of pitch_note under pitch_bend,
  // valid while pitch_cached is 1. A cleared record has none, so a note-on
  // or a cleared pool recomputes it; a bend change is caught by the key.
  int32_t pitch_cached;
  int32_t pitch_note;
  int32_t pitch_bend;
  double pitch_hz;               // voice_pitch_hz(pitch_note, pitch_bend)
  double pitch_step;             // pitch_hz / 44100.0, the phase step without vibrato
  int64_t clock;                 // samples rendered since note-on: the index into the age tables
  chip::age_block_cache tables;  // slot 0 the decay, 1 the vibrato
  // 1 while the phase is the sum of steady_step added clock times from 0.0
  // (no bend moved the pitch since note-on, no vibrato): the hexagon tables
  // then hold its waveform. Set on the note's first sample; 0 for good once
  // the step changes.
  int32_t steady;
  double steady_step;
  chip::hexagon_block_cache wave_table;
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
  double decay;  // s

  // Set by drum_init from the fields above, so that no sample works it out
  // again: the body's decay (kick, snare, tom: max(duration / k, floor);
  // ride: 1.3 decay for its bell), 0 for the other kinds.
  double body_decay;
  int64_t clock;          // samples since start: the index into the age and drum tables
  age_block_cache fades;  // the kind's fades, numbered by the kind
  // 1 + the drum's variant while its samples come from that variant's table;
  // phase, lfsr, lfsr2 and res then keep their start values and are brought
  // up to date only if the drum outlives the table. 0: they are live.
  int32_t table;
};

// One variant's table: a drum of that note, without velocity, rendered made
// samples into it; it goes on from there when a drum needs later entries.
struct drum_variant_table {
  int64_t made = 0;
  // Samples the table serves, up to its capacity; 0: the capacity. Changed
  // only on an empty table: a drum leaving the table takes the maker's state
  // as it is after len samples.
  int64_t len = 0;
  chip_drum maker{};
};

// What has been made in a store: entries past made are never read, so a
// default-built record over a used store is an empty set of tables.
struct drum_table_set {
  drum_table_store *store = nullptr;  // the instance's (synth_stores)
  std::array<drum_variant_table, drum_variant_count> variants{};
};

// The registered song and the sequencer's place in it.
struct song_state {
  uint8_t *song = nullptr;   // own copy of the registered MUS data, header included
  int32_t song_len = 0;      // bytes in the copy: score start + score length
  int32_t start_ofs = 0;     // score start, the offset of the first event
  int32_t pos = 0;           // read position, an offset into the copy
  int64_t wait_samples = 0;  // samples left before the next event group is read
  std::array<int32_t, chip_channel_count> lastvel{};  // last velocity per channel, never reset
};

// Playback flags, shared by the song and the recording.
struct transport {
  int32_t playing = 0;  // 0 or 1
  int32_t paused = 0;   // 0 or 1
  int32_t looping = 0;  // the last I_PlaySong argument, stored as passed
};

using channel_state = std::array<chip_channel, chip_channel_count>;
using voice_pool = std::array<chip_voice, chip_voice_count>;
using drum_pool = std::array<chip_drum, chip_drum_count>;

// The pre-rendered recording and where it is looked for.
struct recording_state {
  int16_t *pcm = nullptr;  // samples, owned; null when none is loaded
  int64_t pcm_n = 0;       // whole frames
  int64_t pcm_pos = 0;     // the next frame to play
  int32_t pcm_ch = 2;      // samples per frame, 1 or 2
  double pcm_gain = 0.8;   // the facade writes it through pcm_gain_p
  // The directory chip_set_music_dir or tc_synth_set_music_dir gave
  // (music_dir_set 1), cut to what a path can hold; with music_dir_set 0 the
  // facade asks the environment and a tc_synth looks for no recording.
  int32_t music_dir_set = 0;
  std::array<char, 512> music_dir{};
};

// Everything one song needs. A default-built record is the start state: every
// field zero except the gains and the recording's channel count, and no
// table store attached yet (state_over attaches one).
struct module_state {
  song_state song;
  transport flags;
  channel_state channels{};  // zeros until the first I_PlaySong resets them
  voice_pool voices{};
  drum_pool drums{};
  double gain = 0.5;   // the synthesizer's output gain
  int32_t stereo = 0;  // 1: each source placed by its channel's pan (chip_set_stereo)
  recording_state recording;
  age_tables tables;
  hexagon_tables hexagon;
  drum_table_set drum_tables;
};

// The tables an instance fills while it renders, 27 MiB of address space
// that starts zero: pages no note reaches are never touched, so a song holds
// in memory only what it reaches. Each instance has its own, so that
// instances on different threads share nothing they write.
struct synth_stores {
  age_table_store ages;
  hexagon_table_store hexagon;
  drum_table_store drums;
};

// A start state whose tables live in stores.
constexpr module_state state_over(synth_stores *stores) {
  module_state m{};
  m.tables.store = &stores->ages;
  m.hexagon.store = &stores->hexagon;
  m.drum_tables.store = &stores->drums;
  return m;
}

// The default instance behind chip.h, defined in facade.cpp. Only the
// facade's entry points (I_*, chip_*, pcm_*) and the tests name it; every
// other function is handed the instance or the parts it uses.
extern module_state the_state;

// Returns the default instance to its program-start state: the song copy and
// the recording are freed, every field takes its start value, the tables are
// emptied, g_music_name is cleared and pcm_gain_p points at the recording
// gain again. For the tests, so that each starts fresh whatever ran before
// it; not locked.
void state_reset();

// Control (control.cpp): the steps the handle API and the facade share. None
// locks, reads a file or the environment; those that allocate or free say so.

// The gains a volume (0..127, not clamped) gives the synthesizer and a recording.
double synth_gain_for(int32_t volume);
double recording_gain_for(int32_t volume);

// An owned copy of a MUS score, made before it is swapped in.
struct song_copy {
  uint8_t *bytes = nullptr;  // malloc'd, 8 spare bytes past len
  int32_t len = 0;
  int32_t start = 0;  // score start
};
// Copies the score at mus, trusting its header for the length. False (nothing
// allocated) for a wrong signature or no memory.
bool song_copy_make(const uint8_t *mus, song_copy &out);
// Checks a lump of size bytes (MUS or MIDI) and copies its score into out:
// TC_OK, or why not (nothing allocated). Never throws.
tc_status song_copy_from_lump(const void *data, int32_t size, song_copy &out) noexcept;
// Makes copy the registered song and stops playback; returns the copy it
// replaced, for the caller to free once out of the audio side's reach.
uint8_t *song_install(module_state &m, song_copy &copy);
// Starts the registered song from its start (channels, pools and sequencer
// reset), as I_PlaySong does when no recording plays.
void song_restart(module_state &m, int32_t looping);
struct recording_file;
// Starts playback from the start: the recording in found when it holds
// samples (taken, even a recording with none), else the registered song.
// Returns the recording it replaced, for the caller to free once out of the
// audio side's reach. Reads no file: the caller looked for found first.
int16_t *playback_start(module_state &m, recording_file &found, int32_t looping);
// Stops playback, silences every voice and frees the recording.
void synth_stop(module_state &m);
// Renders frames samples into left and right, as chip_render documents.
void synth_render(module_state &m, float *left, float *right, int32_t frames);
// The output of n sums under a master scale (0.12 times the gain): out[i]
// is scale * sum[i] clamped to [-1, 1] in double precision, then narrowed
// to float; a NaN stays NaN.
void mix_block(double scale, const double *sum, int32_t n, float *out);

// The state channel reset gives a channel: all zero is the program-start
// state, this one what every I_PlaySong and loop starts from.
constexpr chip_channel channel_reset_value() { return chip_channel{0, 100, 128, 64}; }
void channels_reset(channel_state &channels);  // every channel to channel_reset_value()

// Sequencer (sequencer.cpp): carries out every event group due on this
// sample and counts down. Returns true when the song ended in this call,
// which also clears flags.playing.
bool seq_step(song_state &song, transport &flags, channel_state &channels, voice_pool &voices,
              drum_pool &drums);

// Melodic voices (voices.cpp).
// Starts note on a slot of voices with the timbre of channels[channel]'s program.
void voice_note_on(voice_pool &voices, const channel_state &channels, int32_t channel, int32_t note,
                   int32_t velocity);
// Where rendered samples are added: one sum, or in stereo a left and a
// right one (right non-null) that take each source's value times its
// channel's pan gains. The centre's gains are exactly 1.0 and x * 1.0 == x,
// so while every source so far sat at the centre (apart false) the two sums
// took the same additions: left alone holds them and right is not written.
// The first source off the centre copies left to right (mix_sums_part) and
// sets apart; from there on each side takes its own.
struct mix_sums {
  double *left;
  double *right = nullptr;
  bool apart = false;
};

// The gains of pan value 0..127 (64 = centre, both exactly 1.0): an
// equal-power law, left^2 + right^2 = 2.
struct pan_gains {
  double left;
  double right;
};
pan_gains pan_gains_for(int32_t pan);
// True for the centre's gains, which leave a value as it is.
constexpr bool pan_is_centre(pan_gains g) { return g.left == 1.0 && g.right == 1.0; }
// Makes the stereo sums (right non-null) two before a source off the centre
// adds to them: copies left's n samples to right, once.
void mix_sums_part(mix_sums &sums, int32_t n);

// Adds the melodic voices' next n samples to the sums and advances them. n
// samples with no event in between: the sequencer is not consulted.
void voices_render(voice_pool &voices, const channel_state &channels, age_tables &tables,
                   hexagon_tables &hexagon, mix_sums &sums, int32_t n);
// Active melodic voices.
int32_t voices_sounding(const voice_pool &voices);

// Drums (drums.cpp).
void drum_init(chip_drum *d, int32_t note, double amp);
void drum_note_on(drum_pool &drums, int32_t note, int32_t velocity);
// Adds the drums' next n samples, each drum clamped, to sum[0..n) in slot
// order, and advances them; as voices_render, n samples with no event.
void drums_render(drum_pool &drums, age_tables &tables, drum_table_set &drum_tables, double *sum,
                  int32_t n);
// The same into stereo sums, every drum placed by the percussion channel's
// pan: each drum's clamped samples times the gains, added drum by drum.
void drums_render_stereo(drum_pool &drums, age_tables &tables, drum_table_set &drum_tables,
                         pan_gains gains, mix_sums &sums, int32_t n);
// Active drums.
int32_t drums_sounding(const drum_pool &drums);

// Recording (recording.cpp).
// A recording read from its file, not yet installed; samples owned.
struct recording_file {
  int16_t *samples = nullptr;
  int64_t count = 0;  // samples read, not frames
  int32_t channels = 0;
};
// The facade's directory for recordings (facade.cpp): the one
// chip_set_music_dir gave, else ZARN_MUSIC_DIR (even when empty), else "music".
const char *music_dir(const recording_state &rec);
// The file name of the recording for name: "<dir>/D_<NAME>.wav", at most 15
// bytes of name, upper-cased; a longer result is cut to fit the buffer.
void pcm_path(const char *dir, const char *name, char (&path)[512]);
// Reads the recording for name from dir into out; touches no module state.
// False, with nothing allocated, when there is none this player can use.
bool pcm_read(const char *dir, const char *name, recording_file &out);
// Makes file the current recording from its first frame, taking its samples;
// returns the samples it replaced, for the caller to free.
int16_t *pcm_install(recording_state &rec, recording_file &file);
// The facade's read and install in one step (facade.cpp): 1 when a recording
// was loaded for name from music_dir (the previous one freed), 0 when not
// (nothing changes).
int32_t pcm_load(recording_state &rec, const char *name);
void pcm_discard(recording_state &rec);  // free pcm; pcm null, pcm_n 0
void recording_play_step(recording_state &rec, transport &flags, float *left, float *right);

}  // namespace tunecast::chip

#endif  // TUNECAST_CHIP_STATE_H
