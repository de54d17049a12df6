// wad_test.cpp: loading WAD archives (header, directory and lump bounds,
// names), lookups, merging, and the loader's exact console lines.
#include "tunecast/wad.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <memory>

#include "fixtures.h"

namespace {

using fixture::bytes;
using wad_ptr = std::unique_ptr<wad_file, decltype(&wad_free)>;

struct loaded {
  wad_ptr w{nullptr, &wad_free};
  std::string out, err;
};

loaded load(const std::string &path) {
  loaded r;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  r.w.reset(wad_load(path.c_str()));
  r.out = testing::internal::GetCapturedStdout();
  r.err = testing::internal::GetCapturedStderr();
  return r;
}

// Overwrites the header's lump count and directory offset.
bytes with_header(bytes b, int32_t count, int32_t dir_ofs) {
  bytes fields;
  fixture::put_u32le(fields, static_cast<uint32_t>(count));
  fixture::put_u32le(fields, static_cast<uint32_t>(dir_ofs));
  std::copy(fields.begin(), fields.end(), b.begin() + 4);
  return b;
}

class WadLoad : public testing::Test {
 protected:
  void SetUp() override { dir_ = fixture::make_temp_dir("wad"); }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string write(const bytes &b, const std::string &name = "t.wad") {
    fixture::write_file(dir_ + "/" + name, b);
    return dir_ + "/" + name;
  }
  std::string dir_;
};

TEST_F(WadLoad, DirectoryMustLieWhollyInsideTheFile) {
  // 12-byte header, 4 bytes of lump data, one 16-byte entry at 16: 32 bytes.
  const bytes base = fixture::wad_builder().lump("A", {1, 2, 3, 4}).build();
  ASSERT_EQ(base.size(), 32u);
  struct row {
    int32_t count, dir_ofs;
    bool ok;
  };
  const row rows[] = {
      {1, 16, true},   // ends exactly at the end of the file
      {1, 17, false},  // one byte further
      {0, 32, true},   // empty directory at the very end
      {0, 33, false},
      {-1, 16, false},
      {1, -16, false},
      {0x10000000, 16, false},    // 16 x count wraps to 0 in 32 bits
      {INT32_MAX, 12, false},     // 2^31-1 entries
      {2, INT32_MAX - 15, false}  // offset + 32 wraps negative in 32 bits
  };
  for (const row &r : rows) {
    SCOPED_TRACE(testing::Message() << "count " << r.count << " dir " << r.dir_ofs);
    const std::string path = write(with_header(base, r.count, r.dir_ofs));
    const loaded l = load(path);
    if (r.ok) {
      ASSERT_NE(l.w, nullptr);
      EXPECT_EQ(l.out, "[WAD] PWAD " + path + ": " + std::to_string(r.count) + " lumps, dir @ " +
                           std::to_string(r.dir_ofs) + "\n");
      EXPECT_EQ(l.err, "");
      EXPECT_EQ(l.w->num_lumps, r.count);
      EXPECT_EQ(wad_get(l.w.get(), "A") != nullptr, r.count == 1);
    } else {
      EXPECT_EQ(l.w, nullptr);
      EXPECT_EQ(l.out, "");
      EXPECT_EQ(l.err, "[WAD] dir_ofs corrupto " + std::to_string(r.dir_ofs) + "\n");
    }
  }
}

TEST_F(WadLoad, HeaderFailuresAndTheirLines) {
  const bytes good = fixture::wad_builder("IWAD").lump("A", {1}).build();
  const std::string iwad = write(good, "i.wad");
  EXPECT_EQ(load(iwad).out, "[WAD] IWAD " + iwad + ": 1 lumps, dir @ 13\n");

  // The magic's bytes are escaped before they reach the terminal.
  for (const auto &[magic, shown] : {std::pair{std::string("iwad"), "iwad"},
                                     {std::string("PW\0D", 4), "PW"},
                                     {std::string("WAD2"), "WAD2"},
                                     {std::string("\x1b[2J"), "\\x1b[2J"}}) {
    const std::string path = write(fixture::wad_builder(magic).lump("A", {1}).build(), "m.wad");
    const loaded l = load(path);
    EXPECT_EQ(l.w, nullptr);
    EXPECT_EQ(l.err, "[WAD] Magic inválido " + std::string(shown) + " en " + path + "\n");
  }

  const std::string missing = dir_ + "/missing.wad";
  const loaded m = load(missing);
  EXPECT_EQ(m.w, nullptr);
  EXPECT_EQ(m.err,
            "[WAD] no se puede abrir " + missing + ": no existe el archivo o el directorio\n");
}

// FIFOs, devices and pipes by their /dev names: POSIX only.
#ifndef _WIN32
TEST_F(WadLoad, WhatIsNotAWadFileGetsOneLine) {
  const std::string fifo = dir_ + "/fifo.wad";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  struct row {
    std::string path, err;
  };
  const row rows[] = {
      {write({}, "empty.wad"), "[WAD] " + dir_ + "/empty.wad está vacío\n"},
      {write({'I', 'W', 'A', 'D'}, "four.wad"),
       "[WAD] " + dir_ + "/four.wad es demasiado corto para ser un WAD (4 bytes)\n"},
      {dir_, "[WAD] " + dir_ + " es un directorio, no un archivo\n"},
      {"/dev/null", "[WAD] /dev/null no es un archivo (es un dispositivo)\n"},
      // A FIFO nobody writes to is read as empty, never waited on.
      {fifo, "[WAD] " + fifo + " está vacío\n"},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.path);
    const loaded l = load(r.path);
    EXPECT_EQ(l.w, nullptr);
    EXPECT_EQ(l.out, "");
    EXPECT_EQ(l.err, r.err);
  }
}

TEST_F(WadLoad, APipeIsReadToItsEnd) {
  const bytes wad =
      fixture::wad_builder().lump("D_X", bytes(200000, 5)).build();  // > a pipe's buffer
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t writer = fork();
  if (writer == 0) {
    close(fds[0]);
    const ssize_t n = ::write(fds[1], wad.data(), wad.size());
    _exit(n == static_cast<ssize_t>(wad.size()) ? 0 : 1);
  }
  close(fds[1]);
  const loaded l = load("/dev/fd/" + std::to_string(fds[0]));
  close(fds[0]);
  waitpid(writer, nullptr, 0);
  ASSERT_NE(l.w, nullptr) << l.err;
  int32_t size = 0;
  EXPECT_NE(wad_get_data(l.w.get(), "D_X", &size), nullptr);
  EXPECT_EQ(size, 200000);
}
#endif

// Every entry pointing at the same megabyte costs no more than the file:
// the lumps point into one image of it.
TEST_F(WadLoad, OverlappingLumpsShareTheirBytes) {
  fixture::wad_builder b;
  b.lump("BIG", bytes(1 << 20, 9));
  for (int i = 0; i < 3000; ++i) b.raw_entry("SAME", 12, 1 << 20);
  const loaded l = load(write(b.build()));
  ASSERT_NE(l.w, nullptr);
  ASSERT_EQ(l.w->num_lumps, 3001);
  const uint8_t *first = l.w->lumps[0].data;
  ASSERT_NE(first, nullptr);
  for (int32_t i = 1; i < l.w->num_lumps; ++i) ASSERT_EQ(l.w->lumps[i].data, first) << i;
  EXPECT_EQ(first[(1 << 20) - 1], 9);
}

// An archive opened for reading on demand reads a lump only when asked,
// and a file that shrinks meanwhile makes the read fail, never the process.
TEST_F(WadLoad, OpenReadsLumpsWhenAsked) {
  const std::string path = write(fixture::wad_builder()
                                     .lump("A", {1, 2, 3})
                                     .marker("M")
                                     .raw_entry("PAST", 0, 1000)
                                     .lump("LAST", bytes(100, 7))
                                     .build());
  testing::internal::CaptureStdout();
  wad_ptr w(wad_open(path.c_str()), &wad_free);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "[WAD] PWAD " + path + ": 4 lumps, dir @ 115\n");
  ASSERT_NE(w, nullptr);
  const wad_lump *a = wad_get(w.get(), "A");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->data, nullptr);  // nothing read yet
  const auto read = [&](const char *name) {
    std::unique_ptr<uint8_t, decltype(&std::free)> copy(
        wad_read_lump(w.get(), wad_get(w.get(), name)), &std::free);
    const wad_lump *lump = wad_get(w.get(), name);
    return copy ? bytes(copy.get(), copy.get() + lump->size) : bytes{};
  };
  EXPECT_EQ(read("A"), (bytes{1, 2, 3}));
  EXPECT_EQ(read("M"), bytes{});
  EXPECT_EQ(wad_get(w.get(), "PAST")->size, 0);  // outside the file, as a load says
  EXPECT_EQ(read("PAST"), bytes{});

  loaded other = load(path);
  ASSERT_NE(other.w, nullptr);
  EXPECT_EQ(wad_merge(other.w.get(), w.get()), -1);  // its entries name bytes in its own file
  const wad_lump *loaded_a = wad_get(other.w.get(), "A");
  uint8_t *copy = wad_read_lump(other.w.get(), loaded_a);  // a loaded archive copies from memory
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, loaded_a->data);
  EXPECT_EQ(bytes(copy, copy + 3), (bytes{1, 2, 3}));
  std::free(copy);

  ASSERT_EQ(truncate(path.c_str(), 20), 0);
  EXPECT_EQ(read("LAST"), bytes{});
  EXPECT_EQ(read("A"), (bytes{1, 2, 3}));
}

// The head of a lump comes from memory or from the open file alike: the
// lesser of its size and the room given, and never a byte more.
TEST_F(WadLoad, ReadLumpHeadCopiesNoMoreThanAsked) {
  bytes long_lump(100);
  for (size_t i = 0; i < long_lump.size(); ++i) long_lump[i] = static_cast<uint8_t>(i + 1);
  const std::string path = write(
      fixture::wad_builder().lump("LONG", long_lump).lump("SHORT", {9, 8, 7}).marker("M").build());
  loaded whole = load(path);
  testing::internal::CaptureStdout();
  const wad_ptr opened(wad_open(path.c_str()), &wad_free);
  testing::internal::GetCapturedStdout();
  ASSERT_NE(whole.w, nullptr);
  ASSERT_NE(opened, nullptr);
  for (wad_file *w : {whole.w.get(), opened.get()}) {
    SCOPED_TRACE(w == opened.get() ? "opened" : "loaded");
    const struct {
      const char *name;
      size_t capacity;
      bytes expected;
    } cases[] = {{"LONG", 8, {1, 2, 3, 4, 5, 6, 7, 8}},
                 {"SHORT", 8, {9, 8, 7}},
                 {"SHORT", 0, {}},
                 {"M", 8, {}}};
    for (const auto &c : cases) {
      SCOPED_TRACE(std::string(c.name) + " into " + std::to_string(c.capacity));
      bytes buf(16, 0xEE);
      const int32_t got = wad_read_lump_head(w, wad_get(w, c.name), buf.data(), c.capacity);
      ASSERT_EQ(got, static_cast<int32_t>(c.expected.size()));
      EXPECT_EQ(bytes(buf.begin(), buf.begin() + got), c.expected);
      EXPECT_EQ(buf[static_cast<size_t>(got)], 0xEE);  // nothing written past the count
    }
  }
  uint8_t buf[8];
  const wad_lump *lump = wad_get(opened.get(), "LONG");
  EXPECT_EQ(wad_read_lump_head(nullptr, lump, buf, sizeof buf), -1);
  EXPECT_EQ(wad_read_lump_head(opened.get(), nullptr, buf, sizeof buf), -1);
  EXPECT_EQ(wad_read_lump_head(opened.get(), lump, nullptr, sizeof buf), -1);
  ASSERT_EQ(truncate(path.c_str(), 14), 0);  // the file shrank since it was opened
  EXPECT_EQ(wad_read_lump_head(opened.get(), lump, buf, sizeof buf), -1);
}

TEST_F(WadLoad, NamesAreCleanedAndMatchedExactly) {
  const loaded l = load(write(fixture::wad_builder()
                                  .lump("AB      ", {1})
                                  .lump("A B", {2})
                                  .lump("        ", {3})
                                  .lump(std::string("CD\0EF", 5), {4})
                                  .lump("EIGHTCHR", {5})
                                  .lump("lower", {6})
                                  .build()));
  ASSERT_NE(l.w, nullptr);
  const std::pair<const char *, int> queries[] = {
      {"AB", 1},  {"A B", 2},   {"", 3},          {"CD", 4},      {"EIGHTCHR", 5}, {"lower", 6},
      {"AB ", 0}, {"LOWER", 0}, {"EIGHTCHRS", 0}, {"EIGHTCH", 0}, {"CDEF", 0}};
  for (const auto &[query, first_byte] : queries) {
    SCOPED_TRACE(query);
    const auto *data = static_cast<const uint8_t *>(wad_get_data(l.w.get(), query, nullptr));
    EXPECT_EQ(data != nullptr ? *data : 0, first_byte);
  }
}

TEST_F(WadLoad, LumpBoundsSizesAndShadowing) {
  // 12 header + 3 + 1 data bytes + 8 entries of 16: the whole file is 144 bytes.
  const int32_t file_size = 12 + 4 + 8 * 16;
  const bytes b = fixture::wad_builder()
                      .lump("DATA", {9, 8, 7})
                      .marker("MARK")
                      .raw_entry("NEG", 0, -5)
                      .raw_entry("ALL", 0, file_size)
                      .raw_entry("PAST", 0, file_size + 1)
                      .raw_entry("WRAP", INT32_MAX, INT32_MAX)
                      .raw_entry("NEGOFS", -1, 4)
                      .lump("DATA", {5})
                      .build();
  ASSERT_EQ(b.size(), static_cast<size_t>(file_size));
  const loaded l = load(write(b));
  ASSERT_NE(l.w, nullptr);
  struct row {
    const char *name;
    int32_t size;
    bool has_data;
  };
  const row rows[] = {{"DATA", 1, true},        {"MARK", 0, false}, {"NEG", -5, false},
                      {"ALL", file_size, true}, {"PAST", 0, false}, {"WRAP", 0, false},
                      {"NEGOFS", 0, false}};
  for (const row &r : rows) {
    SCOPED_TRACE(r.name);
    int32_t size = 1234;
    const auto *data = static_cast<const uint8_t *>(wad_get_data(l.w.get(), r.name, &size));
    EXPECT_EQ(size, r.size);
    EXPECT_EQ(data != nullptr, r.has_data);
    ASSERT_NE(wad_get(l.w.get(), r.name), nullptr);
  }
  EXPECT_EQ(*static_cast<const uint8_t *>(wad_get_data(l.w.get(), "DATA", nullptr)),
            5);  // the later one
  EXPECT_EQ(
      bytes(static_cast<const uint8_t *>(wad_get_data(l.w.get(), "ALL", nullptr)),
            static_cast<const uint8_t *>(wad_get_data(l.w.get(), "ALL", nullptr)) + file_size),
      b);
  EXPECT_EQ(wad_get(l.w.get(), "WRAP")->file_ofs, INT32_MAX);  // kept as read
  int32_t untouched = 77;
  EXPECT_EQ(wad_get_data(l.w.get(), "NONE", &untouched), nullptr);
  EXPECT_EQ(untouched, 77);
}

TEST_F(WadLoad, MergeShadowsAndTakesOverTheData) {
  loaded a = load(write(fixture::wad_builder().lump("A", {1}).lump("S", {2}).build(), "a.wad"));
  loaded b =
      load(write(fixture::wad_builder("IWAD").lump("S", {3}).lump("B", {4}).build(), "b.wad"));
  ASSERT_TRUE(a.w && b.w);
  EXPECT_EQ(wad_merge(a.w.get(), nullptr), -1);
  EXPECT_EQ(wad_merge(nullptr, b.w.get()), -1);
  EXPECT_EQ(a.w->num_lumps, 2);

  ASSERT_EQ(wad_merge(a.w.get(), b.w.release()), 0);
  EXPECT_EQ(a.w->num_lumps, 4);
  EXPECT_EQ(a.w->lump_capacity, 4);
  EXPECT_STREQ(a.w->magic, "PWAD");
  EXPECT_EQ(std::string(a.w->path), dir_ + "/a.wad");
  for (const auto &[name, value] : {std::pair{"A", 1}, {"S", 3}, {"B", 4}}) {
    EXPECT_EQ(*static_cast<const uint8_t *>(wad_get_data(a.w.get(), name, nullptr)), value) << name;
  }
  // a's release frees every buffer exactly once; the sanitizer build checks it.

  loaded e1 = load(write(fixture::wad_builder().build(), "e1.wad"));
  loaded e2 = load(write(fixture::wad_builder().build(), "e2.wad"));
  ASSERT_TRUE(e1.w && e2.w);
  EXPECT_EQ(wad_merge(e1.w.get(), e2.w.release()), 0);
  EXPECT_EQ(e1.w->num_lumps, 0);
  EXPECT_EQ(wad_get(e1.w.get(), ""), nullptr);
}

// Every call answers a null handle or name as "absent" instead of reading
// through it; an out parameter is still set where the call can set it.
TEST(WadNulls, EveryCallAnswersANullHandleOrName) {
  const bytes one_lump = fixture::wad_builder().lump("D_X", {7}).build();
  testing::internal::CaptureStdout();
  const wad_ptr w(wad_load_memory(one_lump.data(), one_lump.size(), "one"), &wad_free);
  testing::internal::GetCapturedStdout();
  ASSERT_NE(w, nullptr);
  ASSERT_NE(wad_get(w.get(), "D_X"), nullptr);  // the handle itself is sound
  for (wad_file *handle : {static_cast<wad_file *>(nullptr), w.get()}) {
    const char *name = handle == nullptr ? "D_X" : nullptr;  // the other argument is sound
    SCOPED_TRACE(handle == nullptr ? "null handle" : "null name");
    EXPECT_EQ(wad_get(handle, name), nullptr);
    int32_t size = -7;
    EXPECT_EQ(wad_get_data(handle, name, &size), nullptr);
    EXPECT_EQ(size, -7);
    wad_map map{};
    map.things.size = 5;
    EXPECT_EQ(wad_read_map(handle, name, &map), -1);
    EXPECT_EQ(map.things.size, 0);
    EXPECT_EQ(wad_read_map(w.get(), "D_X", nullptr), -1);
  }
  int32_t count = -1;
  EXPECT_EQ(wad_find_maps(nullptr, &count), nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(wad_find_maps(w.get(), nullptr), nullptr);
  EXPECT_EQ(wad_get_palette(nullptr, 0), nullptr);
  EXPECT_EQ(wad_load(nullptr), nullptr);
  EXPECT_EQ(wad_open(nullptr), nullptr);
  EXPECT_EQ(wad_read_lump(nullptr, nullptr), nullptr);
}

}  // namespace
