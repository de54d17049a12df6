// register.cpp: chip_register_song, registration of a music lump checked
// against its size. A MUS score is measured against its header before it is
// trusted; a MIDI file goes through the same conversion as the tool's, so
// both paths register the score the tool would play.
#include <new>

#include "midi/music_lump.h"
#include "tunecast/chip.h"

extern "C" int32_t chip_register_song(const void *data, int32_t size) {
  try {
    const music_score score = music_prepare(static_cast<const uint8_t *>(data), size);
    switch (score.kind) {
      case lump_kind::not_music:
        return CHIP_NOT_MUSIC;
      case lump_kind::truncated_mus:
        return CHIP_MUS_TRUNCATED;
      case lump_kind::midi:
        if (score.out_of_memory) return CHIP_OUT_OF_MEMORY;
        if (!score.error.empty()) return CHIP_MIDI_INVALID;
        break;
      case lump_kind::mus:
        break;
    }
    // The signature and the size are settled, so a refusal here can only be
    // the copy's allocation.
    return I_RegisterSong(score.mus()) != 0 ? CHIP_REGISTERED : CHIP_OUT_OF_MEMORY;
  } catch (const std::bad_alloc &) {
    return CHIP_OUT_OF_MEMORY;
  }
}
