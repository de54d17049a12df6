// wav_header.cpp: the 44-byte header of the tool's WAV files, apart from
// the writer so that a build without files of its own (the WebAssembly
// module) makes the same bytes.
#include "common/byte_order.h"
#include "tool/wav_out.h"

using tunecast::put_u16le;
using tunecast::put_u32le;

namespace {

class header_writer {
 public:
  explicit header_writer(std::array<uint8_t, wav_header_bytes> &out) : out_(out) {}
  void tag(const char (&text)[5]) {
    for (int i = 0; i < 4; ++i) out_[at_++] = static_cast<uint8_t>(text[i]);
  }
  void u16(uint32_t v) {
    put_u16le(out_.data() + at_, v);
    at_ += 2;
  }
  void u32(uint32_t v) {
    put_u32le(out_.data() + at_, v);
    at_ += 4;
  }

 private:
  std::array<uint8_t, wav_header_bytes> &out_;
  size_t at_ = 0;
};

}  // namespace

std::array<uint8_t, wav_header_bytes> wav_header(uint32_t frames, int channels) {
  const auto block = static_cast<uint16_t>(2 * channels);  // bytes per frame
  const uint32_t data_size = block * frames;               // 32-bit unsigned, like the field
  std::array<uint8_t, wav_header_bytes> out{};
  header_writer w(out);
  w.tag("RIFF");
  w.u32(data_size + 36);
  w.tag("WAVE");
  w.tag("fmt ");
  w.u32(16);  // fmt chunk size
  w.u16(1);   // integer PCM
  w.u16(static_cast<uint16_t>(channels));
  w.u32(wav_rate_hz);          // frames per second
  w.u32(wav_rate_hz * block);  // bytes per second
  w.u16(block);
  w.u16(16);  // bits per sample
  w.tag("data");
  w.u32(data_size);
  return out;
}
