// wad.cpp: loading a WAD archive whole into memory, lump lookup by name,
// merging a patch archive, releasing. Every size and offset comes from the
// file, so each is checked against the file's length in 64-bit arithmetic.
#include "wad.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "wad_zip.h"

namespace {

constexpr int64_t header_bytes = 12;
constexpr int64_t dir_entry_bytes = 16;

int32_t get_i32le(const uint8_t *p) {
  const uint32_t v =
      uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
  return static_cast<int32_t>(v);
}

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

// Size of the open file, or 0 when it cannot be measured (a pipe): then only
// an empty directory at offset 0 passes the bounds check.
int64_t file_size(FILE *f) {
  if (fseeko(f, 0, SEEK_END) != 0) return 0;
  const off_t end = ftello(f);
  if (fseeko(f, 0, SEEK_SET) != 0 || end < 0) return 0;
  return end;
}

// Reads the bytes of one lump that lies inside the file. Returns false only
// when memory runs out; a short read leaves the entry without data.
bool read_lump(FILE *f, wad_lump &lump) {
  const auto n = static_cast<size_t>(lump.size);
  auto *data = static_cast<uint8_t *>(std::malloc(n));
  if (data == nullptr) return false;
  if (fseeko(f, lump.file_ofs, SEEK_SET) != 0 || std::fread(data, 1, n, f) != n) {
    std::free(data);
    lump.size = 0;  // the file changed under us: treat it like a lump outside the file
    return true;
  }
  lump.data = data;
  return true;
}

// Fills the handle's entries from the directory bytes. False when out of memory.
bool fill_lumps(wad_file *w, const uint8_t *dir, FILE *f, int64_t size) {
  for (int32_t i = 0; i < w->num_lumps; ++i) {
    const uint8_t *e = dir + static_cast<size_t>(i) * dir_entry_bytes;
    wad_lump &lump = w->lumps[i];
    clean_name(lump.name, e + 8);
    lump.file_ofs = get_i32le(e);
    lump.size = get_i32le(e + 4);
    if (lump.size <= 0) continue;  // markers and negative sizes: no data, size kept
    if (lump.file_ofs >= 0 && int64_t{lump.file_ofs} + lump.size <= size) {
      if (!read_lump(f, lump)) return false;
    } else {
      lump.size = 0;
    }
  }
  return true;
}

// Reads header and directory and builds the handle; f is open at its start.
// Returns null (with its message, if any, printed) on failure.
wad_file *load_open(FILE *f, const char *given, const char *resolved) {
  const int64_t size = file_size(f);
  uint8_t header[header_bytes];
  if (std::fread(header, 1, sizeof header, f) != sizeof header) return nullptr;

  char magic[5] = {};
  std::memcpy(magic, header, 4);  // a NUL among the 4 bytes ends the text early
  if (std::strcmp(magic, "IWAD") != 0 && std::strcmp(magic, "PWAD") != 0) {
    std::fprintf(stderr, "[WAD] Magic inválido %s en %s\n", magic, resolved);
    return nullptr;
  }
  const int32_t count = get_i32le(header + 4);
  const int32_t dir_ofs = get_i32le(header + 8);
  if (dir_ofs < 0 || count < 0 || dir_ofs + dir_entry_bytes * count > size) {
    std::fprintf(stderr, "[WAD] dir_ofs corrupto %d\n", dir_ofs);
    return nullptr;
  }

  // The bound check above caps the directory by the file's own length.
  const auto dir_size = static_cast<size_t>(dir_entry_bytes * count);
  auto *dir = static_cast<uint8_t *>(std::malloc(dir_size > 0 ? dir_size : 1));
  if (dir == nullptr) return nullptr;
  if (fseeko(f, dir_ofs, SEEK_SET) != 0 || std::fread(dir, 1, dir_size, f) != dir_size) {
    std::free(dir);
    return nullptr;
  }

  auto *w = static_cast<wad_file *>(std::calloc(1, sizeof(wad_file)));
  wad_lump *lumps = nullptr;
  if (count > 0)
    lumps = static_cast<wad_lump *>(std::calloc(static_cast<size_t>(count), sizeof(wad_lump)));
  if (w == nullptr || (count > 0 && lumps == nullptr)) {
    std::free(lumps);
    std::free(w);
    std::free(dir);
    return nullptr;
  }
  std::memcpy(w->magic, magic, sizeof magic);
  w->num_lumps = count;
  w->dir_ofs = dir_ofs;
  w->lumps = lumps;
  w->lump_capacity = count;
  set_path_field(w->path, resolved);
  set_path_field(w->src_path, given);

  const bool filled = fill_lumps(w, dir, f, size);
  std::free(dir);
  if (!filled) {
    wad_free(w);
    return nullptr;
  }
  std::printf("[WAD] %s %s: %d lumps, dir @ %d\n", w->magic, given, count, dir_ofs);
  return w;
}

}  // namespace

wad_file *wad_load(const char *path) {
  char *resolved = zip_resolve_path(path);
  if (resolved == nullptr) return nullptr;
  FILE *f = std::fopen(resolved, "rb");
  if (f == nullptr) {
    std::perror(resolved);
    std::free(resolved);
    return nullptr;
  }
  wad_file *w = load_open(f, path, resolved);
  std::fclose(f);
  std::free(resolved);
  return w;
}

void wad_free(wad_file *w) {
  if (w == nullptr) return;
  for (int32_t i = 0; i < w->num_lumps; ++i) std::free(w->lumps[i].data);
  std::free(w->lumps);
  std::free(w);
}

wad_lump *wad_get(wad_file *w, const char *name) {
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
  std::free(src->lumps);  // the data buffers now belong to dst
  std::free(src);
  return 0;
}
