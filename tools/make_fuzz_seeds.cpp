// make_fuzz_seeds: writes the small seed corpus of each fuzz target into
// DIR/wad, DIR/zip, DIR/mus, DIR/wav and DIR/midi, from the project's fixture
// builders. The committed corpus under fuzz/corpus was made by it:
//   build/make_fuzz_seeds fuzz/corpus
#include <sys/stat.h>

#include <cstdio>
#include <exception>
#include <string>

#include "demo_song.h"
#include "fixtures.h"
#include "midi_builder.h"

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

// One track with running status, a tempo change, a skipped system-exclusive
// message, a drum, controllers, a program change and a pitch bend.
bytes midi_format0() {
  fixture::midi_track t;
  t.tempo(0, 400000).program(0, 0, 33).controller(0, 0, 7, 100).running_status(true);
  t.note_on(0, 0, 60, 100).note_on(0, 0, 64, 90).sysex(10, {0x7E, 0x7F, 0x09, 0x01, 0xF7});
  t.note_on(0, 0, 60, 0).pitch_bend(5, 0, 10000).note_on(0, 9, 36, 127).note_off(30, 9, 36);
  t.controller(0, 0, 121, 0).meta(0, 0x01, {'f', 'i', 'n'}).end(20);
  return fixture::midi_builder(0, 96).track(t).build();
}

// A conductor track and two voices, SMPTE time at 25 frames of 40 ticks.
bytes midi_format1() {
  fixture::midi_track conductor, lead, bass;
  conductor.tempo(0, 500000).tempo(480, 250000).end();
  lead.note_on(0, 2, 72, 80).note_off(240, 2, 72).note_on(0, 2, 74, 80).note_off(240, 2, 74).end();
  bass.program(0, 1, 38).note_on(0, 1, 36, 110).note_off(480, 1, 36).end(120);
  return fixture::midi_builder::smpte(1, 25, 40).track(conductor).track(lead).track(bass).build();
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
    const auto put_zip = [&](const std::string &name, const fixture::zip_builder &z) {
      const bytes zip = z.build();
      put(root + "/zip", name, bytes(zip.begin() + 4, zip.end()));
    };
    put_zip(
        "stored.zip",
        fixture::zip_builder().stored("readme.txt", {'h', 'i'}).stored("data/zarn.wad", map_wad()));
    // Sizes left to data descriptors and the central directory.
    put_zip("streamed.zip", fixture::zip_builder()
                                .stored("readme.txt", {'h', 'i'}, {.streamed = true})
                                .deflated("x.wad", {1, 2, 3}, {.streamed = true})
                                .stored("data/zarn.wad", map_wad(), {.streamed = true}));
    // Inflated in process: the only compressed member the target can read.
    put_zip("deflated.zip", fixture::zip_builder()
                                .deflated("readme.txt", {'h', 'i'})
                                .deflated("data/zarn.wad", map_wad()));
    put_zip("encrypted.zip",
            fixture::zip_builder().stored("zarn.wad", map_wad(), {.encrypted = true}));
    put_zip("wildcards.zip", fixture::zip_builder()
                                 .stored("[a]zarn.wad", {1})
                                 .deflated("b\\*?zarn.wad", {2})
                                 .stored("-zarn.wad", map_wad()));
    put(root + "/mus", "short.mus", short_song());
    put(root + "/mus", "demo.mus", demo::song_mus());
    put(root + "/wav", "mono.wav", fixture::wav_pcm16(1, 44100, {0, 1000, -1000, 32767, -32768}));
    put(root + "/midi", "format0.mid", midi_format0());
    put(root + "/midi", "format1.mid", midi_format1());
    put(root + "/wav", "stereo.wav", fixture::wav_pcm16(2, 44100, {1, 2, 3, 4, 5, 6}));
  } catch (const std::exception &e) {
    std::fprintf(stderr, "make_fuzz_seeds: %s\n", e.what());
    return 1;
  }
  return 0;
}
