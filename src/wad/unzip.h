// unzip.h: one ZIP member decompressed by the external `unzip -p`, its
// output read through a pipe straight into memory. Private to the WAD module.
#ifndef TUNECAST_WAD_UNZIP_H
#define TUNECAST_WAD_UNZIP_H

#include <cstddef>
#include <cstdint>

#include "wad/member_head.h"

namespace tunecast {

enum class unzip_outcome {
  done,         // unzip exited 0 and gave at most the budget
  not_found,    // no unzip on PATH: nothing was forked
  not_started,  // found, but it could not be run (exit status 127 from the child)
  no_copy,      // the member could not be copied out for unzip: see error
  failed,       // unzip exited non-zero or was killed: see status
  timed_out,    // still running at the deadline: ended
  over_budget,  // gave more bytes than the member declares: ended
  bad_head,     // its first bytes failed the caller's check: ended
  no_memory,
};

struct unzip_result {
  unzip_outcome outcome = unzip_outcome::failed;
  int status = -1;           // wait status, as a shell call would report it
  int error = 0;             // errno, for no_copy
  uint8_t *bytes = nullptr;  // malloc'd output (outcome done only); the caller frees
  size_t size = 0;
};

// The member to decompress: where its compressed bytes lie in the archive
// open on fd (the caller has checked that they all lie within it), and what
// its headers say of them. flags lose the bits that speak of the member's
// headers (a data descriptor, a UTF-8 name), not of its data.
struct unzip_source {
  int fd = -1;
  int64_t data_ofs = 0;
  uint64_t comp_size = 0;
  uint64_t uncomp_size = 0;  // also the budget: unzip may give no more
  uint32_t crc = 0;
  uint16_t method = 0;
  uint16_t flags = 0;
};

// Copies the member's compressed bytes into an archive of its own, in an
// anonymous memory file, and runs `unzip -p /proc/self/fd/3` on it: unzip
// never sees the user's archive, its path or the member's name, so no
// wildcard, encoding or file swapped meanwhile can change what it reads.
// unzip runs with standard input and error on /dev/null, in a process
// group of its own that dies with this process. Reads at most uncomp_size
// bytes, and ends unzip (the whole group) once more arrive, once check
// refuses the head, or once timeout_s seconds have passed. unzip is always
// reaped before returning.
unzip_result unzip_member(const unzip_source &member, double timeout_s, member_head_check check);

}  // namespace tunecast

#endif  // TUNECAST_WAD_UNZIP_H
