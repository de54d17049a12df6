// bench_scores.cpp: the benchmark scores, laid out on a timeline of ticks
// (140 per second; a beat is 60 ticks, a bar 240).
#include "bench_scores.h"

#include <algorithm>
#include <array>

#include "score_timeline.h"
#include "tunecast/chip.h"

namespace bench {
namespace {

constexpr int beat = 60;
constexpr int bar = 4 * beat;

// Four hits every quarter beat, every kind of drum: more than the eight
// drum slots hold, so all eight sound nearly all the time.
void dense_drums(timeline &t, int bars) {
  constexpr std::array<std::array<int, 4>, 4> pattern = {{
      {36, 46, 49, 41},
      {38, 42, 51, 45},
      {35, 44, 57, 48},
      {39, 46, 59, 50},
  }};
  for (int step = 0; step < bars * 16; ++step) {
    for (int k : pattern[static_cast<size_t>(step % 4)])
      t.hit(step * beat / 4, k, 70 + (step * 13 + k) % 57);
  }
}

}  // namespace

score typical_score() {
  constexpr int bars = 16;
  timeline t;
  t.instrument(0, 0, 80);  // lead: saw with vibrato
  t.instrument(1, 0, 33);  // bass: stepped triangle
  t.instrument(2, 0, 48);  // pad: pulse, slow attack
  t.instrument(3, 0, 8);   // arpeggio: triangle with decay
  t.instrument(4, 0, 98);  // bell: hexagon with a long decay
  t.instrument(5, 0, 72);  // counter-melody: pulse with vibrato
  constexpr std::array<std::array<int, 3>, 4> chords = {
      {{57, 60, 64}, {53, 57, 60}, {55, 60, 64}, {55, 59, 62}}};
  constexpr std::array<int, 4> roots = {45, 41, 48, 43};
  constexpr std::array<int, 16> melody = {76, 74, 72, 71, 72, 69, 72, 74,
                                          79, 76, 72, 76, 74, 71, 74, 76};
  for (int b = 0; b < bars; ++b) {
    const int at = b * bar;
    const size_t c = static_cast<size_t>(b % 4);
    for (int key : chords[c]) t.note(2, at, bar - 6, key, 70);
    t.note(2, at, bar - 6, roots[c] + 12, 70);
    for (int h = 0; h < 4; ++h)
      t.note(5, at + h * beat, beat - 4, melody[static_cast<size_t>((b + h * 4) % 16)] - 12, 70);
    for (int q = 0; q < 4; ++q) t.note(1, at + q * beat, beat - 10, roots[c], 100);
    for (int e = 0; e < 8; ++e) {
      const int key = melody[static_cast<size_t>((b * 3 + e) % 16)];
      if (e % 3 != 2) t.note(0, at + e * beat / 2, e % 3 == 0 ? beat - 5 : beat / 2 - 5, key, 96);
    }
    for (int s = 0; s < 16; ++s)
      t.note(3, at + s * beat / 4, beat / 4 - 3, chords[c][static_cast<size_t>(s % 3)] + 12, 60);
    if (b % 2 == 0) t.note(4, at, 2 * beat, chords[c][2] + 24, 80);
    if (b % 4 == 3) {  // a bend into the next bar
      for (int k = 0; k <= 4; ++k) t.bend(0, at + 3 * beat + k * 10, 128 + k * 16);
      t.bend(0, at + bar - 1, 128);
    }
    t.volume(2, at, 80 + 10 * (b % 4));
    t.hit(at, 36, 110);
    t.hit(at + 2 * beat, 38, 100);
    if (b % 8 == 0) t.hit(at, 49, 90);
  }
  return t.build("typical", bars * bar);
}

score dense_score() {
  constexpr int bars = 8;
  timeline t;
  for (int b = 0; b < bars; ++b) {
    // Every channel changes program within its family each bar, which walks
    // through the exceptions of the timbre table; channel 14 alternates
    // with the fixed noise timbre.
    for (int ch = 0; ch < 15; ++ch)
      t.instrument(ch, b * bar, ch == 14 && b % 2 == 1 ? 120 : ch * 8 + b % 8);
    for (int ch = 0; ch < 15; ch += 4) t.bend(ch, b * bar + beat, 128 + (b % 3 - 1) * 40);
    for (int ch = 1; ch < 15; ch += 4) t.volume(ch, b * bar + 2 * beat, 90 + b * 4);
  }
  // A seven-note chord every beat, each note held four beats: 28 held
  // voices, and the releasing ones stolen as new chords arrive.
  for (int q = 0; q < bars * 4; ++q) {
    for (int i = 0; i < 7; ++i) {
      const int ch = (q * 7 + i) % 15;
      t.note(ch, q * beat, 4 * beat, 36 + (i * 7 + q * 5) % 48, 64 + (i * 9 + q) % 64);
    }
  }
  dense_drums(t, bars);
  return t.build("dense", bars * bar);
}

score drums_only_score() {
  constexpr int bars = 8;
  timeline t;
  dense_drums(t, bars);
  return t.build("drums only", bars * bar);
}

score real_song_score() {
  // 35 bars of 240 ticks at 140 ticks per second: 60 s.
  constexpr int bars = 35;
  constexpr int lead = 0, bass = 1, pad = 2;
  timeline t;
  t.instrument(lead, 0, 104);  // programs 96 to 111 are the hexagon families
  t.instrument(bass, 0, 33);   // stepped triangle without decay
  t.instrument(pad, 0, 88);    // triangle with a slow attack and release
  t.volume(pad, 0, 70);
  constexpr std::array<std::array<int, 4>, 4> chords = {
      {{57, 60, 64, 69}, {53, 57, 60, 65}, {48, 55, 60, 64}, {55, 59, 62, 67}}};
  constexpr std::array<int, 4> roots = {33, 29, 36, 31};
  // The lead's phrase: (step of eight per bar, length in eighths, key); one
  // phrase per two bars, the long notes bent in their middle.
  struct lead_note {
    int step, eighths, key;
  };
  constexpr std::array<lead_note, 9> phrase = {{
      {0, 2, 76},
      {2, 1, 74},
      {3, 1, 72},
      {4, 4, 74},
      {8, 1, 72},
      {9, 1, 71},
      {10, 2, 69},
      {12, 3, 72},
      {15, 1, 71},
  }};
  for (int b = 0; b < bars; ++b) {
    const int at = b * bar;
    // Pad chords change every four bars and ring for all four (6.86 s).
    const size_t c = static_cast<size_t>((b / 4) % 4);
    if (b % 4 == 0) {
      const int len = std::min(4 * bar, bars * bar - at) - 4;
      for (int key : chords[c]) t.note(pad, at, len, key, 64);
    }
    // Bass on every eighth: root, octave, root, fifth.
    constexpr std::array<int, 8> bass_steps = {0, 0, 12, 0, 7, 0, 12, 7};
    for (int e = 0; e < 8; ++e) {
      t.note(bass, at + e * beat / 2, beat / 2 - 6, roots[c] + bass_steps[static_cast<size_t>(e)],
             100);
    }
    // The lead rests every fourth pair of bars.
    if ((b / 2) % 4 != 3) {
      const int phrase_at = (b % 2 == 0) ? 0 : 8;
      const int transpose = (b / 2) % 2 == 0 ? 0 : -2;
      for (const lead_note &n : phrase) {
        if (n.step < phrase_at || n.step >= phrase_at + 8) continue;
        const int on = at + (n.step - phrase_at) * beat / 2;
        const int len = n.eighths * beat / 2 - 4;
        t.note(lead, on, len, n.key + transpose, 100);
        if (n.eighths >= 3) {  // bend up nearly a whole tone in mid-note, back at its end
          for (int k = 1; k <= 6; ++k) t.bend(lead, on + len / 2 + k * 3, 128 + k * 21);
          t.bend(lead, on + len, 128);
        }
      }
    }
    // Drums on every beat: kick on 1 and 3, snare on 2 and 4, a closed
    // hi-hat on every eighth (open on the last), a crash every eight bars.
    for (int q = 0; q < 4; ++q) t.hit(at + q * beat, q % 2 == 0 ? 36 : 38, q % 2 == 0 ? 112 : 100);
    for (int e = 0; e < 8; ++e) t.hit(at + e * beat / 2, e == 7 ? 46 : 42, e % 2 == 0 ? 80 : 60);
    if (b % 8 == 0) t.hit(at, 49, 96);
  }
  return t.build("real song", bars * bar);
}

std::vector<score> all_scores() {
  return {typical_score(), dense_score(), drums_only_score(), real_song_score()};
}

int64_t sounding_voice_samples(const score &s) {
  I_PlaySong(0, 0);
  int64_t n = 0;
  float l = 0, r = 0;
  for (int64_t i = 0; i < s.frames(); ++i) {
    chip_next(&l, &r);
    n += chip_sounding_voices();
  }
  return n;
}

void render_in_blocks(const score &s, std::vector<float> &left, std::vector<float> &right) {
  left.resize(block_frames);
  right.resize(block_frames);
  I_PlaySong(0, 0);
  for (int64_t i = 0; i < s.frames(); i += block_frames) {
    const auto n = static_cast<int32_t>(std::min(block_frames, s.frames() - i));
    chip_render(left.data(), right.data(), n);
  }
}

}  // namespace bench
