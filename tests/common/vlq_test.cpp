// vlq_test.cpp: variable-length numbers at the edges of each byte count,
// and the reader's refusals: bytes that end too soon, and a fifth byte.
#include "common/vlq.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using tunecast::vlq_append;
using tunecast::vlq_read;
using tunecast::vlq_read_result;
using tunecast::vlq_status;

namespace {

using bytes = std::vector<uint8_t>;

TEST(Vlq, EachByteCountAtItsEdgesBothWays) {
  struct row {
    uint32_t value;
    bytes encoded;
  };
  const row rows[] = {
      {0, {0x00}},
      {0x7F, {0x7F}},
      {0x80, {0x81, 0x00}},
      {0x2000, {0xC0, 0x00}},
      {0x3FFF, {0xFF, 0x7F}},
      {0x4000, {0x81, 0x80, 0x00}},
      {0x1FFFFF, {0xFF, 0xFF, 0x7F}},
      {0x200000, {0x81, 0x80, 0x80, 0x00}},
      {0x0FFFFFFF, {0xFF, 0xFF, 0xFF, 0x7F}},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.value);
    bytes out = {0xAA};  // appended after what is there
    vlq_append(out, r.value);
    EXPECT_EQ(bytes(out.begin() + 1, out.end()), r.encoded);

    bytes in = r.encoded;
    in.push_back(0x90);  // the next event's byte: not part of the number
    const vlq_read_result got = vlq_read(in.data(), in.size());
    EXPECT_EQ(got.status, vlq_status::ok);
    EXPECT_EQ(got.value, r.value);
    EXPECT_EQ(got.length, r.encoded.size());
  }
}

TEST(Vlq, ReaderRefusesCutAndOverlongNumbers) {
  struct row {
    const char *name;
    bytes data;
    size_t size;  // the bytes the reader may see, a prefix of data
    vlq_status status;
    size_t length;
  };
  const row rows[] = {
      {"nothing", {0x05}, 0, vlq_status::truncated, 0},
      {"continued past the end", {0x81, 0x00}, 1, vlq_status::truncated, 1},
      {"three continued bytes", {0xFF, 0xFF, 0xFF}, 3, vlq_status::truncated, 3},
      {"four continued bytes", {0xFF, 0xFF, 0xFF, 0xFF}, 4, vlq_status::too_long, 4},
      {"five bytes", {0x80, 0x80, 0x80, 0x80, 0x00}, 5, vlq_status::too_long, 4},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.name);
    const vlq_read_result got = vlq_read(r.data.data(), r.size);
    EXPECT_EQ(got.status, r.status);
    EXPECT_EQ(got.length, r.length);
  }
}

// MUS delays take the same encoding without MIDI's four-byte limit.
TEST(Vlq, WriterTakesAnyWidthForMusDelays) {
  bytes out;
  vlq_append(out, uint64_t{1} << 62);
  EXPECT_EQ(out, (bytes{0xC0, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00}));
  out.clear();
  vlq_append(out, UINT64_MAX);
  EXPECT_EQ(out, (bytes{0x81, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}));
}

}  // namespace
