// Fuzzes the ZIP container path of the WAD loader: every input starts with
// a local-header signature. unzip is kept out of reach (PATH points at an
// empty directory), so a compressed member fails to extract and no
// external command ever runs; stored members are copied by the loader.
#include <glob.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "wad.h"

namespace {

// Extractions land in /tmp under a name taken from the member. When the
// process can have a /tmp of its own (a private mount namespace, as root),
// every extraction is removed after each input so a long run does not fill
// it; otherwise only successful ones are, since other programs' files there
// must not be touched.
bool private_tmp = false;

void use_private_tmp() {
  private_tmp = unshare(CLONE_NEWNS) == 0 &&
                mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                mount("tunecast-fuzz", "/tmp", "tmpfs", 0, "size=256m") == 0;
}

void remove_extractions() {
  if (!private_tmp) return;
  glob_t found;
  if (glob("/tmp/zarn_engine_*", GLOB_NOSORT, nullptr, &found) == 0) {
    for (size_t i = 0; i < found.gl_pathc; ++i) unlink(found.gl_pathv[i]);
  }
  globfree(&found);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  use_private_tmp();
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
    unlink(w->path);
    wad_free(w);
  }
  remove_extractions();
  return 0;
}
