// The synthesizer against a plain, literal second implementation kept in the
// tests (support/reference_synth): hand-written and generated scores covering
// every timbre, bends, vibrato, decays, releases, stealing, every drum, the
// loop rules and malformed tails must give the same samples, bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <type_traits>
#include <vector>

#include "chip/state.h"
#include "fixtures.h"
#include "reference_synth.h"
#include "tunecast/chip.h"

namespace chip = tunecast::chip;

namespace {

using fixture::bytes;
using fixture::mus_builder;

// The module never forgets a channel's last velocity, so every comparison
// starts from a known one on all 16 channels.
constexpr int primed_velocity = 77;

void prime_last_velocity() {
  mus_builder b;
  for (int ch = 0; ch < 16; ++ch) b.note_on(ch, 60, primed_velocity);
  const bytes song = b.build();  // no delay: the first call reads it all and ends
  ASSERT_EQ(I_RegisterSong(song.data()), 1);
  I_PlaySong(0, 0);
  float l = 0, r = 0;
  chip_next(&l, &r);
}

template <typename T>
std::string show(T v) {
  using bits_t = std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>;
  char text[80];
  std::snprintf(text, sizeof text, "%.17g (0x%0*llx)", static_cast<double>(v),
                static_cast<int>(sizeof(T) * 2),
                static_cast<unsigned long long>(std::bit_cast<bits_t>(v)));
  return text;
}

struct render_case {
  std::string name;
  bytes mus;
  int volume;
  bool looping;
  double seconds;
  bool audible;       // guards against comparing silence with silence
  bool pans = false;  // in stereo: the sides differ somewhere (else nowhere)
};

// output: chip_next's float against the reference's. blocks: the same
// through chip_render in blocks of uneven sizes, so stretches are cut by
// block ends as well as by events. sum: the module's own steps, driven as
// chip_next drives them, give the double before the mix, where a rounding
// that the float would hide still shows.
// sum_stretches: the sums again, but over stretches as long as the events
// and a cycle of sizes allow, so that the voices run in long pieces (in
// passes) where a rounding of their sum shows.
// stereo, stereo_sums, stereo_sum_stretches: the same with chip_set_stereo(1),
// each side against the reference's.
enum class probe { output, blocks, sum, sum_stretches, stereo, stereo_sums, stereo_sum_stretches };

// Both outputs of n samples rendered by chip_render, one block size after
// another from a cycle of sizes around the longest stretch.
void render_in_uneven_blocks(int64_t n, std::vector<float> &left, std::vector<float> &right) {
  constexpr int32_t sizes[] = {1, 127, 128, 129, 2, 1000, 4410, 3, 256, 77};
  left.assign(static_cast<size_t>(n), NAN);
  right.assign(static_cast<size_t>(n), NAN);
  size_t k = 0;
  for (int64_t i = 0; i < n;) {
    const auto size = static_cast<int32_t>(std::min<int64_t>(sizes[k++ % std::size(sizes)], n - i));
    chip_render(&left[static_cast<size_t>(i)], &right[static_cast<size_t>(i)], size);
    i += size;
  }
}

// The sums before the mix of n samples as the module's render makes them:
// each stretch up to the next event and at most a size from a cycle.
// In mono right is left untouched.
void render_sums_in_stretches(int64_t n, bool stereo, std::vector<double> &left,
                              std::vector<double> &right) {
  constexpr int32_t caps[] = {1024, 17, 600, 1024, 99, 1000};
  chip::module_state &m = chip::the_state;
  left.assign(static_cast<size_t>(n), 0.0);
  right.assign(static_cast<size_t>(n), 0.0);
  size_t k = 0;
  for (int64_t i = 0; i < n;) {
    if (m.flags.playing == 0 || chip::seq_step(m.song, m.flags, m.channels, m.voices, m.drums)) {
      ++i;  // silence: the sums stay 0.0
      continue;
    }
    const int64_t cap = std::min<int64_t>(n - i, caps[k++ % std::size(caps)]);
    const auto len = static_cast<int32_t>(1 + std::min(m.song.wait_samples, cap - 1));
    m.song.wait_samples -= len - 1;
    double *l = &left[static_cast<size_t>(i)];
    double *r = &right[static_cast<size_t>(i)];
    chip::mix_sums out{l, stereo ? r : nullptr};
    chip::voices_render(m.voices, m.channels, m.tables, m.hexagon, out, len);
    if (stereo) {
      chip::drums_render_stereo(m.drums, m.tables, m.drum_tables,
                                chip::pan_gains_for(m.channels[15].pan), out, len);
      if (!out.apart) std::copy_n(l, len, r);
    } else {
      chip::drums_render(m.drums, m.tables, m.drum_tables, l, len);
    }
    i += len;
  }
}

// Both sides of n stereo samples against the reference: the outputs pulled
// in uneven blocks, or the sums before the mix from the module's steps
// (sample by sample or in stretches).
void expect_stereo_identical(fixture::reference_synth &ref, int64_t n, probe what, bool pans) {
  const bool sums = what == probe::stereo_sums;
  std::vector<float> left, right;
  std::vector<double> sum_left, sum_right;
  if (what == probe::stereo) render_in_uneven_blocks(n, left, right);
  if (what == probe::stereo_sum_stretches) render_sums_in_stretches(n, true, sum_left, sum_right);
  int64_t apart = 0;
  for (int64_t i = 0; i < n; ++i) {
    double got_left = 0.0, got_right = 0.0;
    fixture::reference_synth::pair want{};
    if (sums) {
      chip::module_state &m = chip::the_state;
      if (m.flags.playing != 0 && !chip::seq_step(m.song, m.flags, m.channels, m.voices, m.drums)) {
        chip::mix_sums out{&got_left, &got_right};
        chip::voices_render(m.voices, m.channels, m.tables, m.hexagon, out, 1);
        chip::drums_render_stereo(m.drums, m.tables, m.drum_tables,
                                  chip::pan_gains_for(m.channels[15].pan), out, 1);
        // Sides never parted are both the one sum.
        if (!out.apart) got_right = got_left;
      }
      want = ref.next_stereo_sums();
    } else if (what == probe::stereo_sum_stretches) {
      got_left = sum_left[static_cast<size_t>(i)];
      got_right = sum_right[static_cast<size_t>(i)];
      want = ref.next_stereo_sums();
    } else {
      got_left = left[static_cast<size_t>(i)];
      got_right = right[static_cast<size_t>(i)];
      want = ref.next_stereo();
    }
    if (std::bit_cast<uint64_t>(got_left) != std::bit_cast<uint64_t>(want.left) ||
        std::bit_cast<uint64_t>(got_right) != std::bit_cast<uint64_t>(want.right)) {
      FAIL() << "first stereo difference at sample " << i << ": synthesizer " << show(got_left)
             << " / " << show(got_right) << ", reference " << show(want.left) << " / "
             << show(want.right);
    }
    if (want.left != want.right) ++apart;
  }
  // A song that pans must show it somewhere; one that never does, nowhere.
  if (pans) {
    EXPECT_GT(apart, n / 10);
  } else {
    EXPECT_EQ(apart, 0);
  }
}

void expect_identical(const render_case &c, probe what) {
  SCOPED_TRACE(c.name);
  setenv("ZARN_SYNTH", "1", 1);
  prime_last_velocity();
  ASSERT_EQ(I_RegisterSong(c.mus.data()), 1);
  I_SetMusicVolume(c.volume);
  I_PlaySong(0, c.looping ? 1 : 0);
  fixture::reference_synth ref(c.mus, c.volume, c.looping, primed_velocity);
  const auto n = static_cast<int64_t>(c.seconds * 44100);
  std::vector<float> block_left, block_right;
  if (what == probe::stereo || what == probe::stereo_sums || what == probe::stereo_sum_stretches) {
    chip_set_stereo(1);
    expect_stereo_identical(ref, n, what, c.pans);
    chip_set_stereo(0);
    return;
  }
  if (what == probe::blocks) render_in_uneven_blocks(n, block_left, block_right);
  std::vector<double> sums, unused;
  if (what == probe::sum_stretches) render_sums_in_stretches(n, false, sums, unused);
  int64_t sounding = 0;
  for (int64_t i = 0; i < n; ++i) {
    if (what != probe::sum && what != probe::sum_stretches) {
      float l = NAN, r = NAN;
      if (what == probe::output) {
        chip_next(&l, &r);
      } else {
        l = block_left[static_cast<size_t>(i)];
        r = block_right[static_cast<size_t>(i)];
      }
      const float want = ref.next();
      const uint32_t want_bits = std::bit_cast<uint32_t>(want);
      if (std::bit_cast<uint32_t>(l) != want_bits || std::bit_cast<uint32_t>(r) != want_bits) {
        FAIL() << "first difference at sample " << i << ": synthesizer " << show(l) << " / "
               << show(r) << ", reference " << show(want);
      }
      if (want != 0.0f) ++sounding;
    } else {
      double got = what == probe::sum_stretches ? sums[static_cast<size_t>(i)] : 0.0;
      chip::module_state &m = chip::the_state;
      if (what == probe::sum && m.flags.playing != 0 &&
          !chip::seq_step(m.song, m.flags, m.channels, m.voices, m.drums)) {
        chip::mix_sums out{&got};
        chip::voices_render(m.voices, m.channels, m.tables, m.hexagon, out, 1);
        chip::drums_render(m.drums, m.tables, m.drum_tables, &got, 1);
      }
      const double want = ref.next_sum();
      if (std::bit_cast<uint64_t>(got) != std::bit_cast<uint64_t>(want)) {
        FAIL() << "first difference in the sum at sample " << i << ": synthesizer " << show(got)
               << ", reference " << show(want);
      }
      if (want != 0.0) ++sounding;
    }
  }
  if (c.audible) {
    EXPECT_GT(sounding, n / 10);
  } else {
    EXPECT_EQ(sounding, 0);
  }
}

// Every family, the programs the family table makes exceptions of, and the
// fixed timbre from 120 up, held past the vibrato onset under bends and
// volume changes, then released.
bytes families_score() {
  const int programs[] = {0,   8,   16,  24,  28,  29, 30, 31,  32, 33, 34, 35,
                          36,  37,  38,  39,  40,  48, 56, 64,  72, 80, 88, 96,
                          104, 112, 119, 120, 127, 5,  45, 100, 3,  61, 70, 93};
  mus_builder b;
  const int count = static_cast<int>(std::size(programs));
  for (int first = 0; first < count; first += 14) {
    const int last = std::min(first + 14, count);
    for (int i = first; i < last; ++i) {
      const int ch = i - first;
      b.instrument(ch, programs[i]).volume(ch, 70 + (i * 13) % 58);
      if (ch == 7) b.delay(3);  // two starting ages per round
      b.note_on(ch, 24 + (i * 17) % 84, 30 + (i * 29) % 98);
    }
    b.delay(25);  // 0.18 s: past the vibrato onset
    for (int ch = 0; ch < last - first; ch += 2) b.bend(ch, (ch * 37 + first) % 256);
    b.delay(10);
    for (int ch = 1; ch < last - first; ch += 2) b.volume(ch, 40 + ch);
    b.bend(0, 255).bend(2, 0).delay(10);
    for (int i = first; i < last; ++i) {
      b.note_off(i - first, 24 + (i * 17) % 84);
      if (i == first + 6) b.delay(4);
    }
    b.delay(20);  // longer than the longest release
  }
  // Releases starting inside the attack, a doubled note closed by one
  // note-off, and the extreme notes under full bend.
  b.instrument(0, 88).instrument(1, 40).instrument(2, 100).instrument(3, 8);
  b.note_on(0, 70, 100).note_on(1, 50, 90).note_on(2, 60, 80).note_on(2, 60, 80).delay(1);
  b.note_off(0, 70).delay(2).note_off(1, 50).note_off(2, 60).delay(20);
  b.bend(2, 255).bend(3, 0).note_on(2, 127, 127).note_on(3, 0, 127).delay(30);
  b.volume(3, 0).delay(5).note_off(2, 127).note_off(3, 0).delay(20);
  return b.score_end().build();
}

// More notes than voices: stealing by age, equal ages broken by slot order,
// releasing voices stolen like held ones.
bytes stealing_score() {
  mus_builder b;
  for (int ch = 0; ch < 15; ++ch) b.instrument(ch, (ch * 8 + 3) % 128);
  for (int group = 0; group < 6; ++group) {
    for (int k = 0; k < 6; ++k) {
      const int ch = (group * 6 + k) % 15;
      b.note_on(ch, 40 + group * 6 + k, 60 + k * 10);
    }
    if (group == 2) b.note_off(0, 40).note_off(1, 41).note_off(11, 51);
    b.delay(3);
  }
  for (int k = 0; k < 10; ++k) b.note_on(k, 90 + k, 100);
  b.delay(40);
  for (int ch = 0; ch < 15; ++ch) {
    for (int note = 40; note < 100; ++note) b.note_off(ch, note);
  }
  b.delay(30);
  return b.score_end().build();
}

// Every drum note, the eight-drum overflow, velocities 0 and 127, and
// channel-15 events that drums ignore.
bytes drums_score() {
  mus_builder b;
  for (int note = 0; note < 128; note += 4) {
    for (int k = 0; k < 4; ++k) b.note_on(15, note + k, (note * 7 + k * 31) % 128);
    b.delay(14);
  }
  b.measure_end(15).delay(170);  // the crash rings out
  const int burst[] = {36, 38, 39, 42, 46, 49, 51, 41, 57, 59};
  for (int note : burst) b.note_on(15, note, 127);
  b.delay(20);
  for (int note : burst) b.note_on(15, note, 110).delay(1);
  b.note_off(15, 49).bend(15, 0).volume(15, 0).note_on(15, 35, 127).note_on(15, 36, 0).delay(60);
  return b.score_end().build();
}

// One note of each drum variant (kick, snare, clap, the six toms, the three
// hi-hats, crash, ride), as the drum tables number them.
constexpr int drum_variant_notes[] = {36, 38, 39, 41, 43, 45, 47, 48, 50, 42, 46, 60, 49, 51};

// Every drum variant at three velocities, each left to ring out its whole
// life so that it reads every block of its table (the crash crosses twelve
// block boundaries), the slower half first; then eight long drums whose
// slot 0 is taken six times at growing ages, before and after a block
// boundary, by hits of other variants and velocities; and hits of a
// variant while an earlier one of it still sounds.
bytes drum_tables_score() {
  mus_builder b;
  for (int vel : {127, 64, 9}) {
    for (int note : {36, 38, 39, 41, 49, 51, 46}) b.note_on(15, note, vel);
    b.delay(170);  // 1.21 s: the crash has ended
    for (int note : {43, 45, 47, 48, 50, 42, 60}) b.note_on(15, note, vel);
    b.delay(60);
  }
  for (int note : {49, 51, 46, 41, 49, 51, 45, 50}) b.note_on(15, note, 100);
  for (int k = 0; k < 6; ++k) {
    b.delay(13 + 7 * k).note_on(15, drum_variant_notes[2 * k + 1], 30 + 17 * k);
  }
  b.delay(40).note_on(15, 49, 120).delay(30).note_on(15, 49, 20).delay(25).note_on(15, 41, 90);
  return b.delay(175).score_end().build();
}

// Drums and melodic voices together loud enough to reach the mix clamp.
// Notes held 6.6 s across many table blocks, with vibrato and decays, a
// crash and a ride past their drum tables. Hexagons: one held steady, one
// bent and brought back in mid-note (its phase leaves the table for good),
// one started under a bend, and a later note of the first one's step, which
// has the table made for it from its start.
bytes long_notes_score() {
  mus_builder b;
  b.instrument(0, 40).instrument(1, 8).instrument(2, 98).instrument(3, 72).instrument(4, 29);
  b.instrument(5, 100).instrument(6, 104).instrument(7, 96).instrument(8, 101).bend(7, 90);
  for (int ch = 0; ch < 8; ++ch) b.note_on(ch, 50 + 5 * ch, 100);
  b.note_on(15, 49, 120).delay(140).note_on(15, 51, 110).delay(140);
  b.bend(6, 200).note_on(8, 75, 90).delay(140).bend(6, 128).delay(500);
  for (int ch = 0; ch < 8; ++ch) b.note_off(ch, 50 + 5 * ch);
  return b.note_off(8, 75).delay(30).score_end().build();
}

bytes loud_score() {
  mus_builder b;
  for (int ch = 0; ch < 12; ++ch) b.instrument(ch, 16 + ch % 3).note_on(ch, 36 + ch * 3, 127);
  b.note_on(15, 35, 127).note_on(15, 49, 127).delay(40);
  b.note_on(15, 36, 127).note_on(15, 39, 127).delay(40);
  return b.score_end().build();
}

// Held notes across the loop point. A score end with bit 7 set reads its
// delay from the first bytes of the score.
bytes loop_score_with_delay() {
  mus_builder b;
  b.instrument(0, 48).note_on(0, 60, 100).note_on(15, 35, 120).delay(40);
  b.instrument(1, 72).note_on(1, 67, 90).note_on(15, 42).delay(30);
  return b.score_end().delay(5).build();
}

// A score end with bit 7 clear: the first event at the start follows in the
// same call (with looping); the bytes after it are never read.
bytes loop_score_without_delay() {
  mus_builder b;
  b.instrument(2, 8).note_on(2, 64, 100).note_on(3, 52).delay(50);
  b.note_off(2, 64).delay(10);
  return b.score_end().note_on(4, 72, 100).delay(10).build();
}

uint32_t lcg_next(uint64_t &state) {
  state = state * 6364136223846793005u + 1442695040888963407u;
  return static_cast<uint32_t>(state >> 33);
}

int below(uint64_t &state, int n) {
  return static_cast<int>(lcg_next(state) % static_cast<uint32_t>(n));
}

// A dense score from a fixed seed: every event type, held notes piling up
// past 28, bytes with the ignored high bits set, delays of 0 and more ticks.
bytes random_score(uint64_t seed, double seconds) {
  uint64_t s = seed;
  mus_builder b;
  std::vector<std::vector<int>> held(15);
  for (int ch = 0; ch < 15; ++ch) b.instrument(ch, below(s, 128)).volume(ch, 64 + below(s, 64));
  b.delay(0);
  const auto total_ticks = static_cast<int64_t>(seconds * 140);
  for (int64_t ticks = 0; ticks < total_ticks;) {
    const int events = 1 + below(s, 6);
    for (int e = 0; e < events; ++e) {
      const int r = below(s, 100);
      const int ch = below(s, 15);
      if (r < 40) {
        const int note = 12 + below(s, 100);
        if (below(s, 5) == 0)
          b.note_on(ch, note);
        else
          b.note_on(ch, note, below(s, 128));
        held[ch].push_back(note);
      } else if (r < 58) {
        std::vector<int> &h = held[ch];
        if (h.empty()) {
          b.note_off(ch, below(s, 128));
        } else {
          const auto k = static_cast<size_t>(below(s, static_cast<int>(h.size())));
          b.note_off(ch, h[k]);
          h.erase(h.begin() + static_cast<std::ptrdiff_t>(k));
        }
      } else if (r < 66) {
        b.bend(ch, below(s, 256));
      } else if (r < 71) {
        b.volume(ch, below(s, 256));  // bit 7 of the value is ignored
      } else if (r < 78) {
        b.instrument(ch, below(s, 256));
      } else if (r < 90) {
        const int note = below(s, 5) == 0 ? below(s, 128) : 35 + below(s, 25);
        if (below(s, 4) == 0)
          b.note_on(15, note);
        else
          b.note_on(15, note, below(s, 128));
      } else if (r < 93) {
        b.system_event(ch, below(s, 256));
      } else if (r < 95) {
        b.measure_end(ch);
      } else if (r < 97) {
        const int number = below(s, 2) == 0 ? 0x80 | below(s, 4) : 4 + below(s, 252);
        b.controller(ch, number, below(s, 256));
      } else {
        // Type 7, and a note-off whose note byte has bit 7 set; raw bytes
        // cannot end a group, so an ordinary event follows them.
        const auto c = static_cast<uint8_t>(ch);
        b.raw({static_cast<uint8_t>(0x70 | c), static_cast<uint8_t>(below(s, 256)), c,
               static_cast<uint8_t>(0x80 | below(s, 128))});
        b.measure_end(ch);
      }
    }
    const int d = below(s, 4) == 0 ? 0 : 1 + below(s, 12);
    b.delay(static_cast<uint64_t>(d));
    ticks += d;
  }
  return b.score_end().build();
}

std::vector<render_case> hand_written_cases() {
  bytes loop_end_twice = mus_builder().note_on(0, 60, 100).score_end().build();
  bytes cut_delay = mus_builder().instrument(0, 16).note_on(0, 69, 100).raw({0xD0, 0x81}).build();
  bytes missing_note =
      mus_builder().instrument(5, 24).note_on(5, 40, 90).delay(100).raw({0x95}).build();
  bytes missing_velocity =
      mus_builder().note_on(6, 50, 90).note_on(6, 55).delay(100).raw({0x96, 0xBC}).build();
  // 11 delay bytes overflow the tick count; 2^62 ticks overflow the samples.
  bytes huge_ticks = mus_builder().instrument(0, 16).raw({0x90, 0xC5, 0x64}).build();
  huge_ticks.insert(huge_ticks.end(), 10, 0xFF);
  huge_ticks.push_back(0x7F);
  bytes huge_samples = mus_builder().instrument(0, 33).raw({0x90, 0xC5, 0x64}).build();
  const bytes d62 = fixture::mus_delay_bytes(uint64_t{1} << 62);
  huge_samples.insert(huge_samples.end(), d62.begin(), d62.end());
  for (bytes *song : {&huge_ticks, &huge_samples}) {  // fix the score length
    const size_t len = song->size() - 8;
    (*song)[4] = static_cast<uint8_t>(len);
    (*song)[5] = static_cast<uint8_t>(len >> 8);
  }

  return {
      {"families", families_score(), 100, false, 4.2, true},
      {"families at volume 127", families_score(), 127, false, 1.5, true},
      {"stealing", stealing_score(), 100, false, 1.4, true},
      {"drums", drums_score(), 127, false, 5.4, true},
      {"drum tables", drum_tables_score(), 100, false, 9.2, true},
      {"mix clamp at volume 200", loud_score(), 200, false, 0.6, true},
      {"notes past the tables", long_notes_score(), 100, false, 6.8, true},
      {"loop, end with delay", loop_score_with_delay(), 100, true, 3.0, true},
      {"loop, end without delay", loop_score_without_delay(), 100, true, 2.0, true},
      {"no loop, end without delay", loop_score_without_delay(), 100, false, 1.0, true},
      {"two score ends in one call", loop_end_twice, 100, true, 0.1, false},
      {"delay cut by the end", cut_delay, 100, false, 1.2, true},
      {"note byte missing at the end", missing_note, 100, false, 1.0, true},
      {"velocity byte missing at the end", missing_velocity, 100, false, 1.0, true},
      {"tick count beyond 64 bits", huge_ticks, 100, false, 0.5, true},
      {"sample count beyond 64 bits", huge_samples, 100, false, 0.5, true},
  };
}

std::vector<render_case> generated_cases() {
  return {
      {"dense, 10 s", random_score(0x5eed0001u, 10.0), 100, false, 10.5, true},
      {"dense, looping", random_score(0x5eed0002u, 2.5), 100, true, 6.0, true},
  };
}

TEST(Exactness, HandWrittenScoresMatchTheReferenceBitForBit) {
  for (const render_case &c : hand_written_cases()) expect_identical(c, probe::output);
}

TEST(Exactness, GeneratedDenseScoresMatchTheReferenceBitForBit) {
  for (const render_case &c : generated_cases()) expect_identical(c, probe::output);
}

TEST(Exactness, BlockRenderingMatchesTheReferenceBitForBit) {
  for (const render_case &c : hand_written_cases()) expect_identical(c, probe::blocks);
  for (const render_case &c : generated_cases()) expect_identical(c, probe::blocks);
}

TEST(Exactness, SumBeforeTheMixMatchesToTheDoubleBit) {
  for (const render_case &c : hand_written_cases()) expect_identical(c, probe::sum);
  for (const render_case &c : generated_cases()) expect_identical(c, probe::sum);
}

// The drum tables from empty, so that they are made by this score whatever
// ran before, and then cut short: every drum outliving its table goes on
// from the table's end by its own state, one variant's end before a block
// boundary and the longer ones' after.
TEST(Exactness, DrumTablesFromEmptyAndCutShortMatchTheReference) {
  chip::drum_table_set &tables = chip::the_state.drum_tables;
  tables = {tables.store};
  const render_case drums{"drum tables, made afresh", drum_tables_score(), 100, false, 9.2, true};
  expect_identical(drums, probe::sum);
  for (size_t v = 0; v < chip::drum_variant_count; ++v) {
    tables.variants[v] = {};
    tables.variants[v].len =
        std::min<int64_t>(chip::drum_table_capacity(v) - 100, 1000 + 700 * static_cast<int64_t>(v));
  }
  for (probe what : {probe::output, probe::blocks, probe::sum}) {
    expect_identical({"drum tables cut short", drum_tables_score(), 100, false, 9.2, true}, what);
    expect_identical({"drums, tables cut short", drums_score(), 127, false, 5.4, true}, what);
  }
  tables = {tables.store};  // back to whole-life tables, made again on use
}

// Pan on melodic channels and on the drums: the extremes, one step either
// side of the centre, a change in mid-note, a reset by the loop, and a
// controller 4 value with bit 7 set.
bytes pan_score() {
  mus_builder b;
  b.instrument(0, 80).instrument(1, 33).instrument(2, 104).instrument(3, 8).instrument(4, 48);
  b.pan(0, 0).pan(1, 127).pan(2, 63).pan(3, 65).pan(15, 20);
  for (int ch = 0; ch < 5; ++ch) b.note_on(ch, 55 + 4 * ch, 90);
  b.note_on(15, 36, 120).note_on(15, 42, 100).delay(40);
  b.pan(0, 100).pan(4, 1).pan(15, 126).note_on(15, 38, 110).delay(40);
  b.controller(2, 4, 0x80 | 30).pan(3, 64).note_on(15, 49, 127).delay(40);
  for (int ch = 0; ch < 5; ++ch) b.note_off(ch, 55 + 4 * ch);
  return b.delay(20).score_end().build();
}

// The sides share one sum until the first source off the centre: centre
// voices in the first slots and one off it after them, then only the drums
// off it, then a later slot leaving the centre with the drums back on it.
bytes parting_score() {
  mus_builder b;
  b.instrument(0, 80).instrument(1, 20).instrument(2, 104).pan(2, 30);
  b.note_on(0, 60, 100).note_on(1, 64, 90).note_on(2, 67, 110).note_on(15, 36, 120).delay(30);
  b.note_off(2, 67).pan(15, 100).note_on(15, 38, 110).delay(60);
  b.pan(15, 64).pan(1, 90).note_on(15, 42, 100).delay(30);
  b.note_off(0, 60).note_off(1, 64).delay(20);
  return b.score_end().build();
}

// Stereo against the reference on both sides: songs that pan, and songs
// that never do, whose two sides must then both be the mono sample.
TEST(Exactness, StereoMatchesTheReferenceOnBothSides) {
  const std::vector<render_case> cases = {
      {"pans", pan_score(), 127, false, 1.2, true, true},
      {"pans, looping", pan_score(), 100, true, 2.5, true, true},
      {"parts after the centre", parting_score(), 127, false, 1.4, true, true},
      {"families, no pan", families_score(), 127, false, 1.5, true},
      {"drums, no pan", drums_score(), 127, false, 5.4, true},
      {"dense, no pan", random_score(0x5eed0001u, 3.0), 100, false, 3.5, true},
  };
  for (const render_case &c : cases) {
    expect_identical(c, probe::stereo);
    expect_identical(c, probe::stereo_sums);
  }
  EXPECT_EQ(chip::the_state.stereo, 0);  // each comparison puts mono back

  // The law's ends and centre, worked out by hand: sqrt 2 times cos and sin
  // of 0, pi/4 (taken as exactly 1.0) and pi/2.
  const double sqrt_2 = 1.4142135623730951;
  EXPECT_EQ(chip::pan_gains_for(0).left, sqrt_2);
  EXPECT_EQ(chip::pan_gains_for(0).right, 0.0);
  EXPECT_EQ(chip::pan_gains_for(64).left, 1.0);
  EXPECT_EQ(chip::pan_gains_for(64).right, 1.0);
  EXPECT_EQ(chip::pan_gains_for(127).right, sqrt_2);
  EXPECT_LT(chip::pan_gains_for(127).left, 1e-16);
  for (int32_t p = 0; p < 128; ++p) {
    const chip::pan_gains g = chip::pan_gains_for(p);
    EXPECT_NEAR(g.left * g.left + g.right * g.right, 2.0, 1e-15) << p;
  }
}

// While every source sits at the centre the right sum is not written: the
// sides are the one sum in left. A drum panned hard left then parts them,
// and its right gain of 0.0 leaves the right side the shared sum as it was.
TEST(Exactness, StereoSumsStayOneUntilASourceLeavesTheCentre) {
  chip::module_state &m = chip::the_state;
  chip::channels_reset(m.channels);
  chip::voice_note_on(m.voices, m.channels, 0, 60, 100);
  chip::drum_note_on(m.drums, 36, 120);
  constexpr int32_t n = 64;
  std::vector<double> left(n, 0.0), right(n, NAN);
  chip::mix_sums sums{left.data(), right.data()};
  chip::voices_render(m.voices, m.channels, m.tables, m.hexagon, sums, n);
  chip::drums_render_stereo(m.drums, m.tables, m.drum_tables, chip::pan_gains_for(64), sums, n);
  EXPECT_FALSE(sums.apart);
  EXPECT_TRUE(std::all_of(right.begin(), right.end(), [](double x) { return std::isnan(x); }));

  const std::vector<double> shared = left;
  chip::drums_render_stereo(m.drums, m.tables, m.drum_tables, chip::pan_gains_for(0), sums, n);
  EXPECT_TRUE(sums.apart);
  EXPECT_EQ(right, shared);
  EXPECT_NE(left, shared);
}

// The sums before the mix over stretches as long as the events allow: the
// voices run in long pieces, and a rounding of their sum that the float
// output would hide shows.
TEST(Exactness, SumsOverLongStretchesMatchTheReference) {
  expect_identical({"dense", random_score(0x5eed0003u, 4.0), 100, false, 4.5, true},
                   probe::sum_stretches);
  expect_identical({"pans", pan_score(), 127, false, 1.2, true, true}, probe::stereo_sum_stretches);
}

// The mix of sums no song reaches: both bounds and their neighbours in
// double (which round to 1.0f yet are not clamped), the infinities, both
// zeros and NaN, each at every place of a block so that it goes through
// four samples at a time and through the rest one by one.
TEST(Exactness, MixClampsInDoubleAndLetsNaNThrough) {
  const double scale = 0.12 * 0.5;
  const double above = std::nextafter(1.0, 2.0), below = std::nextafter(1.0, 0.0);
  struct row {
    double sum;  // times scale
    float want;
  };
  const row rows[] = {
      {1.0 / scale * above, 1.0f},
      {above / scale, 1.0f},
      {below / scale, 1.0f},
      {-above / scale, -1.0f},
      {-below / scale, -1.0f},
      {INFINITY, 1.0f},
      {-INFINITY, -1.0f},
      {-0.0, -0.0f},
      {0.0, 0.0f},
      {0.25 / scale, static_cast<float>(scale * (0.25 / scale))},
  };
  constexpr int32_t n = 7;
  for (const row &r : rows) {
    for (int32_t at = 0; at < n; ++at) {
      SCOPED_TRACE(testing::Message() << r.sum << " at " << at);
      std::vector<double> sums(n, 1.0 / scale);
      sums[static_cast<size_t>(at)] = r.sum;
      std::vector<float> out(n, 0.5f);
      chip::mix_block(scale, sums.data(), n, out.data());
      EXPECT_EQ(std::bit_cast<uint32_t>(out[static_cast<size_t>(at)]),
                std::bit_cast<uint32_t>(r.want));
      sums[static_cast<size_t>(at)] = NAN;
      chip::mix_block(scale, sums.data(), n, out.data());
      EXPECT_TRUE(std::isnan(out[static_cast<size_t>(at)]));
      EXPECT_EQ(std::count(out.begin(), out.end(), 1.0f), n - 1);
    }
  }
}

// Age and hexagon tables from empty, and then with room for only a few more
// blocks: notes move from table entries to their own calls when the room
// runs out, in mid-note and at different blocks.
TEST(Exactness, TablesFromEmptyAndRunningOutOfRoomMatchTheReference) {
  chip::module_state &m = chip::the_state;
  const render_case long_notes{"tables made afresh", long_notes_score(), 100, false, 6.8, true};
  m.tables = {m.tables.store};
  m.hexagon = {m.hexagon.store};
  expect_identical(long_notes, probe::blocks);
  for (size_t room : {size_t{0}, size_t{2}, size_t{9}}) {
    SCOPED_TRACE(room);
    m.tables = {m.tables.store};
    m.hexagon = {m.hexagon.store};
    m.tables.arena_used = chip::age_arena_blocks - room;
    m.hexagon.arena_used = chip::hexagon_arena_blocks - room;
    expect_identical({"tables running out", long_notes_score(), 100, false, 6.8, true}, probe::sum);
  }
  m.tables = {m.tables.store};  // back to tables with room, made again on use
  m.hexagon = {m.hexagon.store};
}

// Notes held past the 23.8 s the age tables cover (a vibrato lead, a decayed
// triangle, a hexagon pad), and three short notes of one hexagon step that
// each cross block ends: the first is alone there and calls, the second has
// the blocks made, the third reads them.
bytes held_past_the_tables_score() {
  mus_builder b;
  b.instrument(0, 40).instrument(1, 8).instrument(2, 104).instrument(3, 100);
  b.note_on(0, 62, 100).note_on(1, 55, 100).note_on(2, 57, 100);
  for (int i = 0; i < 3; ++i) {
    b.note_on(3, 69, 90).delay(40).note_off(3, 69).delay(i < 2 ? 10 : 3260);  // 24.3 s in all
  }
  b.note_off(0, 62).note_off(1, 55).note_off(2, 57);
  return b.delay(30).score_end().build();
}

// The arenas empty and growing, and with room for only a few more blocks, so
// that the cap is hit in mid-note, before or after the second hexagon note.
TEST(Exactness, TablesPastTheOldHorizonAndAtTheirCapMatchTheReference) {
  chip::module_state &m = chip::the_state;
  const bytes song = held_past_the_tables_score();
  const size_t ample = chip::hexagon_arena_blocks;
  for (size_t room : {ample, size_t{0}, size_t{1}, size_t{4}}) {
    SCOPED_TRACE(room);
    m.tables = {m.tables.store};
    m.hexagon = {m.hexagon.store};
    m.tables.arena_used = chip::age_arena_blocks - std::min(room, chip::age_arena_blocks);
    m.hexagon.arena_used = chip::hexagon_arena_blocks - room;
    expect_identical({"held past the tables", song, 100, false, 24.5, true},
                     room == ample ? probe::blocks : probe::sum);
  }
  m.tables = {m.tables.store};
  m.hexagon = {m.hexagon.store};
}

// The reference itself against figures given for the synthesizer, so that a
// misreading shared by both sides still shows.
TEST(Exactness, ReferenceReproducesKnownFigures) {
  const double gain = 1.6 * (100 / 127.0);
  fixture::reference_synth hat(mus_builder().note_on(15, 42, 127).delay(50).build(), 100, false);
  EXPECT_EQ(hat.next(), static_cast<float>((0.12 * gain) * 0.9));

  // A release frees the voice on the 1324th / 3529th / 5293rd gated-off
  // sample; the note-off arrives on sample 315.
  const struct {
    int program;
    int freeing_sample;
  } releases[] = {{16, 1324}, {40, 3529}, {88, 5293}};
  for (const auto &rel : releases) {
    SCOPED_TRACE(rel.program);
    const bytes song = mus_builder()
                           .instrument(0, rel.program)
                           .note_on(0, 69, 100)
                           .delay(1)
                           .note_off(0, 69)
                           .delay(100)
                           .build();
    fixture::reference_synth ref(song, 100, false);
    std::vector<float> out;
    for (int i = 0; i < 315 + rel.freeing_sample + 10; ++i) out.push_back(ref.next());
    EXPECT_NE(out[315 + rel.freeing_sample - 2], 0.0f);
    for (size_t i = static_cast<size_t>(315 + rel.freeing_sample - 1); i < out.size(); ++i) {
      ASSERT_EQ(out[i], 0.0f) << i;
    }
  }
}

}  // namespace
