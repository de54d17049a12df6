// music_lump.h: what kind of music a lump holds, judged from its bytes and
// its size before anything trusts its header, and the MUS score to register
// for it: the lump itself, or the score converted from a MIDI file.
#ifndef TUNECAST_MUSIC_LUMP_H
#define TUNECAST_MUSIC_LUMP_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tunecast {

enum class lump_kind {
  not_music,      // neither MUS nor MIDI (or fewer than 4 bytes): renders silence
  mus,            // MUS whose header's sizes fit the lump: safe to register
  truncated_mus,  // MUS signature, but shorter than its header says
  midi,           // a Standard MIDI file ("MThd"): converted before registering
};

// data holds size bytes (size may be 0 or negative: no data).
lump_kind classify_lump(const uint8_t *data, int32_t size);

// The most of a lump's first bytes that classifying it reads: the MUS
// header, whose sizes are then checked against the lump's own.
inline constexpr size_t lump_head_bytes = 8;

// As classify_lump, from the head of a lump of size bytes: head holds its
// first head_size bytes, at least the lesser of size and lump_head_bytes
// (fewer: not music). Tells music from the rest without reading it whole.
lump_kind classify_lump_head(const uint8_t *head, size_t head_size, int32_t size);

// A lump made ready to play. Borrows the lump's bytes for MUS; owns the
// converted score for MIDI.
struct music_score {
  lump_kind kind = lump_kind::not_music;
  const uint8_t *lump = nullptr;
  int32_t lump_size = 0;
  std::vector<uint8_t> converted;  // MIDI: the MUS score made from it
  std::string error;               // MIDI that did not convert: one Spanish line
  bool out_of_memory = false;      // ... because memory ran out

  // MUS data safe to hand to I_RegisterSong, or null: nothing to play.
  const uint8_t *mus() const;
  int32_t mus_size() const;
};

// Classifies data and converts a MIDI file. Never throws.
music_score music_prepare(const uint8_t *data, int32_t size) noexcept;

}  // namespace tunecast

#endif  // TUNECAST_MUSIC_LUMP_H
