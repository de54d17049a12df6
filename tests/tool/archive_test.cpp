// archive_test.cpp: the music of an archive whose directory names the same
// bytes many times: each region is converted and measured once, so the
// listing's work follows the bytes, not the directory.
#include "tool/archive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "fixtures.h"
#include "midi_builder.h"

namespace {

using fixture::bytes;
using wad_ptr = std::unique_ptr<wad_file, decltype(&wad_free)>;

// Notes one MIDI tick (1/140 s) apart: a song of notes / 140 seconds whose
// conversion and measuring take a while.
bytes busy_midi(int notes) {
  fixture::midi_track t;
  for (int k = 0; k < notes; ++k) t.note_on(1, 0, 60 + k % 12, 100);
  return fixture::midi_builder(0, 70).track(t.end()).build();
}

// The MIDI lump at offset 12 under `copies` more names, then a cut-short
// copy of it (same offset, one byte less: other bytes) and a MUS lump.
wad_ptr many_names(const bytes &midi, int copies) {
  fixture::wad_builder b;
  b.lump("D_FIRST", midi);
  for (int k = 0; k < copies; ++k) b.raw_entry("D_SAME", 12, static_cast<int32_t>(midi.size()));
  b.raw_entry("D_SHORT", 12, static_cast<int32_t>(midi.size()) - 1);
  b.lump("D_MUS", fixture::mus_builder().note_on(0, 60, 100).delay(140).score_end().build());
  const bytes image = b.build();
  testing::internal::CaptureStdout();
  wad_ptr w(wad_load_memory(image.data(), image.size(), "many.wad"), &wad_free);
  testing::internal::GetCapturedStdout();
  return w;
}

TEST(ArchiveLengths, EachRegionIsMeasuredOnceForAllItsNames) {
  const bytes midi = busy_midi(280);  // 2 s
  const wad_ptr w = many_names(midi, 1000);
  ASSERT_NE(w, nullptr);
  const std::vector<archive_music> music = archive_music_lumps(w.get(), false);
  ASSERT_EQ(music.size(), 1003u);
  archive_lengths lengths(w.get());
  for (const archive_music &m : music) {
    SCOPED_TRACE(m.name);
    const archive_length facts = lengths.of(m);
    if (m.name == "D_SHORT") {
      EXPECT_EQ(std::string(facts.status), "dañado");
    } else if (m.name == "D_MUS") {
      EXPECT_EQ(facts.seconds, 1.0);
    } else {
      // The last note-on is at tick 280 and the track ends there.
      EXPECT_EQ(facts.seconds, 2.0);
    }
  }
  EXPECT_EQ(lengths.measured(), 3u);  // the MIDI, its short copy, the MUS
}

// The listing of 20000 names of one lump costs about one conversion: each
// takes milliseconds here, so converting per name would take a minute.
TEST(ArchiveLengths, ListingManyNamesOfOneLumpIsFast) {
  const wad_ptr w = many_names(busy_midi(20000), 20000);
  ASSERT_NE(w, nullptr);
  const auto start = std::chrono::steady_clock::now();
  testing::internal::CaptureStdout();
  archive_list(w.get());
  const std::string table = testing::internal::GetCapturedStdout();
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took.count(), 5.0);
  EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 20003);
  EXPECT_NE(table.find("D_SAME   MIDI  "), std::string::npos);
}

#ifndef _WIN32
// The whole argument when it names a file, ':' in its name or not; else
// split at the last ':' when what precedes it exists. (Windows allows no
// ':' in a file's name.)
TEST(ArchiveArg, SplitsAtTheLastColonOnlyAfterAnExistingFile) {
  const std::string dir = fixture::make_temp_dir("archivearg");
  for (const char *name : {"/a:b.wad", "/a", "/x:y"}) fixture::write_file(dir + name, {1});
  struct split {
    std::string arg, path;
    std::optional<std::string> member;
  };
  const split cases[] = {
      {dir + "/a:b.wad", dir + "/a:b.wad", std::nullopt},
      {dir + "/a:c.wad", dir + "/a", "c.wad"},
      {dir + "/a:dir/c:d.wad", dir + "/a:dir/c:d.wad", std::nullopt},
      {dir + "/x:y:pack/z.wad", dir + "/x:y", "pack/z.wad"},
      {dir + "/a:", dir + "/a", ""},
      {dir + "/none:c.wad", dir + "/none:c.wad", std::nullopt},
      {"C:\\juegos\\zarn.wad", "C:\\juegos\\zarn.wad", std::nullopt},
      {":c.wad", ":c.wad", std::nullopt},
      {dir + "/a", dir + "/a", std::nullopt},
  };
  for (const split &c : cases) {
    SCOPED_TRACE(c.arg);
    const archive_arg got = archive_arg_parse(c.arg.c_str());
    EXPECT_EQ(got.path, c.path);
    EXPECT_EQ(got.member, c.member);
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

#endif

}  // namespace
