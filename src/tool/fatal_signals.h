// fatal_signals.h: the signals whose default action ends the process and
// that a handler may catch. Whatever holds something to put back when the
// tool ends (a temporary file, the terminal's mode) catches every one of
// them, puts it back, then ends by the same signal. SIGKILL and SIGSTOP
// cannot be caught; SIGXFSZ is not here: the tool ignores it so that a
// file-size limit comes back as EFBIG from write, a failure with a reason.
#ifndef TUNECAST_TOOL_FATAL_SIGNALS_H
#define TUNECAST_TOOL_FATAL_SIGNALS_H

#include <csignal>

inline constexpr int fatal_signals[] = {
    SIGHUP,  SIGINT,    SIGQUIT, SIGILL,  SIGTRAP, SIGABRT,   SIGBUS,
    SIGFPE,  SIGUSR1,   SIGSEGV, SIGUSR2, SIGPIPE, SIGALRM,   SIGTERM,
    SIGXCPU, SIGVTALRM, SIGPROF, SIGIO,   SIGSYS,  SIGSTKFLT, SIGPWR,
};

#endif  // TUNECAST_TOOL_FATAL_SIGNALS_H
