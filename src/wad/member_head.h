// member_head.h: what both ways of decompressing a ZIP member (zlib in
// process, unzip as a child) share: the look at its first bytes as soon as
// they come out, so that what cannot be a WAD is ended early, and the
// buffer that grows as the output arrives. Private to the WAD module.
#ifndef TUNECAST_WAD_MEMBER_HEAD_H
#define TUNECAST_WAD_MEMBER_HEAD_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace tunecast {

// The output's first member_head_bytes; false ends the decompression there.
// declared is the member's uncompressed size.
inline constexpr size_t member_head_bytes = 12;
using member_head_check = bool (*)(const uint8_t *head, uint64_t declared);

// Makes room in a malloc'd output buffer: 1 MiB first, then doubled, never
// past limit. Memory follows what the member really gives, not the size it
// declares. False (the buffer kept as it was) when memory runs out.
inline bool member_buffer_grow(uint8_t *&bytes, size_t &capacity, size_t limit) {
  constexpr size_t first_bytes = size_t{1} << 20;
  const size_t next = std::min(capacity == 0 ? first_bytes : capacity * 2, limit);
  auto *grown = static_cast<uint8_t *>(std::realloc(bytes, next));
  if (grown == nullptr) return false;
  bytes = grown;
  capacity = next;
  return true;
}

}  // namespace tunecast

#endif  // TUNECAST_WAD_MEMBER_HEAD_H
