// recording_test.cpp: the pre-rendered recording player: where it looks for
// a file, which files it takes, and what each pull of chip_next plays.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "tunecast/chip.h"
#include "chip/state.h"
#include "fixtures.h"

namespace chip = tunecast::chip;

namespace {

using fixture::bytes;
using fixture::put_text;
using fixture::put_u16le;
using fixture::put_u32le;

bytes chunk(const std::string &id, const bytes &payload, std::optional<uint32_t> size = {}) {
  bytes out;
  put_text(out, id);
  put_u32le(out, size.value_or(static_cast<uint32_t>(payload.size())));
  out.insert(out.end(), payload.begin(), payload.end());
  if (!size && payload.size() % 2 != 0) out.push_back(0);  // pad byte
  return out;
}

bytes fmt(uint32_t channels, uint32_t rate, uint32_t bits, uint32_t tag = 1, size_t extra = 0) {
  bytes out;
  put_u16le(out, tag);
  put_u16le(out, channels);
  put_u32le(out, rate);
  put_u32le(out, rate * channels * 2);
  put_u16le(out, channels * 2);
  put_u16le(out, bits);
  out.resize(out.size() + extra, 0);
  return out;
}

bytes pcm16(const std::vector<int16_t> &samples) {
  bytes out;
  for (int16_t s : samples) put_u16le(out, static_cast<uint16_t>(s));
  return out;
}

bytes riff(const std::vector<bytes> &chunks, const char *form = "WAVE") {
  bytes out;
  put_text(out, "RIFF");
  put_u32le(out, 0);  // never examined
  put_text(out, form);
  for (const bytes &c : chunks) out.insert(out.end(), c.begin(), c.end());
  return out;
}

size_t open_fds() {
  auto it = std::filesystem::directory_iterator("/proc/self/fd");
  return static_cast<size_t>(std::distance(it, std::filesystem::directory_iterator{}));
}

class Recording : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fixture::make_temp_dir("rec");
    setenv("ZARN_MUSIC_DIR", dir_.c_str(), 1);
    unsetenv("ZARN_SYNTH");
    I_UnRegisterSong();
    I_ResumeSong();
    *pcm_gain_p = 0.8;
    std::memset(g_music_name, 0, sizeof g_music_name);
  }
  void TearDown() override {
    pcm_stop();
    std::filesystem::remove_all(dir_);
  }
  void put(const std::string &upper_name, const bytes &wav) {
    fixture::write_file(dir_ + "/D_" + upper_name + ".wav", wav);
  }
  // Registers a one-event song and starts it under the name "t".
  void play(const bytes &wav, int looping) {
    put("T", wav);
    ASSERT_EQ(I_RegisterSong(fixture::mus_builder().score_end().build().data()), 1);
    std::strcpy(g_music_name, "t");
    I_PlaySong(0, looping);
    ASSERT_NE(chip::the_state.recording.pcm, nullptr);
  }
  static std::pair<float, float> pull() {
    float l = -9.0f, r = -9.0f;
    chip_next(&l, &r);
    return {l, r};
  }
  static int32_t mode() {
    int32_t m, p, z;
    double pos, len;
    chip_stats(&m, &p, &z, &pos, &len);
    return m;
  }
  std::string dir_;
};

const bytes mono_wav = fixture::wav_pcm16(1, 44100, {8192, 16384, -16384});

TEST_F(Recording, PathFollowsTheNameRule) {
  struct row {
    const char *dir;  // null: unset
    const char *name, *path;
  };
  for (const row &c : {row{nullptr, "e1m1", "music/D_E1M1.wav"}, row{nullptr, "", "music/D_.wav"},
                       row{"/srv/tunes", "e1m1", "/srv/tunes/D_E1M1.wav"},
                       row{"", "e1m1", "/D_E1M1.wav"},
                       row{"d", "abcdefghijklmnopqrst", "d/D_ABCDEFGHIJKLMNO.wav"},
                       row{"d", "Mix-1_ok", "d/D_MIX-1_OK.wav"}}) {
    SCOPED_TRACE(c.path);
    if (c.dir != nullptr) setenv("ZARN_MUSIC_DIR", c.dir, 1); else unsetenv("ZARN_MUSIC_DIR");
    char path[512];
    chip::pcm_path(chip::music_dir(chip::the_state.recording), c.name, path);
    EXPECT_STREQ(path, c.path);
  }
  const std::string long_dir(600, 'x');
  setenv("ZARN_MUSIC_DIR", long_dir.c_str(), 1);
  char path[512];
  chip::pcm_path(chip::music_dir(chip::the_state.recording), "e1m1", path);
  EXPECT_EQ(std::string(path), long_dir.substr(0, 511));
}

// A directory set by the call wins over ZARN_MUSIC_DIR (here dir_) until a
// null call gives the lookup back to the environment.
TEST_F(Recording, MusicDirSetByTheCallUntilCleared) {
  const std::string other = fixture::make_temp_dir("rec-set");
  fixture::write_file(other + "/D_T.wav", mono_wav);  // dir_ holds no recording
  std::strcpy(g_music_name, "t");
  ASSERT_EQ(I_RegisterSong(fixture::mus_builder().score_end().build().data()), 1);
  struct row {
    const char *dir;  // null: cleared
    std::string path;
    int32_t mode;  // after I_PlaySong: 1 the recording plays, 2 the song
  };
  const std::string long_dir(600, 'y');
  for (const row &c : {row{other.c_str(), other + "/D_T.wav", 1},
                       row{"", "/D_T.wav", 2},
                       row{long_dir.c_str(), long_dir.substr(0, 511), 2},
                       row{nullptr, dir_ + "/D_T.wav", 2},
                       row{other.c_str(), other + "/D_T.wav", 1}}) {
    SCOPED_TRACE(c.path.substr(0, 40));
    chip_set_music_dir(c.dir);
    char path[512];
    EXPECT_EQ(pcm_file_path("t", path, sizeof path), static_cast<int32_t>(c.path.size()));
    EXPECT_EQ(std::string(path), c.path);
    I_PlaySong(0, 0);
    EXPECT_EQ(mode(), c.mode);
  }
  chip_set_music_dir(nullptr);
  std::filesystem::remove_all(other);
}

TEST_F(Recording, FindsItsFileByTheRule) {
  put("ABCDEFGHIJKLMNO", mono_wav);
  EXPECT_EQ(pcm_try("abcdefghijklmnopqrst"), 1);
  put("", mono_wav);
  EXPECT_EQ(pcm_try(""), 1);

  // The engine may fill the whole 16-byte name with no terminator.
  put("AAAAAAAAAAAAAAA", mono_wav);
  ASSERT_EQ(I_RegisterSong(fixture::mus_builder().score_end().build().data()), 1);
  std::memset(g_music_name, 'a', sizeof g_music_name);
  I_PlaySong(0, 0);
  EXPECT_EQ(mode(), 1);

  // Unset: "music" under the current directory.
  const auto cwd = std::filesystem::current_path();
  std::filesystem::create_directory(dir_ + "/music");
  fixture::write_file(dir_ + "/music/D_E1M1.wav", mono_wav);
  std::filesystem::current_path(dir_);
  unsetenv("ZARN_MUSIC_DIR");
  EXPECT_EQ(pcm_try("e1m1"), 1);
  std::filesystem::current_path(cwd);
}

// The public form of the rule, for a program that wants to name the file it
// plays: cut to the buffer like snprintf, the whole length returned.
TEST_F(Recording, FilePathFitsTheCallersBuffer) {
  setenv("ZARN_MUSIC_DIR", "d", 1);
  struct row {
    const char *name;
    int32_t size;
    const char *text;  // what the buffer holds after the call
  };
  for (const row &c : {row{"e1m1", 64, "d/D_E1M1.wav"}, row{"e1m1", 13, "d/D_E1M1.wav"},
                       row{"e1m1", 12, "d/D_E1M1.wa"}, row{"e1m1", 5, "d/D_"},
                       row{"e1m1", 1, ""}, row{"e1m1", 0, "untouched"},
                       row{nullptr, 64, "d/D_.wav"}}) {
    SCOPED_TRACE(std::string(c.name != nullptr ? c.name : "null") + " " + std::to_string(c.size));
    char path[64] = "untouched";
    const int32_t length = pcm_file_path(c.name, path, c.size);
    EXPECT_EQ(length, c.name != nullptr ? 12 : 8);
    EXPECT_STREQ(path, c.text);
  }
  const std::string long_dir(600, 'x');
  setenv("ZARN_MUSIC_DIR", long_dir.c_str(), 1);
  char path[600];
  EXPECT_EQ(pcm_file_path("e1m1", path, sizeof path), 511);
  EXPECT_EQ(std::string(path), long_dir.substr(0, 511));
}

// A pipe under the recording's name (nobody writing to it) would block the
// open for good; a directory cannot be read. Neither is a recording.
TEST_F(Recording, OnlyARegularFileIsARecording) {
  ASSERT_EQ(mkfifo((dir_ + "/D_PIPE.wav").c_str(), 0644), 0);
  ASSERT_EQ(mkdir((dir_ + "/D_DIR.wav").c_str(), 0755), 0);
  const size_t fds = open_fds();
  for (const char *name : {"pipe", "dir"}) {
    SCOPED_TRACE(name);
    auto tried = std::async(std::launch::async, [name] { return pcm_try(name); });
    if (tried.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
      // Open the other end so the stuck call returns and the test can end.
      close(open((dir_ + "/D_PIPE.wav").c_str(), O_WRONLY | O_NONBLOCK));
      ADD_FAILURE() << "the lookup blocked";
    }
    EXPECT_EQ(tried.get(), 0);
    EXPECT_EQ(chip::the_state.recording.pcm, nullptr);
  }
  EXPECT_EQ(open_fds(), fds);
}

TEST_F(Recording, ZarnSynthSkipsTheLookupButStillDiscards) {
  put("T", mono_wav);
  ASSERT_EQ(pcm_try("t"), 1);
  setenv("ZARN_SYNTH", "", 1);
  EXPECT_EQ(pcm_try("t"), 0);
  EXPECT_EQ(chip::the_state.recording.pcm, nullptr);

  unsetenv("ZARN_SYNTH");
  ASSERT_EQ(pcm_try("t"), 1);
  setenv("ZARN_SYNTH", "", 1);
  ASSERT_EQ(I_RegisterSong(fixture::mus_builder().score_end().build().data()), 1);
  std::strcpy(g_music_name, "t");
  I_PlaySong(0, 0);
  EXPECT_EQ(chip::the_state.recording.pcm, nullptr);
  EXPECT_EQ(mode(), 2);
}

TEST_F(Recording, EveryCallThatDiscardsFreesTheRecording) {
  put("T", mono_wav);
  ASSERT_EQ(I_RegisterSong(fixture::mus_builder().score_end().build().data()), 1);
  for (auto discard : {pcm_stop, pcm_free_all, I_StopSong, I_UnRegisterSong}) {
    ASSERT_EQ(pcm_try("t"), 1);
    discard();
    EXPECT_EQ(chip::the_state.recording.pcm, nullptr);
    EXPECT_EQ(chip::the_state.recording.pcm_n, 0);
  }
}

TEST_F(Recording, TakesOnlyStereoOrMono16BitAt44100) {
  const bytes data = chunk("data", pcm16({-5, 7}));
  bytes fmt14 = fmt(1, 44100, 16);
  fmt14.resize(14);
  struct row {
    const char *what;
    bytes wav;
    int32_t channels;  // 0: refused
  };
  const std::vector<row> cases = {
      {"canonical", riff({chunk("fmt ", fmt(2, 44100, 16)), data}), 2},
      {"any format tag", riff({chunk("fmt ", fmt(1, 44100, 16, 0xFFFE)), data}), 1},
      {"longer fmt", riff({chunk("fmt ", fmt(1, 44100, 16, 1, 3)), data}), 1},
      {"odd LIST padded", riff({chunk("fmt ", fmt(1, 44100, 16)), chunk("LIST", bytes(7, 'x')), data}), 1},
      {"last fmt counts", riff({chunk("fmt ", fmt(1, 22050, 8)), chunk("fmt ", fmt(1, 44100, 16)), data}), 1},
      {"22050 Hz", riff({chunk("fmt ", fmt(1, 22050, 16)), data}), 0},
      {"8 bits", riff({chunk("fmt ", fmt(1, 44100, 8)), data}), 0},
      {"3 channels", riff({chunk("fmt ", fmt(3, 44100, 16)), data}), 0},
      {"0 channels", riff({chunk("fmt ", fmt(0, 44100, 16)), data}), 0},
      {"data before fmt", riff({data, chunk("fmt ", fmt(1, 44100, 16))}), 0},
      {"fmt of 14 bytes", riff({chunk("fmt ", fmt14), data}), 0},
      {"not WAVE", riff({chunk("fmt ", fmt(1, 44100, 16)), data}, "AVI "), 0},
      {"11 bytes", bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V'}, 0},
      {"ends in a chunk header", riff({chunk("fmt ", fmt(1, 44100, 16)), bytes{'d', 'a', 't'}}), 0},
      {"ends inside fmt", riff({chunk("fmt ", bytes(10, 0), 16)}), 0},
      {"huge LIST", riff({chunk("fmt ", fmt(1, 44100, 16)), chunk("LIST", {}, 0xFFFFFFFF), data}), 0},
      {"huge fmt", riff({chunk("fmt ", fmt(1, 44100, 16), 0xFFFFFFFF), data}), 0},
  };
  put("GOOD", fixture::wav_pcm16(2, 44100, {1, 2, 3, 4, 5, 6}));
  const size_t fds = open_fds();
  for (const row &c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(pcm_try("good"), 1);
    chip::the_state.recording.pcm_pos = 2;
    const int16_t *before = chip::the_state.recording.pcm;
    put("T", c.wav);
    EXPECT_EQ(chip::pcm_load(chip::the_state.recording, "t"), c.channels != 0 ? 1 : 0);
    if (c.channels != 0) {
      EXPECT_EQ(chip::the_state.recording.pcm_ch, c.channels);
      EXPECT_EQ(chip::the_state.recording.pcm_n, 2 / c.channels);
      EXPECT_EQ(chip::the_state.recording.pcm_pos, 0);
      EXPECT_EQ(chip::the_state.recording.pcm[0], -5);
      EXPECT_EQ(chip::the_state.recording.pcm[1], 7);
    } else {  // the loaded recording is untouched
      EXPECT_EQ(chip::the_state.recording.pcm, before);
      EXPECT_EQ(chip::the_state.recording.pcm_n, 3);
      EXPECT_EQ(chip::the_state.recording.pcm_pos, 2);
      EXPECT_EQ(chip::the_state.recording.pcm_ch, 2);
    }
  }
  EXPECT_EQ(open_fds(), fds);

  // Through I_PlaySong a refused recording leaves the song to the synthesizer.
  put("T", fixture::wav_pcm16(1, 22050, {1, 2}));
  ASSERT_EQ(I_RegisterSong(fixture::mus_builder().score_end().build().data()), 1);
  std::strcpy(g_music_name, "t");
  I_PlaySong(0, 0);
  EXPECT_EQ(mode(), 2);
}

TEST_F(Recording, ShortDataKeepsWhatTheFileHolds) {
  const bytes head = riff({chunk("fmt ", fmt(1, 44100, 16))});
  auto claiming = [&](uint32_t size, size_t held) {
    bytes w = head;
    put_text(w, "data");
    put_u32le(w, size);
    w.resize(w.size() + held, 0);
    return w;
  };
  struct row {
    const char *what;
    bytes wav;
    int64_t frames;
  };
  const std::vector<row> cases = {
      {"claims 10 samples, holds 4", claiming(20, 8), 4},
      {"odd byte dropped", claiming(7, 7), 3},
      {"4 GiB claimed in 100 bytes", claiming(0xFFFFFFFF, 100 - head.size() - 8), 28},
      {"stereo, odd sample count", fixture::wav_pcm16(2, 44100, {1, 2, 3, 4, 5}), 2},
  };
  for (const row &c : cases) {
    SCOPED_TRACE(c.what);
    put("T", c.wav);
    ASSERT_EQ(chip::pcm_load(chip::the_state.recording, "t"), 1);
    EXPECT_EQ(chip::the_state.recording.pcm_n, c.frames);
    // Sized by the file, not by the header's claim.
    EXPECT_LE(malloc_usable_size(chip::the_state.recording.pcm), 256u);
  }
}

TEST_F(Recording, PlaysFramesAtTheGainInSinglePrecision) {
  struct row {
    const char *what;
    int channels;
    std::vector<int16_t> frame;
    float left, right;
  };
  const std::vector<row> cases = {
      {"full scale", 1, {-32768}, -0.8f, -0.8f},
      {"half scale", 1, {16384}, 0.4f, 0.4f},
      {"stereo", 2, {8192, -16384}, 0.2f, -0.4f},
      // (1 - 2^-13) * 0x1.99999ap-1 = 13420134.6 * 2^-24, rounded once in
      // float; through a double it would end at ...cccp-1.
      {"float rounding", 1, {-32764}, -0x1.998ccep-1f, -0x1.998ccep-1f},
  };
  for (const row &c : cases) {
    SCOPED_TRACE(c.what);
    play(fixture::wav_pcm16(c.channels, 44100, c.frame), 0);
    const auto [l, r] = pull();
    EXPECT_EQ(l, c.left);
    EXPECT_EQ(r, c.right);
  }
  I_SetMusicVolume(100);
  EXPECT_EQ(*pcm_gain_p, 0.7086614173228347);
  play(fixture::wav_pcm16(1, 44100, {16384}), 0);
  EXPECT_EQ(pull().first, static_cast<float>(0.7086614173228347) * 0.5f);
}

TEST_F(Recording, EndsOrLoopsAfterTheLastFrame) {
  using out = std::pair<float, float>;
  play(mono_wav, 0);
  for (float v : {0.2f, 0.4f, -0.4f}) EXPECT_EQ(pull(), out(v, v));
  EXPECT_EQ(pull(), out(0.0f, 0.0f));
  EXPECT_EQ(chip::the_state.flags.playing, 0);
  EXPECT_EQ(pull(), out(0.0f, 0.0f));
  EXPECT_EQ(mode(), 1);  // still loaded

  play(mono_wav, 1);
  for (float v : {0.2f, 0.4f, -0.4f, 0.2f, 0.4f}) EXPECT_EQ(pull(), out(v, v));
  EXPECT_EQ(chip::the_state.recording.pcm_pos, 2);
  EXPECT_EQ(chip::the_state.flags.playing, 1);

  I_PauseSong();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(pull(), out(0.0f, 0.0f));
  EXPECT_EQ(chip::the_state.recording.pcm_pos, 2);
  I_ResumeSong();
  EXPECT_EQ(pull(), out(-0.4f, -0.4f));
}

// A block pulled with chip_render plays the frames chip_next would, both
// channels, through the loop point and on past the end.
TEST_F(Recording, BlocksPlayTheSameFramesAsSingleSamples) {
  const bytes stereo = fixture::wav_pcm16(2, 44100, {8192, -16384, 16384, 4096, -8192, 0});
  for (int looping : {0, 1}) {
    SCOPED_TRACE(looping);
    play(stereo, looping);
    std::vector<float> left(8, -9.0f), right(8, -9.0f);
    chip_render(left.data(), right.data(), 8);
    play(stereo, looping);
    for (size_t i = 0; i < 8; ++i) {
      const auto [l, r] = pull();
      EXPECT_EQ(left[i], l) << i;
      EXPECT_EQ(right[i], r) << i;
    }
    EXPECT_EQ(left[3], looping == 1 ? 0.2f : 0.0f);
    EXPECT_EQ(right[4], looping == 1 ? 0.1f : 0.0f);
  }
}

TEST_F(Recording, NoWholeFramePlaysSilence) {
  for (const auto &[channels, samples] :
       {std::pair<int, std::vector<int16_t>>{1, {}}, {2, {16384}}}) {
    for (int looping : {0, 1}) {
      SCOPED_TRACE(testing::Message() << channels << " channels, looping " << looping);
      play(fixture::wav_pcm16(channels, 44100, samples), looping);
      EXPECT_EQ(chip::the_state.recording.pcm_n, 0);
      for (int i = 0; i < 3; ++i) EXPECT_EQ(pull(), std::make_pair(0.0f, 0.0f));
      EXPECT_EQ(chip::the_state.flags.playing, looping);
    }
  }
}

TEST_F(Recording, StatsGivePositionAndLengthInSeconds) {
  play(fixture::wav_pcm16(1, 44100, std::vector<int16_t>(22050, 0)), 0);
  for (int i = 0; i < 4410; ++i) pull();
  int32_t m, p, z;
  double pos, len;
  chip_stats(&m, &p, &z, &pos, &len);
  EXPECT_EQ(m, 1);
  EXPECT_EQ(p, 1);
  EXPECT_EQ(z, 0);
  EXPECT_EQ(pos, 0.1);
  EXPECT_EQ(len, 0.5);
  pcm_stop();
  chip_stats(&m, &p, &z, &pos, &len);
  EXPECT_EQ(m, 2);
  EXPECT_EQ(pos, 0.0);
  EXPECT_EQ(len, 0.0);
}

}  // namespace
