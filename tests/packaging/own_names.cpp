// own_names.cpp: an engine with names of its own that tunecast's libraries
// use inside, linked statically with every object of the WAD, synthesizer
// and MIDI libraries. A C program's names never meet the libraries'
// internal C++ ones (those are mangled), so the engine is C++: its
// classify_lump and strcase_ends_with take the very parameters of the
// libraries' helpers, and only the libraries' namespace keeps the two apart.
// I_StopSong is the engine's own music call: none of them may bring one.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "tunecast/wad.h"

extern "C" void I_StopSong(void) {}

int classify_lump(const uint8_t *data, int32_t size) { return data != nullptr && size > 0; }

int strcase_ends_with(const char *s, const char *suffix) {
  const size_t n = std::strlen(s), k = std::strlen(suffix);
  return n >= k && std::strcmp(s + n - k, suffix) == 0;
}

int main() {
  I_StopSong();
  const uint8_t lump[] = {1};
  // The library's loader, refusing a name that is not there, next to the
  // engine's own helpers.
  wad_set_log([](void *, int32_t, const char *) {}, nullptr);
  const bool ok = wad_load("") == nullptr && classify_lump(lump, 1) == 1 &&
                  strcase_ends_with("music.wad", ".wad") == 1;
  std::puts(ok ? "own names kept" : "own names lost");
  return ok ? 0 : 1;
}
