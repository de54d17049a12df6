// The tags of FLAC and Ogg Vorbis files end to end, read back by the
// formats' own tools: the lump and archive names, and with passes the loop
// points, which must land a looping player on the very samples the song
// goes on with.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "fixtures.h"
#include "tool_process.h"

#ifdef TUNECAST_HAVE_SNDFILE
#include <sndfile.h>

namespace {

using fixture::bytes;
namespace fs = std::filesystem;
using tag_map = std::map<std::string, std::string>;

// A program found on PATH; empty when it is not installed.
std::string program(const std::string &name) {
  const char *path = std::getenv("PATH");
  std::istringstream dirs(path != nullptr ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const std::string candidate = dir + "/" + name;
    if (!dir.empty() && access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

// The fields the format's reader prints, names upper-cased (they are
// compared without case).
tag_map tags_of(const std::string &reader, const std::string &file) {
  const bool flac = reader.ends_with("metaflac");
  const fixture::run_result r =
      fixture::run(flac ? std::vector<std::string>{reader, "--export-tags-to=-", file}
                        : std::vector<std::string>{reader, "-l", file});
  EXPECT_EQ(r.status, 0) << r.err;
  tag_map tags;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    const size_t eq = line.find('=');
    std::string name = line.substr(0, eq);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (eq != std::string::npos) tags[name] = line.substr(eq + 1);
  }
  return tags;
}

// Every sample libsndfile reads, whatever the header announced (a stream
// written to a pipe cannot announce its length).
std::vector<int16_t> decode(const std::string &path) {
  SF_INFO info{};
  SNDFILE *f = sf_open(path.c_str(), SFM_READ, &info);
  EXPECT_NE(f, nullptr) << path;
  std::vector<int16_t> samples;
  int16_t block[4096];
  for (sf_count_t n; f != nullptr && (n = sf_read_short(f, block, 4096)) > 0;) {
    samples.insert(samples.end(), block, block + n);
  }
  if (f != nullptr) sf_close(f);
  return samples;
}

using fixture::busy_song;

// Its first note plays at the velocity the channel remembers, which is 0 on
// the first pass and 90 on every later one: 70 ticks, 22050 frames a pass.
bytes remembering_song() {
  fixture::mus_builder m;
  m.instrument(0, 30).note_on(0, 52).delay(35).note_off(0, 52).note_on(0, 57, 90).delay(35);
  return m.note_off(0, 57).score_end().build();
}

// The delay flag on its score end has the loop read a delay from the
// score's first byte, its measure end (0x50: 80 ticks): the first pass lasts
// 70 ticks (22050 frames), every later one 150 (47250 frames).
bytes flagged_end_song() {
  fixture::mus_builder m;
  m.measure_end(0).note_on(0, 60, 100).delay(35).note_off(0, 60).delay(35);
  return m.score_end().delay(0).build();
}

class Tags : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fixture::make_temp_dir("tags");
    fixture::wad_builder()
        .lump("D_BUSY", busy_song())
        .lump("D_RECALL", remembering_song())
        .lump("D_FLAG", flagged_end_song())
        .write(path("song.wad"));
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }
  std::string dir_;
};

// Every way a file is written carries the names; the loop points come with
// passes wherever the file can be read back, and a pipe has the names alone.
TEST_F(Tags, NamesAndLoopPointsReadBackInBothFormats) {
  fixture::write_file(
      path("pack.zip"),
      fixture::zip_builder().stored("maps/zarn.wad", fixture::read_file(path("song.wad"))).build());
  enum class where { file, batch, pipe, stdout_write_only, stdout_read_write };
  const struct {
    const char *what;
    where to;
    std::vector<std::string> args;
    tag_map expected;
  } rows[] = {
      {"seconds",
       where::file,
       {path("song.wad"), "D_BUSY", "OUT", "2"},
       {{"TITLE", "D_BUSY"}, {"ALBUM", "song.wad"}}},
      {"passes",
       where::file,
       {"-v", "2", "-f", "1", path("song.wad"), "D_BUSY", "OUT"},
       {{"TITLE", "D_BUSY"}, {"ALBUM", "song.wad"}, {"LOOPSTART", "0"}, {"LOOPLENGTH", "44100"}}},
      {"zip member",
       where::file,
       {"-v", "1", path("pack.zip") + ":maps/zarn.wad", "D_BUSY", "OUT"},
       {{"TITLE", "D_BUSY"}, {"ALBUM", "zarn.wad"}, {"LOOPSTART", "0"}, {"LOOPLENGTH", "44100"}}},
      {"batch",
       where::batch,
       {"-v", "3", "-a", path("all"), path("song.wad")},
       {{"TITLE", "D_RECALL"},
        {"ALBUM", "song.wad"},
        {"LOOPSTART", "22050"},
        {"LOOPLENGTH", "22050"}}},
      {"standard output, a file opened to write only (>)",
       where::stdout_write_only,
       {"-v", "2", path("song.wad"), "D_BUSY", "-"},
       {{"TITLE", "D_BUSY"}, {"ALBUM", "song.wad"}}},
      {"standard output, a file opened to read and write (1<>)",
       where::stdout_read_write,
       {"-v", "2", path("song.wad"), "D_BUSY", "-"},
       {{"TITLE", "D_BUSY"}, {"ALBUM", "song.wad"}, {"LOOPSTART", "0"}, {"LOOPLENGTH", "44100"}}},
      {"standard output, a pipe",
       where::pipe,
       {"-v", "2", path("song.wad"), "D_BUSY", "-"},
       {{"TITLE", "D_BUSY"}, {"ALBUM", "song.wad"}}},
  };
  for (const std::string format : {"flac", "ogg"}) {
    const std::string reader = program(format == "flac" ? "metaflac" : "vorbiscomment");
    if (reader.empty()) {
      GTEST_SKIP() << "metaflac or vorbiscomment is not installed: no tags are read back";
    }
    for (const auto &r : rows) {
      SCOPED_TRACE(format + ", " + r.what);
      std::vector<std::string> args = {"--formato", format};
      for (const std::string &a : r.args) args.push_back(a == "OUT" ? path("out." + format) : a);
      const std::string out =
          r.to == where::batch ? path("all/D_RECALL." + format) : path("out." + format);
      fs::remove(out);
      if (r.to == where::file || r.to == where::batch) {
        ASSERT_EQ(fixture::run_tool(args).status, 0);
      } else if (r.to != where::pipe) {
        const int mode = r.to == where::stdout_write_only ? O_WRONLY : O_RDWR;
        const int fd = open(out.c_str(), mode | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        const pid_t pid = process::start_tool_onto(args, path("err"), fd);
        close(fd);
        EXPECT_EQ(process::wait_for(pid, 60).status, 0);
      } else {
        int ends[2];
        ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
        const pid_t pid = process::start_tool_onto(args, path("err"), ends[1]);
        close(ends[1]);
        bytes got;
        uint8_t block[4096];
        for (ssize_t n; (n = read(ends[0], block, sizeof block)) > 0;) {
          got.insert(got.end(), block, block + n);
        }
        close(ends[0]);
        EXPECT_EQ(process::wait_for(pid, 60).status, 0);
        fixture::write_file(out, got);
      }
      tag_map tags = tags_of(reader, out);
      tags.erase("ENCODER");  // libsndfile's own
      EXPECT_EQ(tags, r.expected);
      // The audio is as it was: a WAV rendered alike holds the same frames.
      std::vector<std::string> wav_args(r.args.begin(), r.args.end());
      if (r.to == where::batch) wav_args = {"-v", "3", path("song.wad"), "D_RECALL", "OUT"};
      for (std::string &a : wav_args) a = a == "OUT" || a == "-" ? path("ref.wav") : a;
      ASSERT_EQ(fixture::run_tool(wav_args).status, 0);
      const std::vector<int16_t> wav =
          fixture::pcm16_samples(fixture::read_file(path("ref.wav")), 44);
      const std::vector<int16_t> decoded = decode(out);
      if (format == "flac") {
        EXPECT_TRUE(decoded == wav);
      } else {
        // Ogg's last granule gives the length; a block of padding at most if ignored.
        EXPECT_GE(decoded.size(), wav.size());
        EXPECT_LE(decoded.size(), wav.size() + 2048);
      }
    }
  }
}

// A player that jumps from LOOPSTART + LOOPLENGTH back to LOOPSTART goes
// on with the samples the song goes on with. For the song whose first pass
// plays a note silently, a loop from frame 0 would not.
TEST_F(Tags, LoopPointsLandOnTheSameSamples) {
  const std::string metaflac = program("metaflac");
  if (metaflac.empty()) GTEST_SKIP() << "metaflac is not installed: no tags are read back";
  const struct {
    const char *lump;
    const char *passes;  // enough for two repeats before the fade
    int64_t start;
    int64_t length;
  } rows[] = {
      {"D_BUSY", "3", 0, 44100}, {"D_RECALL", "3", 22050, 22050}, {"D_FLAG", "6", 22050, 47250}};
  for (const auto &[lump, passes, expected_start, expected_length] : rows) {
    SCOPED_TRACE(lump);
    const std::string out = path(std::string(lump) + ".flac");
    const auto r = fixture::run_tool({"-v", passes, "-f", "2", path("song.wad"), lump, out});
    ASSERT_EQ(r.status, 0) << r.err;
    const tag_map tags = tags_of(metaflac, out);
    ASSERT_TRUE(tags.contains("LOOPSTART") && tags.contains("LOOPLENGTH"));
    const auto start = static_cast<ptrdiff_t>(std::stoll(tags.at("LOOPSTART")));
    const auto length = static_cast<ptrdiff_t>(std::stoll(tags.at("LOOPLENGTH")));
    EXPECT_EQ(start, expected_start);
    EXPECT_EQ(length, expected_length);
    const std::vector<int16_t> s = decode(out);
    ASSERT_GE(static_cast<ptrdiff_t>(s.size()), start + 2 * length);
    EXPECT_TRUE(
        std::equal(s.begin() + start, s.begin() + start + length, s.begin() + start + length));
    if (std::string(lump) == "D_RECALL") {
      EXPECT_FALSE(std::equal(s.begin(), s.begin() + length, s.begin() + length));
    }
  }
}

}  // namespace

#endif
