// make_wad: wraps files as lumps of a new WAD archive, in the order given:
// make_wad OUT.wad NAME=FILE... (a Standard MIDI file becomes a MIDI lump).
// Used by bench/compare_peer.sh to hand MIDI files to the tool.
#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <string>

#include "wad_writer.h"

namespace {

constexpr size_t lump_name_max = 8;
constexpr std::streamoff lump_size_max = 0x7FFFFFFF;  // WAD sizes are signed 32-bit

bool read_file(const std::string &path, wad_writer::bytes &out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0 || size > lump_size_max) return false;
  in.seekg(0, std::ios::beg);
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return static_cast<std::streamoff>(out.size()) == size;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fputs("uso: make_wad salida.wad NOMBRE=FICHERO...\n", stderr);
    return 1;
  }
  try {
    wad_writer wad;
    for (int i = 2; i < argc; ++i) {
      const std::string arg = argv[i];
      const size_t eq = arg.find('=');
      if (eq == std::string::npos || eq == 0 || eq > lump_name_max || eq + 1 == arg.size()) {
        std::fprintf(stderr, "make_wad: se esperaba NOMBRE=FICHERO (nombre de 1 a 8 bytes): %s\n",
                     argv[i]);
        return 1;
      }
      wad_writer::bytes data;
      if (!read_file(arg.substr(eq + 1), data)) {
        std::fprintf(stderr, "make_wad: no se puede leer %s\n", arg.c_str() + eq + 1);
        return 1;
      }
      wad.lump(arg.substr(0, eq), data);
    }
    wad.write(argv[1]);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "make_wad: %s\n", e.what());
    return 1;
  }
  return 0;
}
