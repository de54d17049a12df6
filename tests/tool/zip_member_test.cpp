// The tool end to end on ARCHIVE.zip:MEMBER: the member named is the one
// rendered, listed, rendered whole and played; a member that is not there
// fails with one line.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "fixtures.h"
#include "tool_process.h"

namespace {

using fixture::bytes;
namespace fs = std::filesystem;

bytes song(int note) {
  return fixture::mus_builder()
      .instrument(0, 41)
      .note_on(0, note, 110)
      .delay(70)
      .note_off(0, note)
      .delay(20)
      .score_end()
      .build();
}

class ZipMember : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fixture::make_temp_dir("zipmember");
    fixture::write_file(
        path("two.zip"),
        fixture::zip_builder()
            .stored("first.wad", fixture::wad_builder().lump("D_ONE", song(60)).build())
            .deflated("pack/second.wad", fixture::wad_builder().lump("D_TWO", song(67)).build())
            .build());
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }
  std::string dir_;
};

TEST_F(ZipMember, TheNamedMemberIsRenderedAndRenderedWhole) {
  const std::string second = path("two.zip") + ":pack/second.wad";
  const auto one = fixture::run_tool({"-q", second, "D_TWO", path("two.wav"), "1"});
  EXPECT_EQ(one.status, 0) << one.err;
  EXPECT_TRUE(fixture::file_exists(path("two.wav")));
  // Without a member, the usual choice, which has no D_TWO.
  const auto usual = fixture::run_tool({"-q", path("two.zip"), "D_TWO", path("usual.wav"), "1"});
  EXPECT_EQ(usual.status, 1);
  EXPECT_FALSE(fixture::file_exists(path("usual.wav")));
  const auto all = fixture::run_tool({"-q", "--todas", path("out"), second, "1"});
  EXPECT_EQ(all.status, 0) << all.err;
  EXPECT_TRUE(fixture::file_exists(path("out/D_TWO.wav")));
  EXPECT_FALSE(fixture::file_exists(path("out/D_ONE.wav")));
}

TEST_F(ZipMember, AbsentMemberFailsWithOneLine) {
  const auto r = fixture::run_tool(
      {"-q", path("two.zip") + ":pack/\x1b[2Jthird.wad", "D_TWO", path("x.wav"), "1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "[WAD] no se pudo extraer WAD de ZIP " + path("two.zip") +
                       ": no tiene el miembro pack/\\x1b[2Jthird.wad; sus archivos .wad: "
                       "first.wad, pack/second.wad\n");
  EXPECT_FALSE(fixture::file_exists(path("x.wav")));
  // Only a ZIP has members.
  fixture::write_file(path("plain.wad"), fixture::wad_builder().lump("D_ONE", song(60)).build());
  const auto plain =
      fixture::run_tool({"-q", path("plain.wad") + ":first.wad", "D_ONE", path("y.wav"), "1"});
  EXPECT_EQ(plain.status, 1);
  EXPECT_EQ(plain.err,
            "[WAD] " + path("plain.wad") + " no es un archivo ZIP: no tiene miembros que elegir\n");
}

TEST_F(ZipMember, ListingNamesTheOtherMembers) {
  const std::string pick = "(ARCHIVO.zip:MIEMBRO elige uno: tunecast -l ";
  const auto usual = fixture::run_tool({"-l", path("two.zip")});
  ASSERT_EQ(usual.status, 0) << usual.err;
  EXPECT_EQ(usual.out.substr(0, usual.out.find('\n') + 1),
            path("two.zip") + " tiene varios WAD: se lista first.wad; los otros: pack/second.wad " +
                pick + path("two.zip") + ":pack/second.wad)\n");
  EXPECT_NE(usual.out.find("D_ONE"), std::string::npos);

  const auto json = fixture::run_tool({"-l", path("two.zip") + ":pack/second.wad", "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.out.rfind("{\"name\":\"D_TWO\"", 0), 0u) << json.out;
  std::istringstream lines(json.out);
  for (std::string line; std::getline(lines, line);) EXPECT_EQ(line.front(), '{') << line;
  EXPECT_NE(json.err.find(" tiene varios WAD: se lista pack/second.wad; los otros: first.wad " +
                          pick + path("two.zip") + ":first.wad)\n"),
            std::string::npos)
      << json.err;
}

#ifdef TUNECAST_HAVE_SDL
TEST_F(ZipMember, TheNamedMemberIsPlayed) {
  const auto r = fixture::run(
      {fixture::tool_path(), "-q", "--tocar", path("two.zip") + ":pack/second.wad", "D_TWO"},
      {"ZARN_SYNTH=1", "SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + path("device.raw"),
       "SDL_DISKAUDIODELAY=0"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fixture::file_exists(path("device.raw")));
}
#endif

}  // namespace
