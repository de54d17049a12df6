// inflate_handed.cpp: inflate_member for the WebAssembly build, which has
// no zlib. The page's JavaScript inflates with the browser's own raw
// deflate decoder, which only works asynchronously, while the reader is
// synchronous: so the first load asks (it records which bytes it needs and
// fails), JavaScript inflates that slice of the archive, at most one byte
// past the budget, hands the output back, and the load runs again. This
// side then judges the output exactly as the zlib path does: its head, its
// size against the budget, its CRC-32.
#include <emscripten/emscripten.h>
#include <emscripten/heap.h>

#include <algorithm>
#include <array>
#include <cstdlib>

#include "wad/inflate.h"

namespace tunecast {

namespace {

// What JavaScript says of a stream it inflated.
enum handed_status : int32_t {
  handed_ended = 0,      // the stream ended; bytes hold all it gave, up to budget + 1
  handed_corrupt = 1,    // the decoder refused the data
  handed_truncated = 2,  // the data ended before the stream did
  handed_trailing = 3,   // the stream ended before the data did: see extra
  handed_no_memory = 4,
};

// The member the last load asked for, and what was handed back for it.
struct handed_member {
  bool wanted = false;
  int64_t data_ofs = 0;
  uint64_t comp_size = 0;
  uint64_t budget = 0;
  bool handed = false;
  int32_t status = handed_corrupt;
  uint8_t *bytes = nullptr;  // malloc'd, owned here until taken
  size_t size = 0;
  uint64_t extra = 0;  // with handed_trailing: the bytes after the stream's end
};

handed_member member;

void forget_bytes() {
  std::free(member.bytes);
  member.bytes = nullptr;
  member.size = 0;
  member.handed = false;
}

// The reflected CRC-32 of ZIP (polynomial 0xEDB88320), a byte at a time.
constexpr std::array<uint32_t, 256> crc_table = [] {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}();

uint32_t crc32_of(const uint8_t *bytes, size_t size) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) c = crc_table[(c ^ bytes[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

// The handed output judged as zlib's loop judges what comes out: too much
// first, then the head, then the stream's own faults.
inflate_outcome judge(uint64_t budget, member_head_check check, inflate_result &out) {
  if (member.size > budget) return inflate_outcome::over_budget;
  if (check != nullptr && member.size >= member_head_bytes && !check(member.bytes, budget)) {
    return inflate_outcome::bad_head;
  }
  switch (member.status) {
    case handed_ended:
      break;
    case handed_truncated:
      return inflate_outcome::truncated;
    case handed_trailing:
      out.extra = member.extra;
      return inflate_outcome::trailing;
    case handed_no_memory:
      return inflate_outcome::no_memory;
    default:
      return inflate_outcome::corrupt;
  }
  out.crc = crc32_of(member.bytes, member.size);
  out.bytes = member.bytes;
  out.size = member.size;
  member.bytes = nullptr;
  return inflate_outcome::done;
}

}  // namespace

inflate_result inflate_member(int, int64_t data_ofs, uint64_t comp_size, uint64_t budget,
                              member_head_check check) {
  inflate_result out;
  // An output the module's heap could never hold is refused before
  // JavaScript inflates any of it into memory of its own.
  if (budget >= emscripten_get_heap_max()) {
    out.outcome = inflate_outcome::no_memory;
    return out;
  }
  const bool same = member.handed && member.data_ofs == data_ofs && member.comp_size == comp_size &&
                    member.budget == budget;
  if (!same) {
    // Nothing handed for this member yet: the load fails, and says which
    // bytes to inflate before it runs again.
    forget_bytes();
    member.wanted = true;
    member.data_ofs = data_ofs;
    member.comp_size = comp_size;
    member.budget = budget;
    out.outcome = inflate_outcome::unreadable;
    return out;
  }
  member.wanted = false;
  out.outcome = judge(budget, check, out);
  forget_bytes();
  return out;
}

}  // namespace tunecast

using tunecast::member;

// The module's side of the hand-over, called from JavaScript. Offsets and
// sizes go as doubles: JavaScript numbers hold them exactly up to 2^53.
extern "C" {

// 1 when the last load stopped for want of an inflated member.
EMSCRIPTEN_KEEPALIVE int32_t tc_web_inflate_wanted() { return member.wanted ? 1 : 0; }
EMSCRIPTEN_KEEPALIVE double tc_web_inflate_offset() { return static_cast<double>(member.data_ofs); }
EMSCRIPTEN_KEEPALIVE double tc_web_inflate_size() { return static_cast<double>(member.comp_size); }
// The member's declared size: JavaScript stops once more than this comes out.
EMSCRIPTEN_KEEPALIVE double tc_web_inflate_budget() { return static_cast<double>(member.budget); }

// Hands over the output of the member asked for: bytes (malloc'd by the
// caller, taken over here; null when memory ran out), a handed_status, and
// with handed_trailing the bytes after the stream's end. The next load of
// the same archive judges them.
EMSCRIPTEN_KEEPALIVE void tc_web_inflate_hand(uint8_t *bytes, size_t size, int32_t status,
                                              double extra) {
  tunecast::forget_bytes();
  member.wanted = false;
  member.handed = true;
  member.bytes = bytes;
  member.size = bytes != nullptr ? size : 0;
  member.status = status;
  member.extra = extra > 0 ? static_cast<uint64_t>(std::min(extra, 9e15)) : 0;
}

// Drops whatever was asked for or handed over, once a load is over.
EMSCRIPTEN_KEEPALIVE void tc_web_inflate_forget() {
  tunecast::forget_bytes();
  member.wanted = false;
}
}
