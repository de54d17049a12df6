// voices.h: the pure maths of the melodic voices (pitch, waveforms,
// noise register, envelope, timbres), kept apart from the voice pool so
// that each piece can be checked on its own. Internal to the module.
#ifndef TUNECAST_CHIP_VOICES_H
#define TUNECAST_CHIP_VOICES_H

#include <cstdint>

namespace tunecast::chip {

// Constants the render loops share with the maths below.
constexpr double vibrato_onset_s = 0.15;  // the vibrato starts once the age is past it
constexpr double fall_s = 0.03;           // the fall from the attack's peak to the sustain
constexpr double sustain_level = 0.8;
constexpr double volume_scale = 127.0;  // a channel volume of 127 is full

enum voice_wave : int32_t {
  wave_pulse = 0,
  wave_triangle = 1,
  wave_saw = 2,
  wave_hexagon = 3,
  wave_noise = 4,
  wave_short_noise = 5,
};

// The seven fields of a voice fixed at note-on by the channel's program.
struct voice_timbre {
  int32_t wave;    // 0 pulse, 1 triangle, 2 saw, 3 hexagon, 4 noise, 5 short noise
  double duty;     // pulse: fraction of the period at +1
  double decay;    // s, 0 = no fade
  double attack;   // s, > 0
  double release;  // s, > 0
  double vibrato;  // semitones of peak deviation, 0 = none
  int32_t bits;    // triangle quantisation, 0 = smooth
};

// program: 0..127 (the channel's instrument).
voice_timbre voice_timbre_for(int32_t program);

// Hz of note (0..127, 69 = 440 Hz) under a bend byte (0..255, 128 = none,
// a range of plus or minus 2 semitones).
double voice_pitch_hz(int32_t note, int32_t bend);

// f moved by the vibrato (semitones) once age (s, before this sample's
// advance) is past the 0.15 s onset; f itself otherwise.
double voice_vibrato_hz(double f, double vibrato, double age);
// The factor the vibrato moves the pitch by at an age past the onset.
double voice_vibrato_factor(double vibrato, double age);

// The oscillator's step: the phase (cycles, [0, 1)) after adding step, with
// one subtraction of 1.0 when it reached 1.0, which sets wrapped.
inline double voice_phase_advance(double phase, double step, bool &wrapped) {
  phase = phase + step;
  wrapped = phase >= 1.0;
  if (wrapped) phase -= 1.0;
  return phase;
}

// Waveform values in [-1, 1] at phase p (cycles, [0, 1)).
inline double voice_pulse(double p, double duty) { return p < duty ? 1.0 : -1.0; }
double voice_triangle(double p, int32_t bits);
inline double voice_saw(double p) { return 2 * p - 1; }
double voice_hexagon(double p);
// fmod(theta, pi/3) for the hexagon, bit for bit, without the library's
// general division where theta lies in [0, 7 pi/3).
double hexagon_sector_offset(double theta);

// Attack, fall to sustain at age (s, before this sample's advance). A decay
// multiplies it by age_fade(decay, age); the release ramp comes on top.
inline double voice_envelope_shape(double age, double attack) {
  constexpr double fall_depth = 0.19999999999999996;  // 1 - 0.8 as the double it rounds to
  if (age < attack) return age / attack;
  if (age < attack + fall_s) return 1 - ((age - attack) / fall_s) * fall_depth;
  return sustain_level;
}

}  // namespace tunecast::chip

#endif  // TUNECAST_CHIP_VOICES_H
