// The head rewriting that adds tags to a finished FLAC or Ogg Vorbis
// stream: the bytes it builds, and what it does with heads cut short or
// damaged (refused, and never read past their end).
#include "tool/stream_tags.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "fixtures.h"

#ifdef TUNECAST_HAVE_SNDFILE
#include <sndfile.h>
#endif

namespace {

using fixture::bytes;

void put_le32(bytes &b, uint32_t v) {
  for (int k = 0; k < 4; ++k) b.push_back(static_cast<uint8_t>(v >> (8 * k)));
}

void put_text(bytes &b, const std::string &text) {
  put_le32(b, static_cast<uint32_t>(text.size()));
  b.insert(b.end(), text.begin(), text.end());
}

// A FLAC metadata block: its header byte (last flag and type), 24-bit length, body.
void put_block(bytes &b, uint8_t header, const bytes &body) {
  b.push_back(header);
  for (const int shift : {16, 8, 0}) b.push_back(static_cast<uint8_t>(body.size() >> shift));
  b.insert(b.end(), body.begin(), body.end());
}

bytes comment_list(const std::string &vendor, const std::vector<std::string> &fields) {
  bytes list;
  put_text(list, vendor);
  put_le32(list, static_cast<uint32_t>(fields.size()));
  for (const std::string &f : fields) put_text(list, f);
  return list;
}

// "fLaC", STREAMINFO, perhaps a comment, a last PADDING block; then a frame's first bytes.
bytes flac_stream(bool with_comment, const std::vector<std::string> &fields) {
  bytes b = {'f', 'L', 'a', 'C'};
  put_block(b, 0x00, bytes(34, 0x11));
  if (with_comment) put_block(b, 0x04, comment_list("enc", fields));
  put_block(b, 0x81, bytes(8, 0));
  return b;
}

const tag_fields loop = {"LOOPSTART=0", "LOOPLENGTH=44100"};

TEST(StreamTags, FlacFieldsJoinTheCommentBlockOrANewLastOne) {
  const bytes frame = {0xFF, 0xF8, 0x69, 0x08};
  for (const bool with_comment : {true, false}) {
    SCOPED_TRACE(with_comment ? "comment block" : "no comment block");
    bytes stream = flac_stream(with_comment, {"TITLE=D_BUSY"});
    const size_t metadata = stream.size();
    stream.insert(stream.end(), frame.begin(), frame.end());
    bytes expected;
    if (with_comment) {
      expected = flac_stream(true, {"TITLE=D_BUSY", loop[0], loop[1]});
    } else {
      expected = {'f', 'L', 'a', 'C'};
      put_block(expected, 0x00, bytes(34, 0x11));
      put_block(expected, 0x01, bytes(8, 0));  // no longer the last
      put_block(expected, 0x84, comment_list("tunecast", loop));
    }
    stream_head head;
    ASSERT_TRUE(flac_head_with_tags(stream.data(), stream.size(), loop, head));
    EXPECT_EQ(head.bytes, expected);
    EXPECT_EQ(head.old_bytes, metadata);
    EXPECT_EQ(head.pages_added, 0);
  }
}

TEST(StreamTags, DamagedFlacHeadsAreRefused) {
  const bytes good = flac_stream(true, {"TITLE=D_BUSY"});
  std::vector<std::pair<std::string, bytes>> cases;
  // Cut anywhere before its metadata ends.
  for (size_t n = 0; n < good.size(); ++n) {
    cases.push_back({"cut to " + std::to_string(n), bytes(good.begin(), good.begin() + n)});
  }
  bytes signature = good;
  signature[0] = 'F';
  cases.push_back({"signature", signature});
  bytes first = {'f', 'L', 'a', 'C'};
  put_block(first, 0x84, comment_list("enc", {}));
  cases.push_back({"comment before STREAMINFO", first});
  const auto with_comment = [](const bytes &list) {
    bytes b = {'f', 'L', 'a', 'C'};
    put_block(b, 0x00, bytes(34, 0));
    put_block(b, 0x84, list);
    return b;
  };
  cases.push_back({"vendor past the block", with_comment({0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0})});
  cases.push_back({"count past the block", with_comment({0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF})});
  cases.push_back({"field past the block", with_comment({0, 0, 0, 0, 1, 0, 0, 0, 9, 0, 0, 0})});
  bytes block_past = with_comment(comment_list("enc", {}));
  block_past[4 + 38 + 3] += 1;  // the comment block claims a byte more than there is
  cases.push_back({"block past the end", block_past});
  for (const auto &[what, data] : cases) {
    SCOPED_TRACE(what);
    // Each case's buffer is exactly its bytes, so that a read past them is caught.
    stream_head head;
    EXPECT_FALSE(flac_head_with_tags(data.data(), data.size(), loop, head));
  }
}

#ifdef TUNECAST_HAVE_SNDFILE
class OggTags : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = fixture::make_temp_dir("ogg-tags"); }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  // A second of a tone, encoded by libsndfile.
  bytes encoded() const {
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 1;
    info.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    SNDFILE *f = sf_open(path("tone.ogg").c_str(), SFM_WRITE, &info);
    EXPECT_NE(f, nullptr);
    std::vector<short> tone(44100);
    for (size_t i = 0; i < tone.size(); ++i) {
      tone[i] = static_cast<short>(8000.0 * std::sin(static_cast<double>(i) * 0.05));
    }
    sf_write_short(f, tone.data(), static_cast<sf_count_t>(tone.size()));
    sf_close(f);
    return fixture::read_file(path("tone.ogg"));
  }
  std::vector<short> decoded(const bytes &stream) const {
    fixture::write_file(path("read.ogg"), stream);
    SF_INFO info{};
    SNDFILE *f = sf_open(path("read.ogg").c_str(), SFM_READ, &info);
    if (f == nullptr) return {};
    std::vector<short> samples(static_cast<size_t>(info.frames));
    samples.resize(static_cast<size_t>(sf_read_short(f, samples.data(), info.frames)));
    sf_close(f);
    return samples;
  }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }
  std::string dir_;
};

bool holds(const bytes &b, const std::string &field) {
  bytes needle;
  put_text(needle, field);
  return std::search(b.begin(), b.end(), needle.begin(), needle.end()) != b.end();
}

// A field so long that the headers take a page more: every later page is
// renumbered and the stream decodes as before. Heads cut short or damaged
// are refused.
TEST_F(OggTags, FieldsJoinTheCommentHeaderAndDamagedHeadsAreRefused) {
  const bytes stream = encoded();
  const std::vector<short> before = decoded(stream);
  ASSERT_GT(before.size(), 40000u);
  const tag_fields fields = {"LOOPSTART=0", "COMMENT=" + std::string(70000, 'x')};
  stream_head head;
  ASSERT_TRUE(ogg_head_with_tags(stream.data(), stream.size(), fields, head));
  EXPECT_EQ(head.pages_added, 1);
  EXPECT_TRUE(holds(head.bytes, fields[0]));  // the other spans pages
  bytes rebuilt = head.bytes;
  for (size_t at = head.old_bytes; at < stream.size();) {
    const size_t n = ogg_page_bytes(stream.data() + at, stream.size() - at);
    ASSERT_TRUE(n > 0 && n <= stream.size() - at);
    bytes page(stream.begin() + static_cast<ptrdiff_t>(at),
               stream.begin() + static_cast<ptrdiff_t>(at + n));
    ASSERT_TRUE(ogg_page_renumber(page.data(), page.size(), head.pages_added));
    rebuilt.insert(rebuilt.end(), page.begin(), page.end());
    at += n;
  }
  EXPECT_TRUE(decoded(rebuilt) == before);

  std::vector<std::pair<std::string, bytes>> cases;
  for (size_t n = 0; n < head.old_bytes; n += 7) {
    cases.push_back({"cut to " + std::to_string(n), bytes(stream.begin(), stream.begin() + n)});
  }
  const size_t second_page = ogg_page_bytes(stream.data(), stream.size());
  bytes flipped = stream;
  // A letter of the comment header's vendor string: only the checksum tells.
  flipped[second_page + 27 + stream[second_page + 26] + 12] ^= 0x20;
  cases.push_back({"checksum", flipped});
  for (const auto &[what, data] : cases) {
    SCOPED_TRACE(what);
    EXPECT_FALSE(ogg_head_with_tags(data.data(), data.size(), loop, head));
  }
  bytes page(stream.begin(), stream.begin() + static_cast<ptrdiff_t>(second_page));
  EXPECT_FALSE(ogg_page_renumber(page.data(), page.size() - 1, 1));  // not the page's length
}
#endif

}  // namespace
