// stream_tags.h: more tags in the head of a finished FLAC or Ogg Vorbis
// stream. libsndfile writes only its fixed fields (title, album, ...); the
// loop points a game-music player reads are added here, to the Vorbis
// comment list both formats carry. Pure functions on bytes: the writer reads
// its file's head back, and the new head takes the old one's place.
#ifndef TUNECAST_TOOL_STREAM_TAGS_H
#define TUNECAST_TOOL_STREAM_TAGS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Each a whole "NAME=value" field, in UTF-8.
using tag_fields = std::vector<std::string>;

// The most of a stream's head read back: far more than libsndfile's headers
// take (a FLAC STREAMINFO and comment; Vorbis headers of a few KiB).
inline constexpr size_t stream_head_max_bytes = size_t{1} << 20;

// A rewritten head: bytes take the place of the stream's first old_bytes.
struct stream_head {
  std::vector<uint8_t> bytes;
  size_t old_bytes = 0;
  // Ogg: header pages now minus before; every later page's sequence number
  // moves by as much (ogg_page_renumber).
  int32_t pages_added = 0;
};

// FLAC: head holds the stream's first size bytes, all of its metadata blocks
// among them. The fields go at the end of its VORBIS_COMMENT block, or in a
// new one after the last block. False when head is no FLAC stream whose
// metadata ends within it, or the block would outgrow its 24-bit length.
bool flac_head_with_tags(const uint8_t *head, size_t size, const tag_fields &fields,
                         stream_head &out);

// Ogg Vorbis: head holds the stream's first size bytes, its three header
// packets whole among them. The fields go at the end of the comment header,
// which is laid out in pages again with the setup header after it. False
// when head is not such a stream, a page's checksum is wrong, or the setup
// header shares its last page with audio.
bool ogg_head_with_tags(const uint8_t *head, size_t size, const tag_fields &fields,
                        stream_head &out);

// The bytes of the Ogg page that starts at page, read from its header
// (size bytes there, at least 27 and its segment table); 0 when they are no
// page header.
size_t ogg_page_bytes(const uint8_t *page, size_t size);

// Moves the page's sequence number by shift and sets its checksum again.
// False, changing nothing, when size is not the page's length or its
// checksum is wrong.
bool ogg_page_renumber(uint8_t *page, size_t size, int32_t shift);

#endif  // TUNECAST_TOOL_STREAM_TAGS_H
