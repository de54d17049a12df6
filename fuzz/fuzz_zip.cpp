// Fuzzes the ZIP container path of the WAD loader: every input starts with
// a local-header signature. unzip is kept out of reach (PATH points at an
// empty directory), so a compressed member fails to extract and no
// external command ever runs; stored members are copied by the loader.
#include <glob.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "wad.h"

namespace {

// Extractions land in /tmp under a name taken from the member; remove
// them so a long run does not fill /tmp.
void remove_extractions() {
  glob_t found;
  if (glob("/tmp/zarn_engine_*", GLOB_NOSORT, nullptr, &found) == 0) {
    for (size_t i = 0; i < found.gl_pathc; ++i) unlink(found.gl_pathv[i]);
  }
  globfree(&found);
}

}  // namespace

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
    if (std::strncmp(w->path, "/tmp/zarn_engine_", 17) != 0) std::abort();
    if (std::strchr(w->path + 17, '/') != nullptr) std::abort();  // never outside /tmp
    for (int32_t i = 0; i < w->num_lumps; ++i) wad_get(w, w->lumps[i].name);
    wad_free(w);
  }
  remove_extractions();
  return 0;
}
