// unzip.h: one ZIP member decompressed by the external `unzip -p`, its
// output read through a pipe straight into memory. Private to the WAD module.
#ifndef TUNECAST_WAD_UNZIP_H
#define TUNECAST_WAD_UNZIP_H

#include <cstddef>
#include <cstdint>

enum class unzip_outcome {
  done,          // unzip exited 0 and gave at most the budget
  not_found,     // no unzip on PATH: nothing was forked
  not_started,   // found, but it could not be run (exit status 127 from the child)
  failed,        // unzip exited non-zero or was killed: see status
  timed_out,     // still running at the deadline: ended
  over_budget,   // gave more bytes than the member declares: ended
  no_memory,
};

struct unzip_result {
  unzip_outcome outcome = unzip_outcome::failed;
  int status = -1;           // wait status, as a shell call would report it
  uint8_t *bytes = nullptr;  // malloc'd output (outcome done only); the caller frees
  size_t size = 0;
};

// Runs `unzip -p archive member` with standard input and error on
// /dev/null, in a process group of its own that dies with this process.
// member is matched by unzip literally (wildcards escaped here). Reads at
// most budget bytes, and ends unzip (the whole group) once more arrive or
// timeout_s seconds have passed. unzip is always reaped before returning.
unzip_result unzip_member(const char *archive, const char *member, uint64_t budget,
                          double timeout_s);

#endif  // TUNECAST_WAD_UNZIP_H
