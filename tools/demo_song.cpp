// demo_song.cpp: the demo song, written as one chord per bar and short
// patterns per part. The parts are collected on a timeline of ticks and then
// written out as MUS event groups, each followed by the delay to the next,
// or as one Standard MIDI track.
#include "demo_song.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <vector>

#include "common/byte_order.h"
#include "common/vlq.h"
#include "mus/writer.h"
#include "wad_writer.h"

using tunecast::put_u32be;
using tunecast::vlq_append;

namespace demo {
namespace {

// Parts: channel and program (the program picks the synthesizer's timbre).
constexpr int lead_ch = 0, lead_program = 72;     // pulse, quarter duty, vibrato
constexpr int bass_ch = 1, bass_program = 33;     // stepped triangle, no decay
constexpr int pad_ch = 2, pad_program = 40;       // saw, slow attack, vibrato
constexpr int bell_ch = 3, bell_program = 98;     // hexagon, long decay
constexpr int noise_ch = 4, noise_program = 120;  // noise pitched by the note
constexpr int drum_ch = 15;

// MIDI note numbers (60 is middle C, 69 the A at 440 Hz); Gs is G sharp.
constexpr int D2 = 38, E2 = 40, F2 = 41, G2 = 43, A2 = 45, C3 = 48, G3 = 55, Gs3 = 56, A3 = 57,
              B3 = 59, C4 = 60, D4 = 62, E4 = 64, F4 = 65, Gs4 = 68, A4 = 69, B4 = 71, C5 = 72,
              D5 = 74, E5 = 76, F5 = 77, G5 = 79, Gs5 = 80, A5 = 81, B5 = 83, C6 = 84, D6 = 86,
              E6 = 88;
// Percussion keys of channel 15.
constexpr int kick = 36, side_stick = 37, snare = 38, clap = 39, tom_low = 41, closed_hat = 42,
              tom_floor = 43, tom_mid_low = 45, open_hat = 46, tom_mid = 47, tom_mid_high = 48,
              crash = 49, tom_high = 50, ride = 51;

struct chord {
  int bass;
  std::array<int, 3> pad;
};
constexpr chord Am{A2, {A3, C4, E4}}, F{F2, {A3, C4, F4}}, C{C3, {G3, C4, E4}}, G{G2, {G3, B3, D4}},
    Dm{D2, {A3, D4, F4}}, Em{E2, {G3, B3, E4}}, E{E2, {Gs3, B3, E4}};

// clang-format off
// Intro (bars 0-3), verse (4-11), chorus (12-19), outro (20-23), last chord.
constexpr std::array<chord, bars> progression = {
    Am, F, C, G,
    Am, F, C, G, Am, F, Dm, E,
    F, G, Em, Am, Dm, G, E, E,
    Am, F, Dm, E,
    Am};
// clang-format on
constexpr int verse = 4, chorus = 12, outro = 20, last_bar = 24;

enum class fx { none, slide, droop };  // bend up into the note, or sag at its end
struct lead_note {
  int at, len, key;  // at and len in sixteenths within the bar
  fx effect = fx::none;
};
using lead_bar = std::vector<lead_note>;

// clang-format off
const std::vector<lead_bar> verse_lead = {
    {{0, 6, E5}, {6, 2, D5}, {8, 4, C5}, {12, 2, B4}, {14, 2, C5}},
    {{0, 8, A4, fx::slide}, {10, 2, C5}, {12, 2, D5}, {14, 2, E5}},
    {{0, 6, G5}, {6, 2, E5}, {8, 4, C5}, {12, 4, E5}},
    {{0, 12, D5, fx::droop}, {12, 2, B4}, {14, 2, D5}},
    {{0, 4, E5}, {4, 4, A5, fx::slide}, {8, 2, G5}, {10, 2, E5}, {12, 2, D5}, {14, 2, C5}},
    {{0, 6, C5}, {6, 2, A4}, {8, 4, C5}, {12, 4, F5}},
    {{0, 4, F5}, {4, 2, E5}, {6, 2, D5}, {8, 4, C5}, {12, 4, D5}},
    {{0, 8, B4, fx::droop}, {8, 4, Gs4}, {12, 2, B4}, {14, 2, E5}},
};
const std::vector<lead_bar> chorus_lead = {
    {{0, 4, A5}, {4, 2, G5}, {6, 2, F5}, {8, 2, E5}, {10, 2, F5}, {12, 4, A5}},
    {{0, 6, B5, fx::slide}, {6, 2, A5}, {8, 4, G5}, {12, 4, D5}},
    {{0, 4, E5}, {4, 4, G5}, {8, 4, B5}, {12, 2, A5}, {14, 2, G5}},
    {{0, 12, A5, fx::droop}, {12, 4, E5}},
    {{0, 4, F5}, {4, 4, A5}, {8, 6, D6, fx::slide}, {14, 2, C6}},
    {{0, 4, B5}, {4, 4, G5}, {8, 4, D5}, {12, 4, G5}},
    {{0, 6, Gs5}, {6, 2, B5}, {8, 8, E6, fx::slide}},
    {{0, 4, D6}, {4, 4, B5}, {8, 4, Gs5}, {12, 4, E5}},
};
const std::vector<lead_bar> outro_lead = {
    {{0, 8, E5}, {8, 8, C5}},
    {{0, 12, A4, fx::droop}},
    {{0, 8, F5}, {8, 8, D5}},
    {{0, 6, E5}, {6, 2, D5}, {8, 4, B4}, {12, 4, Gs4}},
    {{0, 14, A4, fx::slide}},
};
// clang-format on

// Events on a timeline. Within one tick, releases come first (so a key
// struck again restarts cleanly), then controllers, then new notes.
class score {
 public:
  void note(int ch, int tick, int len, int key, int velocity) {
    add(tick, order::on, ch, key, velocity);
    add(tick + len, order::off, ch, key, 0);
  }
  void hit(int tick, int key, int velocity) { add(tick, order::on, drum_ch, key, velocity); }
  void instrument(int ch, int tick, int program) { add(tick, order::control, ch, 0, program); }
  void volume(int ch, int tick, int value) { add(tick, order::control, ch, 3, value); }
  void bend(int ch, int tick, int value) { add(tick, order::bend, ch, value, 0); }
  // `steps` volume changes spread over `ticks`, the last one landing on `to`.
  void volume_ramp(int ch, int tick, int ticks, int steps, int from, int to) {
    for (int i = 1; i <= steps; ++i)
      volume(ch, tick + ticks * i / steps, from + (to - from) * i / steps);
  }
  void bend_ramp(int ch, int tick, int ticks, int steps, int from, int to) {
    for (int i = 0; i <= steps; ++i)
      bend(ch, tick + ticks * i / steps, from + (to - from) * i / steps);
  }
  bytes build(int end_tick) const;
  bytes build_midi(int end_tick) const;

 private:
  enum class order { off, control, bend, on };
  struct event {
    int tick;
    order kind;
    int ch, a, b;
  };
  std::vector<event> timeline(int end_tick) const;  // sorted, checked
  void add(int tick, order kind, int ch, int a, int b) {
    events_.push_back({tick, kind, ch, a, b});
  }
  std::vector<event> events_;
};

std::vector<score::event> score::timeline(int end_tick) const {
  std::vector<event> in_order = events_;
  std::stable_sort(in_order.begin(), in_order.end(), [](const event &x, const event &y) {
    return x.tick != y.tick ? x.tick < y.tick : x.kind < y.kind;
  });
  if (in_order.empty() || in_order.front().tick != 0 || in_order.back().tick >= end_tick) {
    throw std::logic_error("demo song: events must start at tick 0 and end before the score end");
  }
  return in_order;
}

bytes score::build(int end_tick) const {
  const std::vector<event> sorted = timeline(end_tick);
  tunecast::mus::writer mus;
  std::array<int, 16> last_velocity;
  last_velocity.fill(-1);
  for (size_t i = 0; i < sorted.size(); ++i) {
    const event &e = sorted[i];
    switch (e.kind) {
      case order::off:
        mus.note_off(e.ch, e.a);
        break;
      case order::control:
        mus.controller(e.ch, e.a, e.b);
        break;
      case order::bend:
        mus.bend(e.ch, e.a);
        break;
      case order::on:
        // Like real scores, repeat a velocity only when it changes.
        if (e.b == last_velocity[static_cast<size_t>(e.ch)]) {
          mus.note_on(e.ch, e.a);
        } else {
          mus.note_on(e.ch, e.a, e.b);
          last_velocity[static_cast<size_t>(e.ch)] = e.b;
        }
        break;
    }
    const int next = i + 1 < sorted.size() ? sorted[i + 1].tick : end_tick;
    if (next != e.tick) mus.delay(static_cast<uint64_t>(next - e.tick));
  }
  mus.score_end();
  if (mus.stream().size() > 0xFFFF) throw std::logic_error("demo song: score too long for MUS");
  // The full header with its instrument list, which other MUS readers require.
  return mus.build_standard();
}

// The same events as one format-0 track. 70 MIDI ticks per quarter note at
// 500000 us per quarter make one MIDI tick one MUS tick (1/140 s). The drum
// channel 15 becomes MIDI's 9, and MUS channels 9 to 14 move up by one.
bytes score::build_midi(int end_tick) const {
  constexpr uint8_t ticks_per_quarter = 70;
  const auto midi_channel = [](int ch) { return ch == drum_ch ? 9 : ch < 9 ? ch : ch + 1; };
  bytes track = {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20};  // tempo: 500000 us per quarter
  int now = 0;
  for (const event &e : timeline(end_tick)) {
    vlq_append(track, static_cast<uint32_t>(e.tick - now));
    now = e.tick;
    const auto ch = static_cast<uint8_t>(midi_channel(e.ch));
    const auto a = static_cast<uint8_t>(e.a);
    const auto b = static_cast<uint8_t>(e.b);
    switch (e.kind) {
      case order::off:
        track.insert(track.end(), {static_cast<uint8_t>(0x80 | ch), a, 64});
        break;
      case order::control:
        if (e.a == 0) {
          track.insert(track.end(), {static_cast<uint8_t>(0xC0 | ch), b});
        } else if (e.a == 3) {
          track.insert(track.end(), {static_cast<uint8_t>(0xB0 | ch), 7, b});
        } else {
          throw std::logic_error("demo song: a controller without a MIDI counterpart");
        }
        break;
      case order::bend: {
        const auto value = static_cast<uint32_t>(e.a) << 6;  // 0..255 onto 0..16383, 128 -> 8192
        track.insert(track.end(),
                     {static_cast<uint8_t>(0xE0 | ch), static_cast<uint8_t>(value & 0x7F),
                      static_cast<uint8_t>(value >> 7)});
        break;
      }
      case order::on:
        track.insert(track.end(), {static_cast<uint8_t>(0x90 | ch), a, b});
        break;
    }
  }
  vlq_append(track, static_cast<uint32_t>(end_tick - now));
  track.insert(track.end(), {0xFF, 0x2F, 0x00});  // end of track at the score end

  bytes out = {'M', 'T', 'h', 'd'};
  put_u32be(out, 6);
  out.insert(out.end(), {0, 0, 0, 1, 0, ticks_per_quarter});  // format 0, one track
  out.insert(out.end(), {'M', 'T', 'r', 'k'});
  put_u32be(out, static_cast<uint32_t>(track.size()));
  out.insert(out.end(), track.begin(), track.end());
  return out;
}

constexpr int bar_tick(int bar) { return bar * ticks_per_bar; }
constexpr int step_tick(int bar, int step) { return bar_tick(bar) + step * ticks_per_step; }

// A drum line of one bar: 'X' strong, 'x' normal, 'o' soft, '.' rest.
void drums(score &s, int bar, int key, const char (&line)[steps_per_bar + 1]) {
  for (int step = 0; step < steps_per_bar; ++step) {
    const char c = line[step];
    if (c == '.') continue;
    s.hit(step_tick(bar, step), key, c == 'X' ? 120 : c == 'x' ? 96 : 60);
  }
}

// Tom fill over the second half of a bar, high to low.
void tom_fill(score &s, int bar) {
  constexpr std::array<int, 8> toms = {tom_high, tom_high,    tom_mid_high, tom_mid,
                                       tom_mid,  tom_mid_low, tom_floor,    tom_low};
  for (int i = 0; i < 8; ++i)
    s.hit(step_tick(bar, 8 + i), toms[static_cast<size_t>(i)], 90 + 4 * i);
}

void write_pad(score &s) {
  s.volume(pad_ch, 0, 30);
  s.volume_ramp(pad_ch, 0, 2 * ticks_per_bar, 16, 30, 92);  // swell in
  for (int bar = 0; bar < bars; ++bar) {
    const int len = bar == last_bar ? 200 : ticks_per_bar;
    for (int key : progression[static_cast<size_t>(bar)].pad)
      s.note(pad_ch, bar_tick(bar), len, key, 80);
  }
  s.volume_ramp(pad_ch, bar_tick(last_bar), 190, 19, 92, 0);  // fade out
}

// Bass line of one bar: 'r' root, 'o' octave up, 'f' fifth up, '.' rest; a
// note lasts until the next one, slightly detached.
void bass_line(score &s, int bar, const char (&line)[steps_per_bar + 1]) {
  const int root = progression[static_cast<size_t>(bar)].bass;
  for (int step = 0; step < steps_per_bar; ++step) {
    const char c = line[step];
    if (c == '.') continue;
    int next = step + 1;
    while (next < steps_per_bar && line[next] == '.') ++next;
    const int key = root + (c == 'o' ? 12 : c == 'f' ? 7 : 0);
    s.note(bass_ch, step_tick(bar, step), (next - step) * ticks_per_step - 3, key,
           c == 'r' ? 112 : 96);
  }
}

void write_bass(score &s) {
  s.volume(bass_ch, 0, 110);
  for (int bar = verse; bar < chorus; ++bar) bass_line(s, bar, "r..r..o.r..r.o.f");
  for (int bar = chorus; bar < outro; ++bar) bass_line(s, bar, "r.r.o.r.r.r.o.rf");
  for (int bar = outro; bar < last_bar; ++bar) bass_line(s, bar, "r.......r...o...");
  s.note(bass_ch, bar_tick(last_bar), 180, A2 - 12, 112);
  s.bend_ramp(bass_ch, bar_tick(last_bar) + 120, 60, 6, 128, 0);  // the last note drops
}

// Bell arpeggio over the bar's chord: digits index the pad notes an octave
// up, '3' is the lowest of them two octaves up.
void bell_line(score &s, int bar, const char (&line)[steps_per_bar + 1], int velocity) {
  const std::array<int, 3> &pad = progression[static_cast<size_t>(bar)].pad;
  for (int step = 0; step < steps_per_bar; ++step) {
    const char c = line[step];
    if (c == '.') continue;
    const int key = c == '3' ? pad[0] + 24 : pad[static_cast<size_t>(c - '0')] + 12;
    s.note(bell_ch, step_tick(bar, step), 2 * ticks_per_step - 2, key, velocity);
  }
}

void write_bells(score &s) {
  s.volume(bell_ch, 0, 90);
  for (int bar = 0; bar < verse; ++bar) bell_line(s, bar, "0.1.2.3.2.1.0.1.", 84);
  for (int bar = verse; bar < chorus; ++bar) bell_line(s, bar, "3.......2.....1.", 64);
  for (int bar = chorus; bar < outro; ++bar) bell_line(s, bar, "0.1.2.3.2.1.0.1.", 72);
  for (int bar = outro; bar < last_bar; ++bar) bell_line(s, bar, "3...2...1...0...", 70);
  s.note(bell_ch, bar_tick(last_bar), 120, A5, 90);
}

void write_lead(score &s) {
  auto play = [&s](int first_bar, const std::vector<lead_bar> &bars_of_lead, int velocity) {
    for (size_t i = 0; i < bars_of_lead.size(); ++i) {
      const int bar = first_bar + static_cast<int>(i);
      for (const lead_note &n : bars_of_lead[i]) {
        const int start = step_tick(bar, n.at);
        const int len = n.len * ticks_per_step - 4;
        s.note(lead_ch, start, len, n.key, velocity);
        if (n.effect == fx::slide) s.bend_ramp(lead_ch, start, 12, 4, 64, 128);
        if (n.effect == fx::droop) {
          s.bend_ramp(lead_ch, start + len - 24, 20, 5, 128, 40);
          s.bend(lead_ch, start + len, 128);
        }
      }
    }
  };
  s.volume(lead_ch, 0, 96);
  play(verse, verse_lead, 104);
  s.volume(lead_ch, bar_tick(chorus), 112);  // the chorus sits on top
  play(chorus, chorus_lead, 104);
  s.volume(lead_ch, bar_tick(outro), 88);
  play(outro, outro_lead, 96);
}

// Sixteen noise notes climbing into the next section, louder as they go.
void noise_riser(score &s, int bar) {
  s.volume(noise_ch, bar_tick(bar), 30);
  s.volume_ramp(noise_ch, bar_tick(bar), ticks_per_bar - ticks_per_step, 15, 30, 110);
  for (int step = 0; step < steps_per_bar; ++step) {
    s.note(noise_ch, step_tick(bar, step), ticks_per_step - 2, 48 + 4 * step, 90);
  }
}

void write_drums(score &s) {
  drums(s, 2, closed_hat, "o.o.o.o.o.o.o.o.");
  drums(s, 3, closed_hat, "o.o.o.o.........");
  drums(s, 3, kick, "x...............");
  tom_fill(s, 3);
  for (int bar = verse; bar < chorus; ++bar) {
    const bool fill = bar == chorus - 1;
    drums(s, bar, kick, "x.......x.x.....");
    drums(s, bar, snare, fill ? "....x..........." : "....x.......x...");
    drums(s, bar, closed_hat, fill ? "x.x.x.x........." : "x.x.x.x.x.x.x...");
    if (!fill) drums(s, bar, open_hat, "..............o.");
  }
  tom_fill(s, chorus - 1);
  for (int bar = chorus; bar < outro; ++bar) {
    drums(s, bar, kick, "x.....x...x.....");
    drums(s, bar, snare, "....x.......x...");
    drums(s, bar, clap, "....x.......x..x");
    drums(s, bar, closed_hat, "xoxoxoxoxoxoxoxo");
  }
  for (int bar = outro; bar < last_bar; ++bar) {
    drums(s, bar, kick, "x.......x.......");
    drums(s, bar, side_stick, "....x.......x...");
    drums(s, bar, ride, "x...x...x...x...");
  }
  for (int bar : {verse, chorus, outro, last_bar}) s.hit(bar_tick(bar), crash, 110);
  s.hit(bar_tick(last_bar), kick, 120);
}

score song() {
  score s;
  s.instrument(lead_ch, 0, lead_program);
  s.instrument(bass_ch, 0, bass_program);
  s.instrument(pad_ch, 0, pad_program);
  s.instrument(bell_ch, 0, bell_program);
  s.instrument(noise_ch, 0, noise_program);
  write_pad(s);
  write_bass(s);
  write_bells(s);
  write_lead(s);
  noise_riser(s, verse - 1);
  noise_riser(s, chorus - 1);
  write_drums(s);
  return s;
}

}  // namespace

bytes song_mus() { return song().build(score_end_tick); }

bytes song_midi() { return song().build_midi(score_end_tick); }

bytes song_wad() { return wad_writer().lump("D_DEMO", song_mus()).build(); }

}  // namespace demo
