// maps_test.cpp: map listing and its look-ahead window, gathering one map's
// lumps, and palette copies with their index bounds.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "fixtures.h"
#include "tunecast/wad.h"

namespace {

using fixture::bytes;
using wad_ptr = std::unique_ptr<wad_file, decltype(&wad_free)>;
using names = std::vector<std::string>;

wad_ptr load_wad(const fixture::wad_builder &b) {
  const std::string dir = fixture::make_temp_dir("maps");
  b.write(dir + "/m.wad");
  testing::internal::CaptureStdout();
  wad_ptr w(wad_load((dir + "/m.wad").c_str()), &wad_free);
  testing::internal::GetCapturedStdout();
  unlink((dir + "/m.wad").c_str());
  rmdir(dir.c_str());
  return w;
}

// Entry i holds the single byte i, so a lookup shows which entry it found;
// a name starting with '!' is an entry without data.
wad_ptr load_names(const names &entries) {
  fixture::wad_builder b;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i][0] == '!') {
      b.marker(entries[i].substr(1));
    } else {
      b.lump(entries[i], {static_cast<uint8_t>(i)});
    }
  }
  return load_wad(b);
}

names with_fillers(names head, int count, names tail) {
  for (int i = 0; i < count; ++i) head.push_back("FILL" + std::to_string(i));
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

TEST(MapList, CandidatesNeedThingsAndLinedefsInTheirWindow) {
  names seventeen, seventeen_maps;
  for (int i = 1; i <= 17; ++i) {
    const std::string m = (i < 10 ? "MAP0" : "MAP") + std::to_string(i);
    seventeen.insert(seventeen.end(), {m, "THINGS", "LINEDEFS"});
    seventeen_maps.push_back(m);
  }
  const std::pair<names, names> rows[] = {
      {{"E1M1", "THINGS", "LINEDEFS", "SIDEDEFS", "VERTEXES", "SEGS", "SSECTORS", "NODES",
        "SECTORS", "REJECT", "BLOCKMAP"},
       {"E1M1"}},
      {{"E1M1", "THINGS", "VERTEXES"}, {}},
      {with_fillers({"MAP01", "THINGS"}, 8, {"LINEDEFS"}),
       {"MAP01"}},                                               // 10th entry after the marker
      {with_fillers({"MAP01", "THINGS"}, 9, {"LINEDEFS"}), {}},  // 11th
      {{"E1M1", "E1M2", "THINGS", "LINEDEFS"}, {"E1M2"}},
      {{"MAP01", "EXMY", "THINGS", "LINEDEFS"}, {}},  // marker-like whatever its digits
      {{"MAP01", "MAP012", "THINGS", "LINEDEFS"}, {"MAP01"}},
      {{"EAM1", "THINGS", "LINEDEFS"}, {}},
      {{"e1m1", "THINGS", "LINEDEFS", "MAP", "THINGS", "LINEDEFS", "MAP012", "THINGS", "LINEDEFS"},
       {}},
      {{"E1M1", "THINGS", "LINEDEFS", "E1M2", "LINEDEFS", "THINGS", "E1M1", "THINGS", "LINEDEFS"},
       {"E1M1", "E1M2"}},
      {{"THINGS", "LINEDEFS", "MAP01"}, {}},
      {{}, {}},
      {seventeen, seventeen_maps},
  };
  for (const auto &[entries, want] : rows) {
    SCOPED_TRACE(testing::Message() << entries.size() << " entries"
                                    << (entries.empty() ? "" : ", first " + entries[0]));
    wad_ptr w = load_names(entries);
    ASSERT_NE(w, nullptr);
    int32_t count = -1;
    char **list = wad_find_maps(w.get(), &count);
    EXPECT_EQ(list == nullptr, want.empty());
    names got(list, list + (count > 0 ? count : 0));
    EXPECT_EQ(got, want);
    wad_find_maps_free(list, count);
  }
}

TEST(MapRead, GathersTheLumpsBehindTheLastMarker) {
  wad_map_lump wad_map::*const all_fields[] = {
      &wad_map::things, &wad_map::linedefs, &wad_map::sidedefs, &wad_map::vertexes,
      &wad_map::segs,   &wad_map::ssectors, &wad_map::nodes,    &wad_map::sectors,
      &wad_map::reject, &wad_map::blockmap};
  struct row {
    names entries;
    const char *map;
    int32_t ret;
    std::vector<std::pair<wad_map_lump wad_map::*, int>> want;  // entry index, or -1 for none
  };
  const row rows[] = {
      {{"E1M1", "THINGS", "LINEDEFS", "SIDEDEFS", "VERTEXES", "SEGS", "SSECTORS", "NODES",
        "SECTORS", "REJECT", "BLOCKMAP"},
       "E1M1",
       0,
       {{&wad_map::things, 1},
        {&wad_map::linedefs, 2},
        {&wad_map::sidedefs, 3},
        {&wad_map::vertexes, 4},
        {&wad_map::segs, 5},
        {&wad_map::ssectors, 6},
        {&wad_map::nodes, 7},
        {&wad_map::sectors, 8},
        {&wad_map::reject, 9},
        {&wad_map::blockmap, 10}}},
      {with_fillers({"MAP01", "THINGS"}, 9, {"LINEDEFS"}),
       "MAP01",
       0,
       {{&wad_map::things, 1}, {&wad_map::linedefs, 11}}},
      {with_fillers({"MAP01", "THINGS"}, 10, {"LINEDEFS"}), "MAP01", 0, {{&wad_map::things, 1}}},
      {{"E1M1", "THINGS", "EXMY", "LINEDEFS"}, "E1M1", 0, {{&wad_map::things, 1}}},
      {{"E1M1", "THINGS", "E1M1", "THINGS"}, "E1M1", 0, {{&wad_map::things, 3}}},
      {{"E1M1", "THINGS", "THINGS"}, "E1M1", 0, {{&wad_map::things, 2}}},
      {{"START", "!REJECT", "SEGS"}, "START", 0, {{&wad_map::segs, 2}}},  // REJECT without data
      {{"E1M1", "THINGS"}, "E1M2", -1, {}},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(testing::Message() << r.map << " in " << r.entries.size() << " entries");
    wad_ptr w = load_names(r.entries);
    ASSERT_NE(w, nullptr);
    wad_map out;
    std::memset(&out, 0x5A, sizeof out);  // every field must be overwritten
    EXPECT_EQ(wad_read_map(w.get(), r.map, &out), r.ret);
    for (wad_map_lump wad_map::*field : all_fields) {
      int index = -1;  // fields not named in the row stay empty
      for (const auto &[f, i] : r.want) index = f == field ? i : index;
      const wad_map_lump &l = out.*field;
      EXPECT_EQ(l.data != nullptr ? l.data[0] : -1, index);
      EXPECT_EQ(l.size, index < 0 ? 0 : 1);
    }
  }
}

TEST(Palette, CopiesOne768ByteEntryWithinBounds) {
  bytes two(1536);
  for (size_t i = 0; i < two.size(); ++i) two[i] = static_cast<uint8_t>(i % 251);
  const bytes one(two.begin(), two.begin() + 768), second(two.begin() + 768, two.end());
  const bytes short_two(two.begin(), two.end() - 1);
  struct row {
    fixture::wad_builder wad;
    int32_t index;
    bytes want;  // empty for null
  };
  const row rows[] = {
      {fixture::wad_builder().lump("PLAYPAL", one), 0, one},
      {fixture::wad_builder().lump("PLAYPAL", one), 1, {}},
      {fixture::wad_builder().lump("PLAYPAL", one), -1, {}},
      {fixture::wad_builder().lump("PLAYPAL", two), INT32_MAX, {}},
      {fixture::wad_builder().lump("PLAYPAL", two), 1, second},
      {fixture::wad_builder().lump("PLAYPAL", short_two), 1, {}},
      {fixture::wad_builder().lump("PLAYPAL", bytes(768, 1)).lump("PLAYPAL", second), 0, second},
      {fixture::wad_builder().lump("PLAYPAL", one).marker("PLAYPAL"), 0, {}},
      {fixture::wad_builder().lump("playpal", one), 0, {}},
      {fixture::wad_builder(), 0, {}},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(i);
    wad_ptr w = load_wad(rows[i].wad);
    ASSERT_NE(w, nullptr);
    std::unique_ptr<uint8_t, decltype(&std::free)> pal(wad_get_palette(w.get(), rows[i].index),
                                                       &std::free);
    EXPECT_EQ(pal == nullptr, rows[i].want.empty());
    if (pal != nullptr) {
      EXPECT_EQ(bytes(pal.get(), pal.get() + 768), rows[i].want);
    }
  }
}

}  // namespace
