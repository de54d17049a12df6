// byte_order_test.cpp: the fixed-order integer helpers against bytes
// written out by hand, both ways, in both orders.
#include "common/byte_order.h"

#include <gtest/gtest.h>

#include <vector>

using tunecast::get_u16be;
using tunecast::get_u16le;
using tunecast::get_u32be;
using tunecast::get_u32le;
using tunecast::get_u64le;
using tunecast::put_u16be;
using tunecast::put_u16le;
using tunecast::put_u32be;
using tunecast::put_u32le;
using tunecast::put_u64le;

namespace {

using bytes = std::vector<uint8_t>;

TEST(ByteOrder, LittleEndianReadsAndWritesTheLowByteFirst) {
  const uint8_t field[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xF8};
  EXPECT_EQ(get_u16le(field), 0x0201);
  EXPECT_EQ(get_u32le(field), 0x04030201u);
  EXPECT_EQ(get_u64le(field), 0xF807060504030201u);
  EXPECT_EQ(get_u32le(field + 4), 0xF8070605u);  // the top bit survives: no sign extension

  bytes out;
  put_u16le(out, 0x12345678);  // the low 16 bits only
  put_u32le(out, 0x89ABCDEF);
  put_u64le(out, 0x0102030405060708);
  EXPECT_EQ(out, (bytes{0x78, 0x56, 0xEF, 0xCD, 0xAB, 0x89, 8, 7, 6, 5, 4, 3, 2, 1}));

  uint8_t at[7] = {};
  put_u16le(at, 0x1234);
  put_u32le(at + 2, 0xDEADBEEF);
  EXPECT_EQ(bytes(at, at + 7), (bytes{0x34, 0x12, 0xEF, 0xBE, 0xAD, 0xDE, 0x00}));
}

TEST(ByteOrder, BigEndianReadsAndWritesTheHighByteFirst) {
  const uint8_t field[4] = {0x80, 0x02, 0x03, 0x04};
  EXPECT_EQ(get_u16be(field), 0x8002);
  EXPECT_EQ(get_u32be(field), 0x80020304u);

  bytes out;
  put_u16be(out, 0x12345678);  // the low 16 bits only
  put_u32be(out, 0x89ABCDEF);
  EXPECT_EQ(out, (bytes{0x56, 0x78, 0x89, 0xAB, 0xCD, 0xEF}));

  uint8_t at[5] = {};
  put_u32be(at + 1, 0x12345678);
  EXPECT_EQ(bytes(at, at + 5), (bytes{0, 0x12, 0x34, 0x56, 0x78}));
}

}  // namespace
