// image.cpp: reading an archive whole into memory. The file is opened
// without blocking and looked at before it is read, so a directory, a device
// or a FIFO with no writer gets a clear line instead of a hang or a silent
// failure. A pipe (a process substitution) is simply read to its end.
#include "wad/image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "common/console_text.h"
#include "common/system_text.h"
#include "wad/log.h"
#include "wad/read_at.h"
#include "wad/zip.h"
#ifdef _WIN32
#include "common/wide_path.h"
#endif

namespace tunecast {

namespace {

constexpr uint64_t max_image_bytes = wad_image_max_bytes;
constexpr size_t first_pipe_capacity = size_t{1} << 16;
constexpr uint8_t zip_signature[4] = {0x50, 0x4B, 0x03, 0x04};

bool fail(const char *format, const char *path) {
  wad_logf(WAD_LOG_FAILURE, format, console_escape(path).c_str());
  return false;
}

// A member was asked for, but only a ZIP file has members to choose from.
bool not_zip(const char *path) {
  return fail("[WAD] %s no es un archivo ZIP: no tiene miembros que elegir", path);
}

// Reads up to n bytes at the current position; fewer only at end of file.
// Returns the count, or -1 on a read error.
int64_t read_up_to(int fd, uint8_t *buf, size_t n) {
  size_t got = 0;
  while (got < n) {
    const int64_t r = wad_read_some(fd, buf + got, n - got);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  return static_cast<int64_t>(got);
}

bool read_regular(int fd, const char *path, uint64_t file_size, wad_image &out) {
  const size_t size =
      static_cast<size_t>(file_size < max_image_bytes ? file_size : max_image_bytes);
  if (size == 0) return true;
  out.bytes = static_cast<uint8_t *>(std::malloc(size));
  if (out.bytes == nullptr) return fail("[WAD] sin memoria para leer %s", path);
  const int64_t got = read_up_to(fd, out.bytes, size);
  if (got < 0) return fail("[WAD] error al leer %s", path);
  out.size = static_cast<size_t>(got);  // shorter when the file shrank meanwhile
  return true;
}

bool read_pipe(int fd, const char *path, wad_image &out) {
  size_t capacity = 0;
  for (;;) {
    if (out.size == capacity) {
      if (capacity >= max_image_bytes)
        return fail("[WAD] %s es demasiado grande para un WAD", path);
      const size_t next = capacity == 0 ? first_pipe_capacity : capacity * 2;
      auto *bytes = static_cast<uint8_t *>(std::realloc(out.bytes, next));
      if (bytes == nullptr) return fail("[WAD] sin memoria para leer %s", path);
      out.bytes = bytes;
      capacity = next;
    }
    const int64_t got = wad_read_some(fd, out.bytes + out.size, capacity - out.size);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail("[WAD] error al leer %s", path);
    if (got == 0) break;
    out.size += static_cast<size_t>(got);
  }
  if (out.size >= 4 && std::memcmp(out.bytes, zip_signature, 4) == 0) {
    return fail("[WAD] %s es un ZIP: un ZIP se lee de un archivo, no de una tubería", path);
  }
  return true;
}

bool read_zip(int fd, const char *path, const char *member, wad_image &out) {
  zip_wad z;
  if (!zip_extract_wad(fd, path, z, {}, member)) {
    wad_logf(WAD_LOG_FAILURE, "[WAD] no se pudo extraer WAD de ZIP %s%s%s",
             console_escape(path).c_str(), z.reason.empty() ? "" : ": ", z.reason.c_str());
    return false;
  }
  out.bytes = z.bytes;
  out.size = z.size;
  out.name = std::string(path) + ":" + z.member;
  out.members = std::move(z.others);
  out.members.insert(out.members.begin(), z.member);
  return true;
}

#ifdef _WIN32
// A read at an offset moves a Windows descriptor too: it goes back to the
// start, where read_regular begins.
bool starts_with_zip_signature(int fd) {
  uint8_t head[4];
  const bool zip =
      wad_read_at(fd, 0, head, sizeof head) && std::memcmp(head, zip_signature, sizeof head) == 0;
  return _lseeki64(fd, 0, SEEK_SET) == 0 && zip;
}

// A name may open a device (NUL, CON) or a named pipe (\\.\pipe\...); no
// open can hang, so there is nothing to unblock.
bool read_open(int fd, const char *path, const char *member, wad_image &out, bool on_demand) {
  struct _stat64 st;
  if (_fstat64(fd, &st) != 0) return fail("[WAD] error al leer %s", path);
  const int kind = st.st_mode & _S_IFMT;
  if (kind == _S_IFDIR) return fail("[WAD] %s es un directorio, no un archivo", path);
  if (kind != _S_IFREG && kind != _S_IFIFO) {
    return fail("[WAD] %s no es un archivo (es un dispositivo)", path);
  }
  if (kind != _S_IFREG) return member == nullptr ? read_pipe(fd, path, out) : not_zip(path);
#else
bool starts_with_zip_signature(int fd) {
  uint8_t head[4];
  return pread(fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head) &&
         std::memcmp(head, zip_signature, sizeof head) == 0;
}

bool read_open(int fd, const char *path, const char *member, wad_image &out, bool on_demand) {
  struct stat st;
  if (fstat(fd, &st) != 0) return fail("[WAD] error al leer %s", path);
  if (S_ISDIR(st.st_mode)) return fail("[WAD] %s es un directorio, no un archivo", path);
  if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode) && !S_ISSOCK(st.st_mode)) {
    return fail("[WAD] %s no es un archivo (es un dispositivo)", path);
  }
  // Opened without blocking only so that a FIFO cannot hang the open.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (!S_ISREG(st.st_mode)) return member == nullptr ? read_pipe(fd, path, out) : not_zip(path);
#endif
  if (starts_with_zip_signature(fd)) return read_zip(fd, path, member, out);
  if (member != nullptr) return not_zip(path);
  if (on_demand) {
    const auto size = static_cast<uint64_t>(st.st_size);
    out.size = static_cast<size_t>(size < max_image_bytes ? size : max_image_bytes);
    out.fd = fd;
    return true;
  }
  return read_regular(fd, path, static_cast<uint64_t>(st.st_size), out);
}

bool read_path(const char *path, const char *member, wad_image &out, bool on_demand) {
  out.name = path;
#ifdef _WIN32
  const int fd = wide_open(path, _O_RDONLY | _O_BINARY | _O_NOINHERIT, 0);
  if (fd < 0 && errno == EISDIR) return fail("[WAD] %s es un directorio, no un archivo", path);
#else
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
#endif
  if (fd < 0) {
    // In Spanish like every other line: strerror would speak the locale's language.
    wad_logf(WAD_LOG_FAILURE, "[WAD] no se puede abrir %s: %s", console_escape(path).c_str(),
             wad_text(system_error_text(errno).c_str()));
    return false;
  }
  const bool ok = read_open(fd, path, member, out, on_demand);
  if (out.fd != fd) close(fd);
  if (!ok) {
    std::free(out.bytes);
    out.bytes = nullptr;
    out.size = 0;
  }
  return ok;
}

}  // namespace

bool wad_read_image(const char *path, const char *member, wad_image &out) {
  return read_path(path, member, out, false);
}

bool wad_open_image(const char *path, const char *member, wad_image &out) {
  return read_path(path, member, out, true);
}

}  // namespace tunecast
