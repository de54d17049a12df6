// volume_auto_test.cpp: --volumen auto end to end: the level it reports
// renders with no clipped sample, one level more clips, and the file is the
// one --volumen at that level writes; per song in a batch; refused where no
// level applies.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fixtures.h"

namespace {

// Eight kicks and a chord of loud pulses, panned left, overdrive the mix at
// the default volume.
fixture::bytes loud_song() {
  fixture::mus_builder loud;
  loud.pan(0, 20);
  for (int i = 0; i < 8; ++i) loud.note_on(15, 36, 127);
  for (int note = 48; note < 72; note += 4) loud.note_on(0, note, 127);
  return loud.delay(20).score_end().build();
}

// The digits after marker, up to the end of its line; "" when there are none.
std::string level_after(const std::string &text, const std::string &marker) {
  const size_t at = text.find(marker);
  if (at == std::string::npos) return "";
  const size_t from = at + marker.size();
  const std::string digits = text.substr(from, text.find('\n', from) - from);
  return digits.find_first_not_of("0123456789") == std::string::npos ? digits : "";
}

class VolumeAuto : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fixture::make_temp_dir("volume_auto");
    fixture::wad_builder()
        .lump("D_LOUD", loud_song())
        .lump("D_REST", fixture::mus_builder().instrument(0, 80).delay(30).score_end().build())
        .write(path("songs.wad"));
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }
  // D_LOUD at volume into out, then the rest of the form.
  fixture::run_result loud_at(const std::string &volume, const std::string &out,
                              std::vector<std::string> form) {
    form.insert(form.begin(), {"--volumen", volume, path("songs.wad"), "D_LOUD", path(out)});
    return fixture::run_tool(form);
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
    SCOPED_TRACE(form.front() + extension);
    const auto found = loud_at("auto", "auto" + extension, form);
    EXPECT_EQ(found.err, "");  // no clipping report
    // The closing line: "pico 0.99, 0.2 s, volumen 87".
    const std::string level = level_after(found.out, " s, volumen ");
    ASSERT_NE(level, "") << found.out;
    ASSERT_LT(std::stoi(level), 100);  // the default clips: a level to find
    const auto same = loud_at(level, "same" + extension, form);
    EXPECT_EQ(same.err, "");
    EXPECT_EQ(fixture::read_file(path("auto" + extension)),
              fixture::read_file(path("same" + extension)));
    const auto louder = loud_at(std::to_string(std::stoi(level) + 1), "up" + extension, form);
    EXPECT_NE(louder.err.find("recortada"), std::string::npos) << louder.err;
    EXPECT_TRUE(louder.err.ends_with(": prueba --volumen auto\n")) << louder.err;
  }
}

TEST_F(VolumeAuto, EachSongOfABatchSaysItsLevelAndQuietNothing) {
  const auto r =
      fixture::run_tool({"-a", path("all"), "--volume", "auto", path("songs.wad"), "0.2"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\nD_REST: volumen 127\n"), std::string::npos) << r.out;  // silence
  const std::string level = level_after(r.out, "\nD_LOUD: volumen ");
  ASSERT_NE(level, "") << r.out;
  ASSERT_EQ(loud_at(level, "loud.wav", {"0.2"}).status, 0);
  EXPECT_EQ(fixture::read_file(path("all/D_LOUD.wav")), fixture::read_file(path("loud.wav")));
  const auto quiet = loud_at("auto", "quiet.wav", {"-q", "0.2"});
  EXPECT_EQ(quiet.out + quiet.err, "");
}

TEST_F(VolumeAuto, RefusedWhereNoLevelApplies) {
  const std::pair<std::vector<std::string>, std::string> refusals[] = {
      {{"-p", path("songs.wad"), "--volumen", "auto"},
       "--tocar no va con --volumen auto (ver tunecast --ayuda)\n"},
      {{"--volumen", "auto", path("songs.wad"), "D_LOUD", path("out.mid")},
       "un MIDI no lleva volumen: --volumen auto no va con la salida MIDI\n"},
  };
  for (const auto &[args, line] : refusals) {
    const auto r = fixture::run_tool(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.starts_with(line)) << r.err;
  }
  EXPECT_FALSE(fixture::file_exists(path("out.mid")));
}

}  // namespace
