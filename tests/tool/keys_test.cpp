// --tocar on a terminal: the tool runs on a pseudo-terminal and the test
// types at it. Pause holds the song where it was (the device gets silence
// and the song goes on from the same frame), n moves to the next song, the
// arrows seek, q quits with status 0, and the terminal's modes come back
// after q and after any signal that ends the tool. Also, in process, the
// keys read out of a terminal's escape sequences.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "demo_song.h"
#include "fixtures.h"
#include "tool/terminal.h"

namespace {

TEST(KeyDecoder, ArrowsInBothFormsAndNothingFromOtherSequences) {
  constexpr int left = key_decoder::key_left;
  constexpr int right = key_decoder::key_right;
  struct typed {
    std::string bytes;
    std::vector<int> keys;
  };
  const typed cases[] = {
      {"\x1b[C\x1b[D", {right, left}},
      {"\x1bOC\x1bOD", {right, left}},  // the application mode's arrows
      {"n\x1b[Cq", {'n', right, 'q'}},
      {"\x1b[1;5C\x1b[2~\x1b[200~ ", {' '}},  // ctrl-arrow, insert, a paste's start
      {"\x1bOP\x1bOA+", {'+'}},               // F1, the up arrow
      {"\x1bq", {'q'}},                       // a lone ESC, then a key
      {"\x1b\x1b[D", {left}},
      {"\x1b[\x03l", {3, 'l'}},  // a sequence cut short
  };
  for (const typed &c : cases) {
    SCOPED_TRACE(c.bytes.substr(1));
    key_decoder decoder;
    std::vector<int> keys;
    for (const char byte : c.bytes) {
      const int key = decoder.feed(static_cast<unsigned char>(byte));
      if (key != key_decoder::key_none) keys.push_back(key);
    }
    EXPECT_EQ(keys, c.keys);
  }
}

}  // namespace

#ifdef TUNECAST_HAVE_SDL

namespace {

using fixture::bytes;
using clock_type = std::chrono::steady_clock;

// bars / 2 seconds of a tune unlike the demo song.
bytes tune(int bars) {
  fixture::mus_builder m;
  m.instrument(3, 24).instrument(4, 42);
  for (int bar = 0; bar < bars; ++bar) {
    const int root = 50 + (bar * 5) % 12;
    m.note_on(3, root, 110).note_on(4, root - 12, 90).delay(35);
    m.note_off(3, root).note_on(3, root + 7, 100).delay(35);
    m.note_off(3, root + 7).note_off(4, root - 12);
  }
  return m.delay(10).score_end().build();
}

// One status line as drawn: the song, "(i/n)", the position m:ss.d, ...
struct status_line {
  std::string text;
  int tenths = -1;  // the position in tenths of a second; -1 unread
};

status_line parse_status(const std::string &text) {
  status_line s{text};
  const size_t slash = text.find(" / ");
  if (slash == std::string::npos) return s;
  const size_t start = text.rfind(' ', slash - 1);
  int minutes = 0, seconds = 0, tenth = 0;
  if (std::sscanf(text.c_str() + start + 1, "%d:%d.%d", &minutes, &seconds, &tenth) == 3) {
    s.tenths = (minutes * 60 + seconds) * 10 + tenth;
  }
  return s;
}

// The tool on a pseudo-terminal; the test keeps the terminal's own end to
// read its modes after the tool has gone.
class terminal_run {
 public:
  terminal_run(const std::vector<std::string> &args, const std::string &device_file) {
    winsize size{24, 100, 0, 0};
    if (openpty(&master_, &terminal_, nullptr, nullptr, &size) != 0) return;
    tcgetattr(terminal_, &modes_before_);
    pid_ = fork();
    if (pid_ == 0) {
      const rlimit no_core{0, 0};  // SIGQUIT and SIGSEGV would leave one
      setrlimit(RLIMIT_CORE, &no_core);
      // Every signal as a shell would start it, whatever the suite inherited.
      for (int sig = 1; sig < NSIG; ++sig) signal(sig, SIG_DFL);
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      setsid();
      ioctl(terminal_, TIOCSCTTY, 0);
      dup2(terminal_, 0);
      dup2(terminal_, 1);
      dup2(terminal_, 2);
      close(master_);
      close(terminal_);
      setenv("ZARN_SYNTH", "1", 1);
      setenv("SDL_AUDIODRIVER", "disk", 1);
      setenv("SDL_DISKAUDIOFILE", device_file.c_str(), 1);
      // About six times as fast as the sound would play: keys land mid-song.
      setenv("SDL_DISKAUDIODELAY", "4", 1);
      std::vector<char *> argv;
      const std::string tool = fixture::tool_path();
      argv.push_back(const_cast<char *>(tool.c_str()));
      for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~terminal_run() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
    if (terminal_ >= 0) close(terminal_);
  }
  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  void type(char key) { ASSERT_EQ(write(master_, &key, 1), 1); }
  void type(const std::string &keys) {
    ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }

  // Reads what the tool drew until `done` holds for the last status line,
  // up to 10 s. Returns the status lines drawn meanwhile.
  std::vector<status_line> read_until(const std::function<bool(const status_line &)> &done) {
    std::vector<status_line> seen;
    const auto deadline = clock_type::now() + std::chrono::seconds(10);
    while (clock_type::now() < deadline) {
      read_some(50);
      const std::vector<status_line> lines = take_lines();
      seen.insert(seen.end(), lines.begin(), lines.end());
      if (!lines.empty() && done(lines.back())) break;
    }
    return seen;
  }
  std::vector<status_line> read_for(int ms) {
    const auto until = clock_type::now() + std::chrono::milliseconds(ms);
    std::vector<status_line> seen;
    while (clock_type::now() < until) {
      read_some(20);
      const std::vector<status_line> lines = take_lines();
      seen.insert(seen.end(), lines.begin(), lines.end());
    }
    return seen;
  }

  // The exit as waitpid reports it, waiting up to 10 s; -1 if it did not end.
  int wait_exit() {
    for (int k = 0; k < 1000; ++k) {
      read_some(0);
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        return status;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }

  // The terminal's modes now, compared with those it had before the tool.
  ::testing::AssertionResult modes_restored() const {
    termios now{};
    tcgetattr(terminal_, &now);
    const termios &was = modes_before_;
    if (now.c_lflag != was.c_lflag || now.c_iflag != was.c_iflag || now.c_oflag != was.c_oflag ||
        now.c_cc[VMIN] != was.c_cc[VMIN] || now.c_cc[VTIME] != was.c_cc[VTIME]) {
      return ::testing::AssertionFailure() << "lflag " << now.c_lflag << " was " << was.c_lflag;
    }
    if ((now.c_lflag & (ICANON | ECHO)) != (ICANON | ECHO)) {
      return ::testing::AssertionFailure() << "not back to lines with echo";
    }
    return ::testing::AssertionSuccess();
  }
  const std::string &all_output() const { return output_; }

 private:
  int master_ = -1;
  int terminal_ = -1;
  pid_t pid_ = -1;
  bool reaped_ = false;
  termios modes_before_{};
  std::string output_;
  size_t parsed_ = 0;

  void read_some(int timeout_ms) {
    pollfd p{master_, POLLIN, 0};
    while (poll(&p, 1, timeout_ms) > 0 && (p.revents & POLLIN) != 0) {
      char buffer[4096];
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) return;
      output_.append(buffer, static_cast<size_t>(n));
      timeout_ms = 0;
    }
  }
  // Status lines complete since the last call: each is drawn as "\r" text
  // "\x1b[K".
  std::vector<status_line> take_lines() {
    std::vector<status_line> lines;
    for (;;) {
      const size_t start = output_.find('\r', parsed_);
      if (start == std::string::npos) break;
      const size_t end = output_.find("\x1b[K", start);
      if (end == std::string::npos) break;
      const std::string text = output_.substr(start + 1, end - start - 1);
      if (!text.empty()) lines.push_back(parse_status(text));
      parsed_ = end + 3;
    }
    return lines;
  }
};

class Keys : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fixture::make_temp_dir("keys");
    fixture::wad_builder()
        .lump("D_DEMO", demo::song_mus())
        .lump("D_LONG2", tune(40))
        .lump("D_THIRD", demo::song_mus())
        .lump("D_SHORT", tune(12))
        .write(path("keys.wad"));
  }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }
  std::vector<int16_t> wav(const std::string &lump, const std::string &passes = "1") {
    const fixture::run_result r =
        fixture::run_tool({"-q", "-v", passes, path("keys.wad"), lump, path(lump + ".wav")});
    EXPECT_EQ(r.status, 0) << r.err;
    return fixture::pcm16_samples(fixture::read_file(path(lump + ".wav")), 44);
  }
  std::vector<int16_t> device() const {
    return fixture::pcm16_samples(fixture::read_file(path("device.raw")), 0);
  }
  std::string dir_;
};

// Ended by itself or by q: status 0 and the terminal as it was.
void expect_clean_exit(terminal_run &t) {
  const int status = t.wait_exit();
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(t.modes_restored());
}

bool starts_with(const std::string &s, const std::string &prefix) {
  return s.rfind(prefix, 0) == 0;
}

TEST_F(Keys, PauseHoldsTheSongNextMovesOnQuitEndsCleanly) {
  terminal_run t({"-p", path("keys.wad")}, path("device.raw"));
  ASSERT_TRUE(t.started());
  t.read_until([](const status_line &s) { return s.tenths >= 10; });

  t.type(' ');
  const std::vector<status_line> pausing = t.read_until(
      [](const status_line &s) { return s.text.find("en pausa") != std::string::npos; });
  ASSERT_FALSE(pausing.empty()) << t.all_output();
  const int held = pausing.back().tenths;
  const std::vector<status_line> while_paused = t.read_for(400);
  ASSERT_FALSE(while_paused.empty());
  for (const status_line &s : while_paused) {
    EXPECT_EQ(s.tenths, held) << s.text;
    EXPECT_NE(s.text.find("en pausa"), std::string::npos) << s.text;
  }

  t.type(' ');
  t.read_until([&](const status_line &s) {
    return s.text.find("en pausa") == std::string::npos && s.tenths >= held + 10;
  });
  t.type('n');
  const std::vector<status_line> next = t.read_until(
      [](const status_line &s) { return starts_with(s.text, "D_LONG2 (2/4)") && s.tenths >= 5; });
  ASSERT_FALSE(next.empty());
  ASSERT_TRUE(starts_with(next.back().text, "D_LONG2 (2/4)")) << t.all_output();

  t.type('q');
  expect_clean_exit(t);

  // What the device got: the first song up to the pause, silence, the first
  // song again from the very frame where it stopped, then the second song
  // from its start.
  const std::vector<int16_t> got = device();
  const std::vector<int16_t> first = wav("D_DEMO");
  const std::vector<int16_t> second = wav("D_LONG2");
  const auto mismatch = [&](size_t at, const std::vector<int16_t> &song, size_t from) {
    while (at < got.size() && from < song.size() && got[at] == song[from]) ++at, ++from;
    return at;
  };
  // SDL2 may write a silent buffer before the device is set going.
  const size_t start = fixture::first_sounding(got, 0) - fixture::first_sounding(first, 0);
  const size_t paused_at = mismatch(start, first, 0);
  ASSERT_GT(paused_at - start, 44100u);
  const size_t resumed_at = fixture::first_sounding(got, paused_at);
  EXPECT_GT(resumed_at - paused_at, 20u * 1024u) << "the pause left no silence";
  const size_t cut_at = mismatch(resumed_at, first, paused_at - start);
  // n came once the clock showed a second more than when it held, whole
  // tenths both: at least 0.9 s of the song after the pause.
  EXPECT_GE(cut_at - resumed_at, 9u * 4410u) << "the song did not go on from where it held";
  const size_t lands = fixture::first_sounding(got, cut_at);
  const size_t lead = fixture::first_sounding(second, 0);
  ASSERT_GE(lands, lead);
  EXPECT_GE(mismatch(lands - lead, second, 0) - (lands - lead), 22050u)
      << "the second song did not start from its first frame";
}

// l during the first pass and again during the second: the song plays as
// two passes would, then ends by itself.
TEST_F(Keys, LoopOnAndOffPlaysOneMorePass) {
  terminal_run t({"-p", path("keys.wad"), "D_SHORT"}, path("device.raw"));
  ASSERT_TRUE(t.started());
  t.read_until([](const status_line &s) { return s.tenths >= 5; });
  t.type('l');
  const std::vector<status_line> looping = t.read_until([](const status_line &s) {
    return s.tenths >= 65 && s.text.find("bucle") != std::string::npos;  // the pass is 6 s
  });
  ASSERT_FALSE(looping.empty());
  ASSERT_GE(looping.back().tenths, 65) << t.all_output();
  t.type('l');
  expect_clean_exit(t);
  const std::vector<int16_t> got = device();
  const std::vector<int16_t> twice = wav("D_SHORT", "2");
  const size_t start = fixture::first_sounding(got, 0) - fixture::first_sounding(twice, 0);
  ASSERT_GE(got.size(), start + twice.size());
  EXPECT_TRUE(std::equal(twice.begin(), twice.end(), got.begin() + static_cast<ptrdiff_t>(start)));
}

// The total shown is what will play: the passes and the fade, or the
// duration. D_SHORT is 850 ticks at 140 a second: 267750 frames.
TEST_F(Keys, TheTotalShownIsWhatWillPlay) {
  struct form {
    std::vector<std::string> options;
    std::string total;
  };
  const form forms[] = {
      {{}, " / 0:06.0 "},
      {{"-v", "2", "-f", "3"}, " / 0:15.1 "},  // 535500 + 132300 frames
      {{"7.5"}, " / 0:07.5 "},
  };
  for (const form &f : forms) {
    SCOPED_TRACE(f.total);
    std::vector<std::string> args = {"-p", path("keys.wad"), "D_SHORT"};
    args.insert(args.end(), f.options.begin(), f.options.end());
    terminal_run t(args, path("device.raw"));
    ASSERT_TRUE(t.started());
    const std::vector<status_line> lines =
        t.read_until([](const status_line &s) { return s.tenths >= 0; });
    ASSERT_FALSE(lines.empty()) << t.all_output();
    EXPECT_NE(lines.back().text.find(f.total), std::string::npos) << lines.back().text;
    t.type('q');
    expect_clean_exit(t);
  }
}

// Right (CSI form) 5 s on, then left twice (application mode) 10 s back,
// past the start: the clock jumps, and the device goes on from the render's
// frame each time, the second time from the very start.
TEST_F(Keys, TheArrowsSeekFiveSecondsToTheRendersFrame) {
  terminal_run t({"-p", path("keys.wad"), "D_DEMO"}, path("device.raw"));
  ASSERT_TRUE(t.started());
  std::vector<status_line> lines =
      t.read_until([](const status_line &s) { return s.tenths >= 10; });
  t.type("\x1b[C");
  const std::vector<status_line> after =
      t.read_until([](const status_line &s) { return s.tenths >= 70; });
  lines.insert(lines.end(), after.begin(), after.end());
  // Played, the clock moves about half a second between two lines.
  const auto jump = std::adjacent_find(lines.begin(), lines.end(), [](auto &a, auto &b) {
    return a.tenths >= 0 && b.tenths >= a.tenths + 45;
  });
  ASSERT_TRUE(jump != lines.end()) << t.all_output();
  t.type("\x1bOD\x1bOD");
  const std::vector<status_line> back =
      t.read_until([](const status_line &s) { return s.tenths >= 0 && s.tenths < 30; });
  ASSERT_FALSE(back.empty());
  ASSERT_LT(back.back().tenths, 30) << t.all_output();
  t.read_until([](const status_line &s) { return s.tenths >= 10; });
  t.type('q');
  expect_clean_exit(t);

  const std::vector<int16_t> got = device();
  const std::vector<int16_t> song = wav("D_DEMO");
  const auto mismatch = [&](size_t at, size_t from) {
    while (at < got.size() && from < song.size() && got[at] == song[from]) ++at, ++from;
    return at;
  };
  const size_t start = fixture::first_sounding(got, 0) - fixture::first_sounding(song, 0);
  const size_t cut = mismatch(start, 0);
  ASSERT_GT(cut - start, 44100u);
  // The key came a little before the cut: the target is 5 s past where the
  // song was then, up to a second before the cut.
  constexpr size_t seek_frames = 5 * 44100, window = 22050;
  const size_t latest = cut - start + seek_frames;
  size_t target = 0;
  for (size_t t0 = latest - 44100; t0 <= latest && target == 0; ++t0) {
    if (std::equal(song.begin() + static_cast<ptrdiff_t>(t0),
                   song.begin() + static_cast<ptrdiff_t>(t0 + window),
                   got.begin() + static_cast<ptrdiff_t>(cut))) {
      target = t0;
    }
  }
  ASSERT_NE(target, 0u) << "the forward seek did not land on a frame of the render";
  const size_t second_cut = mismatch(cut, target);
  ASSERT_GT(second_cut - cut, 44100u / 2);
  ASSERT_GE(got.size() - second_cut, 44100u);
  EXPECT_TRUE(std::equal(song.begin(), song.begin() + 44100,
                         got.begin() + static_cast<ptrdiff_t>(second_cut)))
      << "back past the start did not play on from the first frame";
}

// Whatever signal ends the player, the terminal is put back first, and the
// tool then ends by that very signal.
TEST_F(Keys, EveryFatalSignalPutsTheTerminalBack) {
  for (const int sig : {SIGTERM, SIGQUIT, SIGUSR1, SIGALRM, SIGPIPE, SIGSEGV}) {
    SCOPED_TRACE(strsignal(sig));
    terminal_run t({"-p", path("keys.wad"), "D_DEMO"}, path("device.raw"));
    ASSERT_TRUE(t.started());
    t.read_until([](const status_line &s) { return s.tenths >= 5; });
    kill(t.pid(), sig);
    const int status = t.wait_exit();
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), sig);
    EXPECT_TRUE(t.modes_restored());
  }
}

}  // namespace

#endif  // TUNECAST_HAVE_SDL
