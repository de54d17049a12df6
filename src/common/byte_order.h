// byte_order.h: integers as bytes in a fixed order, whatever the host's.
// WAD, ZIP, WAV and MUS store them least significant byte first; MIDI
// stores them most significant first. Every reader and writer of those
// formats goes through these, so each field is decoded one way only.
#ifndef TUNECAST_BYTE_ORDER_H
#define TUNECAST_BYTE_ORDER_H

#include <cstdint>
#include <vector>

namespace tunecast {

// ---- little-endian: p must hold 2, 4 or 8 bytes ----

constexpr uint16_t get_u16le(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

constexpr uint32_t get_u32le(const uint8_t *p) {
  return uint32_t{get_u16le(p)} | uint32_t{get_u16le(p + 2)} << 16;
}

constexpr uint64_t get_u64le(const uint8_t *p) {
  return uint64_t{get_u32le(p)} | uint64_t{get_u32le(p + 4)} << 32;
}

// The low 16 bits of v: fields are often computed in wider types.
constexpr void put_u16le(uint8_t *p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

constexpr void put_u32le(uint8_t *p, uint32_t v) {
  put_u16le(p, v & 0xFFFF);
  put_u16le(p + 2, v >> 16);
}

// The same, appended to out.
inline void put_u16le(std::vector<uint8_t> &out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

inline void put_u32le(std::vector<uint8_t> &out, uint32_t v) {
  put_u16le(out, v & 0xFFFF);
  put_u16le(out, v >> 16);
}

inline void put_u64le(std::vector<uint8_t> &out, uint64_t v) {
  put_u32le(out, static_cast<uint32_t>(v));
  put_u32le(out, static_cast<uint32_t>(v >> 32));
}

// ---- big-endian (MIDI): p must hold 2 or 4 bytes ----

constexpr uint16_t get_u16be(const uint8_t *p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

constexpr uint32_t get_u32be(const uint8_t *p) {
  return uint32_t{get_u16be(p)} << 16 | uint32_t{get_u16be(p + 2)};
}

// The low 16 bits of v.
constexpr void put_u16be(uint8_t *p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

constexpr void put_u32be(uint8_t *p, uint32_t v) {
  put_u16be(p, v >> 16);
  put_u16be(p + 2, v & 0xFFFF);
}

inline void put_u16be(std::vector<uint8_t> &out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

inline void put_u32be(std::vector<uint8_t> &out, uint32_t v) {
  put_u16be(out, v >> 16);
  put_u16be(out, v & 0xFFFF);
}

}  // namespace tunecast

#endif  // TUNECAST_BYTE_ORDER_H
