// zip_test.cpp: WAD members found inside ZIP archives: suffix matching, choice
// by rank, the local-header walk, stored copies, the unzip hand-off (run with
// no shell), and a planted link at the temporary path.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>

#include "fixtures.h"
#include "wad.h"
#include "wad_zip.h"

namespace {

using fixture::bytes;
namespace fs = std::filesystem;

// One local header, its name and data. comp and name_len override what the
// header declares (for deferred sizes, overruns, names past the end).
bytes local_entry(const std::string &name, const bytes &data, uint16_t method = 0,
                  std::optional<uint32_t> comp = {}, std::optional<uint16_t> name_len = {}) {
  bytes out;
  fixture::put_u32le(out, 0x04034B50);
  fixture::put_u16le(out, 20);
  fixture::put_u16le(out, 0);
  fixture::put_u16le(out, method);
  fixture::put_u32le(out, 0);  // time, date
  fixture::put_u32le(out, 0);  // CRC-32
  fixture::put_u32le(out, comp.value_or(static_cast<uint32_t>(data.size())));
  fixture::put_u32le(out, static_cast<uint32_t>(data.size()));
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

std::string base_of(const std::string &name) { return name.substr(name.rfind('/') + 1); }

struct outcome {
  std::optional<std::string> path;  // what zip_extract_wad returned
  std::string out, err;
};

class Zip : public testing::Test {
 protected:
  void SetUp() override { dir_ = fixture::make_temp_dir("zip"); }
  void TearDown() override {
    for (const std::string &t : temps_) unlink(t.c_str());
    fs::remove_all(dir_);
  }
  std::string write(const bytes &b, const std::string &name = "t.zip") {
    fixture::write_file(dir_ + "/" + name, b);
    return dir_ + "/" + name;
  }
  // The temporary file a member of this name lands in, removed after the test.
  std::string temp_for(const std::string &member) {
    temps_.push_back("/tmp/zarn_engine_" + base_of(member));
    return temps_.back();
  }
  static outcome extract(const std::string &zip) {
    outcome o;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    char *p = zip_extract_wad(zip.c_str());
    o.out = testing::internal::GetCapturedStdout();
    o.err = testing::internal::GetCapturedStderr();
    if (p != nullptr) o.path = p;
    std::free(p);
    return o;
  }
  static std::string stored_line(const std::string &zip, const std::string &name, unsigned kb,
                                 const std::string &tmp) {
    return "[WAD] ZIP " + zip + " -> extraído " + name + " (" + std::to_string(kb) + " KB) a " +
           tmp + "\n";
  }
  static std::string unzip_line(const std::string &zip, const std::string &name) {
    return "[WAD] ZIP " + zip + " " + name + " método 8 (deflate), usando unzip -p ...\n";
  }
  // Unique per process, so parallel test processes never share a temp file.
  const std::string p_ = "zt" + std::to_string(getpid()) + "_";
  std::string dir_;
  std::vector<std::string> temps_;
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
      {{p_ + "a_freezarn1.wad", p_ + "a_freezarn2.wad"}, 1},
      {{p_ + "b_zarn2.wad", p_ + "b_freezarn1.wad"}, 1},           // rank 2 before rank 3
      {{p_ + "c_other.wad", p_ + "C_ZARN2.WAD"}, 1},               // case folded
      {{"docs/readme.txt", "maps/deep/" + p_ + "d_zarn.wad"}, 1},  // folder prefix
      {{"x.txt", p_ + "e_first.wad", p_ + "e_second.WAD"}, 1},     // first plain ".wad"
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
      EXPECT_FALSE(o.path);
      EXPECT_EQ(o.out + o.err, "");
      continue;
    }
    const std::string &name = r.names[static_cast<size_t>(r.chosen)];
    const std::string tmp = temp_for(name);
    EXPECT_EQ(o.path, tmp);
    EXPECT_EQ(o.out, stored_line(zip, name, 0, tmp));
    EXPECT_EQ(fixture::read_file(tmp), bytes(3, static_cast<uint8_t>(r.chosen + 1)));
  }
}

TEST_F(Zip, LocalHeaderWalk) {
  const bytes forty(40, 0xAB);
  // Matched by its first 511 bytes; the data lies behind the full 600.
  const std::string long_base = p_ + "long.wad";
  const std::string long_511 = std::string(511 - long_base.size() - 1, 'd') + "/" + long_base;
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
       cat({local_entry(p_ + "w1_a.wad", {1, 2}), local_entry(p_ + "w1_zarn.wad", {}, 0, {}, 200)}),
       p_ + "w1_a.wad",
       {1, 2},
       0},
      {"29 bytes behind the data end the walk, keeping the member",
       cat({local_entry(p_ + "w2_a.wad", {7}), bytes(29, 0)}),
       p_ + "w2_a.wad",
       {7},
       0},
      {"deferred sizes: the walk stops inside the data",
       cat({local_entry(p_ + "w3_zarn.wad", forty, 0, 0),
            local_entry(p_ + "w3_freezarn2.wad", {5})}),
       p_ + "w3_zarn.wad",
       {},
       0},
      {"deferred sizes, next header right behind",
       cat({local_entry(p_ + "w4_zarn.wad", {}, 0, 0), local_entry(p_ + "w4_freezarn2.wad", {5})}),
       p_ + "w4_freezarn2.wad",
       {5},
       0},
      {"data running past the archive: copied as far as it goes",
       local_entry(p_ + "w5.wad", forty, 0, 1000000), p_ + "w5.wad", forty, 976},
      {"name longer than 511 bytes", local_entry(long_name, forty), long_511, forty, 0},
      {"a NUL ends the name", local_entry(p_ + std::string("w7.wad\0/../../x", 16), forty),
       p_ + "w7.wad", forty, 0},
      {"2100 bytes are 2 KB", local_entry(p_ + "w6.wad", bytes(2100, 1)), p_ + "w6.wad",
       bytes(2100, 1), 2},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    const std::string zip = write(r.archive);
    const std::string tmp = temp_for(r.chosen);
    const outcome o = extract(zip);
    EXPECT_EQ(o.path, tmp);
    EXPECT_EQ(o.out, stored_line(zip, r.chosen, r.kb, tmp));
    EXPECT_EQ(fixture::read_file(tmp), r.content);
  }
}

TEST_F(Zip, LoaderReadsTheExtractedWad) {
  const std::string name = p_ + "l_zarn.wad";
  const bytes wad = fixture::wad_builder().lump("D_E1M1", {4, 5, 6}).build();  // 31 bytes, dir @ 15
  const std::string zip =
      write(fixture::zip_builder().stored("x.txt", {1}).stored(name, wad).build());
  const std::string tmp = temp_for(name);
  testing::internal::CaptureStdout();
  wad_file *w = wad_load(zip.c_str());
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            stored_line(zip, name, 0, tmp) + "[WAD] PWAD " + zip + ": 1 lumps, dir @ 15\n");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(std::string(w->path), tmp);
  EXPECT_EQ(std::string(w->src_path), zip);
  int32_t size = 0;
  EXPECT_NE(wad_get_data(w, "D_E1M1", &size), nullptr);
  EXPECT_EQ(size, 3);
  wad_free(w);

  const std::string bad = p_ + "l_bad.wad";
  const std::string bad_tmp = temp_for(bad);
  const std::string no_wad = "[WAD] no se pudo extraer WAD de ZIP ";
  struct row {
    bytes file;
    std::string err;
  };
  const row rows[] = {
      {fixture::zip_builder()
           .stored(bad, bytes{'J', 'U', 'N', 'K', 0, 0, 0, 0, 0, 0, 0, 0})
           .build(),
       "[WAD] Magic inválido JUNK en " + bad_tmp + "\n"},
      {fixture::zip_builder().stored("readme.txt", {1}).build(), no_wad},
      {cat({bytes{'P', 'K', 3, 4}, bytes(25, 0)}), no_wad},  // a signature, but under 30 bytes
      {bytes{'P', 'K', 3}, ""},  // too short to be a ZIP, and too short for a WAD header
  };
  for (const row &r : rows) {
    const std::string path = write(r.file, "r.zip");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(wad_load(path.c_str()), nullptr);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              r.err == no_wad ? no_wad + path + "\n" : r.err);
  }
}

TEST_F(Zip, NoShellSeesAMemberName) {
  const std::string here = fs::current_path().string() + "/";
  const std::string m = dir_ + "/" + p_;
  const std::string names[] = {
      p_ + "q\"; touch " + m + "mark1; \".wad", p_ + "s$(touch " + m + "mark2).wad",
      p_ + "b`touch " + m + "mark3`.wad", p_ + "x'; touch " + m + "mark4 #.wad"};
  // No central directory: unzip gives up with its status 9 ("not a zip file").
  bytes archive;
  for (const std::string &n : names) archive = cat({archive, local_entry(n, {1, 2, 3}, 8)});
  const std::string zip = write(archive, "a\";$(touch " + p_ + "mark5)`touch " + p_ + "mark6`.zip");
  for (const std::string &n : names) {
    SCOPED_TRACE(n);
    const std::string one = write(local_entry(n, {1, 2, 3}, 8), "one.zip");
    temp_for(n);
    const outcome o = extract(one);
    EXPECT_FALSE(o.path);
    EXPECT_EQ(o.out, unzip_line(one, n));
    EXPECT_EQ(o.err, "[WAD] unzip fallback falló rc=" + std::to_string(9 << 8) + "\n");
  }
  temp_for(names[0]);
  EXPECT_EQ(extract(zip).out, unzip_line(zip, names[0]));
  for (const char *mark : {"mark1", "mark2", "mark3", "mark4"})
    EXPECT_FALSE(fixture::file_exists(m + mark)) << mark;
  for (const char *mark : {"mark5", "mark6"})
    EXPECT_FALSE(fixture::file_exists(here + p_ + mark)) << mark;
}

TEST_F(Zip, PlantedLinkAtTheTempPathIsNeverFollowed) {
  // In /tmp itself, so that a hard link to it can be planted there.
  const std::string target = temp_for(p_ + "precious");
  for (const uint16_t method : {uint16_t{0}, uint16_t{8}}) {
    for (const bool hard : {false, true}) {
      SCOPED_TRACE(testing::Message()
                   << "method " << method << (hard ? " hard" : " symbolic") << " link");
      fixture::write_file(target, {'k', 'e', 'e', 'p'});
      const std::string name = p_ + "link" + std::to_string(method) + (hard ? "h" : "s") + ".wad";
      const std::string tmp = temp_for(name);
      const bool planted =
          hard ? link(target.c_str(), tmp.c_str()) == 0 : symlink(target.c_str(), tmp.c_str()) == 0;
      ASSERT_TRUE(planted) << tmp;
      const outcome o = extract(write(local_entry(name, bytes(50, 'X'), method)));
      EXPECT_FALSE(o.path);
      // The shell's own status for an output redirection it cannot open.
      EXPECT_EQ(o.err, method == 0 ? "" : "[WAD] unzip fallback falló rc=256\n");
      EXPECT_EQ(fixture::read_file(target), (bytes{'k', 'e', 'e', 'p'}));
    }
  }
}

TEST_F(Zip, UnzipThatCannotStartCountsAsCommandNotFound) {
  const std::string name = p_ + "nostart.wad";
  temp_for(name);
  const std::string zip = write(local_entry(name, {1}, 8));
  const std::string saved = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
  setenv("PATH", dir_.c_str(), 1);  // an empty directory: no unzip there
  const outcome o = extract(zip);
  setenv("PATH", saved.c_str(), 1);
  EXPECT_FALSE(o.path);
  EXPECT_EQ(o.err, "[WAD] unzip fallback falló rc=" + std::to_string(127 << 8) + "\n");
}

TEST_F(Zip, DeflatedMemberGoesThroughUnzip) {
  std::string zip_cmd;
  for (const char *d : {"/usr/bin/zip", "/bin/zip", "/usr/local/bin/zip"}) {
    if (access(d, X_OK) == 0) zip_cmd = d;
  }
  if (zip_cmd.empty())
    GTEST_SKIP() << "the `zip` command is not installed; no deflated archive to test with";
  // A name a shell would act on: it must reach unzip as one literal word.
  const std::string name = p_ + "d$(touch " + p_ + "mark7);\"`x`'zarn.wad";
  const bytes wad =
      fixture::wad_builder().lump("BIG", bytes(5000, 'a')).build();  // 5028 bytes, dir @ 5012
  fixture::write_file(dir_ + "/" + name, wad);
  const std::string zip = dir_ + "/d.zip";
  ASSERT_EQ(fixture::run({zip_cmd, "-q", "-j", zip, dir_ + "/" + name}).status, 0);
  const std::string tmp = temp_for(name);

  testing::internal::CaptureStdout();
  wad_file *w = wad_load(zip.c_str());
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            unzip_line(zip, name) + "[WAD] ZIP " + zip + " -> extraído via unzip " + name +
                " (4 KB) a " + tmp + "\n[WAD] PWAD " + zip + ": 1 lumps, dir @ 5012\n");
  ASSERT_NE(w, nullptr);
  int32_t size = 0;
  const auto *data = static_cast<const uint8_t *>(wad_get_data(w, "BIG", &size));
  ASSERT_EQ(size, 5000);
  EXPECT_EQ(bytes(data, data + size), bytes(5000, 'a'));
  wad_free(w);
  EXPECT_FALSE(fixture::file_exists(fs::current_path().string() + "/" + p_ + "mark7"));
}

}  // namespace
