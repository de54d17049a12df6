// events_test.cpp: the MUS event decoder: the bytes each event type takes,
// bytes missing at the end of the stream, and the delay after a group.
#include "mus/events.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

namespace mus = tunecast::mus;

struct want {
  mus::event_type type;
  int32_t channel, note, velocity;
  bool has_velocity;
  int32_t controller, value;
  bool delay_follows;
  int64_t delay_ticks;
  bool cut;
};

void expect_event(const mus::event &e, const want &w) {
  EXPECT_EQ(e.type, w.type);
  EXPECT_EQ(e.channel, w.channel);
  EXPECT_EQ(e.note, w.note);
  EXPECT_EQ(e.velocity, w.velocity);
  EXPECT_EQ(e.has_velocity, w.has_velocity);
  EXPECT_EQ(e.controller, w.controller);
  EXPECT_EQ(e.value, w.value);
  EXPECT_EQ(e.delay_follows, w.delay_follows);
  EXPECT_EQ(e.delay_ticks, w.delay_ticks);
  EXPECT_EQ(e.cut, w.cut);
}

TEST(MusEvents, EachKindWholeOrCut) {
  const struct {
    const char *name;
    std::vector<uint8_t> bytes;  // one event, then a marker byte 0x55 unless cut
    want w;
  } cases[] = {
      {"release",
       {0x03, 0xC5, 0x55},
       {mus::ev_release_note, 3, 0x45, 0, false, 0, 0, false, 0, false}},
      {"play, velocity",
       {0x9F, 0xBC, 0xFF, 0x05, 0x55},
       {mus::ev_play_note, 15, 0x3C, 0x7F, true, 0, 0, true, 5, false}},
      {"play, no velocity",
       {0x11, 0x3C, 0x55},
       {mus::ev_play_note, 1, 0x3C, 0, false, 0, 0, false, 0, false}},
      {"pitch bend",
       {0x22, 0xFF, 0x55},
       {mus::ev_pitch_bend, 2, 0, 0, false, 0, 0xFF, false, 0, false}},
      {"system", {0x30, 0x8B, 0x55}, {mus::ev_system, 0, 0, 0, false, 0, 0x8B, false, 0, false}},
      {"controller",
       {0x44, 0x83, 0xE4, 0x55},
       {mus::ev_controller, 4, 0, 0, false, 0x83, 0x64, false, 0, false}},
      {"measure end",
       {0xD9, 0x81, 0x00, 0x55},
       {mus::ev_measure_end, 9, 0, 0, false, 0, 0, true, 128, false}},
      // A score end's delay is left for whoever goes on reading.
      {"score end", {0xE0, 0x55}, {mus::ev_score_end, 0, 0, 0, false, 0, 0, true, 0, false}},
      {"unassigned",
       {0x7A, 0x12, 0x55},
       {mus::ev_unassigned, 10, 0, 0, false, 0, 0x12, false, 0, false}},
      // The stream ends inside an event or its delay: missing bytes read
      // as 0, the event is still returned, marked cut, and the stream ends.
      {"no note byte", {0x15}, {mus::ev_play_note, 5, 0, 0, false, 0, 0, false, 0, true}},
      {"no velocity byte",
       {0x15, 0xC0},
       {mus::ev_play_note, 5, 0x40, 0, true, 0, 0, false, 0, true}},
      {"no controller value",
       {0x41, 0x03},
       {mus::ev_controller, 1, 0, 0, false, 3, 0, false, 0, true}},
      {"no release byte", {0x02}, {mus::ev_release_note, 2, 0, 0, false, 0, 0, false, 0, true}},
      // A cut delay counts as though a final 0 followed.
      {"no delay byte", {0xD0}, {mus::ev_measure_end, 0, 0, 0, false, 0, 0, true, 0, true}},
      {"delay cut after a continued byte",
       {0xD0, 0x83},
       {mus::ev_measure_end, 0, 0, 0, false, 0, 0, true, 3 * 128, true}},
      {"delay cut after two",
       {0xD0, 0x81, 0x82},
       {mus::ev_measure_end, 0, 0, 0, false, 0, 0, true, (128 + 2) * 128, true}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    mus::cursor cur{c.bytes.data(), 0, static_cast<int32_t>(c.bytes.size())};
    mus::event e{};
    ASSERT_TRUE(mus::event_read(cur, e));
    expect_event(e, c.w);
    if (c.w.cut) {
      EXPECT_FALSE(mus::event_read(cur, e));
    } else {
      EXPECT_EQ(cur.pos, static_cast<int32_t>(c.bytes.size()) - 1);  // stopped at the marker
    }
  }
}

TEST(MusEvents, DelaysAndTheEndOfTheStream) {
  // Two events: a delay ending exactly at the last byte, then the end.
  const uint8_t group[] = {0xD0, 0xFF, 0x7F, 0x01};
  mus::cursor cur{group, 0, 3};  // the 0x01 lies beyond the end
  mus::event e{};
  ASSERT_TRUE(mus::event_read(cur, e));
  EXPECT_EQ(e.delay_ticks, 127 * 128 + 127);
  EXPECT_FALSE(e.cut);
  EXPECT_EQ(cur.pos, 3);
  EXPECT_FALSE(mus::event_read(cur, e));

  // Ten 0xFF bytes would need 70 bits: the count saturates.
  std::vector<uint8_t> long_delay(11, 0xFF);
  long_delay[0] = 0xD0;
  long_delay.push_back(0x7F);
  mus::cursor longer{long_delay.data(), 0, static_cast<int32_t>(long_delay.size())};
  ASSERT_TRUE(mus::event_read(longer, e));
  EXPECT_EQ(e.delay_ticks, INT64_MAX);
  EXPECT_FALSE(e.cut);
  EXPECT_FALSE(mus::event_read(longer, e));

  // Only the event read is marked cut, not the ones before it.
  const uint8_t two[] = {0x05, 0x10, 0x02};
  mus::cursor pair{two, 0, 3};
  ASSERT_TRUE(mus::event_read(pair, e));
  EXPECT_FALSE(e.cut);
  ASSERT_TRUE(mus::event_read(pair, e));
  EXPECT_TRUE(e.cut);
}

}  // namespace
