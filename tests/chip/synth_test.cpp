// synth_test.cpp: the handle API of synth.h: instances that do not disturb
// each other, exact seeking, the tool's samples, statuses, lengths and the
// answers to null handles.
#include "tunecast/synth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "demo_song.h"
#include "fixtures.h"
#include "synth_songs.h"
#include "tunecast/version.h"

namespace {

using samples = std::vector<int16_t>;
constexpr size_t rate_hz = 44100;

struct synth_deleter {
  void operator()(tc_synth *s) const { tc_synth_free(s); }
};
using synth_ptr = std::unique_ptr<tc_synth, synth_deleter>;

synth_ptr started(const demo::bytes &song, bool stereo, int looping = 0) {
  synth_ptr s(tc_synth_new());
  EXPECT_NE(s, nullptr);
  EXPECT_EQ(tc_synth_load(s.get(), song.data(), song.size()), TC_OK);
  tc_synth_set_stereo(s.get(), stereo ? 1 : 0);
  tc_synth_play(s.get(), looping);
  return s;
}

samples render(tc_synth *s, size_t frames, size_t channels) {
  samples out(frames * channels);
  EXPECT_EQ(tc_synth_render_s16(s, out.data(), frames), frames);
  return out;
}

samples render_alone(const demo::bytes &song, bool stereo, size_t frames) {
  return render(started(song, stereo).get(), frames, stereo ? 2 : 1);
}

TEST(Synth, TwoInstancesInterleavedInOneThreadEachRenderAsAlone) {
  const demo::bytes mus = demo::song_mus(), other = other_song();
  const size_t frames = 12 * rate_hz;
  const samples mus_alone = render_alone(mus, false, frames);
  const samples other_alone = render_alone(other, true, frames);
  synth_ptr a = started(mus, false), b = started(other, true);
  samples mus_mixed, other_mixed;
  // Uneven pieces, so that neither instance's stretches line up with the other's.
  for (size_t done = 0, piece = 1; done < frames; done += piece, piece = piece * 7 % 5003 + 1) {
    piece = std::min(piece, frames - done);
    const samples x = render(a.get(), piece, 1), y = render(b.get(), piece, 2);
    mus_mixed.insert(mus_mixed.end(), x.begin(), x.end());
    other_mixed.insert(other_mixed.end(), y.begin(), y.end());
  }
  ASSERT_EQ(mus_mixed, mus_alone);
  ASSERT_EQ(other_mixed, other_alone);
  EXPECT_NE(mus_alone, samples(frames, 0));  // the song sounds
}

TEST(Synth, SeekAtAnyFrameGivesTheTailOfTheWholeRender) {
  const demo::bytes mus = demo::song_mus();
  const size_t frames = 12 * rate_hz;
  for (const bool stereo : {false, true}) {
    const size_t channels = stereo ? 2 : 1;
    const samples whole = render_alone(mus, stereo, frames);
    synth_ptr s = started(mus, stereo);
    std::mt19937_64 pick(stereo ? 7 : 11);
    for (int i = 0; i < 6; ++i) {
      const uint64_t at = i == 0 ? 0 : pick() % frames;
      SCOPED_TRACE(testing::Message() << "stereo " << stereo << " frame " << at);
      ASSERT_EQ(tc_synth_seek(s.get(), at), 1);
      EXPECT_EQ(tc_synth_tell(s.get()), at);
      const size_t rest = std::min<size_t>(frames - at, 3 * rate_hz);
      const samples tail = render(s.get(), rest, channels);
      ASSERT_TRUE(std::equal(tail.begin(), tail.end(), whole.begin() + at * channels));
      EXPECT_EQ(tc_synth_tell(s.get()), at + rest);
    }
  }
}

TEST(Synth, NoTimePassesWhilePausedOrStopped) {
  const demo::bytes mus = demo::song_mus();
  const samples whole = render_alone(mus, false, 4 * rate_hz);
  synth_ptr s = started(mus, false);
  samples got = render(s.get(), rate_hz, 1);
  tc_synth_pause(s.get());
  EXPECT_EQ(render(s.get(), 1000, 1), samples(1000, 0));
  // A seek keeps the pause.
  ASSERT_EQ(tc_synth_seek(s.get(), rate_hz), 1);
  EXPECT_EQ(render(s.get(), 1000, 1), samples(1000, 0));
  EXPECT_EQ(tc_synth_tell(s.get()), rate_hz);
  tc_synth_resume(s.get());
  const samples rest = render(s.get(), 3 * rate_hz, 1);
  got.insert(got.end(), rest.begin(), rest.end());
  EXPECT_EQ(got, whole);
  tc_synth_stop(s.get());
  EXPECT_EQ(render(s.get(), 1000, 1), samples(1000, 0));
}

#ifndef _WIN32  // the Windows suite starts no tool process
// The tool's WAV against render_s16 of the same lump at the tool's default
// volume: the tool is run because its file is what is compared.
TEST(Synth, RenderS16IsTheToolsWavSamples) {
  const std::string dir = fixture::make_temp_dir("synth");
  fixture::wad_builder()
      .lump("D_DEMO", demo::song_mus())
      .lump("D_DEMOMI", demo::song_midi())
      .write(dir + "/songs.wad");
  const struct {
    const char *lump;
    demo::bytes song;
    bool stereo;
  } cases[] = {{"D_DEMO", demo::song_mus(), false}, {"D_DEMOMI", demo::song_midi(), true}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.lump);
    std::vector<std::string> args{dir + "/songs.wad", c.lump, dir + "/out.wav", "20"};
    if (c.stereo) args.insert(args.begin(), "-e");
    ASSERT_EQ(fixture::run_tool(args).status, 0);
    const samples from_tool = fixture::pcm16_samples(fixture::read_file(dir + "/out.wav"), 44);
    EXPECT_EQ(from_tool, render_alone(c.song, c.stereo, 20 * rate_hz));
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}
#endif

TEST(Synth, RenderF32ScaledAndTruncatedIsRenderS16) {
  const demo::bytes mus = demo::song_mus();
  const size_t frames = 5 * rate_hz;
  synth_ptr s = started(mus, true);
  std::vector<float> values(2 * frames);
  ASSERT_EQ(tc_synth_render_f32(s.get(), values.data(), frames), frames);
  const samples expected = render_alone(mus, true, frames);
  for (size_t i = 0; i < values.size(); ++i) {
    ASSERT_EQ(static_cast<int16_t>(values[i] * 32000.0f), expected[i]) << i;
  }
}

TEST(Synth, LoadAnswersEveryStatus) {
  const demo::bytes mus = demo::song_mus();
  demo::bytes truncated(mus.begin(), mus.begin() + 20);
  demo::bytes bad_midi = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 7, 0, 1, 0, 96};  // format 7
  const struct {
    const char *what;
    demo::bytes data;
    tc_status status;
  } cases[] = {
      {"MUS", mus, TC_OK},
      {"MIDI", demo::song_midi(), TC_OK},
      {"three bytes", {'M', 'U', 'S'}, TC_NOT_MUSIC},
      {"text", {'h', 'e', 'l', 'l', 'o'}, TC_NOT_MUSIC},
      {"truncated MUS", truncated, TC_MUS_TRUNCATED},
      {"bad MIDI", bad_midi, TC_MIDI_INVALID},
  };
  synth_ptr s(tc_synth_new());
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(tc_synth_load(s.get(), c.data.data(), c.data.size()), c.status);
  }
  EXPECT_EQ(tc_synth_load(s.get(), nullptr, 0), TC_NOT_MUSIC);
  EXPECT_EQ(tc_synth_load(s.get(), mus.data(), size_t{1} << 31), TC_TOO_LARGE);
  EXPECT_EQ(tc_synth_load(nullptr, mus.data(), mus.size()), TC_NULL_HANDLE);
  // Refused loads left the last good song in place.
  tc_synth_play(s.get(), 0);
  EXPECT_NE(render(s.get(), 10 * rate_hz, 1), samples(10 * rate_hz, 0));
}

TEST(Synth, EveryStatusHasItsOwnText) {
  std::vector<std::string> texts;
  for (tc_status st : {TC_OK, TC_NOT_MUSIC, TC_MUS_TRUNCATED, TC_MIDI_INVALID, TC_OUT_OF_MEMORY,
                       TC_NULL_HANDLE, TC_TOO_LARGE}) {
    const std::string text = tc_status_text(st);
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(std::count(texts.begin(), texts.end(), text), 0) << text;
    texts.push_back(text);
  }
  EXPECT_STREQ(tc_status_text(static_cast<tc_status>(7)), "unknown status");
}

TEST(Synth, VersionIsTheProjectsMajorMinorPatch) {
  const std::string expected = std::to_string(TUNECAST_VERSION_MAJOR) + "." +
                               std::to_string(TUNECAST_VERSION_MINOR) + "." +
                               std::to_string(TUNECAST_VERSION_PATCH);
  EXPECT_EQ(tc_version(), expected);
}

TEST(Synth, LengthOfMusAndMidiAndOfASongWithoutEnd) {
  synth_ptr s(tc_synth_new());
  EXPECT_LT(tc_synth_length(s.get()), 0.0);  // nothing loaded
  // The demo's score end falls at bars x ticks per bar, 140 ticks a second;
  // the MIDI file carries one MIDI tick per MUS tick at the same tempo.
  const double seconds = demo::score_end_tick / 140.0;
  for (const demo::bytes &song : {demo::song_mus(), demo::song_midi()}) {
    ASSERT_EQ(tc_synth_load(s.get(), song.data(), song.size()), TC_OK);
    EXPECT_NEAR(tc_synth_length(s.get()), seconds, 1.0 / rate_hz);
  }
  // "MUS" 0x1A, score length 2 at 8: a note-off, and no score end.
  const demo::bytes endless = {'M', 'U', 'S', 0x1A, 2, 0, 8, 0, 0x00, 0x3C};
  ASSERT_EQ(tc_synth_load(s.get(), endless.data(), endless.size()), TC_OK);
  EXPECT_LT(tc_synth_length(s.get()), 0.0);
}

TEST(Synth, NullHandlesAreAnswered) {
  int16_t s16[2] = {1, 1};
  float f32[2] = {1.0f, 1.0f};
  tc_synth_free(nullptr);
  tc_synth_play(nullptr, 1);
  tc_synth_stop(nullptr);
  tc_synth_pause(nullptr);
  tc_synth_resume(nullptr);
  tc_synth_set_volume(nullptr, 100);
  tc_synth_set_stereo(nullptr, 1);
  EXPECT_EQ(tc_synth_render_s16(nullptr, s16, 1), 0u);
  EXPECT_EQ(tc_synth_render_f32(nullptr, f32, 1), 0u);
  EXPECT_EQ(tc_synth_seek(nullptr, 5), 0);
  EXPECT_EQ(tc_synth_tell(nullptr), 0u);
  EXPECT_LT(tc_synth_length(nullptr), 0.0);
  EXPECT_EQ(tc_synth_playing_recording(nullptr), 0);
  EXPECT_EQ(tc_synth_set_music_dir(nullptr, "x"), TC_NULL_HANDLE);
  EXPECT_EQ(tc_synth_set_music_name(nullptr, "x"), TC_NULL_HANDLE);
  // No song: silence, every frame written, and nothing to seek in.
  synth_ptr s(tc_synth_new());
  tc_synth_play(s.get(), 0);
  EXPECT_EQ(tc_synth_render_s16(s.get(), s16, 1), 1u);
  EXPECT_EQ(s16[0], 0);
  EXPECT_EQ(tc_synth_seek(s.get(), 5), 0);
}

// A recording plays only where a directory and a name were given; the
// environment the chip.h interface reads is never looked at.
TEST(Synth, RecordingsOnlyWhereAsked) {
  const std::string dir = fixture::make_temp_dir("synth");
  fixture::write_file(dir + "/D_DEMO.wav", fixture::wav_pcm16(1, 44100, {16000, -16000, 8000}));
  const demo::bytes mus = demo::song_mus();
  setenv("ZARN_MUSIC_DIR", dir.c_str(), 1);
  synth_ptr s = started(mus, false);
  ASSERT_EQ(tc_synth_set_music_name(s.get(), "demo"), TC_OK);
  tc_synth_play(s.get(), 0);
  EXPECT_EQ(render(s.get(), 3, 1), render_alone(mus, false, 3));  // the song, no recording
  ASSERT_EQ(tc_synth_set_music_dir(s.get(), dir.c_str()), TC_OK);
  tc_synth_play(s.get(), 0);
  // 16000 / 32768 x 0.9 x 100 / 127 x 32000, in single precision, truncated.
  const float gain = static_cast<float>((100 / 127.0) * 0.9);
  samples expected;
  for (int v : {16000, -16000, 8000}) {
    expected.push_back(
        static_cast<int16_t>((static_cast<float>(v) * (1.0f / 32768) * gain) * 32000.0f));
  }
  expected.push_back(0);  // and then silence
  EXPECT_EQ(render(s.get(), 4, 1), expected);
  unsetenv("ZARN_MUSIC_DIR");
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

// A null name (the start) looks for nothing; "" is a name like any other,
// the file D_.wav, and the instance says when a recording took the song's
// place, until it stops.
TEST(Synth, EveryNameButNullFindsItsRecording) {
  const std::string dir = fixture::make_temp_dir("synth");
  fixture::write_file(dir + "/D_.wav", fixture::wav_pcm16(1, 44100, {16000}));
  fixture::write_file(dir + "/D_DEMO.wav", fixture::wav_pcm16(1, 44100, {-8000}));
  const demo::bytes mus = demo::song_mus();
  const samples song = render_alone(mus, false, 1);
  // v / 32768 x 0.9 x 100 / 127 x 32000, in single precision, truncated.
  const auto recorded = [](int v) {
    const float gain = static_cast<float>((100 / 127.0) * 0.9);
    return static_cast<int16_t>((static_cast<float>(v) * (1.0f / 32768) * gain) * 32000.0f);
  };
  const struct {
    const char *name;
    int playing_recording;
    samples first;
  } cases[] = {{nullptr, 0, song}, {"", 1, {recorded(16000)}}, {"demo", 1, {recorded(-8000)}}};
  synth_ptr s = started(mus, false);
  ASSERT_EQ(tc_synth_set_music_dir(s.get(), dir.c_str()), TC_OK);
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name != nullptr ? c.name : "(null)");
    ASSERT_EQ(tc_synth_set_music_name(s.get(), c.name), TC_OK);
    tc_synth_play(s.get(), 0);
    EXPECT_EQ(tc_synth_playing_recording(s.get()), c.playing_recording);
    EXPECT_EQ(render(s.get(), 1, 1), c.first);
    tc_synth_stop(s.get());
    EXPECT_EQ(tc_synth_playing_recording(s.get()), 0);
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

}  // namespace
