// terminal.cpp: raw keys and caught signals for the live player.
#include "tool/terminal.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <iterator>

#include "tool/fatal_signals.h"

namespace {

// A fault cannot wait for the main loop: its handler returning would run
// the faulting instruction again, and abort() ends the process anyway.
constexpr int fault_signals[] = {SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGSEGV, SIGSYS};

// Every signal that ends the player, and the one that suspends it.
constexpr size_t caught_count = std::size(fatal_signals) + 1;
constexpr std::array<int, caught_count> caught_signals = [] {
  std::array<int, caught_count> all{};
  std::copy(std::begin(fatal_signals), std::end(fatal_signals), all.begin());
  all.back() = SIGTSTP;
  return all;
}();

// One pipe for the process: a handler may only reach static storage.
int pipe_ends[2] = {-1, -1};
std::array<struct sigaction, caught_signals.size()> previous{};

// The terminal in raw mode and the modes it had, for a fault's handler.
std::atomic<int> raw_fd{-1};
static_assert(std::atomic<int>::is_always_lock_free);
termios modes_before_raw{};

extern "C" void on_signal(int signo) {
  const int saved_errno = errno;
  const auto byte = static_cast<unsigned char>(signo);
  [[maybe_unused]] const ssize_t ignored = write(pipe_ends[1], &byte, 1);
  errno = saved_errno;
}

// Async-signal-safe only: the terminal back, then the default action, which
// the raised signal meets once the handler returns (it is blocked until then).
extern "C" void on_fault(int signo) {
  if (const int fd = raw_fd.load(); fd >= 0) tcsetattr(fd, TCSANOW, &modes_before_raw);
  signal(signo, SIG_DFL);
  raise(signo);
}

bool is_fault(int signo) {
  return std::find(std::begin(fault_signals), std::end(fault_signals), signo) !=
         std::end(fault_signals);
}

void catch_signal(int signo) {
  struct sigaction action {};
  action.sa_handler = is_fault(signo) ? on_fault : on_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(signo, &action, nullptr);
}

// A signal ignored when the player started (nohup, a background job of a
// script) stays ignored.
void install(int signo, size_t slot) {
  sigaction(signo, nullptr, &previous[slot]);
  if (previous[slot].sa_handler != SIG_IGN) catch_signal(signo);
}

}  // namespace

int key_decoder::feed(unsigned char byte) {
  constexpr unsigned char escape = 0x1b;
  switch (state_) {
    case state::plain:
      if (byte != escape) return byte;
      state_ = state::escape;
      return key_none;
    case state::escape:
      if (byte == '[' || byte == 'O') {
        state_ = byte == '[' ? state::csi : state::ss3;
        with_parameters_ = false;
        return key_none;
      }
      // A lone ESC: the byte after it is a key of its own.
      state_ = state::plain;
      return feed(byte);
    case state::csi:
      // Parameters and intermediates (0x20 to 0x3f) run until the final
      // byte; anything outside a sequence's alphabet ends it unread.
      if (byte >= 0x20 && byte <= 0x3f) {
        with_parameters_ = true;
        return key_none;
      }
      state_ = state::plain;
      if (byte < 0x40 || byte > 0x7e) return feed(byte);
      if (with_parameters_) return key_none;
      break;
    case state::ss3:
      state_ = state::plain;
      if (byte < 0x40 || byte > 0x7e) return feed(byte);
      break;
  }
  if (byte == 'C') return key_right;
  if (byte == 'D') return key_left;
  return key_none;
}

bool raw_keyboard::enter(int fd) {
  termios modes{};
  if (!isatty(fd) || tcgetattr(fd, &modes) != 0) return false;
  saved_ = modes;
  modes.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  modes.c_cc[VMIN] = 1;
  modes.c_cc[VTIME] = 0;
  modes_before_raw = saved_;
  raw_fd.store(fd);
  if (tcsetattr(fd, TCSAFLUSH, &modes) != 0) {
    raw_fd.store(-1);
    return false;
  }
  fd_ = fd;
  return true;
}

void raw_keyboard::leave() {
  if (fd_ < 0) return;
  tcsetattr(fd_, TCSAFLUSH, &saved_);
  raw_fd.store(-1);
  fd_ = -1;
}

signal_pipe::signal_pipe() {
  if (pipe2(pipe_ends, O_NONBLOCK | O_CLOEXEC) != 0) {
    pipe_ends[0] = pipe_ends[1] = -1;
    return;  // the player still runs; a signal then acts as it would anyway
  }
  for (size_t k = 0; k < caught_signals.size(); ++k) install(caught_signals[k], k);
}

signal_pipe::~signal_pipe() {
  if (pipe_ends[0] < 0) return;
  for (size_t k = 0; k < caught_signals.size(); ++k) {
    sigaction(caught_signals[k], &previous[k], nullptr);
  }
  close(pipe_ends[0]);
  close(pipe_ends[1]);
  pipe_ends[0] = pipe_ends[1] = -1;
}

int signal_pipe::fd() const { return pipe_ends[0]; }

int signal_pipe::take() {
  unsigned char byte = 0;
  if (pipe_ends[0] < 0 || read(pipe_ends[0], &byte, 1) != 1) return 0;
  return byte;
}

void signal_pipe::raise_default(int signo) {
  std::signal(signo, SIG_DFL);
  sigset_t just_this;
  sigemptyset(&just_this);
  sigaddset(&just_this, signo);
  sigprocmask(SIG_UNBLOCK, &just_this, nullptr);
  raise(signo);
  catch_signal(signo);  // only a stop comes back here, once continued
}
