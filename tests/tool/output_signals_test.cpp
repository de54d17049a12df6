// Signals and limits while the tool writes, end to end: every fatal signal
// that can be caught removes the temporary file and ends the tool by that
// signal, and a file-size limit is a failure that says why, for a WAV, a
// FLAC and the workers of --todas alike.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include "fixtures.h"
#include "tool_process.h"

namespace {

using fixture::bytes;
namespace fs = std::filesystem;

const bytes secret = {'s', 'e', 'c', 'r', 'e', 't'};

// Lowers a soft limit of this process for a scope, so that the tool started
// meanwhile inherits it.
class lowered_limit {
 public:
  lowered_limit(int resource, rlim_t value) : resource_(resource) {
    getrlimit(resource_, &saved_);
    rlimit lowered = saved_;
    lowered.rlim_cur = value;
    setrlimit(resource_, &lowered);
  }
  ~lowered_limit() { setrlimit(resource_, &saved_); }
  lowered_limit(const lowered_limit &) = delete;
  lowered_limit &operator=(const lowered_limit &) = delete;

 private:
  int resource_;
  rlimit saved_{};
};

// Nine voices held: seconds of work for every minute rendered, and sound
// that no encoder squeezes into a few kilobytes.
bytes held_chord() {
  fixture::mus_builder m;
  for (int ch = 0; ch < 9; ++ch) m.note_on(ch, 48 + 3 * ch, 127);
  return m.delay(140 * 3600).score_end().build();
}

// A worker may outlast its parent by a moment: polls for the directory to
// hold no temporary file. Returns whether it came to that within timeout_s.
bool temporaries_gone(const std::string &dir, double timeout_s) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_s);
  while (process::temporaries_in(dir) > 0) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

class OutputSignals : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fixture::make_temp_dir("signals");
    fixture::wad_builder()
        .lump("D_TEXT", {'n', 'o', 't', ' ', 'm', 'u', 's', 'i', 'c'})
        .lump("D_CHORD", held_chord())
        .write(path("song.wad"));
    fixture::wad_builder()
        .lump("D_ONE", held_chord())
        .lump("D_TWO", held_chord())
        .write(path("held.wad"));
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }

  // One way of writing: its arguments, the files it would replace (each
  // holding the secret beforehand) and where its temporary files appear.
  struct job {
    std::string name;
    std::vector<std::string> args;
    std::vector<std::string> outputs;
    std::string dir;
  };
  // A WAV and a FLAC of lump for `seconds`, and a batch of held.wad for
  // batch_seconds each.
  std::vector<job> jobs(const std::string &lump, const std::string &seconds,
                        const std::string &batch_seconds) const {
    const std::string songs = path("songs");
    std::vector<job> all = {
        {"wav", {path("song.wad"), lump, path("out.wav"), seconds}, {path("out.wav")}, dir_},
        {"batch",
         {"--todas", songs, path("held.wad"), batch_seconds},
         {songs + "/D_ONE.wav", songs + "/D_TWO.wav"},
         songs},
    };
#ifdef TUNECAST_HAVE_SNDFILE
    all.push_back(
        {"flac", {path("song.wad"), lump, path("out.flac"), seconds}, {path("out.flac")}, dir_});
#endif
    fs::create_directory(songs);
    for (const job &j : all) {
      for (const std::string &out : j.outputs) fixture::write_file(out, secret);
    }
    return all;
  }
  std::string log() const {
    const bytes b = fixture::read_file(path("log"));
    return std::string(b.begin(), b.end());
  }
  std::string dir_;
};

TEST_F(OutputSignals, EveryCatchableFatalSignalRemovesTheTemporaryFile) {
  const lowered_limit no_core(RLIMIT_CORE, 0);  // SIGXCPU's default action dumps core
  for (const int sig : {SIGXCPU, SIGUSR1, SIGALRM, SIGPIPE}) {
    // Hours of silence, or of a chord for the batch: still being written
    // when the signal comes.
    for (const job &j : jobs("D_TEXT", "20000", "3000")) {
      SCOPED_TRACE(j.name + ", signal " + std::to_string(sig));
      const pid_t pid = process::start_tool(j.args, path("log"));
      ASSERT_GT(pid, 0);
      const bool writing = process::wait_for_temporaries(j.dir, 1, 30);
      kill(-pid, sig);  // the whole group: a batch's workers too
      const process::ending e = process::wait_for(pid, 10);
      const bool cleaned = temporaries_gone(j.dir, 5);
      kill(-pid, SIGKILL);  // whatever is left, so no worker outlives the test
      EXPECT_TRUE(writing);
      ASSERT_TRUE(e.ended);
      EXPECT_TRUE(WIFSIGNALED(e.status) && WTERMSIG(e.status) == sig) << log();
      EXPECT_TRUE(cleaned);
      for (const std::string &out : j.outputs) EXPECT_EQ(fixture::read_file(out), secret) << out;
    }
  }
}

TEST_F(OutputSignals, FileSizeLimitIsAFailureWithAReason) {
  // Ten seconds of the chord: 882 KB as WAV, far more than 16 KiB as FLAC.
  for (const job &j : jobs("D_CHORD", "10", "10")) {
    SCOPED_TRACE(j.name);
    fixture::run_result r;
    {
      const lowered_limit small_files(RLIMIT_FSIZE, 16 * 1024);
      r = fixture::run_tool(j.args);
    }
    EXPECT_EQ(r.status, 1) << "killed instead of failing";
    for (const std::string &out : j.outputs) {
      EXPECT_NE(r.err.find("no se puede escribir " + out + ": archivo demasiado grande\n"),
                std::string::npos)
          << r.err;
      EXPECT_EQ(fixture::read_file(out), secret) << out;
    }
    EXPECT_EQ(process::temporaries_in(j.dir), 0u);
  }
}

}  // namespace
