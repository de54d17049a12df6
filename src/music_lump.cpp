// music_lump.cpp: the synthesizer reads a signature from whatever it is
// given and trusts a MUS header's sizes, so a lump is measured against them
// before it is registered.
#include "music_lump.h"

#include <cstring>

lump_kind classify_lump(const uint8_t *data, int32_t size) {
  static constexpr uint8_t signature[4] = {'M', 'U', 'S', 0x1A};
  if (data == nullptr || size < 4 || std::memcmp(data, signature, 4) != 0) {
    return lump_kind::not_mus;
  }
  if (size < 8) return lump_kind::truncated_mus;
  const uint32_t score_len = uint32_t{data[4]} | uint32_t{data[5]} << 8;
  const uint32_t score_start = uint32_t{data[6]} | uint32_t{data[7]} << 8;
  if (static_cast<uint32_t>(size) < score_len + score_start) return lump_kind::truncated_mus;
  return lump_kind::mus;
}
