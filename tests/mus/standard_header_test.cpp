// standard_header_test.cpp: the full 16-byte MUS header the writer gives the
// demo song (and any score): its fields, and an instrument list that names
// exactly what the score's notes play, read back with the event decoder.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "demo_song.h"
#include "fixtures.h"
#include "mus/events.h"

namespace {

using fixture::bytes;

uint16_t u16_at(const bytes &b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

// What the score's notes play: each melodic channel's program at the note
// (0 before any), 100 + the key on channel 15.
std::set<uint16_t> instruments_played(const bytes &mus, size_t start) {
  std::array<int, 16> program{};
  std::set<uint16_t> played;
  tunecast::mus::cursor c{mus.data(), static_cast<int32_t>(start),
                          static_cast<int32_t>(mus.size())};
  for (tunecast::mus::event e; tunecast::mus::event_read(c, e);) {
    if (e.type == tunecast::mus::ev_score_end) break;
    if (e.type == tunecast::mus::ev_controller && e.controller == 0)
      program[static_cast<size_t>(e.channel)] = e.value;
    if (e.type == tunecast::mus::ev_play_note)
      played.insert(static_cast<uint16_t>(
          e.channel == 15 ? 100 + e.note : program[static_cast<size_t>(e.channel)]));
  }
  return played;
}

TEST(MusStandardHeader, FieldsAndTheInstrumentsTheNotesPlay) {
  const struct {
    std::string name;
    bytes mus;
    uint16_t primary, secondary;
  } scores[] = {
      // Channels 0 to 4 and the drums.
      {"demo song", demo::song_mus(), 5, 0},
      // A note before any program plays 0; channel 12 is the third secondary.
      {"small",
       fixture::mus_builder()
           .note_on(0, 60, 100)
           .instrument(0, 5)
           .note_on(0, 62)
           .instrument(12, 7)
           .note_on(12, 40, 90)
           .note_on(15, 35, 80)
           .delay(10)
           .score_end()
           .build_standard(),
       1, 3},
  };
  for (const auto &s : scores) {
    SCOPED_TRACE(s.name);
    const bytes &mus = s.mus;
    ASSERT_GE(mus.size(), 16u);
    EXPECT_EQ(bytes(mus.begin(), mus.begin() + 4), (bytes{'M', 'U', 'S', 0x1A}));
    const uint16_t count = u16_at(mus, 12);
    const size_t start = u16_at(mus, 6);
    EXPECT_EQ(start, 16u + 2u * count);
    EXPECT_EQ(u16_at(mus, 4), mus.size() - start);  // the score runs to the lump's end
    EXPECT_EQ(u16_at(mus, 8), s.primary);
    EXPECT_EQ(u16_at(mus, 10), s.secondary);
    EXPECT_EQ(u16_at(mus, 14), 0);
    ASSERT_LE(start, mus.size());
    std::vector<uint16_t> listed;
    for (size_t i = 0; i < count; ++i) listed.push_back(u16_at(mus, 16 + 2 * i));
    const std::set<uint16_t> played = instruments_played(mus, start);
    EXPECT_EQ(listed, std::vector<uint16_t>(played.begin(), played.end()));  // ascending, once each
    EXPECT_EQ(mus[mus.size() - 1] >> 4 & 7, tunecast::mus::ev_score_end);
  }
}

}  // namespace
