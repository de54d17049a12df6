// The MIDI writer: MUS scores written out as MIDI and checked byte by byte
// against files worked out by hand, then read back through the MIDI reader
// and played: the synthesizer must give the very same samples.
#include "midi/mus_to_midi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "chip/state.h"
#include "demo_song.h"
#include "fixtures.h"
#include "midi/midi.h"
#include "tunecast/chip.h"

namespace chip = tunecast::chip;

using tunecast::midi_file_result;
using tunecast::midi_result;
using tunecast::midi_to_mus;
using tunecast::mus_to_midi;

namespace {

using fixture::bytes;
using fixture::mus_builder;

midi_file_result convert(const bytes &mus) { return mus_to_midi(mus.data(), mus.size()); }

TEST(MusToMidi, HeaderChannelsVelocitiesBendsAndEnd) {
  mus_builder b;
  b.instrument(9, 5).note_on(15, 36, 110).note_on(0, 60, 100).delay(3);
  b.note_on(0, 62).bend(9, 255).bend(0, 128).note_on(14, 50, 0);  // the last one is silent
  b.volume(14, 0x80 | 90).system_event(1, 14).delay(200).note_off(0, 60).delay(5);
  b.score_end().note_on(1, 70, 100);  // past the score end: never played
  // clang-format off
  const bytes track = {
      0x00, 0xFF, 0x51, 3, 0x0F, 0x42, 0x40,  // 1000000 us per quarter
      0x00, 0xCA, 5,                           // MUS 9 -> MIDI 10, program 5
      0x00, 0x99, 36, 110,                     // drums: MUS 15 -> MIDI 9
      0x00, 0x90, 60, 100,                     // MUS 0 -> MIDI 0
      0x03, 0x90, 62, 100,                     // the reused velocity written out
      0x00, 0xEA, 0x40, 0x7F,                  // 255 * 64 = 16320 = 0x7F << 7 | 0x40
      0x00, 0xE0, 0x00, 0x40,                  // 128 * 64 = 8192, the centre
      0x00, 0xBF, 7, 90,                       // volume, bit 7 dropped
      0x00, 0xB1, 121, 0,                      // system event 14: reset all controllers
      0x81, 0x48, 0x80, 60, 64,                // 200 ticks = 1 * 128 + 72
      0x05, 0xFF, 0x2F, 0x00};
  bytes want = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 140,
                'M', 'T', 'r', 'k', 0, 0, 0, static_cast<uint8_t>(track.size())};
  // clang-format on
  want.insert(want.end(), track.begin(), track.end());
  const midi_file_result r = convert(b.build());
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.midi, want);
}

TEST(MusToMidi, BadHeadersAndOverlongScoresAreRefused) {
  bytes cut = mus_builder().note_on(0, 60, 100).delay(10).score_end().build();  // 8 + 5 bytes
  cut.pop_back();
  const uint64_t day = 140 * 86400;
  const std::pair<bytes, std::string> rows[] = {
      {{'M', 'U', 'Z', 0x1A, 0, 0, 8, 0},
       "no es una partitura MUS: falta la cabecera \"MUS\\x1A\""},
      {cut, "MUS cortado: la cabecera declara 13 bytes y el lump tiene 12"},
      {mus_builder().note_on(0, 60, 100).delay(day).score_end().build(), ""},
      {mus_builder().note_on(0, 60, 100).delay(day + 1).build(),
       "MUS demasiado largo: dura más de 24 horas"},
  };
  for (const auto &[mus, error] : rows) {
    SCOPED_TRACE(error);
    const midi_file_result r = convert(mus);
    EXPECT_EQ(r.ok, error.empty());
    EXPECT_EQ(r.error, error);
    EXPECT_EQ(r.midi.empty(), !r.ok);
  }
}

// About 5 s of every event type from a fixed seed: notes with and without
// their velocity byte (a first note sets each channel's; none is silent),
// drums, releases, bends, any controller and system event byte, measure
// ends, type 7.
bytes generated_score(uint32_t seed) {
  std::mt19937 rng(seed);
  auto below = [&rng](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
  mus_builder b;
  for (int ch = 0; ch < 16; ++ch) b.note_on(ch, below(128), 1 + below(127));
  for (int ticks = 0; ticks < 700;) {
    for (int e = 1 + below(6); e > 0; --e) {
      const int kind = below(10), ch = kind == 1 ? 15 : below(15);
      if (kind < 4 && below(3) == 0) {
        b.note_on(ch, below(128));
      } else if (kind < 4) {
        b.note_on(ch, below(128), 1 + below(127));
      }
      if (kind == 4) b.note_off(ch, below(128));
      if (kind == 5) b.bend(ch, below(256));
      if (kind == 6) b.controller(ch, below(8) == 0 ? below(256) : below(4), below(256));
      if (kind == 7) b.system_event(ch, below(256));
      if (kind == 8) b.measure_end(ch);
      if (kind == 9) b.raw({static_cast<uint8_t>(0x70 | ch), 0x55}).measure_end(ch);
    }
    const int d = below(4) == 0 ? 0 : below(20) == 0 ? 100 + below(200) : 1 + below(12);
    b.delay(static_cast<uint64_t>(d));
    ticks += d;
  }
  return b.score_end().build();
}

// All 15 melodic channels, first heard from the last (the reader numbers
// channels as they appear), more notes than voices and drums than drum slots.
bytes crowded_score() {
  mus_builder b;
  for (int ch = 14; ch >= 0; --ch)
    b.instrument(ch, ch * 9).volume(ch, 60 + ch * 4).bend(ch, ch * 17);
  for (int k = 0; k < 40; ++k) b.note_on(k % 15, 30 + k, 40 + k * 2).delay(k % 3);
  for (int note : {35, 36, 38, 39, 42, 46, 49, 51, 41, 57}) b.note_on(15, note, 120);
  for (int k = 0; k < 40; k += 2) b.delay(k == 0 ? 50 : 0).note_off(k % 15, 30 + k);
  return b.delay(60).score_end().build();
}

// No score end, and the stream stops inside the last delay: 0x81 counts as
// 1 * 128 ticks, and the song ends after them. (An event cut short is the
// last one read, and the song ends in the same sample: it is never heard.)
bytes cut_score() {
  mus_builder b;
  b.instrument(6, 24).note_on(6, 50, 90).note_on(7, 57, 80).delay(100);
  return b.raw({0xD6, 0x81}).build();
}

std::vector<float> render(const bytes &mus, size_t samples) {
  chip::state_reset();  // the module keeps each channel's last velocity from song to song
  std::vector<float> left(samples), right(samples);
  EXPECT_EQ(I_RegisterSong(mus.data()), 1);
  I_SetMusicVolume(100);
  I_PlaySong(0, 0);
  chip_render(left.data(), right.data(), static_cast<int32_t>(samples));
  return left;
}

TEST(MusToMidi, ReadBackAsMusItPlaysTheSameSamples) {
  setenv("ZARN_SYNTH", "1", 1);
  std::vector<std::pair<std::string, bytes>> songs = {
      {"demo song", demo::song_mus()},
      {"crowded", crowded_score()},
      {"delay cut: 128 ticks", cut_score()},
  };
  for (uint32_t seed : {1u, 2u, 3u})
    songs.emplace_back("seed " + std::to_string(seed), generated_score(seed));
  for (const auto &[name, mus] : songs) {
    SCOPED_TRACE(name);
    const midi_file_result midi = convert(mus);
    ASSERT_TRUE(midi.ok) << midi.error;
    EXPECT_LE(midi.midi.size(), 7 * mus.size() + 36);
    const midi_result back = midi_to_mus(midi.midi.data(), midi.midi.size());
    ASSERT_TRUE(back.ok) << back.error;
    const std::vector<float> want = render(mus, 6 * 44100), got = render(back.mus, 6 * 44100);
    size_t sounding = 0;
    for (size_t i = 0; i < want.size(); ++i) {
      ASSERT_EQ(std::memcmp(&want[i], &got[i], sizeof(float)), 0)
          << "sample " << i << ": " << got[i] << " for " << want[i];
      sounding += want[i] != 0.0f;
    }
    EXPECT_GT(sounding, 44100u / 2);
  }
}

}  // namespace
