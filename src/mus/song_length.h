// song_length.h: a MUS score's natural length, for the synthesizer's
// handle and for the tool's listings and plans alike.
#ifndef TUNECAST_MUS_SONG_LENGTH_H
#define TUNECAST_MUS_SONG_LENGTH_H

#include <cstdint>

namespace tunecast::mus {

// The seconds from the score's start to the call on which playback ends
// (samples / 44100); false when the score has no end (its stream runs out
// before a score end) or is not a MUS score. Never reads past size.
bool song_length(const uint8_t *b, int32_t size, double &seconds);

}  // namespace tunecast::mus

#endif  // TUNECAST_MUS_SONG_LENGTH_H
