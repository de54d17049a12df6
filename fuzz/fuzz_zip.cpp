// Fuzzes the ZIP container path of the WAD loader: every input starts with
// a local-header signature. Stored members are read into memory and
// deflated ones inflated by the loader itself; unzip is kept out of reach
// (PATH points at an empty directory), so any other method fails to extract
// and no external command ever runs.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "tunecast/wad.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  setenv("PATH", (fuzz::scratch_dir() + "/no-commands").c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<uint8_t> input = {'P', 'K', 3, 4};
  input.insert(input.end(), data, data + size);
  const std::string path = fuzz::scratch_dir() + "/input.zip";
  fuzz::write_input(path, input.data(), input.size());
  wad_file *w = wad_load(path.c_str());
  if (w != nullptr) {
    // The WAD came from a member of this archive, never from a file elsewhere.
    if (std::strncmp(w->path, (path + ":").c_str(), path.size() + 1) != 0) std::abort();
    for (int32_t i = 0; i < w->num_lumps; ++i) wad_get(w, w->lumps[i].name);
    wad_free(w);
  }
  return 0;
}
