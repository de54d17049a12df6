// The tool's standard streams end to end: a closed one never receives a
// file the tool opens, a standard output that cannot be written is a
// failure with its reason, the closing line obeys --silencio whatever the
// format, and a song the synthesizer cannot take leaves no file.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fixtures.h"
#include "tool_process.h"

namespace {

using fixture::bytes;
namespace fs = std::filesystem;

constexpr size_t frames_in_10_ms = 441;
#if defined(__SANITIZE_ADDRESS__)
constexpr bool under_address_sanitizer = true;
#else
constexpr bool under_address_sanitizer = false;
#endif

bytes short_song() {
  return fixture::mus_builder().note_on(0, 60, 100).delay(70).note_off(0, 60).score_end().build();
}

// A song of about 4 KB, so that the synthesizer's copy of it (its bytes and
// eight spare) is an allocation of a size nothing else in the tool asks for.
bytes long_score() {
  fixture::mus_builder m;
  for (int k = 0; k < 1000; ++k) m.note_on(0, 40 + k % 40, 100).delay(1).note_off(0, 40 + k % 40);
  return m.delay(1).score_end().build();
}

class Streams : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fixture::make_temp_dir("streams");
    fixture::wad_builder().lump("D_SONG", short_song()).write(path("song.wad"));
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }

  // Runs the tool with standard output and error on these paths ("" closed).
  // Returns the exit status (-1 when it did not exit); err receives what
  // reached standard error.
  int run(const std::vector<std::string> &args, const std::string &out, bool err_open,
          std::string &err, const std::vector<std::string> &env = {}) {
    const std::string err_path = err_open ? path("err.txt") : "";
    const pid_t pid = process::start_tool_streams(args, out, err_path, env);
    if (pid < 0) return -1;
    const process::ending e = process::wait_for(pid, 60);
    const bytes text = err_open ? fixture::read_file(err_path) : bytes{};
    err.assign(text.begin(), text.end());
    return e.ended && WIFEXITED(e.status) ? WEXITSTATUS(e.status) : -1;
  }

  std::string dir_;
};

std::string last_line(const std::string &text) {
  const size_t start = text.size() < 2 ? std::string::npos : text.rfind('\n', text.size() - 2);
  return start == std::string::npos ? text : text.substr(start + 1);
}

// A recording in the music directory makes the tool warn on standard
// error. With that descriptor closed, the output file must not take its
// number and receive the warning.
TEST_F(Streams, AClosedStreamNeverReceivesTheOutput) {
  fs::create_directory(path("music"));
  fixture::write_file(path("music/D_.wav"), fixture::wav_pcm16(1, 44100, {100, 200, 300}));
  const std::vector<std::string> recording = {"-ZARN_SYNTH", "ZARN_MUSIC_DIR=" + path("music")};
  struct form {
    const char *what;
    std::vector<std::string> args;
    bool out_open;
    std::string file;  // the WAV written
  };
  const form forms[] = {
      {"batch, 2>&-", {"-a", path("all"), path("song.wad"), "0.01"}, true, path("all/D_SONG.wav")},
      {"one song, >&- 2>&-",
       {"-q", path("song.wad"), "D_SONG", path("one.wav"), "0.01"},
       false,
       path("one.wav")},
  };
  for (const form &f : forms) {
    SCOPED_TRACE(f.what);
    std::string err;
    EXPECT_EQ(run(f.args, f.out_open ? path("out.txt") : "", false, err, recording), 0);
    EXPECT_EQ(fixture::read_file(f.file).size(), 44 + 2 * frames_in_10_ms);
  }
}

// Whatever goes to standard output, a write or the final flush that fails
// makes the exit status 1 with the reason on standard error. A file render
// whose closing line cannot be printed keeps its complete file.
TEST_F(Streams, AStandardOutputThatCannotBeWrittenIsAFailure) {
  const std::string wad = path("song.wad");
  const std::string full = "/dev/full";
  const std::string no_space = "no queda espacio en el dispositivo\n";
  struct form {
    std::vector<std::string> args;
    std::string out;  // "" closed
    std::string line;
  };
  const std::string stdout_line = "no se puede escribir en la salida estándar: ";
  const form forms[] = {
      {{"-l", wad, "--json"}, full, stdout_line + no_space},
      {{"-l", wad}, "", stdout_line + "descriptor de archivo no válido\n"},
      {{"--ayuda"}, full, stdout_line + no_space},
      {{wad, "D_SONG", path("song.wav"), "0.01"}, full, stdout_line + no_space},
      {{wad, "D_SONG", path("song.wav"), "0.01"},
       "",
       stdout_line + "descriptor de archivo no válido\n"},
      {{wad, "D_SONG", "-", "0.01"}, full, "no se puede escribir -: " + no_space},
      {{"--formato", "mid", wad, "D_SONG", "-"}, full, "no se puede escribir -: " + no_space},
  };
  for (const form &f : forms) {
    std::string command;
    for (const std::string &a : f.args) command += a + " ";
    SCOPED_TRACE(command + "> " + (f.out.empty() ? "&-" : f.out));
    fs::remove(path("song.wav"));
    std::string err;
    EXPECT_EQ(run(f.args, f.out, true, err), 1);
    EXPECT_EQ(last_line(err), f.line) << err;
    if (f.args.size() > 2 && f.args[2] == path("song.wav")) {
      EXPECT_EQ(fixture::read_file(path("song.wav")).size(), 44 + 2 * frames_in_10_ms);
    }
  }
}

TEST_F(Streams, QuietRendersPrintNothingWhateverTheFormat) {
  for (const char *name : {"song.wav", "song.mid"}) {
    SCOPED_TRACE(name);
    const auto r = fixture::run_tool({"-q", path("song.wad"), "D_SONG", path(name)});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(fixture::file_exists(path(name)));
  }
}

// Memory runs out for the synthesizer's copy of the score: the render fails
// with the reason, and neither a file nor a WAV header on standard output
// is left behind.
TEST_F(Streams, ASongTheSynthesizerCannotTakeLeavesNoOutput) {
  if (under_address_sanitizer) GTEST_SKIP() << "its allocator cannot be preloaded over";
  const bytes score = long_score();
  fixture::wad_builder().lump("D_LONG", score).write(path("long.wad"));
  const std::vector<std::string> failing = {"LD_PRELOAD=" FAIL_MALLOC_PATH,
                                            "FAIL_MALLOC_SIZE=" + std::to_string(score.size() + 8)};
  for (const std::string &out : {path("long.wav"), std::string("-")}) {
    SCOPED_TRACE(out);
    std::string err;
    EXPECT_EQ(
        run({"-q", path("long.wad"), "D_LONG", out, "1"}, path("out.txt"), true, err, failing), 1);
    EXPECT_EQ(err, "lump D_LONG: sin memoria para registrarlo\n");
    EXPECT_TRUE(fixture::read_file(path("out.txt")).empty());
    EXPECT_FALSE(fixture::file_exists(path("long.wav")));
    EXPECT_EQ(process::temporaries_in(dir_), 0u);
  }
}

}  // namespace
