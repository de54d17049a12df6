// fuzz_support.h: what the fuzz targets share: a private scratch directory
// and writing an input into a file there, since the loaders read files.
#ifndef TUNECAST_FUZZ_SUPPORT_H
#define TUNECAST_FUZZ_SUPPORT_H

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

// A directory of this process's own, made once.
inline const std::string &scratch_dir() {
  static const std::string dir = [] {
    std::string templ = "/tmp/tunecast-fuzz-XXXXXX";
    if (mkdtemp(templ.data()) == nullptr) std::abort();
    return templ;
  }();
  return dir;
}

inline void write_input(const std::string &path, const uint8_t *data, size_t size) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size != 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
}

}  // namespace fuzz

#endif  // TUNECAST_FUZZ_SUPPORT_H
