// reference_synth.h: a second, deliberately plain synthesizer for the tests.
// It plays one MUS score the way the module does after I_SetMusicVolume and
// I_PlaySong, sample by sample, written as the most literal reading of the
// arithmetic: no caching, no shortcuts, one object per song. The exactness
// test compares the module's output against it bit for bit.
#ifndef TUNECAST_REFERENCE_SYNTH_H
#define TUNECAST_REFERENCE_SYNTH_H

#include <array>
#include <cstdint>
#include <vector>

namespace fixture {

// The seven timbre fields a melodic note takes from its channel's program.
struct timbre_row {
  int32_t wave;
  double duty, decay, attack, release, vibrato;
  int32_t bits;
};

// The timbre of program p (0..127): its family's row, but for the programs
// that differ from their family, and one fixed timbre from 120 up.
timbre_row reference_timbre(int p);

class reference_synth {
 public:
  // mus: a whole MUS lump (header included) holding at least score start +
  // score length bytes. volume: as given to I_SetMusicVolume. looping: as
  // given to I_PlaySong. initial_lastvel: the velocity each channel
  // remembers when the song starts (the module never resets it).
  reference_synth(const std::vector<uint8_t> &mus, int volume, bool looping,
                  int32_t initial_lastvel = 0);

  // The next output sample, as chip_next writes it.
  float next();
  // Runs the same sample but returns the sum of the voices and drums before
  // the mix (0.0 when nothing is rendered): it shows differences that the
  // narrowing to float would hide.
  double next_sum();
  // The same sample placed in stereo, as chip_set_stereo(1) gives it: the
  // mixed outputs, or the two sums before the mix.
  struct pair {
    double left, right;
  };
  pair next_stereo();
  pair next_stereo_sums();

  bool playing() const { return playing_; }

 private:
  struct channel_rec {
    int32_t instrument = 0, volume = 100, bend = 128, pan = 64;
  };
  struct voice_rec {
    int32_t active = 0, channel = 0, note = 0, gate = 0, wave = 0;
    double duty = 0, decay = 0, attack = 0, release = 0, vibrato = 0;
    int32_t bits = 0;
    double phase = 0, age = 0, rel_age = 0, amp = 0;
    uint32_t lfsr = 0;
    double noise = 0;
  };
  struct resonator_rec {
    double b0 = 0, a1 = 0, a2 = 0, y1 = 0, y2 = 0;
  };
  struct drum_rec {
    int32_t active = 0, kind = 0;
    double age = 0, duration = 0, amp = 0, freq = 0, phase = 0;
    uint32_t lfsr = 0, lfsr2 = 0;
    std::array<resonator_rec, 6> res{};
    double decay = 0;
  };

  bool render(double &sum);  // false when this call renders nothing
  bool render_stereo(pair &sums);
  static pair pan_gains(int pan);
  bool sequencer_step();     // false when the song ended in this call
  bool read_byte(uint8_t &b);
  int64_t read_delay_ticks();
  // Applies one event; false when it ended the song.
  bool apply_event(uint8_t event_byte, int &score_ends);
  void reset_channels();
  void clear_voices_and_drums();

  void voice_note_on(int channel, int note, int velocity);
  double voice_render(voice_rec &v);
  void drum_note_on(int note, int velocity);
  static void drum_init(drum_rec &d, int note, double amp);
  static void resonator_setup(resonator_rec &r, double f, double w);
  static double resonator_step(resonator_rec &r, double x);
  static double lfsr_step(uint32_t &s, int tap);
  static double drum_render(drum_rec &d);

  std::vector<uint8_t> song_;
  int64_t song_len_ = 0, start_ofs_ = 0, pos_ = 0;
  int64_t wait_samples_ = 0;
  bool playing_ = true;
  bool looping_ = false;
  double gain_ = 0.5;
  std::array<channel_rec, 16> ch_{};
  std::array<int32_t, 16> lastvel_{};
  std::array<voice_rec, 28> v_{};
  std::array<drum_rec, 8> d_{};
};

}  // namespace fixture

#endif  // TUNECAST_REFERENCE_SYNTH_H
