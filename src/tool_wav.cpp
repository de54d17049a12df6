// tool_wav.cpp: encodes the WAV header and puts the finished file in place.
// A regular target is only ever replaced by a complete file: the bytes go to
// a temporary file in the same directory, which is renamed over the target.
#include "tool_wav.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdlib>

namespace {

class header_writer {
 public:
  explicit header_writer(std::array<uint8_t, wav_header_bytes> &out) : out_(out) {}
  void tag(const char (&text)[5]) {
    for (int i = 0; i < 4; ++i) out_[at_++] = static_cast<uint8_t>(text[i]);
  }
  void u16(uint32_t v) {
    out_[at_++] = static_cast<uint8_t>(v);
    out_[at_++] = static_cast<uint8_t>(v >> 8);
  }
  void u32(uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  }

 private:
  std::array<uint8_t, wav_header_bytes> &out_;
  size_t at_ = 0;
};

void to_little_endian([[maybe_unused]] int16_t *samples, [[maybe_unused]] int64_t frames) {
  if constexpr (std::endian::native == std::endian::big) {
    for (int64_t i = 0; i < frames; ++i) {
      const auto u = static_cast<uint16_t>(samples[i]);
      samples[i] = static_cast<int16_t>(static_cast<uint16_t>(u << 8 | u >> 8));
    }
  }
}

// write() may take less than it is given (a signal, a pipe, more than 2 GB);
// go on from where it stopped.
int write_all(int fd, const void *data, size_t size) {
  const auto *p = static_cast<const uint8_t *>(data);
  while (size > 0) {
    const ssize_t n = write(fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

int write_wav(int fd, const int16_t *samples, int64_t frames) {
  const auto header = wav_header(static_cast<uint32_t>(frames));
  if (int err = write_all(fd, header.data(), header.size()); err != 0) return err;
  return write_all(fd, samples, static_cast<size_t>(frames) * sizeof(int16_t));
}

// Devices and pipes cannot be renamed over: they get the bytes directly.
int write_in_place(const char *path, const int16_t *samples, int64_t frames) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  int err = write_wav(fd, samples, frames);
  if (close(fd) != 0 && err == 0) err = errno;
  return err;
}

std::string directory_of(const std::string &path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

mode_t current_umask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

// mkstemp creates with O_EXCL, so a link planted under the temporary name
// is never followed; the rename is atomic within the directory.
int replace_file(const std::string &target, const int16_t *samples, int64_t frames) {
  std::string temp = directory_of(target) + "/.tunecast-XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) return errno;
  int err = 0;
  if (fchmod(fd, 0666 & ~current_umask()) != 0) err = errno;
  if (err == 0) err = write_wav(fd, samples, frames);
  if (err == 0 && fsync(fd) != 0) err = errno;
  if (close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && rename(temp.c_str(), target.c_str()) != 0) err = errno;
  if (err != 0) unlink(temp.c_str());
  return err;
}

}  // namespace

std::array<uint8_t, wav_header_bytes> wav_header(uint32_t frames) {
  const uint32_t data_size = 2 * frames;  // 32-bit unsigned, like the field
  std::array<uint8_t, wav_header_bytes> out{};
  header_writer w(out);
  w.tag("RIFF");
  w.u32(data_size + 36);
  w.tag("WAVE");
  w.tag("fmt ");
  w.u32(16);               // fmt chunk size
  w.u16(1);                // integer PCM
  w.u16(1);                // mono
  w.u32(wav_rate_hz);      // frames per second
  w.u32(wav_rate_hz * 2);  // bytes per second
  w.u16(2);                // bytes per frame
  w.u16(16);               // bits per sample
  w.tag("data");
  w.u32(data_size);
  return out;
}

int wav_write_stream(int fd, int16_t *samples, int64_t frames) {
  if (frames < 0 || frames > wav_max_frames) return EFBIG;
  to_little_endian(samples, frames);
  return write_wav(fd, samples, frames);
}

int wav_write_file(const char *path, int16_t *samples, int64_t frames) {
  if (frames < 0 || frames > wav_max_frames) return EFBIG;
  to_little_endian(samples, frames);
  struct stat st;
  if (stat(path, &st) == 0) {
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode)) return write_in_place(path, samples, frames);
    // Renaming would replace a file the user may not write; refuse it as
    // opening it for writing would.
    if (access(path, W_OK) != 0) return errno;
  } else if (errno != ENOENT) {
    return errno;
  } else if (lstat(path, &st) == 0) {
    return ENOENT;  // a symbolic link to nothing
  }
  // A link to a regular file: replace the file it names and keep the link,
  // as writing through the link would.
  std::string target = path;
  if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
    char *real = realpath(path, nullptr);
    if (real == nullptr) return errno;
    target = real;
    std::free(real);
  }
  return replace_file(target, samples, frames);
}

std::string wav_error_text(int err) {
  struct reason {
    int err;
    const char *text;
  };
  static constexpr reason reasons[] = {
      {EACCES, "permiso denegado"},
      {EPERM, "permiso denegado"},
      {ENOENT, "no existe el archivo o el directorio"},
      {ENOTDIR, "parte de la ruta no es un directorio"},
      {EISDIR, "es un directorio"},
      {ENOSPC, "no queda espacio en el dispositivo"},
      {EDQUOT, "cuota de disco agotada"},
      {EFBIG, "archivo demasiado grande"},
      {EROFS, "sistema de archivos de solo lectura"},
      {ENAMETOOLONG, "nombre demasiado largo"},
      {ELOOP, "demasiados enlaces simbólicos"},
      {ENOMEM, "sin memoria"},
      {EIO, "error de entrada/salida"},
      {EPIPE, "tubería rota"},
  };
  for (const reason &r : reasons) {
    if (r.err == err) return r.text;
  }
  return "error del sistema " + std::to_string(err);
}
