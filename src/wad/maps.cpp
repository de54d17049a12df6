// maps.cpp: map listing, gathering one map's lumps, and palette copies,
// all answered from a loaded archive's memory without touching the file.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tunecast/wad.h"

namespace {

constexpr int32_t list_first_capacity = 16;
constexpr int32_t find_window_entries = 10;
// One more than the listing looks at: a map whose LINEDEFS sits 11th is not
// listed, yet reading it still finds that lump.
constexpr int32_t read_window_entries = 11;
constexpr int64_t palette_bytes = 768;  // 256 colours of 3 bytes

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// "ExMy" or "MAPxy", upper case, digits where digits belong.
bool is_map_name(const char *n) {
  const size_t len = strnlen(n, 9);
  if (len == 4) return n[0] == 'E' && is_digit(n[1]) && n[2] == 'M' && is_digit(n[3]);
  if (len == 5) return std::strncmp(n, "MAP", 3) == 0 && is_digit(n[3]) && is_digit(n[4]);
  return false;
}

// Ends a look-ahead window; the digits are deliberately not checked here.
bool is_marker_like(const char *n) {
  const size_t len = strnlen(n, 9);
  return (len == 4 && n[0] == 'E' && n[2] == 'M') || (len == 5 && std::strncmp(n, "MAP", 3) == 0);
}

// THINGS and LINEDEFS among the (at most 10) entries after the candidate.
bool has_map_lumps(const wad_file *w, int32_t marker) {
  bool things = false, linedefs = false;
  const int64_t last = int64_t{marker} + find_window_entries;
  for (int64_t i = int64_t{marker} + 1; i <= last && i < w->num_lumps; ++i) {
    const char *n = w->lumps[i].name;
    if (is_marker_like(n)) break;
    things = things || std::strcmp(n, "THINGS") == 0;
    linedefs = linedefs || std::strcmp(n, "LINEDEFS") == 0;
  }
  return things && linedefs;
}

bool listed(char **list, int32_t count, const char *name) {
  for (int32_t i = 0; i < count; ++i) {
    if (std::strcmp(list[i], name) == 0) return true;
  }
  return false;
}

// Appends a copy of name, growing the list 16, 32, 64... False when out of memory.
bool list_append(char ***list, int32_t *count, int32_t *capacity, const char *name) {
  if (*count == *capacity) {
    const int32_t grown = *capacity == 0 ? list_first_capacity : *capacity * 2;
    auto *bigger =
        static_cast<char **>(std::realloc(*list, static_cast<size_t>(grown) * sizeof(char *)));
    if (bigger == nullptr) return false;
    *list = bigger;
    *capacity = grown;
  }
  const size_t n = std::strlen(name) + 1;
  auto *copy = static_cast<char *>(std::malloc(n));
  if (copy == nullptr) return false;
  std::memcpy(copy, name, n);
  (*list)[(*count)++] = copy;
  return true;
}

struct map_field {
  const char *lump_name;
  wad_map_lump wad_map::*field;
};

constexpr map_field map_fields[] = {
    {"THINGS", &wad_map::things},     {"LINEDEFS", &wad_map::linedefs},
    {"SIDEDEFS", &wad_map::sidedefs}, {"VERTEXES", &wad_map::vertexes},
    {"SEGS", &wad_map::segs},         {"SSECTORS", &wad_map::ssectors},
    {"NODES", &wad_map::nodes},       {"SECTORS", &wad_map::sectors},
    {"REJECT", &wad_map::reject},     {"BLOCKMAP", &wad_map::blockmap},
};

}  // namespace

char **wad_find_maps(wad_file *w, int32_t *count_out) {
  if (count_out != nullptr) *count_out = 0;
  // Without count_out the caller could not release the names.
  if (w == nullptr || count_out == nullptr) return nullptr;
  char **list = nullptr;
  int32_t count = 0, capacity = 0;
  for (int32_t i = 0; i < w->num_lumps; ++i) {
    const char *name = w->lumps[i].name;
    if (!is_map_name(name) || !has_map_lumps(w, i) || listed(list, count, name)) continue;
    if (!list_append(&list, &count, &capacity, name)) {
      wad_find_maps_free(list, count);
      list = nullptr;
      count = 0;
      break;
    }
  }
  *count_out = count;
  return list;
}

void wad_find_maps_free(char **list, int32_t count) {
  if (list == nullptr) return;
  for (int32_t i = 0; i < count; ++i) std::free(list[i]);
  std::free(list);
}

int32_t wad_read_map(wad_file *w, const char *name, wad_map *out) {
  if (out != nullptr) *out = wad_map{};
  if (w == nullptr || name == nullptr || out == nullptr) return -1;
  int32_t marker = w->num_lumps - 1;
  while (marker >= 0 && std::strcmp(w->lumps[marker].name, name) != 0) --marker;
  if (marker < 0) return -1;

  const int64_t last = int64_t{marker} + read_window_entries;
  for (int64_t i = int64_t{marker} + 1; i <= last && i < w->num_lumps; ++i) {
    const wad_lump &lump = w->lumps[i];
    if (is_marker_like(lump.name)) break;
    for (const map_field &f : map_fields) {
      if (std::strcmp(lump.name, f.lump_name) == 0)
        out->*f.field = wad_map_lump{lump.data, lump.size};
    }
  }
  return 0;
}

uint8_t *wad_get_palette(wad_file *w, int32_t index) {
  const wad_lump *pal = wad_get(w, "PLAYPAL");
  if (pal == nullptr || pal->data == nullptr) return nullptr;
  if (index < 0 || (int64_t{index} + 1) * palette_bytes > pal->size) return nullptr;
  auto *copy = static_cast<uint8_t *>(std::malloc(palette_bytes));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, pal->data + int64_t{index} * palette_bytes, palette_bytes);
  return copy;
}
