// wav_out.cpp: encodes the WAV header, writes the samples in the
// file's byte order, and says why a write failed. Where the bytes go, and
// how a file is put in place, is output_file's (output_file_*.cpp).
#include "tool/wav_out.h"

#include <bit>

#include "common/byte_order.h"
#include "common/system_text.h"
#include "tool/messages.h"

using tunecast::put_u16le;
using tunecast::put_u32le;

using tunecast::system_error_text;
using tunecast::tr;

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

void to_little_endian([[maybe_unused]] int16_t *samples, [[maybe_unused]] size_t count) {
  if constexpr (std::endian::native == std::endian::big) {
    for (size_t i = 0; i < count; ++i) {
      const auto u = static_cast<uint16_t>(samples[i]);
      samples[i] = static_cast<int16_t>(static_cast<uint16_t>(u << 8 | u >> 8));
    }
  }
}

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

int wav_writer::open(const wav_target &target, int64_t frames, int channels) {
  if (frames < 0 || frames > wav_max_frames_for(channels)) return EFBIG;
  if (const int err = file_.open(target); err != 0) return err;
  const auto header = wav_header(static_cast<uint32_t>(frames), channels);
  return file_.write(header.data(), header.size());
}

int wav_writer::write(int16_t *samples, size_t count) {
  to_little_endian(samples, count);
  return file_.write(samples, count * sizeof(int16_t));
}

std::string wav_error_text(int err) {
  switch (err) {
    case wav_err_same_as_input:
      return tr("es el archivo de entrada");
    case wav_err_foreign_link:
      return tr("es un enlace simbólico de otro usuario en un directorio compartido: no se sigue");
    case wav_err_not_regular:
      return tr("no es un archivo regular");
    case wav_err_foreign_dir:
      return tr("pertenece a otro usuario");
    case wav_err_open_dir:
      return tr("cualquiera puede escribir en él y no tiene el bit sticky");
    case wav_err_encoder:
      return tr("falló el codificador (libsndfile)");
    case wav_err_reparse_point:
      return tr("es un enlace o una unión de Windows: no se sigue");
    default:  // the common reasons are in the catalogs too
      return tr(system_error_text(err).c_str());
  }
}
