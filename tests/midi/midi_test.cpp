// The MIDI reader: Standard MIDI files built in code, converted to MUS and
// compared with scores written by hand. Unless a test says otherwise the
// division is 70 ticks per quarter note at the default 500000 us per
// quarter, so one MIDI tick lasts 1/140 s: exactly one MUS tick.
#include "midi/midi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "chip/state.h"
#include "midi/music_lump.h"
#include "midi_builder.h"
#include "tunecast/chip.h"

namespace chip = tunecast::chip;

using tunecast::midi_is_file;
using tunecast::midi_result;
using tunecast::midi_to_mus;

namespace {

using fixture::bytes;
using fixture::midi_builder;
using fixture::midi_track;
using fixture::mus_builder;

constexpr int one_tick = 70;  // division giving one MUS tick per MIDI tick

midi_result convert(const bytes &midi) { return midi_to_mus(midi.data(), midi.size()); }

// The converter writes score start 16: the 8-byte header plus 8 zero bytes.
bytes expected(mus_builder m) { return m.header_padding(8).build(); }

bytes format0(const midi_track &t, int division = one_tick) {
  return midi_builder(0, division).track(t).build();
}

void expect_mus(const bytes &midi, const bytes &mus) {
  const midi_result r = convert(midi);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.mus, mus);
}

TEST(Midi, Format0NotesReleasesAndScoreEnd) {
  midi_track t;
  t.note_on(0, 0, 60, 100).note_off(70, 0, 60).note_on(0, 0, 62, 100);
  t.note_on(35, 0, 62, 0).end(35);  // velocity 0 releases; the track ends 35 ticks later
  expect_mus(format0(t), expected(mus_builder()
                                      .note_on(0, 60, 100)
                                      .delay(70)
                                      .note_off(0, 60)
                                      .note_on(0, 62)
                                      .delay(35)
                                      .note_off(0, 62)
                                      .delay(35)
                                      .score_end()));
  EXPECT_TRUE(midi_is_file(format0(t).data(), 4));
  EXPECT_FALSE(midi_is_file(reinterpret_cast<const uint8_t *>("MUS\x1A"), 4));
}

TEST(Midi, VelocityByteOnFirstNoteAndOnChangeOnly) {
  midi_track t;
  t.note_on(0, 0, 60, 100).note_on(1, 0, 61, 100).note_on(1, 0, 62, 90);
  t.note_on(1, 0, 63, 90).note_on(1, 0, 64, 100).note_on(1, 1, 65, 100).end();
  const bytes mus = {
      'M',  'U',  'S', 0x1A, 22,   0,   16,   0,    0,   0,
      0,    0,    0,   0,    0,    0,   0x90, 0xBC, 100, 1,  // ch 0 first note: velocity byte
      0x90, 0x3D, 1,                                         // same velocity: none
      0x90, 0xBE, 90,  1,                                    // changed
      0x90, 0x3F, 1,   0x90, 0xC0, 100, 1,                   // changed back
      0x11, 0xC1, 100,  // ch 1's own first note, then the score end in its group
      0x60};
  expect_mus(format0(t), mus);
}

TEST(Midi, TempoMapFromAnyTrackGivesExactTicks) {
  // Up to tick 140 one MIDI tick is one MUS tick (1 s); then 300000 us per
  // quarter makes it 0.6 MUS ticks, and from MIDI tick 150 (MUS 146) a
  // tempo of 1000000 set by the last track makes it 2.
  midi_track conductor, song, late;
  conductor.tempo(140, 300000).end();
  song.note_on(0, 0, 60, 100).note_off(145, 0, 60);  // 140 + 5 * 0.6 = 143
  song.note_on(1, 0, 62, 100).note_off(1, 0, 62);    // 143.6 and 144.2: both 144
  song.note_on(13, 0, 64, 100).end();                // 146 + 10 * 2 = 166
  late.tempo(150, 1000000).end(10);
  expect_mus(midi_builder(1, one_tick).track(conductor).track(song).track(late).build(),
             expected(mus_builder()
                          .note_on(0, 60, 100)
                          .delay(143)
                          .note_off(0, 60)
                          .delay(1)
                          .note_on(0, 62)
                          .note_off(0, 62)
                          .delay(22)
                          .note_on(0, 64)
                          .score_end()));
}

TEST(Midi, RunningStatusAcrossMetaAndSkippedSysex) {
  midi_track t;
  t.raw({0x00, 0x90, 60, 100, 0x0A, 64, 100});  // second note-on without its status byte
  t.meta(0, 0x01, bytes(200, 'x'));             // text with a two-byte length
  t.sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7}).sysex(0, {0x01, 0x02}, 0xF7);
  t.raw({0x0A, 60, 0, 0x00, 64, 0});  // running status still 0x90: two releases
  t.end();
  expect_mus(format0(t), expected(mus_builder()
                                      .note_on(0, 60, 100)
                                      .delay(10)
                                      .note_on(0, 64)
                                      .delay(10)
                                      .note_off(0, 60)
                                      .note_off(0, 64)
                                      .score_end()));
  midi_track built;  // the builder's running status drops the same bytes
  built.running_status(true).note_on(0, 0, 60, 100).note_on(10, 0, 64, 100);
  EXPECT_EQ(built.data(), (bytes{0x00, 0x90, 60, 100, 0x0A, 64, 100}));
}

TEST(Midi, DrumsGoToChannel15OthersTakeChannelsInOrderOfFirstEvent) {
  // Same time: the earlier track first. Pressure produces nothing, so MIDI
  // channel 4 claims no MUS channel.
  midi_track a, b;
  a.key_pressure(0, 4, 60, 10).note_on(0, 3, 60, 100).note_on(10, 0, 61, 100).end();
  b.note_on(0, 9, 36, 110).note_on(5, 7, 62, 100).controller(5, 2, 7, 90).end();
  expect_mus(midi_builder(1, one_tick).track(a).track(b).build(),
             expected(mus_builder()
                          .note_on(0, 60, 100)
                          .note_on(15, 36, 110)
                          .delay(5)  // 3 -> 0, 9 -> 15
                          .note_on(1, 62, 100)
                          .delay(5)  // 7 -> 1
                          .note_on(2, 61, 100)
                          .controller(3, 3, 90)  // 0 -> 2, 2 -> 3
                          .score_end()));
}

TEST(Midi, EveryControllerRowPitchBendAndDroppedEvents) {
  struct row {
    const char *name;
    midi_track track;
    bytes stream;
  };
  auto cc = [](int number, int value) {
    return midi_track().controller(0, 0, number, value).end();
  };
  auto bend = [](int value) { return midi_track().pitch_bend(0, 0, value).end(); };
  const row rows[] = {
      {"program", midi_track().program(0, 0, 5).end(), {0x40, 0, 5, 0x60}},
      {"bank", cc(0, 1), {0x40, 1, 1, 0x60}},
      {"modulation", cc(1, 20), {0x40, 2, 20, 0x60}},
      {"volume", cc(7, 99), {0x40, 3, 99, 0x60}},
      {"pan", cc(10, 64), {0x40, 4, 64, 0x60}},
      {"expression", cc(11, 127), {0x40, 5, 127, 0x60}},
      {"reverb", cc(91, 40), {0x40, 6, 40, 0x60}},
      {"chorus", cc(93, 0), {0x40, 7, 0, 0x60}},
      {"sustain", cc(64, 127), {0x40, 8, 127, 0x60}},
      {"soft", cc(67, 1), {0x40, 9, 1, 0x60}},
      {"all sounds off", cc(120, 0), {0x30, 10, 0x60}},
      {"reset controllers", cc(121, 0), {0x30, 14, 0x60}},
      {"local control", cc(122, 127), {0x30, 15, 0x60}},
      {"all notes off", cc(123, 0), {0x30, 11, 0x60}},
      {"omni off", cc(124, 0), {0x30, 11, 0x60}},
      {"omni on", cc(125, 0), {0x30, 11, 0x60}},
      {"mono", cc(126, 1), {0x30, 12, 0x60}},
      {"poly", cc(127, 0), {0x30, 13, 0x60}},
      {"dropped 2", cc(2, 5), {0x60}},
      {"dropped 6", cc(6, 5), {0x60}},
      {"dropped 32", cc(32, 5), {0x60}},
      {"dropped 119", cc(119, 5), {0x60}},
      {"key pressure", midi_track().key_pressure(0, 0, 60, 9).end(), {0x60}},
      {"channel pressure", midi_track().channel_pressure(0, 0, 9).end(), {0x60}},
      {"bend centre 8192", bend(8192), {0x20, 128, 0x60}},
      {"bend 0", bend(0), {0x20, 0, 0x60}},
      {"bend 16383", bend(16383), {0x20, 255, 0x60}},
      {"bend 8191", bend(8191), {0x20, 127, 0x60}},  // 127.98, truncated
      {"bend 64", bend(64), {0x20, 1, 0x60}},
      {"bend 63", bend(63), {0x20, 0, 0x60}},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.name);
    expect_mus(format0(r.track), expected(mus_builder().raw(r.stream)));
  }
}

TEST(Midi, SmpteDivisionIgnoresTempo) {
  struct row {
    int fps, ticks_per_frame;
    uint32_t pulses, ticks;
  };
  const row rows[] = {
      {24, 10, 240, 140},      // 24 frames: 1 s
      {25, 40, 100, 14},       // 1000 us per tick: 0.1 s
      {30, 3, 45, 70},         // 15 frames: 0.5 s
      {29, 1, 30000, 140140},  // 30000 frames at 30000/1001 per second: 1001 s
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.fps);
    midi_track t;
    t.note_on(0, 0, 60, 100).tempo(1, 100000).note_off(r.pulses - 1, 0, 60).end();
    expect_mus(
        midi_builder::smpte(0, r.fps, r.ticks_per_frame).track(t).build(),
        expected(mus_builder().note_on(0, 60, 100).delay(r.ticks).note_off(0, 60).score_end()));
  }
}

TEST(Midi, TicksRoundHalfUpAndNeverAccumulate) {
  // Division 96: a MIDI tick is 500000 / 96 us, 35/48 of a MUS tick. At
  // MIDI tick 72 that is 52.5: half up gives 53 (truncation or half-even,
  // 52). The song's first group needs a measure end to carry its delay.
  midi_track late;
  late.note_on(72, 0, 60, 100).end();
  expect_mus(format0(late, 96),
             expected(mus_builder().measure_end(0).delay(53).note_on(0, 60, 100).score_end()));

  // 96 notes one MIDI tick apart: each rounded from the exact time, so the
  // last lands on round(95 * 35 / 48) = 69, not on 95 rounded deltas.
  midi_track many;
  mus_builder m;
  uint64_t group = 0;
  for (uint64_t k = 0; k < 96; ++k) {
    many.note_on(k == 0 ? 0 : 1, 0, 60, 100);
    const uint64_t tick = (70 * k + 48) / 96;  // floor(35k/48 + 1/2)
    if (tick != group) m.delay(tick - group);
    group = tick;
    if (k == 0)
      m.note_on(0, 60, 100);
    else
      m.note_on(0, 60);
  }
  ASSERT_EQ(group, 69u);
  expect_mus(format0(many.end(), 96), expected(m.score_end()));
}

TEST(Midi, ChunkCountsUnknownChunksAndPaddingAreTolerated) {
  midi_track t1, t2;
  t1.note_on(0, 0, 60, 100).end(4);  // no end-of-track in t2: the chunk's end ends it
  t2.note_on(2, 1, 61, 100);
  const bytes mus =
      expected(mus_builder().note_on(0, 60, 100).delay(2).note_on(1, 61, 100).delay(2).score_end());
  bytes padded = midi_builder(1, one_tick).track(t1).track(t2).build();
  padded.insert(padded.end(), {0, 0, 0});
  bytes long_header = midi_builder(1, one_tick).track(t1).track(t2).build();
  long_header[7] = 8;  // two extra header bytes, skipped
  long_header.insert(long_header.begin() + 14, {0xAB, 0xCD});
  struct row {
    const char *name;
    bytes midi;
  };
  const row rows[] = {
      {"header says 3", midi_builder(1, one_tick).track_count(3).track(t1).track(t2).build()},
      {"header says 1", midi_builder(1, one_tick).track_count(1).track(t1).track(t2).build()},
      {"format 0, two tracks", midi_builder(0, one_tick).track(t1).track(t2).build()},
      {"unknown chunks", midi_builder(1, one_tick)
                             .chunk("XFIH", {1, 2, 3})
                             .track(t1)
                             .chunk("ZZZZ", {})
                             .track(t2)
                             .build()},
      {"zero padding", padded},
      {"longer MThd", long_header},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.name);
    expect_mus(r.midi, mus);
  }
}

TEST(Midi, MalformedFilesAreRefusedWithAReason) {
  const midi_track ok = midi_track().note_on(0, 0, 60, 100).end();
  auto with_track = [](const bytes &payload) {
    return midi_builder(0, one_tick).chunk("MTrk", payload).build();
  };
  bytes no_mthd = format0(ok);
  no_mthd[3] = 'X';
  bytes cut_header = format0(ok);
  cut_header.insert(cut_header.end(), {'M', 'T', 'r'});
  bytes short_mthd = format0(ok);
  short_mthd[7] = 5;
  bytes long_mthd = format0(ok);
  long_mthd[6] = 1;  // 256 + 6 bytes
  const std::string cut = "evento cortado";
  struct row {
    const char *name;
    bytes midi;
    std::string error;
  };
  const row rows[] = {
      {"missing MThd", no_mthd, "falta la cabecera MThd"},
      {"four bytes", {'M', 'T', 'h', 'd'}, "falta la cabecera MThd"},
      {"MThd too short", short_mthd, "cabecera MThd de longitud no válida"},
      {"MThd past the file", long_mthd, "cabecera MThd de longitud no válida"},
      {"MTrk past the file", midi_builder(0, one_tick).chunk("MTrk", ok.data(), 14).build(),
       "pasa del final"},
      {"unknown chunk past the file",
       midi_builder(0, one_tick).track(ok).chunk("JUNK", {1}, 2).build(), "pasa del final"},
      {"chunk header cut", cut_header, "bloque cortado"},
      {"no MTrk", midi_builder(0, one_tick).chunk("JUNK", {}).build(), "no hay ninguna pista"},
      {"delta of 5 bytes", with_track({0x81, 0x81, 0x81, 0x81, 0x00, 0x90, 60, 100}),
       "más de 4 bytes"},
      {"meta length of 5 bytes", with_track({0, 0xFF, 1, 0x80, 0x80, 0x80, 0x80, 0x01}),
       "más de 4 bytes"},
      {"delta cut", with_track({0x00, 0x90, 60, 100, 0x81}), cut},
      {"delta without event", with_track({0x00, 0x90, 60, 100, 0x05}), cut},
      {"status alone", with_track({0x00, 0x90}), cut},
      {"note cut", with_track({0x00, 0x90, 60}), cut},
      {"meta type cut", with_track({0x00, 0xFF}), cut},
      {"meta past the chunk", with_track({0x00, 0xFF, 0x01, 0x05, 'a'}), cut},
      {"sysex past the chunk", with_track({0x00, 0xF0, 0x10, 1, 2}), cut},
      {"running status first", with_track({0x00, 60, 100}), "datos sin byte de estado"},
      {"status as data", with_track({0x00, 0x90, 60, 0x90}), "fuera de rango"},
      {"system common status", with_track({0x00, 0xF2, 0, 0}), "byte de estado no válido"},
      {"division 0", midi_builder(0, 0).track(ok).build(), "división de tiempo 0"},
      {"SMPTE 23 fps", midi_builder::smpte(0, 23, 4).track(ok).build(), "SMPTE no válida"},
      {"SMPTE 0 ticks per frame", midi_builder::smpte(0, 25, 0).track(ok).build(),
       "SMPTE no válida"},
      {"format 2", midi_builder(2, one_tick).track(ok).build(), "formato 2 no admitido"},
      {"longer than a day",
       format0(midi_track().tempo(0, 0xFFFFFF).note_on(0x0FFFFFFF, 0, 60, 1), 1),
       "más de 24 horas"},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.name);
    const midi_result res = convert(r.midi);
    EXPECT_FALSE(res.ok);
    EXPECT_TRUE(res.mus.empty());
    EXPECT_NE(res.error.find(r.error), std::string::npos) << res.error;
  }
}

TEST(Midi, ScoreLengthMustFitSixteenBits) {
  // n notes one tick apart, the first with a velocity byte: 4 bytes with
  // its delay, then 3 per note, the last 2 plus the score end: 3n + 1.
  // A bend in the first group adds 2.
  auto song = [](int notes, bool bend) {
    midi_track t;
    if (bend) t.pitch_bend(0, 0, 8192);
    for (int k = 0; k < notes; ++k) t.note_on(k == 0 ? 0 : 1, 0, 60, 100);
    return format0(t.end());
  };
  const midi_result fits = convert(song(21844, true));  // 3 * 21844 + 1 + 2 = 65535
  ASSERT_TRUE(fits.ok) << fits.error;
  EXPECT_EQ(fits.mus.size(), 16u + 65535u);
  EXPECT_EQ(fits.mus[4], 0xFF);
  EXPECT_EQ(fits.mus[5], 0xFF);
  for (int notes : {21845, 40000}) {  // 65536 bytes; far more events than fit
    const midi_result big = convert(song(notes, false));
    EXPECT_FALSE(big.ok);
    EXPECT_EQ(big.error, "MIDI demasiado largo: la partitura MUS pasaría de 65535 bytes");
  }
}

// Tempo changes and track ends write nothing to the score, but the converter
// keeps them in its event list: they count against the same bound as the
// score's events, twice the 32767 two-byte events a 65535-byte score holds,
// so the list stays small whatever the file's size.
TEST(Midi, EveryKeptEventCountsAgainstTheBound) {
  constexpr int kept_max = 2 * (65535 / 2);
  // n tempo changes and the track's end; n tracks that only end.
  auto tempos = [](int n) {
    midi_track t;
    for (int k = 0; k < n; ++k) t.tempo(1, 500000);
    return format0(t.end());
  };
  auto tracks = [](int n) {
    midi_builder b(1, one_tick);
    for (int k = 0; k < n; ++k) b.track(midi_track().end());
    return b.build();
  };
  const struct {
    const char *what;
    bytes fits, one_too_many;
  } rows[] = {
      {"tempo changes", tempos(kept_max - 1), tempos(kept_max)},
      {"track ends", tracks(kept_max), tracks(kept_max + 1)},
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(r.what);
    const midi_result fits = convert(r.fits);
    EXPECT_TRUE(fits.ok) << fits.error;
    const midi_result refused = convert(r.one_too_many);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.error,
              "MIDI demasiado largo: más de 65534 eventos entre notas, tempos y finales de pista");
  }
}

TEST(Midi, ConvertedSongPlaysInTheSequencer) {
  // A note for 0.5 s, then a rest to the track's end at 1 s: the score end
  // is read at sample 140 * 315 = 44100.
  setenv("ZARN_SYNTH", "1", 1);
  midi_track t;
  t.note_on(0, 0, 69, 127).note_off(70, 0, 69).end(70);
  const midi_result r = convert(format0(t));
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(I_RegisterSong(r.mus.data()), 1);
  I_SetMusicVolume(100);
  I_PlaySong(0, 0);
  float peak = 0.0f, left = 0.0f, right = 0.0f;
  for (int i = 0; i < 44100; ++i) {
    chip_next(&left, &right);
    peak = std::max(peak, std::abs(left));
  }
  EXPECT_GT(peak, 0.01f);
  EXPECT_EQ(chip::the_state.flags.playing, 1);
  chip_next(&left, &right);
  EXPECT_EQ(chip::the_state.flags.playing, 0);
  I_UnRegisterSong();
}

// A lump's kind from its first 8 bytes and its size, as from the whole
// lump: the MUS header's sizes are checked against the lump's size, not
// against the head that was read.
TEST(MusicLump, TheHeadAndTheSizeTellTheKind) {
  using tunecast::lump_kind;
  // A MUS header declaring start and length, then zeros up to size (8 or more).
  const auto mus = [](uint16_t start, uint16_t length, size_t size) {
    bytes b = {'M', 'U', 'S', 0x1A};
    fixture::put_u16le(b, length);
    fixture::put_u16le(b, start);
    b.resize(size, 0);
    return b;
  };
  const struct {
    const char *what;
    bytes lump;
    lump_kind kind;
  } cases[] = {
      {"score fills the lump", mus(8, 2, 10), lump_kind::mus},
      {"score one byte past the lump", mus(8, 2, 9), lump_kind::truncated_mus},
      {"largest score the header declares", mus(65535, 65535, 131070), lump_kind::mus},
      {"signature, header cut short", bytes{'M', 'U', 'S', 0x1A, 2, 0}, lump_kind::truncated_mus},
      {"MIDI file", bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0}, lump_kind::midi},
      {"other bytes", bytes{'P', 'W', 'A', 'D', 0, 0, 0, 0}, lump_kind::not_music},
      {"three bytes", bytes{'M', 'U', 'S'}, lump_kind::not_music},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const auto size = static_cast<int32_t>(c.lump.size());
    EXPECT_EQ(tunecast::classify_lump(c.lump.data(), size), c.kind);
    const size_t head = std::min(c.lump.size(), tunecast::lump_head_bytes);
    EXPECT_EQ(tunecast::classify_lump_head(c.lump.data(), head, size), c.kind);
  }
  // A head shorter than the lump allows is no evidence of music.
  EXPECT_EQ(tunecast::classify_lump_head(mus(8, 2, 10).data(), 4, 10), lump_kind::not_music);
}

}  // namespace
