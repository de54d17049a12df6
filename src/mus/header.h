// header.h: the eight bytes that open a MUS score: the signature, the score
// length and the score start. Every reader of a score (registration, the
// length measurement, the lump check) decodes them here, so they agree on
// what a score is and on where its bytes end.
#ifndef TUNECAST_MUS_HEADER_H
#define TUNECAST_MUS_HEADER_H

#include <cstddef>
#include <cstdint>

#include "common/byte_order.h"

namespace tunecast {

struct mus_header {
  uint16_t score_length;  // bytes of the event stream
  uint16_t score_start;   // offset of the event stream from the signature
};

inline constexpr size_t mus_header_bytes = 8;
inline constexpr uint8_t mus_signature[4] = {'M', 'U', 'S', 0x1A};
// The most a header can declare: both 16-bit fields at their maximum.
inline constexpr size_t mus_declared_max_bytes = 65535 + 65535;

// True when data starts with the MUS signature (size bytes, read no further).
inline bool mus_has_signature(const uint8_t *data, size_t size) {
  if (data == nullptr || size < sizeof mus_signature) return false;
  for (size_t i = 0; i < sizeof mus_signature; ++i) {
    if (data[i] != mus_signature[i]) return false;
  }
  return true;
}

// Decodes the header of the size bytes at data into out. True when they
// start with the signature, hold the whole header, and hold score start +
// score length bytes (the end of the stream the header declares); out is
// filled whenever the header itself is present, so a caller can tell a
// score cut short from one that is not a score.
inline bool mus_header_read(const uint8_t *data, size_t size, mus_header &out) {
  if (!mus_has_signature(data, size) || size < mus_header_bytes) return false;
  out.score_length = get_u16le(data + 4);
  out.score_start = get_u16le(data + 6);
  // At most 131070: no overflow.
  return size_t{out.score_start} + out.score_length <= size;
}

// The bytes the header declares the score to take: score start + length.
inline size_t mus_declared_bytes(const mus_header &h) {
  return size_t{h.score_start} + h.score_length;
}

}  // namespace tunecast

#endif  // TUNECAST_MUS_HEADER_H
