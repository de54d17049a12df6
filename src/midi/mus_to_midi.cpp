// mus_to_midi.cpp: MUS score to Standard MIDI file. The event stream is
// walked through the sequencer's decoder (same bytes per event, same
// delays), and each event that changes what is heard becomes one
// MIDI message carrying the MUS ticks since the one before.
#include "midi/mus_to_midi.h"

#include <array>
#include <cstdio>
#include <new>

#include "common/byte_order.h"
#include "common/vlq.h"
#include "midi/mus_midi_map.h"
#include "mus/events.h"
#include "mus/header.h"

namespace tunecast {

namespace {

// 140 ticks per quarter note at 1000000 us per quarter note: a MIDI tick
// lasts 1/140 s, one MUS tick, so delays are copied and never rounded.
constexpr uint16_t midi_ticks_per_quarter = 140;
constexpr uint32_t midi_us_per_quarter = 1000000;
constexpr size_t midi_header_bytes = 14;
constexpr size_t midi_track_header_bytes = 8;
// A delay fits four variable-length bytes (below 2^28 ticks), and a channel
// message takes three bytes at most.
constexpr size_t midi_event_max_bytes = 4 + 3;
constexpr uint8_t midi_release_velocity = 64;  // the usual value when no speed is known

// MUS channels 0..14 take the MIDI channels around the drum channel, in order.
uint8_t midi_channel_for(int32_t mus_channel) {
  if (mus_channel == mus_midi::mus_drum_channel) return mus_midi::midi_drum_channel;
  return static_cast<uint8_t>(mus_channel < mus_midi::midi_drum_channel ? mus_channel
                                                                        : mus_channel + 1);
}

struct track_writer {
  std::vector<uint8_t> &out;
  uint64_t pending_ticks = 0;  // since the last message written

  void delta() {
    vlq_append(out, pending_ticks);
    pending_ticks = 0;
  }
  void message(uint8_t status, uint8_t d1) {
    delta();
    out.push_back(status);
    out.push_back(d1);
  }
  void message(uint8_t status, uint8_t d1, uint8_t d2) {
    message(status, d1);
    out.push_back(d2);
  }
};

// A MUS controller event (value 0 to 127); MUS controllers without a MIDI
// counterpart (10 up) are dropped, as the synthesizer ignores all but the
// program and volume.
void write_controller(track_writer &w, uint8_t channel, int32_t number, int32_t value) {
  const auto v = static_cast<uint8_t>(value);
  if (number == mus::ctrl_instrument) {
    w.message(static_cast<uint8_t>(0xC0 | channel), v);
    return;
  }
  for (const mus_midi::controller_row &row : mus_midi::controller_map) {
    if (row.mus == number) {
      w.message(static_cast<uint8_t>(0xB0 | channel), row.midi, v);
      return;
    }
  }
}

// A MUS system event as the first channel mode message that reads back as it.
void write_system(track_writer &w, uint8_t channel, int32_t value) {
  for (size_t i = 0; i < mus_midi::system_map.size(); ++i) {
    if (mus_midi::system_map[i] == value) {
      w.message(static_cast<uint8_t>(0xB0 | channel),
                static_cast<uint8_t>(mus_midi::midi_channel_mode_first + i), 0);
      return;
    }
  }
}

midi_file_result fail(const char *text) {
  midi_file_result result;
  result.error = text;
  return result;
}

midi_file_result convert(const uint8_t *data, size_t size) {
  mus_header header{};
  if (!mus_header_read(data, size, header)) {
    if (!mus_has_signature(data, size) || size < mus_header_bytes) {
      return fail("no es una partitura MUS: falta la cabecera \"MUS\\x1A\"");
    }
    // The rest of the tool refuses such a lump too: its header is not to be
    // trusted, so neither is any byte it points at.
    char text[120];
    std::snprintf(text, sizeof text,
                  "MUS cortado: la cabecera declara %zu bytes y el lump tiene %zu",
                  mus_declared_bytes(header), size);
    return fail(text);
  }

  midi_file_result result;
  std::vector<uint8_t> &out = result.midi;
  // Every pass of the walk reads at least one byte and writes at most one
  // message, which bounds the output before anything is written.
  out.reserve(midi_header_bytes + midi_track_header_bytes + 2 * midi_event_max_bytes +
              midi_event_max_bytes * header.score_length);
  // clang-format off
  out = {'M', 'T', 'h', 'd', 0, 0, 0, 6,
         0, 0,  // format 0
         0, 1,  // one track
         static_cast<uint8_t>(midi_ticks_per_quarter >> 8), static_cast<uint8_t>(midi_ticks_per_quarter),
         'M', 'T', 'r', 'k', 0, 0, 0, 0,  // length filled in at the end
         0, 0xFF, 0x51, 3, static_cast<uint8_t>(midi_us_per_quarter >> 16),
         static_cast<uint8_t>(midi_us_per_quarter >> 8), static_cast<uint8_t>(midi_us_per_quarter)};
  // clang-format on

  track_writer w{out};
  const int32_t start = header.score_start;
  mus::cursor c{data, start, start + int32_t{header.score_length}};
  // The velocity a note without one reuses. A module fresh from program
  // start holds 0 on every channel; the file cannot know what a module that
  // has played before would hold.
  std::array<int32_t, 16> last_velocity{};
  uint64_t total_ticks = 0;
  mus::event e;
  // The sequencer stops at a score end without reading its delay, and at
  // the end of the stream after the last delay.
  while (mus::event_read(c, e) && e.type != mus::ev_score_end) {
    const uint8_t channel = midi_channel_for(e.channel);
    switch (e.type) {
      case mus::ev_release_note:
        w.message(static_cast<uint8_t>(0x80 | channel), static_cast<uint8_t>(e.note),
                  midi_release_velocity);
        break;
      case mus::ev_play_note: {
        int32_t &velocity = last_velocity[static_cast<size_t>(e.channel)];
        if (e.has_velocity) velocity = e.velocity;
        // A note-on of velocity 0 means a note-off in MIDI, so a silent note
        // cannot be written; leaving it out keeps what is heard.
        if (velocity != 0) {
          w.message(static_cast<uint8_t>(0x90 | channel), static_cast<uint8_t>(e.note),
                    static_cast<uint8_t>(velocity));
        }
        break;
      }
      case mus::ev_pitch_bend: {
        // MUS keeps the top 8 of the 14 bits: value * 64, 128 is the centre 8192.
        const auto bend = static_cast<uint32_t>(e.value) << 6;
        w.message(static_cast<uint8_t>(0xE0 | channel), static_cast<uint8_t>(bend & 0x7F),
                  static_cast<uint8_t>(bend >> 7));
        break;
      }
      case mus::ev_system:
        write_system(w, channel, e.value);
        break;
      case mus::ev_controller:
        write_controller(w, channel, e.controller, e.value);
        break;
      case mus::ev_unassigned:
      case mus::ev_measure_end:
      case mus::ev_score_end:
        break;
    }
    if (!e.delay_follows) continue;
    const int64_t ticks = e.delay_ticks;  // never negative: it saturates
    if (static_cast<uint64_t>(ticks) > mus_midi::mus_ticks_max - total_ticks) {
      return fail("MUS demasiado largo: dura más de 24 horas");
    }
    total_ticks += static_cast<uint64_t>(ticks);
    w.pending_ticks += static_cast<uint64_t>(ticks);
  }
  // The track ends after the last delay, so a closing rest keeps its length.
  w.message(0xFF, 0x2F, 0);
  put_u32be(out.data() + midi_header_bytes + 4,
            static_cast<uint32_t>(out.size() - midi_header_bytes - midi_track_header_bytes));
  result.ok = true;
  return result;
}

}  // namespace

midi_file_result mus_to_midi(const uint8_t *data, size_t size) noexcept {
  try {
    return convert(data, size);
  } catch (const std::bad_alloc &) {
    midi_file_result result;
    result.error = "sin memoria";  // short enough to need no allocation
    result.out_of_memory = true;
    return result;
  }
}

}  // namespace tunecast
