// write_scores: the benchmarks' scores as MUS lumps of one WAD, so that the
// tool can render them (peak memory) or write them as MIDI for
// compare_peer.sh: write_scores OUT.wad. Lumps D_TYPICL, D_DENSE, D_DRUMS,
// D_REAL.
#include <cstdio>
#include <exception>

#include "bench_scores.h"
#include "wad_writer.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "uso: write_scores SALIDA.wad\n");
    return 1;
  }
  try {
    wad_writer wad;
    wad.lump("D_TYPICL", bench::typical_score().mus)
        .lump("D_DENSE", bench::dense_score().mus)
        .lump("D_DRUMS", bench::drums_only_score().mus)
        .lump("D_REAL", bench::real_song_score().mus)
        .write(argv[1]);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "write_scores: %s\n", e.what());
    return 1;
  }
  return 0;
}
