// write_game_songs: the game-like song set on disk, for the tool and for
// compare_peer.sh: write_game_songs OUT_DIR writes game_songs.wad (every
// song as a MUS lump, D_GS01 to D_GS24) and each song as a Standard MIDI
// file, gs01_action.mid and so on, converted by the tool's own converter.
// OUT_DIR is made when missing.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "game_songs.h"
#include "midi/mus_to_midi.h"
#include "wad_writer.h"

namespace {

using bytes = std::vector<uint8_t>;

// Writes data to dir/name through a temporary file of its own (mkstemp)
// renamed over it, so that a link lying at that name is replaced, never
// followed, and no file is left half written. Throws std::runtime_error.
void write_whole(const std::string &dir, const std::string &name, const bytes &data) {
  const std::string path = dir + "/" + name;
  std::string temp = dir + "/.write_game_songs.XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0)
    throw std::runtime_error("no se puede crear un fichero en " + dir + ": " +
                             std::strerror(errno));
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const bool ok = done == data.size() && fchmod(fd, 0644) == 0;
  if (close(fd) != 0 || !ok || rename(temp.c_str(), path.c_str()) != 0) {
    const std::string reason = std::strerror(errno);
    unlink(temp.c_str());
    throw std::runtime_error("no se puede escribir " + path + ": " + reason);
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "uso: write_game_songs DIRECTORIO\n");
    return 1;
  }
  const std::string dir = argv[1];
  if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "write_game_songs: no se puede crear %s: %s\n", dir.c_str(),
                 std::strerror(errno));
    return 1;
  }
  try {
    wad_writer wad;
    for (int i = 0; i < bench::game_song_count; ++i) {
      const bench::score song = bench::game_song(i);
      const tunecast::midi_file_result midi =
          tunecast::mus_to_midi(song.mus.data(), song.mus.size());
      if (!midi.ok) throw std::runtime_error(song.name + ": " + midi.error);
      write_whole(dir, song.name + ".mid", midi.midi);
      wad.lump(bench::game_song_lump(i), song.mus);
      std::printf("%s  %s  %.1f s\n", bench::game_song_lump(i).c_str(), song.name.c_str(),
                  static_cast<double>(song.ticks) / 140.0);
    }
    write_whole(dir, "game_songs.wad", wad.build());
  } catch (const std::exception &e) {
    std::fprintf(stderr, "write_game_songs: %s\n", e.what());
    return 1;
  }
  return 0;
}
