// music_lump.h: what kind of music a lump holds, judged from its bytes and
// its size before anything trusts its header.
#ifndef TUNECAST_MUSIC_LUMP_H
#define TUNECAST_MUSIC_LUMP_H

#include <cstdint>

enum class lump_kind {
  not_mus,        // no MUS signature (or fewer than 4 bytes): renders silence
  mus,            // MUS whose header's sizes fit the lump: safe to register
  truncated_mus,  // MUS signature, but shorter than its header says
};

// data holds size bytes (size may be 0 or negative: no data).
lump_kind classify_lump(const uint8_t *data, int32_t size);

#endif  // TUNECAST_MUSIC_LUMP_H
