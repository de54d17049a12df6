// inflate.h: a deflated ZIP member inflated in this process with zlib,
// straight from the archive into memory, under the same bounds as unzip's
// output. Private to the WAD module.
#ifndef TUNECAST_WAD_INFLATE_H
#define TUNECAST_WAD_INFLATE_H

#include <cstddef>
#include <cstdint>

#include "wad/member_head.h"

namespace tunecast {

enum class inflate_outcome {
  done,         // the stream ended exactly at the end of the compressed bytes
  over_budget,  // gave more bytes than the member declares: stopped there
  bad_head,     // its first bytes failed the caller's check: stopped there
  corrupt,      // not a valid deflate stream
  truncated,    // the compressed bytes ended before the stream did
  trailing,     // the stream ended before the compressed bytes did: see extra
  unreadable,   // the archive could not be read that far (it shrank meanwhile)
  no_memory,
};

struct inflate_result {
  inflate_outcome outcome = inflate_outcome::corrupt;
  uint8_t *bytes = nullptr;  // malloc'd output (outcome done only); the caller frees
  size_t size = 0;           // with done, possibly short of the budget: the caller checks
  uint32_t crc = 0;          // CRC-32 of the output, with done
  uint64_t extra = 0;        // with trailing: the compressed bytes left after the stream
};

// Inflates the raw deflate stream of comp_size bytes at data_ofs in the
// archive open on fd (the caller has checked that they lie within it).
// budget is the member's declared size (at most INT32_MAX, as the caller
// checks): the output may not pass it, and its buffer grows as bytes come
// out, never to the budget up front, so a member that only declares much
// costs little. check sees the first member_head_bytes as soon as they come
// out. Time is bounded by the input and the budget: no deadline is needed.
inflate_result inflate_member(int fd, int64_t data_ofs, uint64_t comp_size, uint64_t budget,
                              member_head_check check);

}  // namespace tunecast

#endif  // TUNECAST_WAD_INFLATE_H
