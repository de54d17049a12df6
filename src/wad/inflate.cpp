// inflate.cpp: a deflated member inflated with zlib. The compressed bytes
// are read from the archive a chunk at a time and no further than the
// member's compressed size; the output buffer doubles as bytes come out, up
// to one byte past the declared size, which is how an output longer than
// declared is seen. The CRC-32 is taken as the bytes come out, for the
// caller to compare with the member's.
#include "wad/inflate.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "wad/read_at.h"

namespace tunecast {

namespace {

constexpr size_t input_chunk_bytes = size_t{1} << 16;
// Negative: a raw stream, without the zlib header and trailer, as a ZIP stores it.
constexpr int raw_window_bits = -15;

// The zlib state of one member, ended on every path out.
struct inflater {
  z_stream stream{};
  bool ready = false;
  inflater() { ready = inflateInit2(&stream, raw_window_bits) == Z_OK; }
  ~inflater() {
    if (ready) inflateEnd(&stream);
  }
  inflater(const inflater &) = delete;
  inflater &operator=(const inflater &) = delete;
};

inflate_outcome run(int fd, int64_t data_ofs, uint64_t comp_size, uint64_t budget,
                    member_head_check check, inflate_result &out) {
  std::vector<uint8_t> input(static_cast<size_t>(std::min<uint64_t>(comp_size, input_chunk_bytes)));
  inflater z;
  if (!z.ready) return inflate_outcome::no_memory;
  // One byte past the budget is room enough to see that more came.
  const size_t limit = static_cast<size_t>(budget) + 1;
  size_t capacity = 0;
  uint64_t read = 0;
  uLong crc = crc32(0, Z_NULL, 0);
  // Every turn reads input, makes room or inflates; inflate either moves on
  // or is out of one of them, so the loop ends with the input or the budget.
  for (;;) {
    if (z.stream.avail_in == 0 && read < comp_size) {
      const auto n = static_cast<size_t>(std::min<uint64_t>(input.size(), comp_size - read));
      if (!wad_read_at(fd, data_ofs + static_cast<int64_t>(read), input.data(), n)) {
        return inflate_outcome::unreadable;
      }
      z.stream.next_in = input.data();
      z.stream.avail_in = static_cast<uInt>(n);
      read += n;
    }
    if (out.size == capacity && !member_buffer_grow(out.bytes, capacity, limit))
      return inflate_outcome::no_memory;
    const size_t room = capacity - out.size;  // at most INT32_MAX + 1: fits a uInt
    z.stream.next_out = out.bytes + out.size;
    z.stream.avail_out = static_cast<uInt>(room);
    const int status = inflate(&z.stream, Z_NO_FLUSH);
    const size_t produced = room - z.stream.avail_out;
    crc = crc32(crc, out.bytes + out.size, static_cast<uInt>(produced));
    const size_t before = out.size;
    out.size += produced;
    // Judged before the stream's own faults: what came out already says enough.
    if (out.size > budget) return inflate_outcome::over_budget;
    if (check != nullptr && before < member_head_bytes && out.size >= member_head_bytes &&
        !check(out.bytes, budget)) {
      return inflate_outcome::bad_head;
    }
    switch (status) {
      case Z_STREAM_END:
        out.crc = static_cast<uint32_t>(crc);
        out.extra = z.stream.avail_in + (comp_size - read);
        return out.extra == 0 ? inflate_outcome::done : inflate_outcome::trailing;
      case Z_OK:
      case Z_BUF_ERROR:  // no progress this turn: more input or room is needed
        break;
      case Z_MEM_ERROR:
        return inflate_outcome::no_memory;
      default:  // a data error; a ZIP member has no preset dictionary either
        return inflate_outcome::corrupt;
    }
    if (z.stream.avail_in == 0 && read == comp_size && z.stream.avail_out > 0) {
      return inflate_outcome::truncated;  // room left, and nothing more to give it
    }
  }
}

}  // namespace

inflate_result inflate_member(int fd, int64_t data_ofs, uint64_t comp_size, uint64_t budget,
                              member_head_check check) {
  inflate_result out;
  out.outcome = run(fd, data_ofs, comp_size, budget, check, out);
  if (out.outcome != inflate_outcome::done) {
    std::free(out.bytes);
    out.bytes = nullptr;
  }
  return out;
}

}  // namespace tunecast
