// sequencer.cpp: the MUS sequencer. Once per rendered sample it reads
// every event group that has fallen due, applies it to the channels and the
// voice pools, loops or ends the song, and counts down to the next group.
#include <cstddef>
#include <cstdint>

#include "chip/state.h"
#include "mus/events.h"

namespace tunecast::chip {
namespace {

// What the events of one sample act on.
struct seq_target {
  song_state &song;
  transport &flags;
  channel_state &channels;
  voice_pool &voices;
  drum_pool &drums;
};

void seq_release_note(voice_pool &voices, int32_t channel, int32_t note) {
  for (chip_voice &v : voices) {
    if (v.active != 0 && v.gate != 0 && v.channel == channel && v.note == note) v.gate = 0;
  }
}

void seq_play_note(const seq_target &t, const mus::event &e) {
  int32_t &last_velocity = t.song.lastvel[static_cast<size_t>(e.channel)];
  if (e.has_velocity) last_velocity = e.velocity;
  if (e.channel == chip_percussion_channel) {
    drum_note_on(t.drums, e.note, last_velocity);
  } else {
    voice_note_on(t.voices, t.channels, e.channel, e.note, last_velocity);
  }
}

void seq_controller(const mus::event &e, chip_channel &ch) {
  // A missing number byte reads as 0, so the channel's instrument becomes 0
  // (or the missing value 0 does, for a present number 0).
  if (e.controller == mus::ctrl_instrument) ch.instrument = e.value;
  if (e.controller == mus::ctrl_volume) ch.volume = e.value;
  if (e.controller == mus::ctrl_pan) ch.pan = e.value;
}

void seq_rewind(const seq_target &t, mus::cursor &c) {
  c.pos = t.song.start_ofs;
  channels_reset(t.channels);
  t.voices = {};
  t.drums = {};
}

// Reads groups until one ends with a delay of at least one sample. Returns
// false when the song ended instead.
bool seq_read_due_groups(const seq_target &t, mus::cursor &c) {
  // A looping score that meets its end twice without any time passing would
  // rewind for ever within this one sample; the second meeting ends it.
  bool rewound = false;
  mus::event e;
  for (;;) {
    if (!mus::event_read(c, e)) return false;
    chip_channel &ch = t.channels[static_cast<size_t>(e.channel)];
    switch (e.type) {
      case mus::ev_release_note:
        seq_release_note(t.voices, e.channel, e.note);
        break;
      case mus::ev_play_note:
        seq_play_note(t, e);
        break;
      case mus::ev_pitch_bend:
        ch.bend = e.value;
        break;
      case mus::ev_system:
      case mus::ev_unassigned:
      case mus::ev_measure_end:
        break;
      case mus::ev_controller:
        seq_controller(e, ch);
        break;
      case mus::ev_score_end:
        if (t.flags.looping == 0 || rewound) return false;
        rewound = true;
        seq_rewind(t, c);
        // The group goes on at the score start: with bit 7 set the delay is
        // read from the bytes found there.
        if (e.delay_follows) e.delay_ticks = c.ticks();
        break;
    }
    if (!e.delay_follows) continue;
    t.song.wait_samples = mus::ticks_to_samples(e.delay_ticks);
    if (t.song.wait_samples >= 1) return true;
  }
}

}  // namespace

bool seq_step(song_state &song, transport &flags, channel_state &channels, voice_pool &voices,
              drum_pool &drums) {
  if (song.wait_samples < 1) {
    mus::cursor c{song.song, song.pos, song.song_len};
    const bool due = seq_read_due_groups(seq_target{song, flags, channels, voices, drums}, c);
    song.pos = c.pos;
    if (!due) {
      flags.playing = 0;
      return true;
    }
  }
  // The call that reads a group counts down too: a delay of d samples puts
  // the next group exactly d calls later.
  --song.wait_samples;
  return false;
}

}  // namespace tunecast::chip
