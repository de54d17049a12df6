// make_demo_midi: writes the demo song as a Standard MIDI file, optionally
// at another tempo: make_demo_midi OUT.mid [PERCENT] (100 by default; 50
// plays it at half speed, twice as long). Gives the peer comparison of
// bench/compare_peer.sh songs of several lengths made by the project.
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "demo_song.h"

namespace {

// The demo's track opens with its tempo: delta 0, FF 51 03, then 24 bits of
// microseconds per quarter note, 22 bytes into the file (header 14, track
// header 8).
constexpr size_t tempo_event_at = 22;
constexpr uint32_t demo_tempo_us = 500000;

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2 && argc != 3) {
    std::fputs("uso: make_demo_midi salida.mid [porcentaje]\n", stderr);
    return 1;
  }
  long percent = 100;
  if (argc == 3) {
    char *end = nullptr;
    percent = std::strtol(argv[2], &end, 10);
    if (end == argv[2] || *end != '\0' || percent < 10 || percent > 1000) {
      std::fprintf(stderr, "make_demo_midi: porcentaje no válido (10 a 1000): %s\n", argv[2]);
      return 1;
    }
  }
  demo::bytes midi = demo::song_midi();
  const uint8_t *t = midi.data() + tempo_event_at;
  if (midi.size() < tempo_event_at + 7 || t[0] != 0x00 || t[1] != 0xFF || t[2] != 0x51 ||
      t[3] != 0x03) {
    std::fputs("make_demo_midi: la canción de demostración ya no empieza por su tempo\n", stderr);
    return 1;
  }
  const auto tempo =
      static_cast<uint32_t>(demo_tempo_us * 100 / static_cast<unsigned long>(percent));
  midi[tempo_event_at + 4] = static_cast<uint8_t>(tempo >> 16);
  midi[tempo_event_at + 5] = static_cast<uint8_t>(tempo >> 8);
  midi[tempo_event_at + 6] = static_cast<uint8_t>(tempo);
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(midi.data()), static_cast<std::streamsize>(midi.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "make_demo_midi: no se puede escribir %s\n", argv[1]);
    return 1;
  }
  return 0;
}
