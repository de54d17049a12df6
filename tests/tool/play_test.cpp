// --tocar end to end, through SDL's disk audio driver: what reached the
// "device" is compared with the WAV render of the same song and options,
// sample for sample. Also the refusals: no device, no such lump, a lump
// that is not music, and a build without SDL2.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "demo_song.h"
#include "fixtures.h"

namespace {

using fixture::bytes;
namespace fs = std::filesystem;

bytes second_song() {
  fixture::mus_builder m;
  m.instrument(2, 19).note_on(2, 55, 127).delay(50).note_on(2, 62, 80).delay(50);
  m.note_on(15, 42, 100).delay(30).note_off(2, 55).note_off(2, 62).delay(20);
  return m.score_end().build();
}

// Notes and no score end: it never finishes by itself.
bytes endless_song() {
  fixture::mus_builder m;
  return m.instrument(0, 0).note_on(0, 60, 100).delay(70).note_off(0, 60).build();
}

class Play : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fixture::make_temp_dir("play");
    fixture::wad_builder()
        .lump("D_DEMO", demo::song_mus())
        .lump("D_SECOND", second_song())
        .lump("TEXTLUMP", bytes{'h', 'o', 'l', 'a'})
        .lump("D_NOEND", endless_song())
        .write(path("songs.wad"));
    fixture::wad_builder()
        .lump("D_DEMO", demo::song_mus())
        .lump("D_SECOND", second_song())
        .write(path("two.wad"));
  }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }

  // The tool with its sound going to the disk driver's file, as fast as it
  // can be written, or with a pause of delay_ms after each buffer.
  fixture::run_result play(std::vector<std::string> args, int delay_ms = 0) {
    std::vector<std::string> argv = {fixture::tool_path()};
    argv.insert(argv.end(), args.begin(), args.end());
    return fixture::run(
        argv, {"ZARN_SYNTH=1", "SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + path("device.raw"),
               "SDL_DISKAUDIODELAY=" + std::to_string(delay_ms)});
  }
  std::vector<int16_t> device() const {
    return fixture::pcm16_samples(fixture::read_file(path("device.raw")), 0);
  }

  // The WAV render: ARCHIVE LUMP among args, then the output and seconds.
  std::vector<int16_t> wav(std::vector<std::string> args, const std::string &seconds = "") {
    args.push_back(path("out.wav"));
    if (!seconds.empty()) args.push_back(seconds);
    args.insert(args.begin(), "-q");
    const fixture::run_result r = fixture::run_tool(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return fixture::pcm16_samples(fixture::read_file(path("out.wav")), 44);
  }

  std::string dir_;
};

#ifdef TUNECAST_HAVE_SDL

// The device got `expected`, then silence only. SDL2 may write a silent
// buffer for the device before the tool sets it going (see
// TheDeviceStartsWithTheSongsFirstFrame), so the song is lined up by its
// first sounding sample.
void expect_song_then_silence(const std::vector<int16_t> &got,
                              const std::vector<int16_t> &expected) {
  const size_t lands = fixture::first_sounding(got, 0);
  const size_t lead = fixture::first_sounding(expected, 0);
  ASSERT_GE(lands, lead);
  ASSERT_GE(got.size() - (lands - lead), expected.size());
  const auto start = got.begin() + static_cast<ptrdiff_t>(lands - lead);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), start));
  EXPECT_TRUE(std::all_of(start + static_cast<ptrdiff_t>(expected.size()), got.end(),
                          [](int16_t v) { return v == 0; }));
}

TEST_F(Play, TheDeviceGetsTheWavRenderOfTheSameSongAndOptions) {
  const std::string wad = path("songs.wad");
  struct form {
    std::vector<std::string> play_options;
    std::vector<std::string> wav_options;  // the render that must match
    std::string seconds;                   // its duration, if any
  };
  const form forms[] = {
      {{"D_DEMO"}, {"-v", "1", wad, "D_DEMO"}, ""},  // one pass, to its natural end
      {{"D_SECOND", "-v", "2", "-f", "1"}, {"-v", "2", "-f", "1", wad, "D_SECOND"}, ""},
      {{"D_DEMO", "--volumen", "64"}, {"-v", "1", "--volumen", "64", wad, "D_DEMO"}, ""},
      {{"D_DEMO", "2.5"}, {wad, "D_DEMO"}, "2.5"},  // a duration: that many seconds
      {{"D_SECOND", "-e", "-v", "1"}, {"-e", "-v", "1", wad, "D_SECOND"}, ""},
  };
  for (const form &f : forms) {
    std::vector<std::string> args = {"--tocar", wad};
    args.insert(args.end(), f.play_options.begin(), f.play_options.end());
    const fixture::run_result r = play(args);
    ASSERT_EQ(r.status, 0) << r.err;
    expect_song_then_silence(device(), wav(f.wav_options, f.seconds));
    // Not on a terminal: a line per song, no status line, no keys.
    EXPECT_EQ(r.out.find('\r'), std::string::npos);
    EXPECT_EQ(r.out.find("teclas"), std::string::npos);
  }
}

// Every music lump in directory order, each as its own WAV, the second's
// first frame right after the first's last.
TEST_F(Play, TwoSongsInARowEachAsItsWavWithNoGap) {
  const fixture::run_result r = play({"-p", path("two.wad"), "--volumen", "90"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("[1/2] D_DEMO, 42.9 s"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("[2/2] D_SECOND"), std::string::npos) << r.out;
  std::vector<int16_t> both = wav({"-v", "1", "--volumen", "90", path("two.wad"), "D_DEMO"});
  const std::vector<int16_t> second =
      wav({"-v", "1", "--volumen", "90", path("two.wad"), "D_SECOND"});
  both.insert(both.end(), second.begin(), second.end());
  expect_song_then_silence(device(), both);
}

// The first song is started before the device opens, and the device set
// going as it opens: its first frames are the song's, even when starting
// the song takes a while (here reading a recording of three minutes).
// SDL2's own thread may still write a silent buffer for the paused device
// in the instant before, on a loaded machine, which no caller can prevent:
// a run that began so is tried again, twice.
TEST_F(Play, TheDeviceStartsWithTheSongsFirstFrame) {
  std::vector<int16_t> recording(180 * 44100);
  for (size_t k = 0; k < recording.size(); ++k) recording[k] = static_cast<int16_t>(k % 2000 + 100);
  fs::create_directory(path("music"));
  fixture::write_file(path("music/D_.wav"), fixture::wav_pcm16(1, 44100, recording));
  const std::string music = "ZARN_MUSIC_DIR=" + path("music");
  const fixture::run_result render =
      fixture::run({fixture::tool_path(), "-q", path("songs.wad"), "D_DEMO", path("out.wav"), "2"},
                   {"-ZARN_SYNTH", music});
  ASSERT_EQ(render.status, 0) << render.err;
  const std::vector<int16_t> expected =
      fixture::pcm16_samples(fixture::read_file(path("out.wav")), 44);
  ASSERT_NE(expected[0], 0);
  bool starts = false;
  for (int attempt = 0; attempt < 3 && !starts; ++attempt) {
    const fixture::run_result r =
        fixture::run({fixture::tool_path(), "-q", "-p", path("songs.wad"), "D_DEMO", "2"},
                     {"-ZARN_SYNTH", music, "SDL_AUDIODRIVER=disk",
                      "SDL_DISKAUDIOFILE=" + path("device.raw"), "SDL_DISKAUDIODELAY=0"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<int16_t> got = device();
    ASSERT_GE(got.size(), expected.size());
    starts = std::equal(expected.begin(), expected.end(), got.begin());
  }
  EXPECT_TRUE(starts) << "the device began with silence";
}

TEST_F(Play, ASongWithoutAnEndPlaysAMinuteWhenNobodyCanSkipIt) {
  const fixture::run_result r = play({"-p", path("songs.wad"), "D_NOEND"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("aviso: el lump D_NOEND no llega a su fin: suena 60 s"), std::string::npos)
      << r.err;
  expect_song_then_silence(device(), wav({path("songs.wad"), "D_NOEND"}));
}

// Lumps that cannot play are named and skipped; the others play.
TEST_F(Play, TheWholeArchiveSkipsWhatCannotPlay) {
  const fixture::run_result r = play({"-p", path("songs.wad"), "-v", "1"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("lump D_NOEND: la partitura no llega a su fin"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("[2/2] D_SECOND"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("TEXTLUMP"), std::string::npos) << r.out;
}

// A delay so long that the song's length saturates: one pass does not fit,
// and the player refuses it as the render of one pass does.
TEST_F(Play, ASongTooLongForOnePassIsRefusedAsTheRenderRefusesIt) {
  fixture::mus_builder m;
  m.note_on(0, 60, 100).delay(UINT64_C(1) << 62).note_off(0, 60).score_end();
  fixture::wad_builder().lump("D_HUGE", m.build()).write(path("huge.wad"));
  const fixture::run_result render =
      fixture::run_tool({"-v", "1", path("huge.wad"), "D_HUGE", path("huge.wav")});
  ASSERT_EQ(render.status, 1);
  ASSERT_EQ(render.err.rfind("duración demasiado larga: 1 vuelta de ", 0), 0u) << render.err;
  const fixture::run_result r = play({"-p", path("huge.wad"), "D_HUGE"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, render.err);
  EXPECT_EQ(r.out.find("D_HUGE"), std::string::npos) << r.out;
}

// 300 entries naming one 1 MB lump (a tick of score, then padding) play
// in a row from one copy of the score: a copy per entry would hold 300 MB
// more than one entry does. (A child's peak may count the suite's own
// memory before it starts, hence a baseline run rather than a figure.)
TEST_F(Play, EntriesNamingTheSameBytesShareOneScore) {
  bytes lump = fixture::mus_builder().note_on(0, 60, 100).delay(1).score_end().build();
  lump.resize(size_t{1} << 20);
  fixture::wad_builder b;
  b.lump("D_FIRST", lump);
  fixture::wad_builder(b).write(path("one.wad"));
  constexpr int copies = 300;
  for (int k = 0; k < copies; ++k) b.raw_entry("D_SAME", 12, static_cast<int32_t>(lump.size()));
  b.write(path("same.wad"));
  const fixture::run_result one = play({"-p", path("one.wad")});
  ASSERT_EQ(one.status, 0) << one.err;
  const fixture::run_result r = play({"-p", path("same.wad")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("[301/301] D_SAME"), std::string::npos);
  EXPECT_LT(r.max_rss_kib, one.max_rss_kib + 48 * 1024);
}

TEST_F(Play, RefusalsAreOneLineAndStatusOne) {
  const std::string wad = path("songs.wad");
  struct refusal {
    std::vector<std::string> args;
    std::vector<std::string> env;
    std::string line;
  };
  const refusal refusals[] = {
      {{"-p", wad, "D_DEMO"},
       {"SDL_AUDIODRIVER=no_such_driver"},
       "no se puede tocar: no hay dispositivo de sonido (SDL: "},
      {{"-p", wad, "TEXTLUMP"}, {}, "el lump TEXTLUMP no es música que se pueda tocar"},
      {{"-p", wad, "D_SECONDS"}, {}, "no hay D_SECONDS\n¿D_SECOND?"},
  };
  for (const refusal &f : refusals) {
    std::vector<std::string> argv = {fixture::tool_path()};
    argv.insert(argv.end(), f.args.begin(), f.args.end());
    std::vector<std::string> env = {"ZARN_SYNTH=1"};
    env.insert(env.end(), f.env.begin(), f.env.end());
    const fixture::run_result r = fixture::run(argv, env);
    EXPECT_EQ(r.status, 1) << f.line;
    EXPECT_EQ(r.err.rfind(f.line, 0), 0u) << r.err;
  }
  // No device: the sound libraries' own complaints are kept off the console.
  const fixture::run_result r = fixture::run({fixture::tool_path(), "-p", wad, "D_DEMO"},
                                             {"ZARN_SYNTH=1", "SDL_AUDIODRIVER=no_such_driver"});
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

#else  // a build without SDL2

TEST_F(Play, ABuildWithoutSdlSaysHowToGetIt) {
  const fixture::run_result r = fixture::run_tool({"-p", path("songs.wad"), "D_DEMO"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "no se puede tocar: esta compilación de tunecast no tiene SDL2 (instala libsdl2-dev "
            "y vuelve a compilar)\n");
  EXPECT_NE(fixture::run_tool({"--version"}).out.find("tocar: no\n"), std::string::npos);
}

#endif

}  // namespace
