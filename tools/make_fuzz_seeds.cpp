// make_fuzz_seeds: writes the small seed corpus of each fuzz target into
// DIR/wad, DIR/zip, DIR/mus and DIR/wav, from the project's fixture
// builders. The committed corpus under fuzz/corpus was made by it:
//   build/make_fuzz_seeds fuzz/corpus
#include <sys/stat.h>

#include <cstdio>
#include <exception>
#include <string>

#include "demo_song.h"
#include "fixtures.h"

namespace {

using fixture::bytes;

bytes short_song() {
  return fixture::mus_builder()
      .instrument(0, 40)
      .note_on(0, 60, 100)
      .note_on(15, 36, 127)
      .delay(20)
      .bend(0, 200)
      .volume(0, 90)
      .delay(10)
      .note_off(0, 60)
      .note_on(1, 67)
      .delay(0x81)
      .score_end()
      .build();
}

bytes map_wad() {
  bytes palette(768 * 2);
  for (size_t i = 0; i < palette.size(); ++i) palette[i] = static_cast<uint8_t>(i);
  return fixture::wad_builder("IWAD")
      .marker("E1M1")
      .lump("THINGS", {1, 2, 3, 4})
      .lump("LINEDEFS", {5, 6})
      .lump("SECTORS", {7})
      .marker("MAP01")
      .lump("THINGS", {8})
      .lump("LINEDEFS", {9})
      .lump("PLAYPAL", palette)
      .lump("D_SHORT", short_song())
      .build();
}

void put(const std::string &dir, const std::string &name, const bytes &data) {
  mkdir(dir.c_str(), 0777);
  fixture::write_file(dir + "/" + name, data);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fputs("uso: make_fuzz_seeds DIRECTORIO\n", stderr);
    return 1;
  }
  const std::string root = argv[1];
  try {
    mkdir(root.c_str(), 0777);
    put(root + "/wad", "maps.wad", map_wad());
    put(root + "/wad", "demo.wad", demo::song_wad());
    // The zip target supplies the local-header signature itself.
    const bytes zip = fixture::zip_builder()
                          .stored("readme.txt", {'h', 'i'})
                          .stored("data/zarn.wad", map_wad())
                          .build();
    put(root + "/zip", "stored.zip", bytes(zip.begin() + 4, zip.end()));
    put(root + "/mus", "short.mus", short_song());
    put(root + "/mus", "demo.mus", demo::song_mus());
    put(root + "/wav", "mono.wav", fixture::wav_pcm16(1, 44100, {0, 1000, -1000, 32767, -32768}));
    put(root + "/wav", "stereo.wav", fixture::wav_pcm16(2, 44100, {1, 2, 3, 4, 5, 6}));
  } catch (const std::exception &e) {
    std::fprintf(stderr, "make_fuzz_seeds: %s\n", e.what());
    return 1;
  }
  return 0;
}
