// vlq.h: variable-length numbers, 7 bits per byte, most significant first,
// bit 7 set on every byte but the last. MIDI writes its delta times and
// event lengths so, in at most four bytes; MUS writes its delays the same
// way, without that limit.
#ifndef TUNECAST_VLQ_H
#define TUNECAST_VLQ_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tunecast {

inline constexpr size_t vlq_max_bytes = 4;
inline constexpr uint32_t vlq_max = 0x0FFFFFFF;  // what four bytes of 7 bits hold

enum class vlq_status {
  ok,
  truncated,  // the bytes ended before a byte without bit 7
  too_long,   // four bytes with bit 7, so the number would pass vlq_max
};

struct vlq_read_result {
  vlq_status status;
  uint32_t value;  // when ok
  size_t length;   // bytes examined: the number's when ok, at most vlq_max_bytes
};

// The number at the start of the size bytes at p, read no further than size
// and no further than four bytes.
constexpr vlq_read_result vlq_read(const uint8_t *p, size_t size) {
  uint32_t value = 0;
  for (size_t i = 0; i < vlq_max_bytes; ++i) {
    if (i == size) return {vlq_status::truncated, 0, i};
    value = value << 7 | (p[i] & 0x7Fu);
    if ((p[i] & 0x80) == 0) return {vlq_status::ok, value, i + 1};
  }
  return {vlq_status::too_long, 0, vlq_max_bytes};
}

// Appends value in as many bytes as it needs. A MIDI writer keeps its values
// within vlq_max; a MUS delay may take more bytes.
inline void vlq_append(std::vector<uint8_t> &out, uint64_t value) {
  int shift = 0;
  while (shift < 63 && value >> (shift + 7) != 0) shift += 7;
  for (; shift > 0; shift -= 7) out.push_back(static_cast<uint8_t>(0x80 | (value >> shift & 0x7F)));
  out.push_back(static_cast<uint8_t>(value & 0x7F));
}

}  // namespace tunecast

#endif  // TUNECAST_VLQ_H
