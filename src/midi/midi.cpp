// midi.cpp: Standard MIDI file to MUS score. The tracks are read into one
// time-ordered list of events, the tempo map turns each event's MIDI ticks
// into an exact time, and the list is written out as MUS event groups.
#include "midi/midi.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <new>

#include "common/byte_order.h"
#include "common/vlq.h"
#include "midi/mus_midi_map.h"
#include "mus/header.h"
#include "mus/stream.h"

namespace tunecast {

namespace {

using u128 = unsigned __int128;

using mus_midi::midi_drum_channel;
using mus_midi::mus_drum_channel;
using mus_midi::mus_ticks_max;
using mus_midi::mus_ticks_per_s;

constexpr uint32_t default_us_per_quarter = 500000;
constexpr uint64_t us_per_s = 1000000;
constexpr size_t mus_score_start = 16;
constexpr size_t mus_score_max_bytes = 65535;  // the header's 16-bit score length
// Every MUS event takes at least two bytes, so more converted events than
// this cannot fit the score; stopping there bounds the event list early.
constexpr size_t mus_events_max = mus_score_max_bytes / 2;
// Tempo changes and track ends write nothing to the score, yet they are kept
// in the list too: every kept event counts against this bound, so that the
// list's memory is bounded whatever the file holds (as many again as the
// score's events leaves room for any tempo map a song has).
constexpr size_t kept_events_max = 2 * mus_events_max;

// MUS event types as written; the last two only steer the conversion.
enum midi_kind : uint8_t {
  ev_release = mus::ev_release_note,
  ev_play = mus::ev_play_note,
  ev_bend = mus::ev_pitch_bend,
  ev_system = mus::ev_system,
  ev_controller = mus::ev_controller,
  ev_tempo = 8,
  ev_track_end = 9,
};

struct midi_event {
  uint64_t pulse;  // MIDI ticks from the start of the song
  uint32_t tempo;  // ev_tempo: microseconds per quarter note
  uint8_t kind;
  uint8_t channel;  // MIDI channel 0..15
  uint8_t a, b;     // MUS data bytes (b only for controllers and play notes)
};

constexpr const char *too_long = "MIDI demasiado largo: la partitura MUS pasaría de 65535 bytes";
constexpr const char *too_many =
    "MIDI demasiado largo: más de 65534 eventos entre notas, tempos y "
    "finales de pista";
constexpr const char *cut_off = "MIDI dañado: evento cortado al final de la pista (byte %zu)";

struct midi_reader {
  const uint8_t *data;
  std::vector<midi_event> events;
  size_t mus_events = 0;
  std::string error;

  bool fail(const char *format, size_t at) {
    char text[160];
    std::snprintf(text, sizeof text, format, at);
    error = text;
    return false;
  }

  // A variable-length number of at most four bytes, bounded by end.
  bool vlq(size_t &pos, size_t end, uint32_t &value) {
    const vlq_read_result n = vlq_read(data + pos, end - pos);
    if (n.status == vlq_status::truncated) return fail(cut_off, pos + n.length);
    if (n.status == vlq_status::too_long) {
      return fail("MIDI dañado: número de longitud variable de más de 4 bytes (byte %zu)", pos);
    }
    pos += n.length;
    value = n.value;
    return true;
  }

  // Keeps one event, if the list has room for it.
  bool keep(const midi_event &e) {
    if (events.size() == kept_events_max) {
      error = too_many;
      return false;
    }
    events.push_back(e);
    return true;
  }

  bool add(uint64_t pulse, uint8_t kind, uint8_t channel, uint8_t a, uint8_t b = 0) {
    if (++mus_events > mus_events_max) {
      error = too_long;
      return false;
    }
    return keep(midi_event{pulse, 0, kind, channel, a, b});
  }

  bool channel_event(uint64_t pulse, uint8_t status, uint8_t d1, uint8_t d2);
  bool track(size_t pos, size_t end);
};

bool midi_reader::channel_event(uint64_t pulse, uint8_t status, uint8_t d1, uint8_t d2) {
  const auto channel = static_cast<uint8_t>(status & 0x0F);
  switch (status >> 4) {
    case 0x8:
      return add(pulse, ev_release, channel, d1);
    case 0x9:  // velocity 0 is the usual shorthand for a note-off
      return add(pulse, d2 == 0 ? ev_release : ev_play, channel, d1, d2);
    case 0xB:
      // Channel mode messages become system events; other controllers
      // without a MUS counterpart are dropped.
      if (d1 >= mus_midi::midi_channel_mode_first) {
        return add(pulse, ev_system, channel,
                   mus_midi::system_map[size_t{d1} - mus_midi::midi_channel_mode_first]);
      }
      for (const mus_midi::controller_row &row : mus_midi::controller_map) {
        if (row.midi == d1) return add(pulse, ev_controller, channel, row.mus, d2);
      }
      return true;
    case 0xC:  // program change: MUS controller 0
      return add(pulse, ev_controller, channel, 0, d1);
    case 0xE:  // 14-bit bend, least significant 7 bits first; MUS keeps the top 8
      return add(pulse, ev_bend, channel, static_cast<uint8_t>((d2 << 7 | d1) >> 6));
    default:  // key and channel pressure
      return true;
  }
}

// One MTrk payload, data[pos..end). Running status carries over meta and
// system-exclusive events: strict files never rely on it, sloppy ones do.
bool midi_reader::track(size_t pos, size_t end) {
  uint64_t pulse = 0;
  uint8_t status = 0;
  while (pos < end) {
    uint32_t delta = 0;
    if (!vlq(pos, end, delta)) return false;
    pulse += delta;  // below 2^60: at most 2^28 per byte of the file
    if (pos >= end) return fail(cut_off, pos);
    const uint8_t first = data[pos];
    if (first == 0xFF || first == 0xF0 || first == 0xF7) {
      const size_t at = pos++;
      uint8_t type = 0;
      if (first == 0xFF) {
        if (pos >= end) return fail(cut_off, at);
        type = data[pos++];
      }
      uint32_t length = 0;
      if (!vlq(pos, end, length)) return false;
      if (length > end - pos) {
        return fail(cut_off, at);
      }
      if (first == 0xFF && type == 0x51 && length >= 3) {
        const uint32_t tempo =
            uint32_t{data[pos]} << 16 | uint32_t{data[pos + 1]} << 8 | data[pos + 2];
        if (!keep(midi_event{pulse, tempo, ev_tempo, 0, 0, 0})) return false;
      }
      pos += length;
      if (first == 0xFF && type == 0x2F) break;  // end of track: the rest is ignored
      continue;
    }
    if (first >= 0xF0) return fail("MIDI dañado: byte de estado no válido (byte %zu)", pos);
    if (first & 0x80) {
      status = first;
      ++pos;
    } else if (status == 0) {
      return fail("MIDI dañado: datos sin byte de estado (byte %zu)", pos);
    }
    const int count = (status >> 4) == 0xC || (status >> 4) == 0xD ? 1 : 2;
    uint8_t d[2] = {0, 0};
    for (int i = 0; i < count; ++i) {
      if (pos >= end) return fail(cut_off, pos);
      if (data[pos] & 0x80)
        return fail("MIDI dañado: byte de datos fuera de rango (byte %zu)", pos);
      d[i] = data[pos++];
    }
    if (!channel_event(pulse, status, d[0], d[1])) return false;
  }
  // Marks how long the track lasts, so the score ends after its last event
  // of any kind (a closing rest keeps its length, and so does a loop).
  return keep(midi_event{pulse, 0, ev_track_end, 0, 0, 0});
}

// Writes MUS events in groups of one tick each. A group's last event gets
// bit 7 and the delay to the next group.
struct mus_writer {
  std::vector<uint8_t> out;
  size_t last_event = 0;
  uint64_t group_tick = 0;
  bool started = false;

  void event(uint64_t tick, uint8_t type, uint8_t channel) {
    if (tick != group_tick) {
      // A song that starts with a rest needs an event to carry that first
      // delay: a measure end, which has no effect.
      if (!started) event(group_tick, 5, 0);
      out[last_event] |= 0x80;
      vlq_append(out, tick - group_tick);
      group_tick = tick;
    }
    started = true;
    last_event = out.size();
    out.push_back(static_cast<uint8_t>(type << 4 | channel));
  }
};

bool is_zero(const uint8_t *p, size_t n) {
  return std::all_of(p, p + n, [](uint8_t b) { return b == 0; });
}

midi_result convert(const uint8_t *data, size_t size) {
  midi_result result;
  midi_reader r{data, {}, 0, {}};
  if (!midi_is_file(data, size) || size < 8) {
    result.error = "MIDI dañado: falta la cabecera MThd";
    return result;
  }
  const uint32_t header_len = get_u32be(data + 4);
  if (header_len < 6 || header_len > size - 8) {
    result.error = "MIDI dañado: cabecera MThd de longitud no válida";
    return result;
  }
  const unsigned format = get_u16be(data + 8);
  const unsigned division = get_u16be(data + 12);
  // Format 2 holds independent sequences, not one song: merging them would
  // play unrelated patterns together, and no order of playing them is given.
  if (format > 1) {
    char text[80];
    std::snprintf(text, sizeof text, "MIDI de formato %u no admitido", format);
    result.error = text;
    return result;
  }
  // Time of one MIDI tick = unit / denominator microseconds. With a quarter
  // note division, unit is the current tempo; with SMPTE division the tempo
  // map does not apply. -29 is 29.97 (30000/1001) frames per second.
  uint64_t unit = default_us_per_quarter;
  uint64_t denominator = division;
  if (division & 0x8000) {
    const int fps = 256 - static_cast<int>(division >> 8);
    const uint64_t ticks_per_frame = division & 0xFF;
    if ((fps != 24 && fps != 25 && fps != 29 && fps != 30) || ticks_per_frame == 0) {
      result.error = "MIDI dañado: división de tiempo SMPTE no válida";
      return result;
    }
    unit = fps == 29 ? us_per_s * 1001 : us_per_s;
    denominator = (fps == 29 ? 30000 : static_cast<uint64_t>(fps)) * ticks_per_frame;
  } else if (division == 0) {
    result.error = "MIDI dañado: división de tiempo 0";
    return result;
  }

  // Every MTrk chunk present is read, whatever the header's track count
  // says: writers often get that count wrong, and the chunks are the data.
  size_t pos = 8 + size_t{header_len};
  size_t tracks = 0;
  while (pos < size) {
    if (size - pos < 8) {
      if (is_zero(data + pos, size - pos)) break;  // padding after the last chunk
      r.fail("MIDI dañado: bloque cortado (byte %zu)", pos);
      result.error = r.error;
      return result;
    }
    const uint32_t length = get_u32be(data + pos + 4);
    if (length > size - pos - 8) {
      r.fail("MIDI dañado: el bloque del byte %zu pasa del final del archivo", pos);
      result.error = r.error;
      return result;
    }
    if (std::memcmp(data + pos, "MTrk", 4) == 0) {
      if (!r.track(pos + 8, pos + 8 + length)) {
        result.error = r.error;
        return result;
      }
      ++tracks;
    }
    pos += 8 + size_t{length};
  }
  if (tracks == 0) {
    result.error = "MIDI dañado: no hay ninguna pista MTrk";
    return result;
  }

  // Tracks were appended in order and each is in time order, so a stable
  // sort gives time, then track, then order within the track.
  std::stable_sort(r.events.begin(), r.events.end(),
                   [](const midi_event &x, const midi_event &y) { return x.pulse < y.pulse; });

  mus_writer w;
  w.out.assign(mus_score_start, 0);
  std::array<int, 16> mus_channel;
  mus_channel.fill(-1);
  std::array<int, 16> last_velocity;
  last_velocity.fill(-1);
  int next_channel = 0;
  // Exact time so far, in microseconds times the denominator.
  u128 elapsed = 0;
  uint64_t last_pulse = 0;
  uint64_t tick = 0;
  for (const midi_event &e : r.events) {
    elapsed += u128{e.pulse - last_pulse} * unit;
    last_pulse = e.pulse;
    // time * 140 / 1000000 rounded half up: floor(x + 1/2) in integers.
    const u128 t = (elapsed * mus_ticks_per_s + u128{denominator} * (us_per_s / 2)) /
                   (u128{denominator} * us_per_s);
    if (t > mus_ticks_max) {
      result.error = "MIDI demasiado largo: dura más de 24 horas";
      return result;
    }
    tick = static_cast<uint64_t>(t);
    if (e.kind == ev_tempo) {
      if (!(division & 0x8000)) unit = e.tempo;
      continue;
    }
    if (e.kind == ev_track_end) continue;
    int &ch = mus_channel[e.channel];
    if (ch < 0) ch = e.channel == midi_drum_channel ? mus_drum_channel : next_channel++;
    w.event(tick, e.kind, static_cast<uint8_t>(ch));
    if (e.kind == ev_play) {
      // The velocity byte goes out on a channel's first note and when it changes.
      const bool with_velocity = last_velocity[static_cast<size_t>(ch)] != e.b;
      w.out.push_back(static_cast<uint8_t>(e.a | (with_velocity ? 0x80 : 0)));
      if (with_velocity) w.out.push_back(e.b);
      last_velocity[static_cast<size_t>(ch)] = e.b;
    } else {
      w.out.push_back(e.a);
      if (e.kind == ev_controller) w.out.push_back(e.b);
    }
  }
  // Score end at the time of the last event, without bit 7: when the song
  // loops, decoding goes straight on with the first group.
  w.event(tick, 6, 0);

  const size_t score_len = w.out.size() - mus_score_start;
  if (score_len > mus_score_max_bytes) {
    result.error = too_long;
    return result;
  }
  std::memcpy(w.out.data(), mus_signature, sizeof mus_signature);
  put_u16le(w.out.data() + 4, static_cast<uint32_t>(score_len));
  w.out[6] = mus_score_start;  // byte 7 and the rest of the header stay 0
  result.mus = std::move(w.out);
  result.ok = true;
  return result;
}

}  // namespace

bool midi_is_file(const uint8_t *data, size_t size) noexcept {
  return data != nullptr && size >= 4 && std::memcmp(data, "MThd", 4) == 0;
}

midi_result midi_to_mus(const uint8_t *data, size_t size) noexcept {
  try {
    return convert(data, size);
  } catch (const std::bad_alloc &) {
    midi_result result;
    result.error = "sin memoria";  // short enough to need no allocation
    result.out_of_memory = true;
    return result;
  }
}

}  // namespace tunecast
