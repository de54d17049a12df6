// music_lump.cpp: the synthesizer reads a signature from whatever it is
// given and trusts a MUS header's sizes, so a lump is measured against them
// before it is registered. MIDI lumps become MUS scores in memory.
#include "midi/music_lump.h"

#include <cstring>

#include "midi/midi.h"

lump_kind classify_lump(const uint8_t *data, int32_t size) {
  static constexpr uint8_t signature[4] = {'M', 'U', 'S', 0x1A};
  if (data == nullptr || size < 4) return lump_kind::not_music;
  if (midi_is_file(data, static_cast<size_t>(size))) return lump_kind::midi;
  if (std::memcmp(data, signature, 4) != 0) return lump_kind::not_music;
  if (size < 8) return lump_kind::truncated_mus;
  const uint32_t score_len = uint32_t{data[4]} | uint32_t{data[5]} << 8;
  const uint32_t score_start = uint32_t{data[6]} | uint32_t{data[7]} << 8;
  if (static_cast<uint32_t>(size) < score_len + score_start) return lump_kind::truncated_mus;
  return lump_kind::mus;
}

const uint8_t *music_score::mus() const {
  if (kind == lump_kind::mus) return lump;
  if (kind == lump_kind::midi && error.empty()) return converted.data();
  return nullptr;
}

int32_t music_score::mus_size() const {
  if (kind == lump_kind::mus) return lump_size;
  // A converted score holds at most 16 + 65535 bytes.
  if (kind == lump_kind::midi && error.empty()) return static_cast<int32_t>(converted.size());
  return 0;
}

music_score music_prepare(const uint8_t *data, int32_t size) noexcept {
  music_score score;
  score.kind = classify_lump(data, size);
  score.lump = data;
  score.lump_size = size;
  if (score.kind != lump_kind::midi) return score;
  midi_result r = midi_to_mus(data, static_cast<size_t>(size));
  if (r.ok) {
    score.converted = std::move(r.mus);
  } else {
    score.error = std::move(r.error);
    // Short enough for the string's own storage: no allocation.
    if (score.error.empty()) score.error = "MIDI dañado";
  }
  return score;
}
