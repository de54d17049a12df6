// member_head.h: the look at a ZIP member's first bytes that both ways of
// decompressing it (zlib here, unzip as a child) take as soon as they come
// out, so that what cannot be a WAD is ended early. Private to the WAD module.
#ifndef TUNECAST_WAD_MEMBER_HEAD_H
#define TUNECAST_WAD_MEMBER_HEAD_H

#include <cstddef>
#include <cstdint>

namespace tunecast {

// The output's first member_head_bytes; false ends the decompression there.
// declared is the member's uncompressed size.
inline constexpr size_t member_head_bytes = 12;
using member_head_check = bool (*)(const uint8_t *head, uint64_t declared);

}  // namespace tunecast

#endif  // TUNECAST_WAD_MEMBER_HEAD_H
