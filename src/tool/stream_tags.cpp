// stream_tags.cpp: the Vorbis comment list read and extended, in a FLAC
// metadata block or an Ogg Vorbis comment header. The bytes are the tool's
// own, just written, yet every length in them is checked against what is
// there before it is used.
#include "tool/stream_tags.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "common/byte_order.h"

using tunecast::get_u16be;
using tunecast::get_u32le;
using tunecast::put_u32le;

namespace {

// ---- the comment list: vendor, count, then the fields, each with its length ----

// Appends to out the list that starts at b[at], its fields and then
// `fields`, and sets list_end to where it ended in b. False when it does not
// fit in [at, end) or the count would overflow.
bool comment_list_extend(const uint8_t *b, size_t at, size_t end, const tag_fields &fields,
                         std::vector<uint8_t> &out, size_t &list_end) {
  const size_t start = at;
  if (end - at < 4) return false;
  const uint32_t vendor = get_u32le(b + at);
  at += 4;
  if (vendor > end - at || end - at - vendor < 4) return false;
  at += vendor;
  const size_t count_at = at;
  const uint32_t count = get_u32le(b + at);
  at += 4;
  // Each field takes at least its 4-byte length, so the loop ends within end.
  for (uint32_t i = 0; i < count; ++i) {
    if (end - at < 4) return false;
    const uint32_t length = get_u32le(b + at);
    at += 4;
    if (length > end - at) return false;
    at += length;
  }
  if (fields.size() > UINT32_MAX - count) return false;
  out.insert(out.end(), b + start, b + count_at);
  put_u32le(out, count + static_cast<uint32_t>(fields.size()));
  out.insert(out.end(), b + count_at + 4, b + at);
  for (const std::string &field : fields) {
    put_u32le(out, static_cast<uint32_t>(field.size()));
    out.insert(out.end(), field.begin(), field.end());
  }
  list_end = at;
  return true;
}

// ---- FLAC: "fLaC", then metadata blocks, each a 4-byte header and its body ----

constexpr size_t flac_signature_bytes = 4;
constexpr size_t flac_block_header_bytes = 4;
constexpr uint8_t flac_last_block = 0x80;
constexpr uint8_t flac_streaminfo = 0;
constexpr uint8_t flac_comment = 4;
constexpr size_t flac_block_max_bytes = 0xFFFFFF;  // the header's 24-bit length

bool flac_block_put(std::vector<uint8_t> &out, uint8_t header, const std::vector<uint8_t> &body) {
  if (body.size() > flac_block_max_bytes) return false;
  out.push_back(header);
  for (const int shift : {16, 8, 0}) out.push_back(static_cast<uint8_t>(body.size() >> shift));
  out.insert(out.end(), body.begin(), body.end());
  return true;
}

// ---- Ogg: pages of a 27-byte header, a segment table and the segments ----

constexpr size_t ogg_header_bytes = 27;
constexpr size_t ogg_segments_max = 255;
constexpr uint8_t ogg_continued = 0x01;
constexpr uint8_t ogg_first_page = 0x02;
constexpr uint8_t ogg_last_page = 0x04;
constexpr uint64_t ogg_no_granule = ~uint64_t{0};  // a page on which no packet ends
constexpr size_t ogg_crc_at = 22;

constexpr std::array<uint32_t, 256> ogg_crc_table = [] {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t r = i << 24;
    for (int k = 0; k < 8; ++k) r = (r & 0x80000000u) != 0 ? (r << 1) ^ 0x04C11DB7u : r << 1;
    table[i] = r;
  }
  return table;
}();

// The page's checksum, computed with its own checksum field as zeros.
uint32_t ogg_page_crc(const uint8_t *page, size_t size) {
  uint32_t crc = 0;
  for (size_t i = 0; i < size; ++i) {
    const uint8_t byte = i >= ogg_crc_at && i < ogg_crc_at + 4 ? 0 : page[i];
    crc = crc << 8 ^ ogg_crc_table[(crc >> 24 ^ byte) & 0xFF];
  }
  return crc;
}

bool ogg_page_whole(const uint8_t *page, size_t size) {
  return ogg_page_bytes(page, size) == size &&
         ogg_page_crc(page, size) == get_u32le(page + ogg_crc_at);
}

// A packet cut into segments: 255 bytes each, then one shorter (perhaps
// empty) that ends it.
struct ogg_segment {
  const uint8_t *data;
  uint8_t size;
  bool starts_packet;
};

void ogg_segments_of(const std::vector<uint8_t> &packet, std::vector<ogg_segment> &out) {
  for (size_t at = 0;; at += 255) {
    const size_t size = std::min<size_t>(255, packet.size() - at);
    out.push_back({packet.data() + at, static_cast<uint8_t>(size), at == 0});
    if (size < 255) return;
  }
}

// Lays the segments out in pages of up to 255, numbered from sequence on;
// the last page takes the flags in last_flags. Returns the pages written.
int32_t ogg_pages_put(const std::vector<ogg_segment> &segments, uint32_t serial, uint32_t sequence,
                      uint8_t last_flags, std::vector<uint8_t> &out) {
  int32_t pages = 0;
  for (size_t first = 0; first < segments.size(); first += ogg_segments_max, ++pages) {
    const size_t count = std::min(ogg_segments_max, segments.size() - first);
    const bool last = first + count == segments.size();
    bool ends_packet = false;
    for (size_t k = first; k < first + count; ++k)
      ends_packet = ends_packet || segments[k].size < 255;
    const size_t at = out.size();
    out.insert(out.end(), {'O', 'g', 'g', 'S', 0});
    out.push_back(static_cast<uint8_t>((segments[first].starts_packet ? 0 : ogg_continued) |
                                       (last ? last_flags : 0)));
    // Header packets are at granule 0, as the encoder puts them.
    tunecast::put_u64le(out, ends_packet ? 0 : ogg_no_granule);
    put_u32le(out, serial);
    put_u32le(out, sequence + static_cast<uint32_t>(pages));
    put_u32le(out, 0);
    out.push_back(static_cast<uint8_t>(count));
    for (size_t k = first; k < first + count; ++k) out.push_back(segments[k].size);
    for (size_t k = first; k < first + count; ++k) {
      out.insert(out.end(), segments[k].data, segments[k].data + segments[k].size);
    }
    put_u32le(out.data() + at + ogg_crc_at, ogg_page_crc(out.data() + at, out.size() - at));
  }
  return pages;
}

constexpr uint8_t vorbis_comment_type = 3;
constexpr size_t vorbis_packet_head_bytes = 7;  // the type, then "vorbis"

}  // namespace

bool flac_head_with_tags(const uint8_t *head, size_t size, const tag_fields &fields,
                         stream_head &out) {
  if (size < flac_signature_bytes || std::memcmp(head, "fLaC", flac_signature_bytes) != 0) {
    return false;
  }
  std::vector<uint8_t> bytes(head, head + flac_signature_bytes);
  size_t at = flac_signature_bytes;
  size_t last_header_at = 0;  // in bytes
  bool added = false;
  // Each block moves at on by at least its header, so the walk ends within size.
  for (bool last = false; !last;) {
    if (size - at < flac_block_header_bytes) return false;
    const uint8_t type = head[at] & 0x7F;
    last = (head[at] & flac_last_block) != 0;
    const size_t length = size_t{head[at + 1]} << 16 | get_u16be(head + at + 2);
    const size_t body = at + flac_block_header_bytes;
    if (length > size - body) return false;
    if (at == flac_signature_bytes && type != flac_streaminfo) return false;
    last_header_at = bytes.size();
    if (type == flac_comment && !added) {
      std::vector<uint8_t> block;
      size_t list_end = 0;
      if (!comment_list_extend(head, body, body + length, fields, block, list_end)) return false;
      block.insert(block.end(), head + list_end, head + body + length);
      if (!flac_block_put(bytes, head[at], block)) return false;
      added = true;
    } else {
      bytes.insert(bytes.end(), head + at, head + body + length);
    }
    at = body + length;
  }
  if (!added) {
    // A comment block of its own after the last, which is the last no more.
    bytes[last_header_at] &= static_cast<uint8_t>(~flac_last_block);
    static constexpr char vendor[] = "tunecast";
    std::vector<uint8_t> list;
    put_u32le(list, sizeof vendor - 1);
    list.insert(list.end(), vendor, vendor + sizeof vendor - 1);
    put_u32le(list, 0);
    std::vector<uint8_t> block;
    size_t list_end = 0;
    if (!comment_list_extend(list.data(), 0, list.size(), fields, block, list_end)) return false;
    if (!flac_block_put(bytes, flac_last_block | flac_comment, block)) return false;
  }
  out.bytes = std::move(bytes);
  out.old_bytes = at;
  out.pages_added = 0;
  return true;
}

size_t ogg_page_bytes(const uint8_t *page, size_t size) {
  if (size < ogg_header_bytes || std::memcmp(page, "OggS", 4) != 0 || page[4] != 0) return 0;
  const size_t segments = page[26];
  if (size - ogg_header_bytes < segments) return 0;
  size_t bytes = ogg_header_bytes + segments;
  for (size_t k = 0; k < segments; ++k) bytes += page[ogg_header_bytes + k];
  return bytes;
}

bool ogg_page_renumber(uint8_t *page, size_t size, int32_t shift) {
  if (!ogg_page_whole(page, size)) return false;
  put_u32le(page + 18, get_u32le(page + 18) + static_cast<uint32_t>(shift));
  put_u32le(page + ogg_crc_at, ogg_page_crc(page, size));
  return true;
}

bool ogg_head_with_tags(const uint8_t *head, size_t size, const tag_fields &fields,
                        stream_head &out) {
  // The first page holds the identification header alone and stays as it is.
  const size_t first = ogg_page_bytes(head, size);
  if (first == 0 || first > size || !ogg_page_whole(head, first) ||
      (head[5] & ogg_first_page) == 0) {
    return false;
  }
  const uint32_t serial = get_u32le(head + 14);
  // Then the comment and the setup headers, gathered from the pages that
  // follow; the last of those pages must end with the setup header.
  std::array<std::vector<uint8_t>, 2> packets;
  size_t done = 0;
  size_t at = first;
  int32_t old_pages = 0;
  uint8_t last_flags = 0;
  while (done < packets.size()) {
    const uint8_t *page = head + at;
    const size_t bytes = ogg_page_bytes(page, size - at);
    if (bytes == 0 || bytes > size - at || !ogg_page_whole(page, bytes) ||
        get_u32le(page + 14) != serial || get_u32le(page + 18) != uint32_t(old_pages) + 1) {
      return false;
    }
    const size_t segments = page[26];
    const uint8_t *data = page + ogg_header_bytes + segments;
    for (size_t k = 0; k < segments; ++k) {
      if (done == packets.size()) return false;  // audio on the setup header's page
      const uint8_t segment = page[ogg_header_bytes + k];
      packets[done].insert(packets[done].end(), data, data + segment);
      data += segment;
      if (segment < 255) ++done;
    }
    last_flags = page[5] & ogg_last_page;
    ++old_pages;
    at += bytes;
  }
  const std::vector<uint8_t> &comment = packets[0];
  if (comment.size() < vorbis_packet_head_bytes || comment[0] != vorbis_comment_type ||
      std::memcmp(comment.data() + 1, "vorbis", 6) != 0) {
    return false;
  }
  std::vector<uint8_t> extended(comment.begin(), comment.begin() + vorbis_packet_head_bytes);
  size_t list_end = 0;
  if (!comment_list_extend(comment.data(), vorbis_packet_head_bytes, comment.size(), fields,
                           extended, list_end)) {
    return false;
  }
  extended.insert(extended.end(), comment.begin() + static_cast<ptrdiff_t>(list_end),
                  comment.end());  // the framing bit
  std::vector<ogg_segment> segments;
  ogg_segments_of(extended, segments);
  ogg_segments_of(packets[1], segments);
  out.bytes.assign(head, head + first);
  const int32_t new_pages = ogg_pages_put(segments, serial, 1, last_flags, out.bytes);
  out.old_bytes = at;
  out.pages_added = new_pages - old_pages;
  return true;
}
