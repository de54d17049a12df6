// zip_test.cpp: WAD members found inside ZIP archives and read into memory:
// suffix matching, choice by rank, the local-header walk, sizes from the
// central directory, what is refused before anything runs, and `unzip` as a
// bounded child for the methods other than deflate (handed a copy of the one
// member, whatever its name or the archive's path; no shell, a budget, a
// look at its first bytes and a deadline). Deflate is inflate_test.cpp's.
#include "wad/zip.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>

#include "fixtures.h"
#include "tunecast/wad.h"

using tunecast::strcase_ends_with;
using tunecast::zip_extract_wad;
using tunecast::zip_time_limit;
using tunecast::zip_wad;

namespace {

using fixture::bytes;
namespace fs = std::filesystem;

// One local header, its name and data, with no central directory. comp,
// uncomp and name_len override what the header declares.
bytes local_entry(const std::string &name, const bytes &data, uint16_t method = 0,
                  std::optional<uint32_t> comp = {}, std::optional<uint16_t> name_len = {},
                  std::optional<uint32_t> uncomp = {}) {
  bytes out;
  fixture::put_u32le(out, 0x04034B50);
  fixture::put_u16le(out, 20);
  fixture::put_u16le(out, 0);
  fixture::put_u16le(out, method);
  fixture::put_u32le(out, 0);  // time, date
  fixture::put_u32le(out, 0);  // CRC-32
  fixture::put_u32le(out, comp.value_or(static_cast<uint32_t>(data.size())));
  fixture::put_u32le(out, uncomp.value_or(static_cast<uint32_t>(data.size())));
  fixture::put_u16le(out, name_len.value_or(static_cast<uint16_t>(name.size())));
  fixture::put_u16le(out, 0);
  fixture::put_text(out, name);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

bytes cat(std::initializer_list<bytes> parts) {
  bytes out;
  for (const bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A WAD header: magic, lump count and directory offset.
bytes wad_head(const char *magic, int32_t count, int32_t dir_ofs) {
  bytes out;
  fixture::put_text(out, magic);
  fixture::put_u32le(out, static_cast<uint32_t>(count));
  fixture::put_u32le(out, static_cast<uint32_t>(dir_ofs));
  return out;
}

// A shell printf that writes b, every byte as an octal escape.
std::string printf_command(const bytes &b) {
  std::string text = "printf '";
  for (const uint8_t c : b) {
    const char digits[] = {'\\', static_cast<char>('0' + (c >> 6)),
                           static_cast<char>('0' + ((c >> 3) & 7)),
                           static_cast<char>('0' + (c & 7))};
    text.append(digits, sizeof digits);
  }
  return text + "'";
}

// A WAD of one lump of size bytes c: 28 bytes more than the lump.
bytes small_wad(size_t size, uint8_t c) {
  return fixture::wad_builder().lump("D_X", bytes(size, c)).build();
}

// The program's path in the usual places; empty when it is in none.
std::string installed(const std::string &name) {
  for (const std::string d : {"/usr/bin/", "/bin/", "/usr/local/bin/"}) {
    if (access((d + name).c_str(), X_OK) == 0) return d + name;
  }
  return {};
}

// unzip is only asked for methods other than deflate: bzip2 (12) is the one
// these tests can write, with the bzip2 program.
bool have_unzip() { return !installed("unzip").empty() && !installed("bzip2").empty(); }

struct outcome {
  bool ok = false;
  bytes data;
  std::string member, reason, out, err;
};

class Zip : public testing::Test {
 protected:
  void SetUp() override { dir_ = fixture::make_temp_dir("zip"); }
  void TearDown() override {
    if (!saved_path_.empty()) setenv("PATH", saved_path_.c_str(), 1);
    fs::remove_all(dir_);
  }
  std::string write(const bytes &b, const std::string &name = "t.zip") {
    fixture::write_file(dir_ + "/" + name, b);
    return dir_ + "/" + name;
  }
  // Puts a shell script named unzip first on PATH for the rest of the test.
  void fake_unzip(const std::string &script) {
    fs::create_directories(dir_ + "/bin");
    fixture::write_file(dir_ + "/bin/unzip", bytes(script.begin(), script.end()));
    chmod((dir_ + "/bin/unzip").c_str(), 0755);
    if (saved_path_.empty()) saved_path_ = std::getenv("PATH");
    setenv("PATH", (dir_ + "/bin:" + saved_path_).c_str(), 1);
  }
  static outcome extract(const std::string &zip, const zip_time_limit &limit = {}) {
    outcome o;
    const int fd = open(zip.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_GE(fd, 0) << zip;
    zip_wad z;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    o.ok = zip_extract_wad(fd, zip.c_str(), z, limit);
    o.out = testing::internal::GetCapturedStdout();
    o.err = testing::internal::GetCapturedStderr();
    close(fd);
    if (z.bytes != nullptr) o.data.assign(z.bytes, z.bytes + z.size);
    std::free(z.bytes);
    o.member = z.member;
    o.reason = z.reason;
    return o;
  }
  static std::string stored_line(const std::string &zip, const std::string &name, unsigned kb) {
    return "[WAD] ZIP " + zip + " -> extraído " + name + " (" + std::to_string(kb) +
           " KB) en memoria\n";
  }
  static std::string unzip_line(const std::string &zip, const std::string &name) {
    return "[WAD] ZIP " + zip + " " + name + " método 12 (bzip2), usando unzip -p ...\n";
  }
  // Adds data to z as a bzip2 member, compressed by the bzip2 program.
  fixture::zip_builder &bzip2ed(fixture::zip_builder &z, const std::string &name, const bytes &data,
                                fixture::zip_flags flags = {}) {
    fixture::write_file(dir_ + "/bzip2.in", data);
    const fixture::run_result r = fixture::run({installed("bzip2"), "-c", dir_ + "/bzip2.in"});
    EXPECT_EQ(r.status, 0) << r.err;
    return z.compressed(name, bytes(r.out.begin(), r.out.end()), 12, fixture::crc32(data),
                        static_cast<uint32_t>(data.size()), flags);
  }
  std::string dir_;
  std::string saved_path_;
};

TEST(ZipSuffix, FoldsAsciiLettersOnly) {
  const std::tuple<const char *, const char *, int> rows[] = {{"abc", "", 1},
                                                              {"", "a", 0},
                                                              {"ab", "abc", 0},
                                                              {"MAP/ZARN.WAD", "zarn.wad", 1},
                                                              {"zarn.wad", "ZARN.wad", 1},
                                                              {"zarn.wax", ".wad", 0},
                                                              {"\xC9.wad", "\xE9.wad", 0},
                                                              {"x\xC9", "\xC9", 1}};
  for (const auto &[s, suffix, want] : rows)
    EXPECT_EQ(strcase_ends_with(s, suffix), want) << s << " / " << suffix;
}

TEST_F(Zip, RankGoesBeforeArchiveOrder) {
  struct row {
    std::vector<std::string> names;
    int chosen;  // index into names, -1 for none
  };
  const row rows[] = {
      {{"a_freezarn1.wad", "a_freezarn2.wad"}, 1},
      {{"b_zarn2.wad", "b_freezarn1.wad"}, 1},           // rank 2 before rank 3
      {{"c_other.wad", "C_ZARN2.WAD"}, 1},               // case folded
      {{"docs/readme.txt", "maps/deep/d_zarn.wad"}, 1},  // folder prefix
      {{"x.txt", "e_first.wad", "e_second.WAD"}, 1},     // first plain ".wad"
      {{"x.txt", "y.wadx", "zarn.wad/"}, -1},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.names.back());
    fixture::zip_builder z;
    for (size_t i = 0; i < r.names.size(); ++i)
      z.stored(r.names[i], bytes(3, static_cast<uint8_t>(i + 1)));
    const std::string zip = write(z.build());
    const outcome o = extract(zip);
    if (r.chosen < 0) {
      EXPECT_FALSE(o.ok);
      EXPECT_EQ(o.reason, "no contiene ningún archivo .wad");
      EXPECT_EQ(o.out + o.err, "");
      continue;
    }
    const std::string &name = r.names[static_cast<size_t>(r.chosen)];
    EXPECT_TRUE(o.ok);
    EXPECT_EQ(o.member, name);
    EXPECT_EQ(o.out, stored_line(zip, name, 0));
    EXPECT_EQ(o.data, bytes(3, static_cast<uint8_t>(r.chosen + 1)));
  }
}

TEST_F(Zip, LocalHeaderWalk) {
  const bytes forty(40, 0xAB);
  // Matched by its first 511 bytes; the data lies behind the full 600.
  const std::string long_511 = std::string(502, 'd') + "/long.wad";
  const std::string long_name = long_511 + std::string(89, 't');
  struct row {
    const char *what;
    bytes archive;
    std::string chosen;
    bytes content;
    uint32_t kb;
  };
  const row rows[] = {
      {"name past the end is not recorded",
       cat({local_entry("w1_a.wad", {1, 2}), local_entry("w1_zarn.wad", {}, 0, {}, 200)}),
       "w1_a.wad",
       {1, 2},
       0},
      {"29 bytes behind the data end the walk, keeping the member",
       cat({local_entry("w2_a.wad", {7}), bytes(29, 0)}),
       "w2_a.wad",
       {7},
       0},
      {"sizes of 0 without the streaming flag: the walk stops inside the data",
       cat({local_entry("w3_zarn.wad", forty, 0, 0), local_entry("w3_freezarn2.wad", {5})}),
       "w3_zarn.wad",
       {},
       0},
      {"sizes of 0, next header right behind",
       cat({local_entry("w4_zarn.wad", {}, 0, 0), local_entry("w4_freezarn2.wad", {5})}),
       "w4_freezarn2.wad",
       {5},
       0},
      {"name longer than 511 bytes", local_entry(long_name, forty), long_511, forty, 0},
      {"a NUL ends the name", local_entry(std::string("w7.wad\0/../../x", 15), forty), "w7.wad",
       forty, 0},
      {"2100 bytes are 2 KB", local_entry("w6.wad", bytes(2100, 1)), "w6.wad", bytes(2100, 1), 2},
      {"streamed members: sizes from the central directory, the walk goes past their "
       "descriptors",
       fixture::zip_builder()
           .stored("s_zarn.wad", forty, {.streamed = true})
           .stored("s_other.txt", {9}, {.streamed = true})
           .stored("s_freezarn1.wad", {1, 2, 3}, {.streamed = true})
           .build(),
       "s_freezarn1.wad",
       {1, 2, 3},
       0},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    const std::string zip = write(r.archive);
    const outcome o = extract(zip);
    EXPECT_TRUE(o.ok) << o.reason;
    EXPECT_EQ(o.out, stored_line(zip, r.chosen, r.kb));
    EXPECT_EQ(o.data, r.content);
  }
}

TEST_F(Zip, RefusedWithAReasonBeforeUnzipRuns) {
  fake_unzip("#!/bin/sh\ntouch '" + dir_ + "/ran'\n");
  bytes too_large = local_entry("big.wad", bytes(10, 0), 8, {}, {}, 0x80000000u);
  bytes streamed_lost = fixture::zip_builder().stored("lost.wad", {1}, {.streamed = true}).build();
  streamed_lost.resize(streamed_lost.size() - 22 - 46 - 8);  // no central directory, no end record
  struct row {
    const char *what;
    bytes archive;
    std::string reason;
  };
  const row rows[] = {
      {"stored data cut short", local_entry("cut.wad", bytes(40, 1), 0, 1000000),
       "datos dañados: cut.wad acaba antes de sus 1000000 bytes"},
      {"encrypted, stored",
       fixture::zip_builder().stored("e.wad", {1}, {.encrypted = true}).build(),
       "e.wad está cifrado"},
      {"encrypted, deflated",
       fixture::zip_builder().deflated("e.wad", {1}, {.encrypted = true}).build(),
       "e.wad está cifrado"},
      {"larger than a WAD can be", too_large,
       "big.wad es demasiado grande para un WAD (2147483648 bytes)"},
      {"streamed, with no central directory to give its size", streamed_lost,
       "datos dañados: el tamaño de lost.wad no está en el directorio central"},
      {"control bytes in the name are escaped",
       fixture::zip_builder().stored("\x1b]0;pwned\x07.wad", {1}, {.encrypted = true}).build(),
       "\\x1b]0;pwned\\x07.wad está cifrado"},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    const outcome o = extract(write(r.archive));
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.reason, r.reason);
    EXPECT_EQ(o.data, bytes{});
  }
  EXPECT_FALSE(fixture::file_exists(dir_ + "/ran"));

  // Through the loader, the reason completes its one line.
  const std::string zip = write(rows[1].archive);
  testing::internal::CaptureStderr();
  EXPECT_EQ(wad_load(zip.c_str()), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "[WAD] no se pudo extraer WAD de ZIP " + zip + ": e.wad está cifrado\n");
}

TEST_F(Zip, StreamedAndBzip2MembersLoadThroughUnzip) {
  if (!have_unzip()) GTEST_SKIP() << "no unzip or bzip2 on this machine";
  const bytes wad = fixture::wad_builder().lump("BIG", bytes(70000, 'a')).build();  // dir @ 70012
  for (const bool streamed : {false, true}) {
    SCOPED_TRACE(streamed ? "streamed" : "sizes in the local header");
    fixture::zip_builder z;
    bzip2ed(z, "skip.txt", {1, 2}, {.streamed = streamed});
    const std::string zip = write(bzip2ed(z, "pack/zarn.wad", wad, {.streamed = streamed}).build());
    testing::internal::CaptureStdout();
    wad_file *w = wad_load(zip.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              unzip_line(zip, "pack/zarn.wad") + "[WAD] ZIP " + zip +
                  " -> extraído via unzip pack/zarn.wad (68 KB) en memoria\n[WAD] PWAD " + zip +
                  ": 1 lumps, dir @ 70012\n");
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(std::string(w->path), zip + ":pack/zarn.wad");
    int32_t size = 0;
    const auto *data = static_cast<const uint8_t *>(wad_get_data(w, "BIG", &size));
    ASSERT_EQ(size, 70000);
    EXPECT_EQ(bytes(data, data + size), bytes(70000, 'a'));
    wad_free(w);
  }
}

TEST_F(Zip, UnzipMatchesTheMemberNameLiterally) {
  if (!have_unzip()) GTEST_SKIP() << "no unzip or bzip2 on this machine";
  // Each chosen name, read as a pattern, would also match (or only match) its decoy.
  const std::pair<std::string, std::string> rows[] = {
      {"[a]zarn.wad", "azarn.wad"}, {"b\\zarn.wad", "bzarn.wad"}, {"c*zarn.wad", "cXzarn.wad"},
      {"d?zarn.wad", "dXzarn.wad"}, {"-xzarn.wad", "ezarn.wad"},
  };
  for (const auto &[name, decoy] : rows) {
    SCOPED_TRACE(name);
    fixture::zip_builder z;
    bzip2ed(z, name, {'R', 'I', 'G', 'H', 'T'});
    const outcome o = extract(write(bzip2ed(z, decoy, {'N', 'O'}).build()));
    EXPECT_TRUE(o.ok) << o.reason << o.err;
    EXPECT_EQ(o.data, (bytes{'R', 'I', 'G', 'H', 'T'}));
  }
}

TEST_F(Zip, NoShellSeesAMemberName) {
  if (!have_unzip()) GTEST_SKIP() << "no unzip or bzip2 on this machine";
  const std::string here = fs::current_path().string() + "/";
  const std::string m = dir_ + "/";
  const std::string names[] = {"q\"; touch " + m + "mark1; \".wad", "s$(touch " + m + "mark2).wad",
                               "b`touch " + m + "mark3`.wad", "x'; touch " + m + "mark4 #.wad"};
  for (const std::string &n : names) {
    SCOPED_TRACE(n);
    fixture::zip_builder z;
    const std::string zip =
        write(bzip2ed(z, n, {1, 2, 3}).build(), "a\";$(touch mark5)`touch mark6`.zip");
    const outcome o = extract(zip);
    EXPECT_TRUE(o.ok) << o.reason;
    EXPECT_EQ(o.data, (bytes{1, 2, 3}));
    EXPECT_EQ(o.out.substr(0, unzip_line(zip, n).size()), unzip_line(zip, n));
  }
  for (const char *mark : {"mark1", "mark2", "mark3", "mark4"})
    EXPECT_FALSE(fixture::file_exists(m + mark)) << mark;
  for (const char *mark : {"mark5", "mark6"})
    EXPECT_FALSE(fixture::file_exists(here + mark)) << mark;
}

TEST_F(Zip, UnzipIsBoundedEndedAndReaped) {
  // Method 12 goes to unzip; the stand-ins below never read the data.
  const std::string zip = write(fixture::zip_builder().member("s.wad", bytes(5000, 7), 12).build());
  const std::string info = dir_ + "/info";
  {
    SCOPED_TRACE("spinning: ended at the deadline, with its whole group");
    // Records its pid, its process group and its standard input, then hangs.
    fake_unzip("#!/bin/sh\necho $$ $(cut -d' ' -f5 /proc/$$/stat) $(readlink /proc/$$/fd/0) > '" +
               info + "'\nexec sleep 1000\n");
    const outcome o = extract(zip, {1.0, 0.0});
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.reason, "unzip no terminó en 1 s con s.wad");
    const bytes recorded = fixture::read_file(info);
    std::istringstream fields(std::string(recorded.begin(), recorded.end()));
    pid_t pid = 0, group = 0;
    std::string input;
    fields >> pid >> group >> input;
    EXPECT_EQ(group, pid);  // a group of its own
    EXPECT_EQ(input, "/dev/null");
    EXPECT_NE(kill(pid, 0), 0);  // gone, and reaped
  }
  {
    SCOPED_TRACE("more bytes than declared: a bomb is cut off at its budget");
    fake_unzip("#!/bin/sh\n" + printf_command(wad_head("PWAD", 0, 12)) + "\nexec yes\n");
    const outcome o = extract(zip);
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.reason, "datos dañados: s.wad da más de los 5000 bytes declarados");
  }
  {
    SCOPED_TRACE("fewer bytes than declared");
    fake_unzip("#!/bin/sh\nprintf abc\n");
    EXPECT_EQ(extract(zip).reason, "datos dañados: s.wad da 3 de los 5000 bytes declarados");
  }
  // How unzip ended, said in words in the one reason, with nothing else printed.
  const std::pair<std::string, std::string> endings[] = {
      {"#!/bin/sh\nexit 9\n", "unzip falló con s.wad: terminó con el código 9"},
      {"#!/bin/sh\nkill -TERM $$\n",
       "unzip falló con s.wad: murió por la señal SIGTERM (petición de terminar)"},
      {"#!/bin/sh\nkill -40 $$\n", "unzip falló con s.wad: murió por la señal 40"},
      // A file that is executable but no program: the child's exec fails.
      {"\177ELF not really\n", "no se pudo ejecutar unzip"},
  };
  for (const auto &[script, reason] : endings) {
    SCOPED_TRACE(reason);
    fake_unzip(script);
    const outcome o = extract(zip);
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.reason, reason);
    EXPECT_EQ(o.err, "");
  }
  {
    SCOPED_TRACE("not installed");
    setenv("PATH", dir_.c_str(), 1);  // no unzip there
    const outcome o = extract(zip);
    EXPECT_EQ(o.reason, "no se encuentra el programa unzip");
    EXPECT_EQ(o.err, "");
  }
}

TEST_F(Zip, UnzipReadsTheArchiveThatWasOpened) {
  if (!have_unzip()) GTEST_SKIP() << "no unzip or bzip2 on this machine";
  const bytes wanted = small_wad(20, 'W');
  const bytes other = small_wad(20, 'O');
  const auto archive = [this](const bytes &wad) {
    fixture::zip_builder z;
    return bzip2ed(z, "zarn.wad", wad).build();
  };
  {
    SCOPED_TRACE("a path that reads as a wildcard matching a sibling");
    write(archive(other), "pack1.zip");
    const outcome o = extract(write(archive(wanted), "pack[1].zip"));
    EXPECT_TRUE(o.ok) << o.reason;
    EXPECT_EQ(o.data, wanted);
  }
  {
    SCOPED_TRACE("the path given another archive after it was opened and checked");
    const std::string zip = write(archive(wanted), "swapped.zip");
    const int fd = open(zip.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(std::rename(write(archive(other), "other.zip").c_str(), zip.c_str()), 0);
    zip_wad z;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(zip_extract_wad(fd, zip.c_str(), z)) << z.reason;
    testing::internal::GetCapturedStdout();
    close(fd);
    EXPECT_EQ(bytes(z.bytes, z.bytes + z.size), wanted);
    std::free(z.bytes);
  }
}

// unzip would match a name by a pattern in its own encoding: a name from
// a FAT host is read in the OEM code page, a flagged one as UTF-8.
TEST_F(Zip, NonAsciiMemberNamesAreFoundByTheirBytes) {
  if (!have_unzip()) GTEST_SKIP() << "no unzip or bzip2 on this machine";
  const bytes wad = small_wad(30, 'n');
  struct row {
    const char *what;
    std::string name;
    fixture::zip_flags flags;
  };
  const row rows[] = {
      {"UTF-8, flagged, from a FAT host",
       "m\xC3\xBAsica/zarn.wad",
       {.utf8_name = true, .fat_host = true}},
      {"OEM code page, from a FAT host", "m\xA3sica/zarn.wad", {.fat_host = true}},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    fixture::zip_builder z;
    bzip2ed(z, "m\xC3\xBAsica/leeme.txt", {1}, r.flags);
    const outcome o = extract(write(bzip2ed(z, r.name, wad, r.flags).build()));
    EXPECT_TRUE(o.ok) << o.reason;
    EXPECT_EQ(o.member, r.name);
    EXPECT_EQ(o.data, wad);
  }
}

TEST_F(Zip, Zip64SizesAreRead) {
  const bytes wad = small_wad(49, 'z');
  ASSERT_EQ(wad.size(), 77u);
  struct row {
    const char *what;
    bytes archive;
    std::string chosen;
  };
  const row rows[] = {
      {"stored, sizes in the local header's record",
       fixture::zip_builder().stored("zarn.wad", wad, {.zip64 = true}).build(), "zarn.wad"},
      {"streamed: sizes in the central directory's record, the walk past 8-byte descriptors",
       fixture::zip_builder()
           .stored("a.wad", {1, 2, 3}, {.streamed = true, .zip64 = true})
           .stored("zarn.wad", wad, {.streamed = true, .zip64 = true})
           .build(),
       "zarn.wad"},
      {"deflated", fixture::zip_builder().deflated("zarn.wad", wad, {.zip64 = true}).build(),
       "zarn.wad"},
      {"deflated and streamed",
       fixture::zip_builder()
           .deflated("a.wad", {1, 2, 3}, {.streamed = true, .zip64 = true})
           .deflated("zarn.wad", wad, {.streamed = true, .zip64 = true})
           .build(),
       "zarn.wad"},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    const outcome o = extract(write(r.archive));
    EXPECT_TRUE(o.ok) << o.reason;
    EXPECT_EQ(o.member, r.chosen);
    EXPECT_EQ(o.data, wad);
  }
}

// unzip is ended as soon as its first 12 bytes cannot begin a WAD of the
// member's declared size, rather than giving it all it declares.
TEST_F(Zip, UnzipEndsAtAHeadNoWadHas) {
  const std::string zip = write(fixture::zip_builder().member("h.wad", bytes(5000, 7), 12).build());
  const std::pair<const char *, bytes> heads[] = {
      {"no magic", wad_head("ZWAD", 0, 12)},
      {"directory one byte past the declared size", wad_head("PWAD", 1, 4985)},
      {"negative count", wad_head("IWAD", -1, 12)},
      {"negative directory offset", wad_head("PWAD", 0, -1)},
      {"count whose directory overflows 32 bits", wad_head("PWAD", INT32_MAX, 12)},
  };
  for (const auto &[what, head] : heads) {
    SCOPED_TRACE(what);
    fake_unzip("#!/bin/sh\n" + printf_command(head) + "\nexec sleep 1000\n");
    const outcome o = extract(zip, {2.0, 0.0});
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.reason, "h.wad no es un WAD: su cabecera no es válida");
  }
}

// No temporary file is involved any more: a /tmp that is full, or a name
// planted at a path a ZIP member once went to, changes nothing.
TEST_F(Zip, AFullTmpDoesNotMatter) {
  const bytes wad = fixture::wad_builder().lump("D_A", bytes(100000, 3)).build();
  const std::string zip =
      fs::current_path().string() + "/full-tmp-" + std::to_string(getpid()) + ".zip";
  fixture::write_file(zip, fixture::zip_builder().stored("zarn.wad", wad).build());
  const pid_t pid = fork();
  if (pid == 0) {
    // Opened first: the checkout itself may lie under the /tmp about to be hidden.
    const int zip_fd = open(zip.c_str(), O_RDONLY);
    // In a mount namespace of its own, /tmp is a 4 KiB file system, filled.
    if (zip_fd < 0 || unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("full", "/tmp", "tmpfs", 0, "size=4k") != 0) {
      _exit(77);
    }
    const int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, STDOUT_FILENO);
    const int fd = open("/tmp/fill", O_WRONLY | O_CREAT, 0600);
    const bytes block(4096, 0);
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    close(fd);
    wad_file *w = wad_load(("/proc/self/fd/" + std::to_string(zip_fd)).c_str());
    int32_t size = 0;
    const bool whole = w != nullptr && wad_get_data(w, "D_A", &size) != nullptr && size == 100000;
    _exit(whole ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  std::remove(zip.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no private mount namespace for this user";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
