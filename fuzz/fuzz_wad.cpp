// Fuzzes the WAD loader and every query on its handle: lookups, merge, map
// listing and reading, palettes. Inputs that would be taken for a ZIP
// archive are left to fuzz_zip.
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "tunecast/wad.h"

namespace {

void query_everything(wad_file *w) {
  for (int32_t i = 0; i < w->num_lumps; ++i) {
    const char *name = w->lumps[i].name;
    int32_t size = -7;
    const wad_lump *found = wad_get(w, name);
    const auto *data = static_cast<const uint8_t *>(wad_get_data(w, name, &size));
    if (found == nullptr || data != found->data || size != found->size) std::abort();
    volatile uint8_t sink = 0;
    if (data != nullptr) sink = static_cast<uint8_t>(data[0] ^ data[size - 1]);
    (void)sink;
  }
  int32_t count = -1;
  char **maps = wad_find_maps(w, &count);
  if ((maps == nullptr) != (count == 0)) std::abort();
  for (int32_t i = 0; i < count; ++i) {
    wad_map map;
    if (wad_read_map(w, maps[i], &map) != 0) std::abort();
    // A found lump without data keeps its size (even a negative one).
    if (map.things.data != nullptr) {
      volatile uint8_t sink = map.things.data[map.things.size - 1];
      (void)sink;
    }
  }
  wad_find_maps_free(maps, count);
  for (int32_t index = -1; index < 4; ++index) {
    uint8_t *palette = wad_get_palette(w, index);
    if (palette != nullptr) {
      volatile uint8_t sink = palette[767];
      (void)sink;
    }
    std::free(palette);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size >= 4 && std::memcmp(data, "PK\x03\x04", 4) == 0) return -1;
  const std::string path = fuzz::scratch_dir() + "/input.wad";
  fuzz::write_input(path, data, size);
  wad_file *w = wad_load(path.c_str());
  if (w == nullptr) return 0;
  query_everything(w);
  // Merge a second load of the same bytes and query the combined archive.
  if (wad_file *patch = wad_load(path.c_str())) {
    if (wad_merge(w, patch) != 0) wad_free(patch);
  }
  query_everything(w);
  wad_free(w);
  return 0;
}
