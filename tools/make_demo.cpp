// make_demo: writes the bundled demo song, a WAD archive holding the MUS
// lump D_DEMO, to the path given.
#include <cstdio>
#include <exception>

#include "demo_song.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fputs("uso: make_demo salida.wad\n", stderr);
    return 1;
  }
  try {
    fixture::write_file(argv[1], demo::song_wad());
  } catch (const std::exception &e) {
    std::fprintf(stderr, "make_demo: %s\n", e.what());
    return 1;
  }
  return 0;
}
