// image.h: an archive's bytes read whole into memory, from a regular
// file, a pipe, or the WAD member of a ZIP archive. The lumps of a loaded
// archive point into this one image. Private to the WAD module.
#ifndef TUNECAST_WAD_IMAGE_H
#define TUNECAST_WAD_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tunecast {

struct wad_image {
  uint8_t *bytes = nullptr;  // malloc'd, size bytes (null when size is 0); the caller frees
  size_t size = 0;
  std::string name;  // for messages and wad_file.path: the path, or "ZIP:member"
  // >= 0: a regular file kept open to be read on demand; bytes is then null
  // and size is the file's length. The caller closes it.
  int fd = -1;
  // Read from a ZIP: the member read, then the archive's other WAD members
  // (see zip_wad::others). Empty otherwise.
  std::vector<std::string> members;
};

// A lump's offset and size are signed 32-bit, so no lump reaches past
// 2^32 - 2 bytes: nothing beyond is ever read or kept.
inline constexpr uint64_t wad_image_max_bytes = (uint64_t{1} << 32) - 2;

// Reads path into out. Returns false after logging one line saying why (a
// directory, a device, a ZIP whose WAD cannot be extracted, a read error).
// member: null for a WAD, or a ZIP's preferred WAD member; else the exact
// name of the ZIP member to read, and path must be a ZIP.
bool wad_read_image(const char *path, const char *member, wad_image &out);

// As wad_read_image, but a plain regular file is not read: it is left open
// in out.fd for its lumps to be read when asked for. A pipe and a ZIP's
// member are still read whole, since they cannot be read again.
bool wad_open_image(const char *path, const char *member, wad_image &out);

}  // namespace tunecast

#endif  // TUNECAST_WAD_IMAGE_H
