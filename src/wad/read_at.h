// read_at.h: reading exactly n bytes at an offset of an open file, for the
// WAD reader's parts that read archives in place. Private to the WAD module.
#ifndef TUNECAST_WAD_READ_AT_H
#define TUNECAST_WAD_READ_AT_H

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace tunecast {

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

}  // namespace tunecast

#endif  // TUNECAST_WAD_READ_AT_H
