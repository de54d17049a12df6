// game_songs.cpp: the game-like song set. A song is its style's parameters
// drawn through a seeded generator, then laid out part by part on the score
// timeline: a held pad, a bass line, a lead with long notes and bends, a
// running part and a counter-line that move over the whole keyboard, drums.
#include "game_songs.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <utility>

#include "score_timeline.h"

namespace bench {
namespace {

constexpr int ticks_per_s = 140;
constexpr int lead_ch = 0, bass_ch = 1, pad_ch = 2, run_ch = 3, counter_ch = 4;

// splitmix64: its output is fixed by the seed alone, where the standard
// library's distributions differ from one implementation to the next.
class song_random {
 public:
  explicit song_random(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }
  // 0 to n - 1 for n > 0 (the modulo's bias is of no matter here).
  int below(int n) { return static_cast<int>(next() % static_cast<uint64_t>(n)); }
  int between(int lo, int hi) { return lo + below(hi - lo + 1); }
  bool chance(int percent) { return below(100) < percent; }

 private:
  uint64_t state_;
};

enum class style_kind { action, ambient, march, ballad, boss };

struct style {
  style_kind kind;
  const char *name;
  int beat_min, beat_max;              // ticks per beat: the tempo
  int pad_hold_min_s, pad_hold_max_s;  // one pad chord rings about this long
  int run_per_beat;                    // the running part's notes per beat
  int bass_per_beat;
  int pad_notes;           // 4, or 5 with the seventh
  int lead_bend_percent;   // of the lead's longer notes, bent in mid-note
  int pan_spread_percent;  // chance that the song spreads its parts in stereo
  int scale;               // index into scales
};

// Bars of at most 4 * 105 ticks (3 s) round a hold up by less than 3 s, so
// the longest hold stays within 20 s.
constexpr std::array<style, 5> styles = {{
    {style_kind::action, "action", 36, 44, 8, 10, 4, 2, 4, 30, 20, 1},
    {style_kind::ambient, "ambient", 84, 105, 15, 17, 4, 1, 5, 10, 60, 0},
    {style_kind::march, "march", 60, 70, 8, 12, 4, 1, 4, 0, 20, 0},
    {style_kind::ballad, "ballad", 70, 90, 10, 14, 3, 1, 5, 20, 30, 0},
    {style_kind::boss, "boss", 40, 50, 8, 12, 4, 2, 4, 45, 20, 2},
}};

using scale_steps = std::array<int, 7>;
constexpr std::array<scale_steps, 3> scales = {{
    {0, 2, 4, 5, 7, 9, 11},  // major
    {0, 2, 3, 5, 7, 8, 10},  // natural minor
    {0, 2, 3, 5, 7, 8, 11},  // harmonic minor
}};

// Chord roots as scale degrees, four chords a turn.
using progression = std::array<int, 4>;
constexpr std::array<progression, 4> major_progressions = {
    {{0, 4, 5, 3}, {0, 5, 3, 4}, {0, 3, 4, 4}, {5, 3, 0, 4}}};
constexpr std::array<progression, 4> minor_progressions = {
    {{0, 5, 2, 6}, {0, 3, 4, 0}, {0, 6, 5, 4}, {0, 5, 3, 4}}};

// Programs that the synthesizer plays with vibrato, for leads.
constexpr std::array<int, 5> vibrato_families = {5, 7, 8, 9, 10};
constexpr int hexagon_first = 96, hexagon_count = 16;

// What every part of one song shares: tempo, length, key and harmony.
struct song_plan {
  const style *st;
  int beat, bar, bars, end;
  int tonic;  // key of scale degree 0, in the lowest octave used (24 to 35)
  progression chords;
  int chord_bars;  // how long a chord (and the pad) holds
  std::array<int, 6> free_programs;

  // Key of scale degree d >= 0 (7 is an octave above 0).
  int key(int d) const {
    const scale_steps &s = scales[static_cast<size_t>(st->scale)];
    return tonic + 12 * (d / 7) + s[static_cast<size_t>(d % 7)];
  }
  int chord_at(int b) const { return chords[static_cast<size_t>((b / chord_bars) % 4)]; }
  // The bar where stretch k of n of the song starts.
  int stretch_bar(int k, int n) const { return bars * k / n; }
};

// The 128 programs in an order drawn once; song i takes six in turn from
// 6 i, so that 24 songs use every program at least once.
std::array<int, 128> program_order() {
  std::array<int, 128> order{};
  for (int p = 0; p < 128; ++p) order[static_cast<size_t>(p)] = p;
  song_random r(0x5EED0F5E7u);
  for (int i = 127; i > 0; --i)
    std::swap(order[static_cast<size_t>(i)], order[static_cast<size_t>(r.below(i + 1))]);
  return order;
}

song_plan plan_song(int index, song_random &r) {
  song_plan p{};
  p.st = &styles[static_cast<size_t>(index) % styles.size()];
  p.beat = r.between(p.st->beat_min, p.st->beat_max);
  p.bar = 4 * p.beat;
  // Lengths from 20 s to 240 s, spread over the set by a step coprime to it.
  const int seconds = 20 + 220 * ((index * 7) % game_song_count) / (game_song_count - 1);
  p.bars = (seconds * ticks_per_s + p.bar / 2) / p.bar;
  p.end = p.bars * p.bar;
  p.tonic = 24 + r.below(12);
  const auto &progressions = p.st->scale == 0 ? major_progressions : minor_progressions;
  p.chords = progressions[static_cast<size_t>(r.below(4))];
  const int hold_ticks = r.between(p.st->pad_hold_min_s, p.st->pad_hold_max_s) * ticks_per_s;
  p.chord_bars = (hold_ticks + p.bar - 1) / p.bar;
  static const std::array<int, 128> order = program_order();
  for (size_t j = 0; j < p.free_programs.size(); ++j) {
    p.free_programs[j] = order[(6 * static_cast<size_t>(index) + j) % order.size()];
  }
  return p;
}

int velocity(song_random &r, int base) { return base + r.between(-8, 8); }

// Chords of four or five notes, each held until the next chord.
void pad_part(timeline &t, const song_plan &p) {
  for (int b = 0; b < p.bars; b += p.chord_bars) {
    const int at = b * p.bar;
    const int len = std::min(p.chord_bars * p.bar, p.end - at) - 4;
    const int d = 21 + p.chord_at(b);
    constexpr std::array<int, 5> voicing = {0, 2, 4, 7, 6};  // root, third, fifth, octave, seventh
    for (int v = 0; v < p.st->pad_notes; ++v)
      t.note(pad_ch, at, len, p.key(d + voicing[static_cast<size_t>(v)]), 72);
  }
}

// Root, fifth and octave of the chord, on every beat or eighth.
void bass_part(timeline &t, const song_plan &p, song_random &r) {
  constexpr std::array<int, 8> pattern = {0, 0, 7, 0, 4, 0, 7, 4};
  const int step = p.beat / p.st->bass_per_beat;
  for (int s = 0; s * step < p.end; ++s) {
    const int d = 7 + p.chord_at(s * step / p.bar) + pattern[static_cast<size_t>(s % 8)];
    t.note(bass_ch, s * step, step - 4, p.key(d), velocity(r, s % 2 == 0 ? 104 : 92));
  }
}

// Two phrases of two bars, then a note held 6.5 to 9.5 s (past the age
// tables, vibrato all the way), again and again. The phrases walk near the
// chord; some of their longer notes bend up a whole tone and back.
void lead_part(timeline &t, const song_plan &p, song_random &r) {
  const int eighth = p.beat / 2;
  const int hold_bars = (65 * ticks_per_s / 10 + p.bar - 1) / p.bar;
  int d = 28;
  for (int b = 0; b < p.bars;) {
    const int phrase_end = std::min(b + 4, p.bars) * p.bar;
    for (int at = b * p.bar; at < phrase_end;) {
      constexpr std::array<int, 6> lengths = {1, 1, 2, 2, 3, 4};  // in eighths
      const int len = std::min(lengths[static_cast<size_t>(r.below(6))] * eighth, phrase_end - at);
      if (r.chance(15)) {  // a rest
        at += len;
        continue;
      }
      d = std::clamp(d + r.between(-2, 2), 24, 34);
      t.note(lead_ch, at, len - 3, p.key(d), velocity(r, 100));
      if (len >= 3 * eighth && r.chance(p.st->lead_bend_percent)) {
        for (int k = 1; k <= 6; ++k) t.bend(lead_ch, at + len / 2 + k * 2, 128 + k * 21);
        t.bend(lead_ch, at + len - 3, 128);
      }
      at += len;
    }
    b += 4;
    if (b >= p.bars) break;
    const int hold_end = std::min(b + hold_bars, p.bars) * p.bar;
    t.note(lead_ch, b * p.bar, hold_end - b * p.bar - 6, p.key(28 + p.chord_at(b)),
           velocity(r, 100));
    b += hold_bars;
  }
}

// A walk up and down over 35 scale degrees (five octaves), in steps of one
// or two, each note ringing into the next; it rests one bar in four.
// Its program changes at each third of the song.
void run_part(timeline &t, const song_plan &p, song_random &r) {
  for (int k = 0; k < 3; ++k) {
    t.instrument(run_ch, p.stretch_bar(k, 3) * p.bar, p.free_programs[static_cast<size_t>(k)]);
  }
  const int step = p.beat / p.st->run_per_beat;
  int d = 9, dir = 1;
  for (int s = 0; s * step < p.end; ++s) {
    const int at = s * step;
    if ((at / p.bar) % 4 == 3) continue;
    if (r.chance(3)) dir = -dir;
    if (d + dir * 2 > 43 || d + dir * 2 < 9) dir = -dir;
    d += dir * r.between(1, 2);
    t.note(run_ch, at, 2 * step - 2, p.key(d), velocity(r, s % p.st->run_per_beat == 0 ? 88 : 72));
  }
}

// A line on every beat, each note held two beats, leaping up to four degrees
// over four octaves. Its program changes at each quarter of the song, one
// of the four a hexagon.
void counter_part(timeline &t, const song_plan &p, song_random &r, int index) {
  const std::array<int, 4> programs = {p.free_programs[3], p.free_programs[4],
                                       hexagon_first + index % hexagon_count, p.free_programs[5]};
  for (int k = 0; k < 4; ++k)
    t.instrument(counter_ch, p.stretch_bar(k, 4) * p.bar, programs[static_cast<size_t>(k)]);
  int d = 14, dir = 1;
  for (int q = 0; q * p.beat < p.end; ++q) {
    if (r.chance(20)) dir = -dir;
    if (d + dir * 4 > 42 || d + dir * 4 < 14) dir = -dir;
    d += dir * r.between(1, 4);
    t.note(counter_ch, q * p.beat, 2 * p.beat - 4, p.key(d), velocity(r, 84));
  }
}

// The style's drum pattern on the common kit notes, a crash at each phrase
// and a tom fill before it.
void drum_part(timeline &t, const song_plan &p, song_random &r) {
  const int eighth = p.beat / 2, sixteenth = p.beat / 4;
  constexpr std::array<int, 6> toms = {50, 48, 47, 45, 43, 41};
  for (int b = 0; b < p.bars; ++b) {
    const int at = b * p.bar;
    const bool fill = b % 8 == 7;
    switch (p.st->kind) {
      case style_kind::action:
        for (int q = 0; q < 4; ++q) t.hit(at + q * p.beat, q % 2 == 0 ? 36 : 38, velocity(r, 108));
        t.hit(at + 5 * eighth, 36, velocity(r, 96));
        for (int e = 0; e < 8; ++e)
          t.hit(at + e * eighth, e == 7 ? 46 : 42, velocity(r, e % 2 ? 64 : 84));
        if (b % 8 == 0) t.hit(at, 49, velocity(r, 100));
        break;
      case style_kind::boss:
        for (int q = 0; q < 4; ++q) t.hit(at + q * p.beat, 35, velocity(r, 110));
        t.hit(at + 2 * p.beat - sixteenth, 36, velocity(r, 90));
        for (int q = 1; q < 4; q += 2) t.hit(at + q * p.beat, 40, velocity(r, 104));
        for (int e = 0; e < 8; ++e) t.hit(at + e * eighth, 51, velocity(r, 76));
        if (b % 4 == 0) t.hit(at, 57, velocity(r, 104));
        break;
      case style_kind::march:
        for (int q = 0; q < 4; ++q) t.hit(at + q * p.beat, 38, velocity(r, q == 0 ? 104 : 84));
        for (int s = 1; s < 4; ++s) t.hit(at + 3 * p.beat + s * sixteenth, 38, velocity(r, 70));
        for (int q = 0; q < 4; q += 2) t.hit(at + q * p.beat, 36, velocity(r, 100));
        for (int q = 1; q < 4; q += 2) t.hit(at + q * p.beat, 44, velocity(r, 70));
        if (b % 8 == 0) t.hit(at, 49, velocity(r, 96));
        break;
      case style_kind::ballad:
        t.hit(at, 36, velocity(r, 96));
        t.hit(at + 3 * eighth, 36, velocity(r, 80));
        for (int q = 1; q < 4; q += 2) t.hit(at + q * p.beat, 37, velocity(r, 80));
        for (int e = 0; e < 8; ++e)
          t.hit(at + e * eighth, e == 7 && b % 4 == 3 ? 46 : 42, velocity(r, 56));
        if (b % 8 == 0) t.hit(at, 49, velocity(r, 88));
        break;
      case style_kind::ambient:
        for (int q = 0; q < 4; ++q) t.hit(at + q * p.beat, q == 2 ? 59 : 51, velocity(r, 60));
        if (b % 2 == 0) t.hit(at, 36, velocity(r, 84));
        if (b % 4 == 2) t.hit(at + 2 * p.beat, 39, velocity(r, 70));
        if (b % 8 == 0) t.hit(at, 57, velocity(r, 80));
        break;
    }
    if (fill && p.st->kind != style_kind::ambient) {
      for (int s = 0; s < 6; ++s)
        t.hit(at + 3 * p.beat + s * p.beat / 6, toms[static_cast<size_t>(s)], velocity(r, 96));
    }
  }
}

}  // namespace

std::string game_song_lump(int index) {
  const int number = index + 1;
  return (number < 10 ? "D_GS0" : "D_GS") + std::to_string(number);
}

score game_song(int index) {
  if (index < 0 || index >= game_song_count) throw std::out_of_range("no such game song");
  song_random r(0x6A3E50A6u + static_cast<uint64_t>(index) * 0x9E37u);
  const song_plan p = plan_song(index, r);
  timeline t;
  const bool spread = r.chance(p.st->pan_spread_percent);
  const int family = vibrato_families[static_cast<size_t>(r.below(5))];
  t.instrument(lead_ch, 0, family * 8 + r.below(8));
  t.instrument(bass_ch, 0, r.chance(40) ? hexagon_first + r.below(hexagon_count) : 32 + r.below(8));
  t.instrument(pad_ch, 0,
               index % 2 == 0 ? hexagon_first + r.below(hexagon_count) : 88 + r.below(8));
  constexpr std::array<int, 5> volumes = {110, 112, 78, 80, 86};
  constexpr std::array<int, 5> spread_pans = {64, 60, 20, 108, 36};
  for (int ch = 0; ch < 5; ++ch) {
    t.volume(ch, 0, volumes[static_cast<size_t>(ch)]);
    if (spread) t.pan(ch, 0, spread_pans[static_cast<size_t>(ch)]);
  }
  pad_part(t, p);
  bass_part(t, p, r);
  lead_part(t, p, r);
  run_part(t, p, r);
  counter_part(t, p, r, index);
  drum_part(t, p, r);
  char name[32];
  std::snprintf(name, sizeof name, "gs%02d_%s", index + 1, p.st->name);
  return t.build(name, p.end);
}

std::vector<score> game_songs() {
  std::vector<score> songs;
  for (int i = 0; i < game_song_count; ++i) songs.push_back(game_song(i));
  return songs;
}

}  // namespace bench
