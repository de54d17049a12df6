// make_demo: writes the bundled demo song to the path given: a WAD archive
// holding it as the MUS lump D_DEMO and as the MIDI lump D_DEMOMI.
#include <cstdio>
#include <exception>

#include "demo_song.h"
#include "wad_writer.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fputs("uso: make_demo salida.wad\n", stderr);
    return 1;
  }
  try {
    wad_writer().lump("D_DEMO", demo::song_mus()).lump("D_DEMOMI", demo::song_midi()).write(argv[1]);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "make_demo: %s\n", e.what());
    return 1;
  }
  return 0;
}
