// register.cpp: a music lump checked against its size and made into the
// score an instance plays. A MUS score is measured against its header before
// it is trusted; a MIDI file goes through the same conversion as the tool's,
// so both paths register the score the tool would play.
#include <new>

#include "chip/state.h"
#include "midi/music_lump.h"

namespace tunecast::chip {

tc_status song_copy_from_lump(const void *data, int32_t size, song_copy &out) noexcept {
  try {
    const music_score score = music_prepare(static_cast<const uint8_t *>(data), size);
    switch (score.kind) {
      case lump_kind::not_music:
        return TC_NOT_MUSIC;
      case lump_kind::truncated_mus:
        return TC_MUS_TRUNCATED;
      case lump_kind::midi:
        if (score.out_of_memory) return TC_OUT_OF_MEMORY;
        if (!score.error.empty()) return TC_MIDI_INVALID;
        break;
      case lump_kind::mus:
        break;
    }
    // The signature and the size are settled, so a refusal here can only be
    // the copy's allocation.
    return song_copy_make(score.mus(), out) ? TC_OK : TC_OUT_OF_MEMORY;
  } catch (const std::bad_alloc &) {
    return TC_OUT_OF_MEMORY;
  }
}

}  // namespace tunecast::chip
