// read_at.h: reading exactly n bytes at an offset of an open file, for the
// WAD reader's parts that read archives in place, and the other small reads
// whose calls differ between POSIX and Windows. Private to the WAD module.
#ifndef TUNECAST_WAD_READ_AT_H
#define TUNECAST_WAD_READ_AT_H

#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace tunecast {

#ifdef _WIN32

// Windows has no pread: ReadFile told the offset (through an OVERLAPPED) reads
// there whatever the descriptor's position, and may also return less than asked.
inline bool wad_read_at(int fd, int64_t offset, void *buf, size_t n) {
  const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (file == INVALID_HANDLE_VALUE) return false;
  auto *p = static_cast<uint8_t *>(buf);
  constexpr size_t max_call_bytes = size_t{1} << 30;  // a DWORD count, kept well inside
  while (n > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    DWORD got = 0;
    const auto ask = static_cast<DWORD>(n < max_call_bytes ? n : max_call_bytes);
    if (!ReadFile(file, p, ask, &got, &at) || got == 0) return false;
    p += got;
    n -= got;
    offset += got;
  }
  return true;
}

// read(), whose count Windows takes as an unsigned int. Returns the count
// read (0 at end of file) or -1.
inline int64_t wad_read_some(int fd, void *buf, size_t n) {
  constexpr size_t max_call_bytes = size_t{1} << 30;
  return _read(fd, buf, static_cast<unsigned>(n < max_call_bytes ? n : max_call_bytes));
}

// The length of the open file; false when it cannot be looked at.
inline bool wad_file_size(int fd, int64_t &size) {
  struct _stat64 st;
  if (_fstat64(fd, &st) != 0) return false;
  size = st.st_size;
  return true;
}

#else

// pread may return less than asked (a signal, a large request): go on from
// where it stopped. False when the file ends first or a read fails.
inline bool wad_read_at(int fd, int64_t offset, void *buf, size_t n) {
  auto *p = static_cast<uint8_t *>(buf);
  while (n > 0) {
    const ssize_t got = pread(fd, p, n, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    n -= static_cast<size_t>(got);
    offset += got;
  }
  return true;
}

inline int64_t wad_read_some(int fd, void *buf, size_t n) { return read(fd, buf, n); }

inline bool wad_file_size(int fd, int64_t &size) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  size = st.st_size;
  return true;
}

#endif

}  // namespace tunecast

#endif  // TUNECAST_WAD_READ_AT_H
