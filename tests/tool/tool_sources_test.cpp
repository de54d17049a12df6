// The tool end to end on its other sources: a WAD inside a ZIP archive (and
// what a hostile one cannot make it do), and a pre-rendered recording that
// plays in place of the song.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "fixtures.h"
#include "tool_process.h"

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

bytes song_mus(int note) {
  return fixture::mus_builder()
      .instrument(0, 41)
      .note_on(0, note, 110)
      .note_on(15, 38, 90)
      .delay(70)
      .note_off(0, note)
      .delay(20)
      .score_end()
      .build();
}

bytes song_wad(int note) { return fixture::wad_builder().lump("D_SONG", song_mus(note)).build(); }

// Stored or deflated, the WAD in a ZIP renders as the WAD itself; deflate
// is inflated by the tool, which finds no unzip on its PATH here.
TEST_F(ToolSources, ZipHoldingTheWadRendersTheSameFile) {
  const bytes wad = song_wad(64);
  fixture::write_file(path("song.wad"), wad);
  fixture::write_file(
      path("song.zip"),
      fixture::zip_builder().stored("readme.txt", {'h', 'i'}).stored("pack/game.wad", wad).build());
  fixture::write_file(path("deflated.zip"),
                      fixture::zip_builder().deflated("pack/game.wad", wad).build());
  fs::create_directory(path("empty"));
  const auto from_wad = fixture::run_tool({path("song.wad"), "D_SONG", path("a.wav"), "1"});
  const auto from_zip = fixture::run_tool({path("song.zip"), "D_SONG", path("b.wav"), "1"});
  const auto deflated =
      fixture::run({fixture::tool_path(), path("deflated.zip"), "D_SONG", path("c.wav"), "1"},
                   {"ZARN_SYNTH=1", "PATH=" + path("empty")});
  ASSERT_EQ(from_wad.status, 0) << from_wad.err;
  ASSERT_EQ(from_zip.status, 0) << from_zip.err;
  ASSERT_EQ(deflated.status, 0) << deflated.err;
  const std::string extracted =
      "[WAD] ZIP " + path("song.zip") + " -> extraído pack/game.wad (0 KB) en memoria\n";
  EXPECT_EQ(from_zip.out.substr(0, extracted.size()), extracted);
  const std::string inflated =
      "[WAD] ZIP " + path("deflated.zip") +
      " pack/game.wad método 8 (deflate), descomprimiendo con zlib ...\n[WAD] ZIP " +
      path("deflated.zip") + " -> extraído con zlib pack/game.wad (0 KB) en memoria\n";
  EXPECT_EQ(deflated.out.substr(0, inflated.size()), inflated);
  const bytes a = fixture::read_file(path("a.wav"));
  EXPECT_EQ(a.size(), 44u + 2 * 44100);
  EXPECT_EQ(a, fixture::read_file(path("b.wav")));
  EXPECT_EQ(a, fixture::read_file(path("c.wav")));
  // The song is not silence, so equal files say something.
  bool sounds = false;
  for (size_t i = 0; i < 44100; ++i) sounds = sounds || sample_at(a, i) != 0;
  EXPECT_TRUE(sounds);
}

// Two runs at once on ZIPs whose WAD members share a name each play their
// own song, whatever another user left at a path such members once used.
TEST_F(ToolSources, ConcurrentRunsOnSameNamedMembersKeepTheirOwnSongs) {
  const std::string member = "same" + std::to_string(getpid()) + ".wad";
  const std::string old_path = "/tmp/zarn_engine_" + member;
  ASSERT_EQ(mkfifo(old_path.c_str(), 0666), 0);
  bytes expected[2];
  for (int k = 0; k < 2; ++k) {
    const std::string n = std::to_string(k);
    fixture::write_file(path(n + ".wad"), song_wad(60 + 7 * k));
    fixture::write_file(path(n + ".zip"),
                        fixture::zip_builder().stored(member, song_wad(60 + 7 * k)).build());
    ASSERT_EQ(fixture::run_tool({path(n + ".wad"), "D_SONG", path("ref" + n + ".wav"), "1"}).status,
              0);
    expected[k] = fixture::read_file(path("ref" + n + ".wav"));
  }
  ASSERT_NE(expected[0], expected[1]);
  fixture::run_result runs[2];
  std::thread first([&] {
    runs[0] = fixture::run_tool({path("0.zip"), "D_SONG", path("out0.wav"), "1"});
  });
  runs[1] = fixture::run_tool({path("1.zip"), "D_SONG", path("out1.wav"), "1"});
  first.join();
  struct stat st;
  const bool fifo_kept = lstat(old_path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
  std::remove(old_path.c_str());
  EXPECT_TRUE(fifo_kept);
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(k);
    ASSERT_EQ(runs[k].status, 0) << runs[k].err;
    EXPECT_EQ(fixture::read_file(path("out" + std::to_string(k) + ".wav")), expected[k]);
  }
}

// unzip runs in a process group of its own, out of reach of the terminal's
// Ctrl-C: it must still end when the tool does, however the tool ends.
TEST_F(ToolSources, UnzipEndsWithAKilledTool) {
  const std::string bin = path("bin");
  fs::create_directory(bin);
  const std::string pid_file = path("unzip.pid");
  const std::string script = "#!/bin/sh\necho $$ > '" + pid_file + ".new'\nmv '" + pid_file +
                             ".new' '" + pid_file + "'\nexec sleep 1000\n";
  fixture::write_file(bin + "/unzip", bytes(script.begin(), script.end()));
  chmod((bin + "/unzip").c_str(), 0755);
  fixture::write_file(path("song.zip"),
                      fixture::zip_builder().member("game.wad", song_wad(60), 12).build());

  const std::string tool = fixture::tool_path();
  const std::string env_path = "PATH=" + bin + ":" + std::getenv("PATH");
  for (const int sig : {SIGTERM, SIGKILL}) {
    SCOPED_TRACE(sig);
    std::remove(pid_file.c_str());
    const pid_t pid = fork();
    if (pid == 0) {
      const int quiet = open("/dev/null", O_WRONLY);
      dup2(quiet, STDOUT_FILENO);
      dup2(quiet, STDERR_FILENO);
      putenv(const_cast<char *>(env_path.c_str()));
      execl(tool.c_str(), tool.c_str(), path("song.zip").c_str(), "D_SONG", path("o.wav").c_str(),
            static_cast<char *>(nullptr));
      _exit(127);
    }
    pid_t child = 0;
    for (int i = 0; i < 500 && child == 0; ++i) {
      if (fixture::file_exists(pid_file)) {
        const bytes text = fixture::read_file(pid_file);
        child = std::stoi(std::string(text.begin(), text.end()));
      } else {
        usleep(10000);
      }
    }
    kill(pid, sig);
    waitpid(pid, nullptr, 0);
    ASSERT_NE(child, 0) << "the stand-in unzip never started";
    // Gone, or a zombie left for init: in either case no longer running.
    bool running = true;
    for (int i = 0; i < 500 && running; ++i) {
      std::ifstream stat_file("/proc/" + std::to_string(child) + "/stat");
      std::string pid_field, comm, state;
      running = static_cast<bool>(stat_file >> pid_field >> comm >> state) && state != "Z";
      if (running) usleep(10000);
    }
    EXPECT_FALSE(running);
    EXPECT_FALSE(fixture::file_exists(path("o.wav")));
  }
}

// Rendering one song of a large archive reads the directory and that song,
// not the archive.
TEST_F(ToolSources, OneSongOfALargeArchiveCostsLittleMoreThanTheSong) {
  fixture::write_file(path("small.wad"), song_wad(60));
  fixture::write_file(path("large.wad"), fixture::wad_builder()
                                             .lump("GRAPHICS", bytes(28u << 20, 0x55))
                                             .lump("D_SONG", song_mus(60))
                                             .build());
  const auto small = fixture::run_tool({path("small.wad"), "D_SONG", path("s.wav"), "1"});
  const auto large = fixture::run_tool({path("large.wad"), "D_SONG", path("l.wav"), "1"});
  ASSERT_EQ(small.status, 0) << small.err;
  ASSERT_EQ(large.status, 0) << large.err;
  EXPECT_EQ(large.err, "");  // the song played: no warning of silence
  EXPECT_EQ(fixture::read_file(path("l.wav")), fixture::read_file(path("s.wav")));
  EXPECT_LT(large.max_rss_kib, small.max_rss_kib + 4 * 1024);  // read whole: + 28 MiB
}

// --todas and --listar read a lump whole only when it is music, one at a
// time: a 256 MiB lump that is not music (a hole in a sparse file, so the
// disk holds none of it) costs them its first bytes, not its size.
TEST_F(ToolSources, AllSongsOfALargeArchiveCostLittleMoreThanTheSongs) {
  fixture::write_file(path("small.wad"), song_wad(60));
  constexpr int32_t graphics_ofs = 1 << 20, graphics_size = 256 << 20;
  fixture::write_file(path("large.wad"), fixture::wad_builder()
                                             .lump("D_SONG", song_mus(60))
                                             .raw_entry("GRAPHICS", graphics_ofs, graphics_size)
                                             .build());
  ASSERT_EQ(truncate(path("large.wad").c_str(), off_t{graphics_ofs} + graphics_size), 0);
  for (const bool batch : {true, false}) {
    SCOPED_TRACE(batch ? "--todas" : "--listar");
    const auto run = [&](const std::string &archive) {
      const std::string wad = path(archive + ".wad");
      return fixture::run_tool(
          batch ? std::vector<std::string>{"-q", "--todas", path(archive), wad, "1"}
                : std::vector<std::string>{"-l", wad});
    };
    const auto small = run("small");
    const auto large = run("large");
    ASSERT_EQ(small.status, 0) << small.err;
    ASSERT_EQ(large.status, 0) << large.err;
    if (batch) {
      EXPECT_EQ(fixture::read_file(path("large/D_SONG.wav")),
                fixture::read_file(path("small/D_SONG.wav")));
    } else {
      EXPECT_EQ(large.out, small.out);  // the table: D_SONG alone
    }
    EXPECT_LT(large.max_rss_kib, small.max_rss_kib + 48 * 1024);  // read whole: + 256 MiB
  }
}

// A file of nothing but empty local headers is walked in constant memory.
TEST_F(ToolSources, HeaderBombIsWalkedInSmallMemory) {
  fixture::write_file(path("tiny.wad"), song_wad(60));
  const auto base = fixture::run_tool({"-l", path("tiny.wad")});
  ASSERT_EQ(base.status, 0) << base.err;
  bytes bomb;
  for (int i = 0; i < 300000; ++i) {
    fixture::put_u32le(bomb, 0x04034B50);
    bomb.resize(bomb.size() + 26, 0);
  }
  // 9 MB; a member record each would take 160 MB (more under the sanitizers).
  fixture::write_file(path("bomb.zip"), bomb);
  const auto r = fixture::run_tool({"-l", path("bomb.zip")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "[WAD] no se pudo extraer WAD de ZIP " + path("bomb.zip") +
                       ": no contiene ningún archivo .wad\n");
  EXPECT_LT(r.max_rss_kib, base.max_rss_kib + 48 * 1024);
}

// An honest bomb: real deflate at its highest ratio, 0.7 MB that inflate to
// the 738 MiB it declares, a valid WAD header first. Inflated, it would be
// held whole; it is refused by its ratio before it inflates.
TEST_F(ToolSources, CompressionBombIsRefusedBeforeItInflates) {
  bytes head;
  fixture::put_text(head, "PWAD");
  fixture::put_u32le(head, 0);   // no lumps,
  fixture::put_u32le(head, 12);  // the directory right behind the header
  const uint64_t runs = 3'000'000;
  const uint64_t size = head.size() + 258 * runs;
  const bytes stream = fixture::deflate_run(head, runs);
  const uint32_t crc = fixture::crc32_zeros(fixture::crc32(head), size - head.size());
  fixture::write_file(path("bomb.zip"),
                      fixture::zip_builder()
                          .compressed("zarn.wad", stream, 8, crc, static_cast<uint32_t>(size))
                          .build());
  const auto r = fixture::run_tool({"-l", path("bomb.zip")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "[WAD] no se pudo extraer WAD de ZIP " + path("bomb.zip") +
                       ": zarn.wad declara " + std::to_string(size) + " bytes en " +
                       std::to_string(stream.size()) +
                       " comprimidos, más de 200:1: ningún WAD real se comprime tanto\n");
  EXPECT_LT(r.max_rss_kib, 512 * 1024);
}

TEST_F(ToolSources, RecordingPlaysItsFirstChannelAtThePlaybackGain) {
  // The tool never names the music, so the recording it finds is D_.wav. The
  // directory's name holds an escape sequence, which must not reach the terminal.
  const std::string music = path("music\x1b[2J");
  fs::create_directory(music);
  const std::vector<int16_t> frames = {0, 5, 32767, -1, -32768, 7, 16384, 0, -12345, 99, 1, 2};
  fixture::write_file(music + "/D_.wav", fixture::wav_pcm16(2, 44100, frames));
  const bytes song = fixture::mus_builder().note_on(0, 60, 127).delay(1000).build();
  fixture::write_file(path("song.wad"), fixture::wad_builder().lump("D_SONG", song).build());

  // 10 frames: the 6 of the recording, then silence once it has ended.
  const auto r =
      fixture::run({fixture::tool_path(), path("song.wad"), "D_SONG", path("out.wav"), "0.0002268"},
                   {"-ZARN_SYNTH", "ZARN_MUSIC_DIR=" + music});
  ASSERT_EQ(r.status, 0) << r.err;
  // A stray file must never replace the song without a word.
  EXPECT_EQ(r.err, "aviso: suena la grabación " + path("music\\x1b[2J") +
                       "/D_.wav en lugar del sintetizador (ZARN_SYNTH=1 para sintetizar)\n");
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

// A pipe where the recording would be is passed over: the song is
// synthesized, and the tool does not wait for a writer that never comes.
TEST_F(ToolSources, PipeInPlaceOfARecordingIsPassedOver) {
  fs::create_directory(path("music"));
  ASSERT_EQ(mkfifo(path("music/D_.wav").c_str(), 0644), 0);
  const bytes song = fixture::mus_builder().note_on(0, 60, 127).delay(70).score_end().build();
  fixture::write_file(path("song.wad"), fixture::wad_builder().lump("D_SONG", song).build());
  const pid_t pid =
      process::start_tool({path("song.wad"), "D_SONG", path("out.wav"), "0.5"}, path("log"),
                          {"-ZARN_SYNTH", "ZARN_MUSIC_DIR=" + path("music")});
  ASSERT_GT(pid, 0);
  const process::ending e = process::wait_for(pid, 20);
  ASSERT_TRUE(e.ended) << "the tool waited on the pipe";
  EXPECT_TRUE(WIFEXITED(e.status) && WEXITSTATUS(e.status) == 0);
  const bytes log = fixture::read_file(path("log"));
  EXPECT_EQ(std::string(log.begin(), log.end()).find("grabación"), std::string::npos);
  const auto synthesized =
      fixture::run_tool({path("song.wad"), "D_SONG", path("synth.wav"), "0.5"});
  ASSERT_EQ(synthesized.status, 0) << synthesized.err;
  EXPECT_EQ(fixture::read_file(path("out.wav")), fixture::read_file(path("synth.wav")));
}

}  // namespace
