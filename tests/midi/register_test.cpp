// register_test.cpp: chip_register_song, registration of a music lump
// checked against its size, and the WAD loader's C entry points when memory
// runs out. Its own binary: the link wraps malloc and this file replaces
// operator new, so that memory can run out on demand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "fixtures.h"
#include "midi_builder.h"
#include "tool/wav_out.h"
#include "tunecast/chip.h"
#include "tunecast/wad.h"

namespace {

bool fail_malloc = false;
bool fail_new = false;

}  // namespace

extern "C" {
void *__real_malloc(size_t);
void *__wrap_malloc(size_t n) { return fail_malloc ? nullptr : __real_malloc(n); }
}

// Out of line, so the compiler sees no new paired with free at its callers.
__attribute__((noinline)) void *operator new(size_t n) {
  void *p = fail_new ? nullptr : std::malloc(n != 0 ? n : 1);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
__attribute__((noinline)) void *operator new(size_t n, const std::nothrow_t &) noexcept {
  return fail_new ? nullptr : std::malloc(n != 0 ? n : 1);
}
__attribute__((noinline)) void operator delete(void *p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void *p, size_t) noexcept { std::free(p); }

namespace {

using fixture::bytes;

// Two notes and a snare over one quarter note at 120 bpm (0.5 s).
bytes two_note_midi() {
  return fixture::midi_builder(0, 96)
      .track(fixture::midi_track()
                 .program(0, 0, 30)
                 .note_on(0, 0, 60, 100)
                 .note_on(0, 9, 38, 90)
                 .note_on(48, 0, 67, 80)
                 .note_off(48, 0, 60)
                 .note_off(0, 0, 67)
                 .end())
      .build();
}

bytes short_mus() {
  return fixture::mus_builder().note_on(0, 60, 100).delay(35).note_off(0, 60).score_end().build();
}

// Registers and plays a song, so that a registration that changes nothing
// leaves it playing and one that succeeds stops it.
void play_something() {
  const bytes song = short_mus();
  ASSERT_EQ(I_RegisterSong(song.data()), 1);
  I_PlaySong(0, 0);
}

int32_t playing_now() {
  int32_t mode = 0, playing = 0, paused = 0;
  double position_s = 0.0, length_s = 0.0;
  chip_stats(&mode, &playing, &paused, &position_s, &length_s);
  return playing;
}

class Register : public testing::Test {
 protected:
  void SetUp() override { setenv("ZARN_SYNTH", "1", 1); }
  void TearDown() override {
    fail_malloc = fail_new = false;
    I_UnRegisterSong();
  }
};

TEST_F(Register, EachStatus) {
  const bytes mus = short_mus();
  const bytes midi = two_note_midi();
  bytes cut_midi = midi;
  cut_midi.resize(midi.size() - 3);  // the end-of-track event cut short
  struct row {
    const char *what;
    bytes data;  // copied to a block of exactly size bytes, so a read past it shows
    int32_t size;
    int32_t status;
  };
  const std::vector<row> rows = {
      {"MUS", mus, static_cast<int32_t>(mus.size()), CHIP_REGISTERED},
      {"MUS with one byte missing", mus, static_cast<int32_t>(mus.size()) - 1, CHIP_MUS_TRUNCATED},
      {"signature only", mus, 4, CHIP_MUS_TRUNCATED},
      {"header only", mus, 8, CHIP_MUS_TRUNCATED},
      {"three bytes", mus, 3, CHIP_NOT_MUSIC},
      {"negative size", mus, -1, CHIP_NOT_MUSIC},
      {"text", {'n', 'o', 't', ' ', 'm', 'u', 's', 'i', 'c'}, 9, CHIP_NOT_MUSIC},
      {"MIDI", midi, static_cast<int32_t>(midi.size()), CHIP_REGISTERED},
      {"MIDI cut short", cut_midi, static_cast<int32_t>(cut_midi.size()), CHIP_MIDI_INVALID},
      {"MIDI header only", midi, 14, CHIP_MIDI_INVALID},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    play_something();
    const bytes block(r.data.begin(), r.data.begin() + std::max(r.size, 0));
    // With no size, the bytes are there but none may be read.
    const uint8_t *data = r.size > 0 ? block.data() : r.data.data();
    EXPECT_EQ(chip_register_song(data, r.size), r.status);
    // Registering stops playback; a refusal leaves the song playing.
    EXPECT_EQ(playing_now(), r.status == CHIP_REGISTERED ? 0 : 1);
  }
  EXPECT_EQ(chip_register_song(nullptr, 100), CHIP_NOT_MUSIC);
}

TEST_F(Register, MemoryRunningOutChangesNothing) {
  const bytes mus = short_mus();
  const bytes midi = two_note_midi();
  play_something();
  fail_malloc = true;  // the copy of the score
  EXPECT_EQ(chip_register_song(mus.data(), static_cast<int32_t>(mus.size())), CHIP_OUT_OF_MEMORY);
  fail_malloc = false;
  fail_new = true;  // the conversion of the MIDI file
  EXPECT_EQ(chip_register_song(midi.data(), static_cast<int32_t>(midi.size())), CHIP_OUT_OF_MEMORY);
  fail_new = false;
  EXPECT_EQ(playing_now(), 1);
}

// The song a MIDI lump registers is the one the tool renders from it:
// pulled as the tool pulls it (volume 100, blocks of 1024, x 32000), every
// sample equals the tool's WAV.
TEST_F(Register, AMidiLumpRendersTheToolsSamples) {
  const std::string dir = fixture::make_temp_dir("register");
  const bytes midi = two_note_midi();
  fixture::wad_builder().lump("D_MIDI", midi).write(dir + "/m.wad");
  const auto run = fixture::run_tool({dir + "/m.wad", "D_MIDI", dir + "/m.wav", "1"});
  ASSERT_EQ(run.status, 0) << run.err;
  const bytes wav = fixture::read_file(dir + "/m.wav");
  std::filesystem::remove_all(dir);
  constexpr int32_t frames = 44100;
  ASSERT_EQ(wav.size(), 44u + 2 * frames);

  ASSERT_EQ(chip_register_song(midi.data(), static_cast<int32_t>(midi.size())), CHIP_REGISTERED);
  I_SetMusicVolume(100);
  I_PlaySong(0, 0);
  std::vector<float> left(1024), right(1024);
  int32_t sounding = 0;
  for (int32_t start = 0; start < frames; start += 1024) {
    const int32_t n = std::min(1024, frames - start);
    chip_render(left.data(), right.data(), n);
    for (int32_t k = 0; k < n; ++k) {
      const size_t at = 44 + 2 * static_cast<size_t>(start + k);
      const auto expected = static_cast<int16_t>(wav[at] | wav[at + 1] << 8);
      ASSERT_EQ(wav_sample(left[static_cast<size_t>(k)]), expected) << "frame " << start + k;
      if (expected != 0) ++sounding;
    }
  }
  EXPECT_GT(sounding, 10000);  // the notes sound, so equal samples say something
}

void count_line(void *user, int32_t, const char *) { ++*static_cast<int *>(user); }

// No exception crosses into a C caller: a load that runs out of memory
// comes back null, with one line said.
TEST(WadOutOfMemory, LoadsComeBackNullWithOneLine) {
  const std::string dir = fixture::make_temp_dir("wad_memory");
  const std::string path = dir + "/one.wad";
  const bytes wad = fixture::wad_builder().lump("D_X", {7}).build();
  fixture::write_file(path, wad);
  int lines = 0;
  wad_set_log(count_line, &lines);
  fail_new = true;
  wad_file *loaded = nullptr, *opened = nullptr, *in_memory = nullptr;
  EXPECT_NO_THROW(loaded = wad_load(path.c_str()));
  EXPECT_NO_THROW(opened = wad_open(path.c_str()));
  // A name past the string's own storage, so that keeping it needs memory.
  EXPECT_NO_THROW(in_memory = wad_load_memory(wad.data(), wad.size(), path.c_str()));
  fail_new = false;
  wad_set_log(nullptr, nullptr);
  EXPECT_EQ(loaded, nullptr);
  EXPECT_EQ(opened, nullptr);
  EXPECT_EQ(in_memory, nullptr);
  EXPECT_EQ(lines, 3);
  wad_free(loaded);
  wad_free(opened);
  wad_free(in_memory);
  std::filesystem::remove_all(dir);
}

}  // namespace
