// wad.cpp: loading a WAD archive into memory (or opening it to read its
// lumps on demand), lump lookup by name, merging a patch archive, releasing.
// A loaded archive is read once into one image that every lump points into,
// so memory follows the file's size whatever its directory says
// (overlapping lumps share their bytes). Every size and offset
// comes from the file, so each is checked against its length in 64-bit
// arithmetic.
#include "tunecast/wad.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "common/byte_order.h"
#include "common/console_text.h"
#include "wad/image.h"
#include "wad/log.h"
#include "wad/read_at.h"

using tunecast::get_u32le;

using tunecast::console_escape;
using tunecast::wad_image;
using tunecast::wad_image_max_bytes;
using tunecast::wad_logf;
using tunecast::wad_open_image;
using tunecast::wad_read_at;
using tunecast::wad_read_image;

namespace {

constexpr int64_t header_bytes = 12;
constexpr int64_t dir_entry_bytes = 16;

// The handle callers see, and the images its lumps point into: one per
// archive, more once patches are merged in. A wad_file* handed out by this
// module always points at the first member of one of these.
struct wad_owner {
  wad_file file;
  uint8_t **images;
  int32_t image_count;
  int fd;  // an archive opened with wad_open: its file, read on demand; else -1
  // Read from a ZIP: the member read, then the archive's other WAD members
  // (malloc'd copies); else none.
  char **members;
  int32_t member_count;
};

void free_members(wad_owner *owner) {
  for (int32_t i = 0; i < owner->member_count; ++i) std::free(owner->members[i]);
  std::free(owner->members);
  owner->members = nullptr;
  owner->member_count = 0;
}

// Copies the image's member names into the handle. False when memory runs
// out (then none is kept).
bool keep_members(wad_owner *owner, const std::vector<std::string> &names) {
  if (names.empty()) return true;
  owner->members = static_cast<char **>(std::calloc(names.size(), sizeof(char *)));
  if (owner->members == nullptr) return false;
  for (const std::string &name : names) {
    char *copy = static_cast<char *>(std::malloc(name.size() + 1));
    if (copy == nullptr) {
      free_members(owner);
      return false;
    }
    std::memcpy(copy, name.c_str(), name.size() + 1);
    owner->members[owner->member_count++] = copy;
  }
  return true;
}

wad_owner *owner_of(wad_file *w) { return reinterpret_cast<wad_owner *>(w); }

int32_t get_i32le(const uint8_t *p) { return static_cast<int32_t>(get_u32le(p)); }

// Copies text into a 512-byte field, cut to 511 characters.
void set_path_field(char (&field)[512], const char *text) {
  const size_t n = strnlen(text, sizeof field - 1);
  std::memcpy(field, text, n);
  field[n] = '\0';
}

// Names are padded with NULs or spaces; a NUL inside ends the name early.
void clean_name(char (&name)[9], const uint8_t *raw) {
  char buf[9];
  std::memcpy(buf, raw, 8);
  buf[8] = '\0';
  for (int i = 7; i >= 0 && (buf[i] == '\0' || buf[i] == ' '); --i) buf[i] = '\0';
  const size_t n = strnlen(buf, 8);
  std::memcpy(name, buf, n);
  name[n] = '\0';
}

// The first n bytes at offset of an archive in memory or open on demand
// (the caller has checked that they lie inside it).
bool read_image(const wad_image &image, int64_t offset, uint8_t *buf, size_t n) {
  if (image.bytes != nullptr) {
    std::memcpy(buf, image.bytes + offset, n);
    return true;
  }
  return wad_read_at(image.fd, offset, buf, n);
}

// Fills the handle's entries from the directory. Lumps point into the image
// when it is in memory; an archive read on demand leaves every data null.
void fill_lumps(wad_file *w, const uint8_t *dir, const wad_image &image) {
  const auto size = static_cast<int64_t>(image.size);
  for (int32_t i = 0; i < w->num_lumps; ++i) {
    const uint8_t *e = dir + static_cast<size_t>(i) * dir_entry_bytes;
    wad_lump &lump = w->lumps[i];
    clean_name(lump.name, e + 8);
    lump.file_ofs = get_i32le(e);
    lump.size = get_i32le(e + 4);
    if (lump.size <= 0) continue;  // markers and negative sizes: no data, size kept
    if (lump.file_ofs >= 0 && int64_t{lump.file_ofs} + lump.size <= size) {
      if (image.bytes != nullptr) lump.data = image.bytes + lump.file_ofs;
    } else {
      lump.size = 0;
    }
  }
}

// Checks header and directory and builds the handle, which takes over the
// image's bytes (or its open file). Returns null (with its line logged) on
// failure.
wad_file *load_image(wad_image &image, const char *given) {
  // Both texts are made before anything is allocated: a failure to make
  // them cannot leave a half-built handle behind.
  const std::string shown = console_escape(image.name);
  const std::string given_shown = console_escape(given);
  if (image.size == 0) {
    wad_logf(WAD_LOG_FAILURE, "[WAD] %s está vacío", shown.c_str());
    return nullptr;
  }
  if (image.size < header_bytes) {
    wad_logf(WAD_LOG_FAILURE, "[WAD] %s es demasiado corto para ser un WAD (%zu bytes)",
             shown.c_str(), image.size);
    return nullptr;
  }
  uint8_t header[header_bytes];
  if (!read_image(image, 0, header, sizeof header)) {
    wad_logf(WAD_LOG_FAILURE, "[WAD] error al leer %s", shown.c_str());
    return nullptr;
  }
  char magic[5] = {};
  std::memcpy(magic, header, 4);  // a NUL among the 4 bytes ends the text early
  if (std::strcmp(magic, "IWAD") != 0 && std::strcmp(magic, "PWAD") != 0) {
    wad_logf(WAD_LOG_FAILURE, "[WAD] Magic inválido %s en %s", console_escape(magic).c_str(),
             shown.c_str());
    return nullptr;
  }
  const int32_t count = get_i32le(header + 4);
  const int32_t dir_ofs = get_i32le(header + 8);
  if (dir_ofs < 0 || count < 0 ||
      dir_ofs + dir_entry_bytes * count > static_cast<int64_t>(image.size)) {
    wad_logf(WAD_LOG_FAILURE, "[WAD] dir_ofs corrupto %d", dir_ofs);
    return nullptr;
  }

  // The bound check above caps the directory, and so the count, by the
  // file's own length.
  const auto dir_size = static_cast<size_t>(dir_entry_bytes * count);
  uint8_t *dir_copy = nullptr;  // only for an archive read on demand
  if (image.bytes == nullptr && dir_size > 0) {
    dir_copy = static_cast<uint8_t *>(std::malloc(dir_size));
    if (dir_copy != nullptr && !read_image(image, dir_ofs, dir_copy, dir_size)) {
      std::free(dir_copy);
      wad_logf(WAD_LOG_FAILURE, "[WAD] error al leer %s", shown.c_str());
      return nullptr;
    }
  }
  auto *owner = static_cast<wad_owner *>(std::calloc(1, sizeof(wad_owner)));
  auto *images = static_cast<uint8_t **>(std::malloc(sizeof(uint8_t *)));
  wad_lump *lumps = nullptr;
  if (count > 0)
    lumps = static_cast<wad_lump *>(std::calloc(static_cast<size_t>(count), sizeof(wad_lump)));
  if (owner == nullptr || images == nullptr || (count > 0 && lumps == nullptr) ||
      (image.bytes == nullptr && dir_size > 0 && dir_copy == nullptr) ||
      !keep_members(owner, image.members)) {
    std::free(dir_copy);
    std::free(lumps);
    std::free(images);
    std::free(owner);
    wad_logf(WAD_LOG_FAILURE, "[WAD] sin memoria para %s", shown.c_str());
    return nullptr;
  }
  wad_file *w = &owner->file;
  std::memcpy(w->magic, magic, sizeof magic);
  w->num_lumps = count;
  w->dir_ofs = dir_ofs;
  w->lumps = lumps;
  w->lump_capacity = count;
  set_path_field(w->path, image.name.c_str());
  set_path_field(w->src_path, given);
  fill_lumps(w, dir_copy != nullptr ? dir_copy : image.bytes + dir_ofs, image);
  std::free(dir_copy);
  images[0] = image.bytes;
  image.bytes = nullptr;
  owner->images = images;
  owner->image_count = 1;
  owner->fd = image.fd;
  image.fd = -1;
  wad_logf(WAD_LOG_PROGRESS, "[WAD] %s %s: %d lumps, dir @ %d", w->magic, given_shown.c_str(),
           count, dir_ofs);
  return w;
}

// Reads path with read (wad_read_image or wad_open_image) and builds the
// handle. No exception leaves: the callers are C. The image is released on
// every path, an exception's included; the handle owns it once built.
wad_file *load_path(const char *path, const char *member,
                    bool (*read)(const char *, const char *, wad_image &)) noexcept {
  if (path == nullptr) return nullptr;
  wad_image image;
  wad_file *w = nullptr;
  try {
    if (read(path, member, image)) w = load_image(image, path);
  } catch (const std::bad_alloc &) {
    // The path is not shown: escaping it would need memory too.
    wad_logf(WAD_LOG_FAILURE, "[WAD] sin memoria para leer el archivo");
  } catch (...) {
    wad_logf(WAD_LOG_FAILURE, "[WAD] error inesperado al leer el archivo");
  }
  std::free(image.bytes);
  if (image.fd >= 0) close(image.fd);
  return w;
}

}  // namespace

wad_file *wad_load(const char *path) { return load_path(path, nullptr, wad_read_image); }

wad_file *wad_open(const char *path) { return load_path(path, nullptr, wad_open_image); }

wad_file *wad_load_member(const char *path, const char *member) {
  return load_path(path, member, wad_read_image);
}

wad_file *wad_open_member(const char *path, const char *member) {
  return load_path(path, member, wad_open_image);
}

const char *wad_zip_member(wad_file *w, int32_t index) {
  if (w == nullptr || index < 0) return nullptr;
  const wad_owner *owner = owner_of(w);
  return index < owner->member_count ? owner->members[index] : nullptr;
}

uint8_t *wad_read_lump(wad_file *w, const wad_lump *lump) {
  if (w == nullptr || lump == nullptr || lump->size <= 0) return nullptr;
  const int fd = owner_of(w)->fd;
  if (lump->data == nullptr && fd < 0) return nullptr;
  const auto n = static_cast<size_t>(lump->size);
  auto *copy = static_cast<uint8_t *>(std::malloc(n));
  if (copy == nullptr) return nullptr;
  if (lump->data != nullptr) {
    std::memcpy(copy, lump->data, n);
  } else if (!wad_read_at(fd, lump->file_ofs, copy, n)) {
    std::free(copy);  // the file shrank since it was opened
    return nullptr;
  }
  return copy;
}

int32_t wad_read_lump_head(wad_file *w, const wad_lump *lump, void *buf, size_t capacity) {
  if (w == nullptr || lump == nullptr || (buf == nullptr && capacity > 0)) return -1;
  if (lump->size <= 0 || capacity == 0) return 0;
  const int fd = owner_of(w)->fd;
  if (lump->data == nullptr && fd < 0) return 0;
  const size_t n = std::min(static_cast<size_t>(lump->size), capacity);
  if (lump->data != nullptr) {
    std::memcpy(buf, lump->data, n);
  } else if (!wad_read_at(fd, lump->file_ofs, buf, n)) {
    return -1;  // the file shrank since it was opened
  }
  return static_cast<int32_t>(n);
}

wad_file *wad_load_memory(const void *data, size_t size, const char *name) {
  if (name == nullptr || (data == nullptr && size > 0)) return nullptr;
  wad_image image;
  wad_file *w = nullptr;
  try {
    image.name = name;
    image.size = static_cast<size_t>(std::min<uint64_t>(size, wad_image_max_bytes));
    // The handle owns its image, as a loaded file's: the caller's bytes are
    // free to go once this returns.
    if (image.size > 0) {
      image.bytes = static_cast<uint8_t *>(std::malloc(image.size));
      if (image.bytes == nullptr) {
        wad_logf(WAD_LOG_FAILURE, "[WAD] sin memoria para leer %s", console_escape(name).c_str());
        return nullptr;
      }
      std::memcpy(image.bytes, data, image.size);
    }
    w = load_image(image, name);
  } catch (...) {
    // Only memory can run out here; the name is not shown, since escaping
    // it would need memory too.
    wad_logf(WAD_LOG_FAILURE, "[WAD] sin memoria para leer una imagen en memoria");
  }
  std::free(image.bytes);  // null once the handle owns it
  return w;
}

void wad_free(wad_file *w) {
  if (w == nullptr) return;
  wad_owner *owner = owner_of(w);
  for (int32_t i = 0; i < owner->image_count; ++i) std::free(owner->images[i]);
  std::free(owner->images);
  if (owner->fd >= 0) close(owner->fd);
  free_members(owner);
  std::free(w->lumps);
  std::free(owner);
}

wad_lump *wad_get(wad_file *w, const char *name) {
  if (w == nullptr || name == nullptr) return nullptr;
  for (int32_t i = w->num_lumps - 1; i >= 0; --i) {
    if (std::strcmp(w->lumps[i].name, name) == 0) return &w->lumps[i];
  }
  return nullptr;
}

void *wad_get_data(wad_file *w, const char *name, int32_t *size_out) {
  const wad_lump *lump = wad_get(w, name);
  if (lump == nullptr) return nullptr;
  if (size_out != nullptr) *size_out = lump->size;
  return lump->data;
}

int32_t wad_merge(wad_file *dst, wad_file *src) {
  if (dst == nullptr || src == nullptr || dst == src) return -1;
  const int64_t total = int64_t{dst->num_lumps} + src->num_lumps;
  if (total > INT32_MAX) return -1;
  wad_owner *to = owner_of(dst);
  wad_owner *from = owner_of(src);
  // An entry of an archive read on demand names bytes in its own file.
  if (to->fd >= 0 || from->fd >= 0) return -1;
  // Room for src's images first: a larger array left behind by a later
  // failure is harmless, and dst stays as it was.
  auto *images = static_cast<uint8_t **>(std::realloc(
      to->images, static_cast<size_t>(to->image_count + from->image_count) * sizeof(uint8_t *)));
  if (images == nullptr) return -1;
  to->images = images;
  if (total > 0) {
    // realloc of 0 bytes may free the array, so two empty archives skip it.
    auto *lumps = static_cast<wad_lump *>(
        std::realloc(dst->lumps, static_cast<size_t>(total) * sizeof(wad_lump)));
    if (lumps == nullptr) return -1;
    if (src->num_lumps > 0) {
      std::memcpy(lumps + dst->num_lumps, src->lumps,
                  static_cast<size_t>(src->num_lumps) * sizeof(wad_lump));
    }
    dst->lumps = lumps;
  }
  dst->num_lumps = static_cast<int32_t>(total);
  dst->lump_capacity = static_cast<int32_t>(total);
  // The bytes src's lumps point into now belong to dst.
  std::memcpy(to->images + to->image_count, from->images,
              static_cast<size_t>(from->image_count) * sizeof(uint8_t *));
  to->image_count += from->image_count;
  free_members(from);
  std::free(from->images);
  std::free(src->lumps);
  std::free(from);
  return 0;
}
