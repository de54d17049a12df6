// The tool end to end on its other sources: a WAD inside a ZIP archive, and
// a pre-rendered recording that plays in place of the song.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "fixtures.h"

namespace {

using fixture::bytes;
namespace fs = std::filesystem;

int16_t sample_at(const bytes &wav, size_t i) {
  return static_cast<int16_t>(wav[44 + 2 * i] | wav[45 + 2 * i] << 8);
}

class ToolSources : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = fixture::make_temp_dir("sources"); }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }
  std::string dir_;
};

TEST_F(ToolSources, ZipHoldingTheWadRendersTheSameFile) {
  const bytes wad = fixture::wad_builder()
                        .lump("D_SONG", fixture::mus_builder()
                                            .instrument(0, 41)
                                            .note_on(0, 64, 110)
                                            .note_on(15, 38, 90)
                                            .delay(70)
                                            .note_off(0, 64)
                                            .delay(20)
                                            .score_end()
                                            .build())
                        .build();
  fixture::write_file(path("song.wad"), wad);
  // The extraction lands in /tmp under the member's base name: make it ours.
  const std::string member = "tooltest-" + std::to_string(getpid()) + ".wad";
  fixture::write_file(path("song.zip"), fixture::zip_builder()
                                            .stored("readme.txt", {'h', 'i'})
                                            .stored("pack/" + member, wad)
                                            .build());
  const std::string tool = fixture::tool_path();
  const auto from_wad = fixture::run({tool, path("song.wad"), "D_SONG", path("a.wav"), "1"},
                                     {"ZARN_SYNTH=1"});
  const auto from_zip = fixture::run({tool, path("song.zip"), "D_SONG", path("b.wav"), "1"},
                                     {"ZARN_SYNTH=1"});
  std::remove(("/tmp/zarn_engine_" + member).c_str());
  ASSERT_EQ(from_wad.status, 0) << from_wad.err;
  ASSERT_EQ(from_zip.status, 0) << from_zip.err;
  const std::string extracted = "[WAD] ZIP " + path("song.zip") + " -> extraído pack/" + member +
                                " (0 KB) a /tmp/zarn_engine_" + member + "\n";
  EXPECT_EQ(from_zip.out.substr(0, extracted.size()), extracted);
  const bytes a = fixture::read_file(path("a.wav"));
  EXPECT_EQ(a.size(), 44u + 2 * 44100);
  EXPECT_EQ(a, fixture::read_file(path("b.wav")));
  // The song is not silence, so equal files say something.
  bool sounds = false;
  for (size_t i = 0; i < 44100; ++i) sounds = sounds || sample_at(a, i) != 0;
  EXPECT_TRUE(sounds);
}

TEST_F(ToolSources, RecordingPlaysItsFirstChannelAtThePlaybackGain) {
  // The tool never names the music, so the recording it finds is D_.wav.
  fs::create_directory(path("music"));
  const std::vector<int16_t> frames = {0, 5, 32767, -1, -32768, 7, 16384, 0, -12345, 99, 1, 2};
  fixture::write_file(path("music/D_.wav"), fixture::wav_pcm16(2, 44100, frames));
  const bytes song = fixture::mus_builder().note_on(0, 60, 127).delay(1000).build();
  fixture::write_file(path("song.wad"), fixture::wad_builder().lump("D_SONG", song).build());

  // 10 frames: the 6 of the recording, then silence once it has ended.
  const auto r = fixture::run(
      {fixture::tool_path(), path("song.wad"), "D_SONG", path("out.wav"), "0.0002268"},
      {"-ZARN_SYNTH", "ZARN_MUSIC_DIR=" + path("music")});
  ASSERT_EQ(r.status, 0) << r.err;
  const bytes wav = fixture::read_file(path("out.wav"));
  ASSERT_EQ(wav.size(), 44u + 2 * 10);
  // Volume 100 gives the playback gain (100 / 127.0) * 0.9; playback scales
  // in single precision and the tool multiplies by 32000 and truncates.
  const float gain = static_cast<float>((100 / 127.0) * 0.9);
  for (size_t i = 0; i < 10; ++i) {
    SCOPED_TRACE(i);
    const float left = i < 6 ? (static_cast<float>(frames[2 * i]) * (1.0f / 32768)) * gain : 0.0f;
    EXPECT_EQ(sample_at(wav, i), static_cast<int16_t>(left * 32000.0f));
  }
  EXPECT_EQ(sample_at(wav, 1), 22676);  // 32767 / 32768 x 0.70866 x 32000 = 22676.5, truncated
  EXPECT_EQ(sample_at(wav, 2), -22677);
}

}  // namespace
