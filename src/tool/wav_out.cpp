// wav_out.cpp: writes the header (wav_header.cpp) and the samples in the
// file's byte order, and says why a write failed. Where the bytes go, and
// how a file is put in place, is output_file's (output_file_*.cpp).
#include "tool/wav_out.h"

#include <bit>

#include "common/system_text.h"
#include "tool/messages.h"

using tunecast::system_error_text;
using tunecast::tr;

namespace {

void to_little_endian([[maybe_unused]] int16_t *samples, [[maybe_unused]] size_t count) {
  if constexpr (std::endian::native == std::endian::big) {
    for (size_t i = 0; i < count; ++i) {
      const auto u = static_cast<uint16_t>(samples[i]);
      samples[i] = static_cast<int16_t>(static_cast<uint16_t>(u << 8 | u >> 8));
    }
  }
}

}  // namespace

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
