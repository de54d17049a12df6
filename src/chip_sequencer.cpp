// chip_sequencer.cpp: the MUS sequencer. Once per rendered sample it reads
// every event group that has fallen due, applies it to the channels and the
// voice pools, loops or ends the song, and counts down to the next group.
#include <cstddef>
#include <cstdint>
#include <limits>

#include "chip_state.h"

namespace chip {
namespace {

constexpr int64_t wait_max = std::numeric_limits<int64_t>::max();
constexpr double ticks_per_s = 140.0;
// 2^63: the first double that no longer fits a signed 64-bit count.
constexpr double wait_limit = 9223372036854775808.0;

enum seq_event : int32_t {
  ev_release_note = 0,
  ev_play_note = 1,
  ev_pitch_bend = 2,
  ev_system = 3,
  ev_controller = 4,
  ev_measure_end = 5,
  ev_score_end = 6,
  ev_unassigned = 7,
};

constexpr int32_t ctrl_instrument = 0;
constexpr int32_t ctrl_volume = 3;

// Every read is bounded by song_len; a byte past the end reads as 0 and
// leaves pos where it is.
int32_t seq_read_byte() {
  if (pos >= song_len) return 0;
  return song[pos++];
}

void seq_skip_byte() {
  if (pos < song_len) ++pos;
}

void seq_release_note(int32_t channel, int32_t note) {
  for (chip_voice &v : V) {
    if (v.active != 0 && v.gate != 0 && v.channel == channel && v.note == note) v.gate = 0;
  }
}

void seq_play_note(int32_t channel) {
  int32_t note = 0;
  int32_t velocity = lastvel[static_cast<size_t>(channel)];
  if (pos < song_len) {
    const int32_t b = seq_read_byte();
    note = b & 0x7F;
    if ((b & 0x80) != 0) {
      velocity = seq_read_byte() & 0x7F;  // 0 when the stream ends here
      lastvel[static_cast<size_t>(channel)] = velocity;
    }
  }
  if (channel == chip_percussion_channel) {
    drum_note_on(note, velocity);
  } else {
    voice_note_on(channel, note, velocity);
  }
}

void seq_controller(chip_channel &c) {
  // A missing number byte reads as 0, so the channel's instrument becomes 0
  // (or the missing value 0 does, for a present number 0).
  const int32_t number = seq_read_byte();
  const int32_t value = seq_read_byte() & 0x7F;
  if (number == ctrl_instrument) c.instrument = value;
  if (number == ctrl_volume) c.volume = value;
}

void seq_rewind() {
  pos = start_ofs;
  channels_reset();
  V = {};
  D = {};
}

// The variable-length tick count: 7 bits per byte, most significant first.
// The accumulator is multiplied by 128 before each byte, so a cut-off delay
// counts as though a final 0 followed. It saturates instead of overflowing.
int64_t seq_read_ticks() {
  int64_t ticks = 0;
  for (;;) {
    ticks = ticks > wait_max / 128 ? wait_max : ticks * 128;
    if (pos >= song_len) return ticks;
    const int32_t b = seq_read_byte();
    const int64_t low = b & 0x7F;
    ticks = ticks > wait_max - low ? wait_max : ticks + low;
    if ((b & 0x80) == 0) return ticks;
  }
}

int64_t seq_ticks_to_samples(int64_t ticks) {
  const double samples = static_cast<double>(ticks) * sample_rate_hz / ticks_per_s;
  if (samples >= wait_limit) return wait_max;
  return static_cast<int64_t>(samples);
}

// Reads groups until one ends with a delay of at least one sample. Returns
// false when the song ended instead.
bool seq_read_due_groups() {
  // A looping score that meets its end twice without any time passing would
  // rewind for ever within this one sample; the second meeting ends it.
  bool rewound = false;
  for (;;) {
    if (pos >= song_len) return false;
    const int32_t event = seq_read_byte();
    const int32_t channel = event & 0x0F;
    chip_channel &c = CH[static_cast<size_t>(channel)];
    switch ((event >> 4) & 7) {
      case ev_release_note:
        seq_release_note(channel, seq_read_byte() & 0x7F);
        break;
      case ev_play_note:
        seq_play_note(channel);
        break;
      case ev_pitch_bend:
        c.bend = seq_read_byte();
        break;
      case ev_system:
      case ev_unassigned:
        seq_skip_byte();
        break;
      case ev_controller:
        seq_controller(c);
        break;
      case ev_measure_end:
        break;
      case ev_score_end:
        if (looping == 0 || rewound) return false;
        rewound = true;
        seq_rewind();
        break;
    }
    // After a rewind the group goes on at the score start: with bit 7 set
    // the delay is read from the bytes found there.
    if ((event & 0x80) == 0) continue;
    wait_samples = seq_ticks_to_samples(seq_read_ticks());
    if (wait_samples >= 1) return true;
  }
}

}  // namespace

bool seq_step() {
  if (wait_samples < 1 && !seq_read_due_groups()) {
    playing = 0;
    return true;
  }
  // The call that reads a group counts down too: a delay of d samples puts
  // the next group exactly d calls later.
  --wait_samples;
  return false;
}

}  // namespace chip
