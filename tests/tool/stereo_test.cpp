// --estereo end to end: the two-channel WAV, each side of a song that never
// pans equal to the mono render sample for sample, a panned song placed on
// its sides, and a whole archive written in stereo FLAC at another volume.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "demo_song.h"
#include "fixtures.h"

#ifdef TUNECAST_HAVE_SNDFILE
#include <sndfile.h>
#endif

namespace {

using fixture::bytes;
namespace fs = std::filesystem;

uint32_t u32_at(const bytes &b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

std::vector<int16_t> samples_of(const bytes &wav) { return fixture::pcm16_samples(wav, 44); }

// Every other sample of an interleaved stereo stream, from side 0 or 1.
std::vector<int16_t> side(const std::vector<int16_t> &interleaved, size_t which) {
  std::vector<int16_t> out;
  for (size_t i = which; i < interleaved.size(); i += 2) out.push_back(interleaved[i]);
  return out;
}

// A lead held hard left, a bass hard right, and drums at the centre.
bytes panned_song() {
  fixture::mus_builder m;
  m.instrument(0, 80).instrument(1, 33).pan(0, 0).pan(1, 127);
  m.note_on(0, 72, 110).note_on(1, 40, 110).delay(70).note_on(15, 38, 120).delay(70);
  return m.note_off(0, 72).note_off(1, 40).delay(10).score_end().build();
}

class Stereo : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fixture::make_temp_dir("stereo");
    fixture::wad_builder()
        .lump("D_DEMO", demo::song_mus())
        .lump("D_DEMOMI", demo::song_midi())
        .lump("D_PANNED", panned_song())
        .write(path("songs.wad"));
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }
  // args, then the output named out, then the duration if given.
  bytes render(std::vector<std::string> args, const std::string &out,
               const std::string &seconds = "") {
    args.push_back(path(out));
    if (!seconds.empty()) args.push_back(seconds);
    const auto r = fixture::run_tool(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return fixture::read_file(path(out));
  }
  std::string dir_;
};

TEST_F(Stereo, SongsThatNeverPanGiveTheMonoSamplesOnBothSides) {
  for (const std::string lump : {"D_DEMO", "D_DEMOMI"}) {
    SCOPED_TRACE(lump);
    const bytes mono = render({path("songs.wad"), lump, "-v", "1", "-f", "2"}, "mono.wav");
    const bytes stereo =
        render({"--estereo", path("songs.wad"), lump, "-v", "1", "-f", "2"}, "stereo.wav");
    const std::vector<int16_t> m = samples_of(mono);
    ASSERT_GT(m.size(), 44100u * 20);
    const size_t frames = m.size();
    // The header: two channels, 4 bytes a frame, 176400 a second.
    EXPECT_EQ(stereo.size(), 44 + 4 * frames);
    EXPECT_EQ(stereo[22], 2);
    EXPECT_EQ(u32_at(stereo, 28), 176400u);
    EXPECT_EQ(stereo[32], 4);
    EXPECT_EQ(u32_at(stereo, 40), 4 * frames);
    EXPECT_EQ(u32_at(stereo, 4), 4 * frames + 36);
    const std::vector<int16_t> s = samples_of(stereo);
    EXPECT_TRUE(side(s, 0) == m);
    EXPECT_TRUE(side(s, 1) == m);
  }
}

TEST_F(Stereo, APannedSongIsPlacedOnItsSides) {
  const std::vector<int16_t> s =
      samples_of(render({"-e", path("songs.wad"), "D_PANNED"}, "panned.wav", "1"));
  ASSERT_EQ(s.size(), 2u * 44100);
  // Before the drum (sample 22050 on) the lead sounds only left and the bass
  // only right, so the sides differ; the drum at the centre reaches both.
  const std::vector<int16_t> left = side(s, 0), right = side(s, 1);
  const auto loud = [](const std::vector<int16_t> &v, size_t from, size_t to) {
    int peak = 0;
    for (size_t i = from; i < to; ++i) peak = std::max(peak, std::abs(int{v[i]}));
    return peak;
  };
  EXPECT_GT(loud(left, 0, 22050), 1000);
  EXPECT_GT(loud(right, 0, 22050), 1000);
  EXPECT_NE(left, right);
  // The listing refuses the option it has no use for.
  const auto r = fixture::run_tool({"-l", path("songs.wad"), "-e"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("--listar no va con --estereo"), std::string::npos) << r.err;
}

#ifdef TUNECAST_HAVE_SNDFILE
std::vector<int16_t> decode(const std::string &file, int &channels) {
  SF_INFO info{};
  SNDFILE *f = sf_open(file.c_str(), SFM_READ, &info);
  if (f == nullptr) {
    ADD_FAILURE() << file << ": " << sf_strerror(nullptr);
    return {};
  }
  channels = info.channels;
  std::vector<int16_t> out(static_cast<size_t>(info.frames * info.channels));
  EXPECT_EQ(sf_read_short(f, out.data(), static_cast<sf_count_t>(out.size())),
            static_cast<sf_count_t>(out.size()));
  sf_close(f);
  return out;
}

// A whole archive in stereo FLAC at volume 80: every song written, each
// decoding to the samples of the stereo WAV render with the same options.
TEST_F(Stereo, BatchInStereoFlacDecodesToTheWavRender) {
  fs::create_directory(path("all"));
  const auto r = fixture::run_tool({"--todas", path("all"), "--estereo", "--formato", "flac",
                                    "--volumen", "80", path("songs.wad"), "3"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const std::string lump : {"D_DEMO", "D_DEMOMI", "D_PANNED"}) {
    SCOPED_TRACE(lump);
    int channels = 0;
    const std::vector<int16_t> flac = decode(path("all/" + lump + ".flac"), channels);
    EXPECT_EQ(channels, 2);
    const bytes wav =
        render({"-e", "--volumen", "80", path("songs.wad"), lump}, lump + ".wav", "3");
    EXPECT_TRUE(flac == samples_of(wav));
    EXPECT_EQ(flac.size(), 2u * 3 * 44100);
  }
}
#endif

}  // namespace
