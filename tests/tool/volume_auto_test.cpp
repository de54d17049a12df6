// volume_auto_test.cpp: --volumen auto end to end: the level it reports
// renders with no clipped sample, one level more clips, and the file is the
// one --volumen at that level writes; per song in a batch; refused where no
// level applies.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "fixtures.h"

namespace {

using fixture::bytes;

const std::string usage = "uso: tunecast ZARN.WAD D_E1M1 salida.wav [segundos]\n";

// Eight kicks and a chord of loud pulses at once overdrive the mix at the
// default volume; the chord pans left so that stereo sides differ.
bytes loud_song() {
  fixture::mus_builder loud;
  loud.pan(0, 20);
  for (int i = 0; i < 8; ++i) loud.note_on(15, 36, 127);
  for (int note = 48; note < 72; note += 4) loud.note_on(0, note, 127);
  return loud.delay(20).score_end().build();
}
bytes tone_song() {
  return fixture::mus_builder()
      .instrument(0, 80)
      .note_on(0, 60, 127)
      .delay(20)
      .note_off(0, 60)
      .delay(10)
      .score_end()
      .build();
}

// The level at the end of "pico 0.99, 0.2 s, volumen 87"; -1 if the line is not that.
int closing_volume(const std::string &out) {
  static const std::regex closing(R"(pico \d\.\d\d, \d+\.\d s, volumen (\d+)\n$)");
  std::smatch m;
  return std::regex_search(out, m, closing) ? std::stoi(m[1]) : -1;
}

class VolumeAuto : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fixture::make_temp_dir("volume_auto");
    fixture::wad_builder()
        .lump("D_LOUD", loud_song())
        .lump("D_TONE", tone_song())
        .lump("D_REST", fixture::mus_builder().instrument(0, 80).delay(30).score_end().build())
        .write(path("songs.wad"));
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }
  // D_LOUD at volume into out, then the rest of the form.
  fixture::run_result loud_at(const std::string &volume, const std::string &out,
                              const std::vector<std::string> &form) {
    std::vector<std::string> args = {"--volumen", volume, path("songs.wad"), "D_LOUD", path(out)};
    args.insert(args.end(), form.begin(), form.end());
    return fixture::run_tool(args);
  }
  std::string dir_;
};

TEST_F(VolumeAuto, TheLevelFoundHasNoClippedSampleAndOneMoreHas) {
  std::vector<std::pair<std::vector<std::string>, std::string>> forms = {
      {{"0.2"}, ".wav"}, {{"-v", "2", "-f", "0.1"}, ".wav"}, {{"-e", "0.2"}, ".wav"}};
#ifdef TUNECAST_HAVE_SNDFILE
  forms.push_back({{"-e", "0.2"}, ".flac"});
#endif
  for (const auto &[form, extension] : forms) {
    SCOPED_TRACE(testing::Message() << form.front() << " " << extension);
    const auto found = loud_at("auto", "auto" + extension, form);
    ASSERT_EQ(found.status, 0) << found.err;
    EXPECT_EQ(found.err, "");  // no clipping report
    const int level = closing_volume(found.out);
    ASSERT_GT(level, 0) << found.out;
    ASSERT_LT(level, 100);  // the default clips: a level to find
    const auto same = loud_at(std::to_string(level), "same" + extension, form);
    EXPECT_EQ(same.err, "");
    EXPECT_EQ(closing_volume(same.out), -1);  // the level is said only when found
    EXPECT_EQ(fixture::read_file(path("auto" + extension)),
              fixture::read_file(path("same" + extension)));
    const auto louder = loud_at(std::to_string(level + 1), "louder" + extension, form);
    EXPECT_NE(louder.err.find("recortada"), std::string::npos) << louder.err;
    EXPECT_TRUE(louder.err.ends_with(": prueba --volumen auto\n")) << louder.err;
  }
}

TEST_F(VolumeAuto, EachSongOfABatchGetsItsOwnLevelOnItsOwnLine) {
  const auto r =
      fixture::run_tool({"-a", path("all"), "--volumen", "auto", path("songs.wad"), "0.2"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream lines(r.out);
  std::vector<std::string> levels;
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("D_")) levels.push_back(line);
  }
  std::sort(levels.begin(), levels.end());
  ASSERT_EQ(levels.size(), 3u) << r.out;
  const std::string loud_line = "D_LOUD: volumen ";
  ASSERT_TRUE(levels[0].starts_with(loud_line)) << levels[0];
  const std::string loud = levels[0].substr(loud_line.size());
  EXPECT_EQ(levels[1], "D_REST: volumen 127");  // silence
  EXPECT_TRUE(levels[2].starts_with("D_TONE: volumen ")) << levels[2];
  EXPECT_NE(levels[2], "D_TONE: volumen " + loud);
  ASSERT_EQ(loud_at(loud, "loud.wav", {"0.2"}).status, 0);
  EXPECT_EQ(fixture::read_file(path("all/D_LOUD.wav")), fixture::read_file(path("loud.wav")));
}

TEST_F(VolumeAuto, QuietSaysNothingAndNoLevelIsFoundWhereNoneApplies) {
  const auto quiet = fixture::run_tool(
      {"-q", "--volume", "auto", path("songs.wad"), "D_LOUD", path("q.wav"), "0.2"});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.out + quiet.err, "");
  struct refusal {
    std::vector<std::string> args;
    std::string err;
  };
  const refusal refusals[] = {
      {{"-p", path("songs.wad"), "--volumen", "auto"},
       "--tocar no va con --volumen auto (ver tunecast --ayuda)\n" + usage},
      {{"--volumen", "auto", path("songs.wad"), "D_LOUD", path("out.mid")},
       "un MIDI no lleva volumen: --volumen auto no va con la salida MIDI\n"},
      {{"--volumen", "AUTO", path("songs.wad"), "D_LOUD", path("out.wav")},
       "volumen no válido: AUTO (va de 0 a 127, o auto) (ver tunecast --ayuda)\n" + usage},
  };
  for (const refusal &c : refusals) {
    SCOPED_TRACE(c.args.back());
    const auto r = fixture::run_tool(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
  }
  EXPECT_FALSE(fixture::file_exists(path("out.mid")));
}

}  // namespace
