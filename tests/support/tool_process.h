// tool_process.h: the built tool as a process the test can watch while it runs:
// started without waiting, stopped by a signal, waited for with a deadline
// and its resource use read, for tests of interruption, hangs and memory.
#ifndef TUNECAST_TOOL_PROCESS_H
#define TUNECAST_TOOL_PROCESS_H

#include <sys/resource.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace process {

// Starts the built tool with args in a process group of its own, the
// synthesizer forced (ZARN_SYNTH=1) and no locale variable set unless env
// says otherwise ("NAME=value" sets, "-NAME" removes), standard input from /dev/null, standard output
// and error into log_path. SIGINT, SIGTERM and SIGHUP start at their
// default action whatever the test inherited. Returns the pid, or -1.
pid_t start_tool(const std::vector<std::string> &args, const std::string &log_path,
                 const std::vector<std::string> &env = {});

// As start_tool, with standard output on out_fd (-1: into the log) and the
// signals in ignored ignored from the start, as a shell's `trap '' TERM`
// leaves them.
pid_t start_tool_onto(const std::vector<std::string> &args, const std::string &log_path, int out_fd,
                      const std::vector<int> &ignored = {});

// As start_tool, with standard output and standard error each opened on its
// own path (created or emptied), or closed where the path is empty: the
// tool as started by `>&-` or `2>&-`, or with `> /dev/full`.
pid_t start_tool_streams(const std::vector<std::string> &args, const std::string &out_path,
                         const std::string &err_path, const std::vector<std::string> &env = {});

struct ending {
  bool ended = false;  // false: the deadline passed and the group was killed
  int status = 0;      // as waitpid reports it
  rusage usage{};
};
// Waits up to timeout_s for pid to end. Past the deadline, kills its whole
// process group (so no worker outlives a failed test) and reaps it.
ending wait_for(pid_t pid, double timeout_s);

// Polls every millisecond, up to timeout_s, until dir holds at least count
// entries whose names start with ".tunecast-". Returns whether it did.
bool wait_for_temporaries(const std::string &dir, size_t count, double timeout_s);
size_t temporaries_in(const std::string &dir);

}  // namespace process

#endif  // TUNECAST_TOOL_PROCESS_H
