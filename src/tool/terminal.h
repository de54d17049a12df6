// terminal.h: what the live player needs from a terminal and from signals:
// keys read without Enter (the arrows among them) and the terminal put back
// as it was on every way out, and the signals that end or suspend the player turned into bytes on
// a pipe, so that the main loop handles them in its own time.
#ifndef TUNECAST_TOOL_TERMINAL_H
#define TUNECAST_TOOL_TERMINAL_H

#include <termios.h>

// Raw keys on a terminal: no line buffering, no echo. Signal keys (Ctrl-C,
// Ctrl-Z) still raise their signals. The saved modes come back on leave()
// or destruction.
class raw_keyboard {
 public:
  raw_keyboard() = default;
  raw_keyboard(const raw_keyboard &) = delete;
  raw_keyboard &operator=(const raw_keyboard &) = delete;
  ~raw_keyboard() { leave(); }
  // False when fd is not a terminal or its modes cannot be set.
  bool enter(int fd);
  void leave();

 private:
  int fd_ = -1;
  termios saved_{};
};

// The keys in the bytes a terminal sends: a plain key is its byte; an
// arrow comes as ESC [ C/D, or ESC O C/D in the terminal's application
// mode. Every other sequence is swallowed whole, so that its bytes do not
// act as keys; an ESC followed by anything else is dropped.
class key_decoder {
 public:
  static constexpr int key_none = -1;  // no key yet, or one the player does not use
  static constexpr int key_left = 0x100;
  static constexpr int key_right = 0x101;
  // The key that byte completes: a plain key's byte, key_left, key_right or
  // key_none.
  int feed(unsigned char byte);

 private:
  enum class state { plain, escape, csi, ss3 };
  state state_ = state::plain;
  bool with_parameters_ = false;  // ESC [ 1 ; 5 C is not a plain arrow
};

// Every signal that would end the process (fatal_signals.h) and SIGTSTP,
// caught while it lives: each arrival writes its number to a pipe, except a
// fault (SIGSEGV, SIGABRT, ...), whose handler puts a raw_keyboard's
// terminal back at once and ends the process by it. The handlers in place
// before come back on destruction.
class signal_pipe {
 public:
  signal_pipe();
  signal_pipe(const signal_pipe &) = delete;
  signal_pipe &operator=(const signal_pipe &) = delete;
  ~signal_pipe();
  int fd() const;
  // The next signal that arrived, or 0 when none is waiting.
  int take();
  // Ends the process by signo as its default action would, once the caller
  // has put everything back; for SIGTSTP, stops it and returns on SIGCONT
  // with the handler in place again.
  void raise_default(int signo);
};

#endif  // TUNECAST_TOOL_TERMINAL_H
