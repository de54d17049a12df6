// music_lump.cpp: the synthesizer reads a signature from whatever it is
// given and trusts a MUS header's sizes, so a lump is measured against them
// before it is registered. MIDI lumps become MUS scores in memory.
#include "midi/music_lump.h"

#include <algorithm>

#include "midi/midi.h"
#include "mus/header.h"

namespace tunecast {

lump_kind classify_lump(const uint8_t *data, int32_t size) {
  return classify_lump_head(data, size > 0 ? static_cast<size_t>(size) : 0, size);
}

lump_kind classify_lump_head(const uint8_t *head, size_t head_size, int32_t size) {
  if (head == nullptr || size < 4) return lump_kind::not_music;
  const auto n = static_cast<size_t>(size);
  if (head_size < std::min(n, lump_head_bytes)) return lump_kind::not_music;
  if (midi_is_file(head, head_size)) return lump_kind::midi;
  if (!mus_has_signature(head, head_size)) return lump_kind::not_music;
  // A signature with too few bytes after it is a score cut short: a lump
  // shorter than the header, or than the score its header declares.
  mus_header header{};
  if (head_size < mus_header_bytes) return lump_kind::truncated_mus;
  mus_header_read(head, head_size, header);
  return mus_declared_bytes(header) <= n ? lump_kind::mus : lump_kind::truncated_mus;
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
    score.out_of_memory = r.out_of_memory;
    // Short enough for the string's own storage: no allocation.
    if (score.error.empty()) score.error = "MIDI dañado";
  }
  return score;
}

}  // namespace tunecast
