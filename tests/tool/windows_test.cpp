// windows_test.cpp: what the Windows build does its own way, in process:
// files named in UTF-8 reached through UTF-16, the output's temporary file
// moved into place (several at once, as --todas writes them on threads),
// a stream switched to binary, and a ZIP member that needs unzip refused.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fixtures.h"
#include "tool/wav_out.h"
#include "tunecast/wad.h"

namespace {

using fixture::bytes;
namespace fs = std::filesystem;
using wad_ptr = std::unique_ptr<wad_file, decltype(&wad_free)>;

// A path from UTF-8 text: std::filesystem would read a narrow string in the
// system's code page.
fs::path utf8_path(const std::string &text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

std::string utf8_text(const fs::path &path) {
  const std::u8string text = path.generic_u8string();
  return std::string(text.begin(), text.end());
}

bytes read_all(const fs::path &path) {
  std::ifstream f(path, std::ios::binary);
  return bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void write_all(const fs::path &path, const bytes &data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
}

// The names in dir that start with ".tunecast-".
size_t temporaries_in(const fs::path &dir) {
  size_t n = 0;
  for (const fs::directory_entry &e : fs::directory_iterator(dir)) {
    if (e.path().filename().wstring().starts_with(L".tunecast-")) ++n;
  }
  return n;
}

// "t0.wav" to "t7.wav".
std::string numbered(int i) {
  std::string name = "t0.wav";
  name[1] = static_cast<char>('0' + i);
  return name;
}

void collect_line(void *user, int32_t, const char *line) {
  *static_cast<std::string *>(user) += std::string(line) + "\n";
}

class Windows : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = utf8_path(fixture::make_temp_dir("windows")); }
  void TearDown() override {
    wad_set_log(nullptr, nullptr);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  // dir_/name as the tool gets it: UTF-8.
  std::string at(const std::string &name) const { return utf8_text(dir_ / utf8_path(name)); }
  fs::path dir_;
};

TEST_F(Windows, NonAsciiArchiveAndOutputNames) {
  const bytes song = fixture::mus_builder().note_on(0, 60, 100).delay(10).score_end().build();
  write_all(dir_ / utf8_path("música.wad"), fixture::wad_builder().lump("D_X", song).build());
  std::string log;
  wad_set_log(collect_line, &log);
  for (const auto open : {wad_load, wad_open}) {
    const wad_ptr w(open(at("música.wad").c_str()), &wad_free);
    ASSERT_NE(w, nullptr) << log;
    const wad_lump *lump = wad_get(w.get(), "D_X");
    ASSERT_NE(lump, nullptr);
    const std::unique_ptr<uint8_t, decltype(&std::free)> data(wad_read_lump(w.get(), lump),
                                                              &std::free);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(bytes(data.get(), data.get() + lump->size), song);
  }
  EXPECT_TRUE(file_identity_of(at("música.wad").c_str()).known);

  wav_writer out;
  wav_target target;
  const std::string wav = at("canción.wav");
  target.path = wav.c_str();
  ASSERT_EQ(out.open(target, 3), 0);
  std::vector<int16_t> samples{1, -2, 10};
  ASSERT_EQ(out.write(samples.data(), samples.size()), 0);
  ASSERT_EQ(out.finish(), 0);
  const bytes written = read_all(dir_ / utf8_path("canción.wav"));
  ASSERT_EQ(written.size(), wav_header_bytes + 6);
  EXPECT_EQ(bytes(written.end() - 6, written.end()), (bytes{1, 0, 0xFE, 0xFF, 10, 0}));
  EXPECT_EQ(temporaries_in(dir_), 0u);
}

// The old file stays whole until finish() moves the new one over it; a file
// given up leaves nothing behind and the old one as it was.
TEST_F(Windows, TheTargetIsReplacedOnlyWhenComplete) {
  const fs::path target_path = dir_ / "out.mid";
  write_all(target_path, bytes{'o', 'l', 'd'});
  const std::string path = at("out.mid");
  wav_target target;
  target.path = path.c_str();
  {
    output_file given_up;
    ASSERT_EQ(given_up.open(target), 0);
    ASSERT_EQ(given_up.write("new", 3), 0);
    EXPECT_EQ(temporaries_in(dir_), 1u);
    EXPECT_EQ(read_all(target_path), (bytes{'o', 'l', 'd'}));
  }
  EXPECT_EQ(temporaries_in(dir_), 0u);
  EXPECT_EQ(read_all(target_path), (bytes{'o', 'l', 'd'}));

  output_file done;
  ASSERT_EQ(done.open(target), 0);
  ASSERT_EQ(done.write("new\n", 4), 0);
  ASSERT_EQ(done.finish(), 0);
  EXPECT_EQ(read_all(target_path), (bytes{'n', 'e', 'w', '\n'}));
  EXPECT_EQ(temporaries_in(dir_), 0u);
}

TEST_F(Windows, RefusedTargetsLeaveNothing) {
  write_all(dir_ / "input.wad", bytes{1});
  fs::create_directory(dir_ / "dir.wav");
  write_all(dir_ / "locked.wav", bytes{2});
  fs::permissions(dir_ / "locked.wav", fs::perms::owner_write, fs::perm_options::remove);
  const struct {
    std::string name;
    int err;
  } cases[] = {
      {"input.wad", wav_err_same_as_input},
      {"dir.wav", EISDIR},
      {"locked.wav", EACCES},
      {"missing/x.wav", ENOENT},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = at(c.name);
    wav_target target;
    target.path = path.c_str();
    target.input = file_identity_of(at("input.wad").c_str());
    output_file out;
    EXPECT_EQ(out.open(target), c.err);
  }
  fs::permissions(dir_ / "locked.wav", fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(temporaries_in(dir_), 0u);
}

// --todas renders on threads: each has its temporary file in the one list
// that Ctrl-C empties, and each finishes or gives up its own.
TEST_F(Windows, OutputsOnThreadsKeepTheirOwnTemporaries) {
  constexpr int count = 8;
  std::vector<std::thread> threads;
  std::vector<int> results(count, -1);
  for (int i = 0; i < count; ++i) {
    threads.emplace_back([this, i, &results] {
      const std::string path = at(numbered(i));
      wav_target target;
      target.path = path.c_str();
      target.entry_only = true;
      output_file out;
      int err = out.open(target);
      if (err == 0) err = out.write(&i, sizeof i);
      if (err == 0 && i % 2 == 0) err = out.finish();
      results[static_cast<size_t>(i)] = err;
    });
  }
  for (std::thread &t : threads) t.join();
  for (int i = 0; i < count; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(results[static_cast<size_t>(i)], 0);
    EXPECT_EQ(fs::exists(dir_ / numbered(i)), i % 2 == 0);
  }
  EXPECT_EQ(temporaries_in(dir_), 0u);
}

// Standard output opened in text mode would turn each byte 10 of the
// samples into 13 10.
TEST_F(Windows, AStreamIsWrittenInBinary) {
  const int fd = _wopen((dir_ / "stream.wav").c_str(), _O_WRONLY | _O_CREAT | _O_TEXT, 0600);
  ASSERT_GE(fd, 0);
  wav_target target;
  target.path = "-";
  target.fd = fd;
  output_file out;
  ASSERT_EQ(out.open(target), 0);
  ASSERT_EQ(out.write("\n\n", 2), 0);
  ASSERT_EQ(out.finish(), 0);
  _close(fd);
  EXPECT_EQ(read_all(dir_ / "stream.wav"), (bytes{'\n', '\n'}));
}

// A device the user named gets the bytes directly, as /dev/null does on
// POSIX; one standing for an entry of the --todas directory is refused.
TEST_F(Windows, ADeviceIsWrittenDirectly) {
  for (const bool entry : {false, true}) {
    SCOPED_TRACE(entry);
    wav_target target;
    target.path = "NUL";
    target.entry_only = entry;
    output_file out;
    const int err = out.open(target);
    EXPECT_EQ(err, entry ? wav_err_not_regular : 0);
    if (err != 0) continue;
    EXPECT_EQ(out.write("abc", 3), 0);
    EXPECT_EQ(out.finish(), 0);
  }
}

// Windows opens a directory for no one; it is still said to be one.
TEST_F(Windows, ADirectoryIsNoArchive) {
  fs::create_directory(dir_ / "d.wad");
  std::string log;
  wad_set_log(collect_line, &log);
  EXPECT_EQ(wad_load(at("d.wad").c_str()), nullptr);
  EXPECT_EQ(log, "[WAD] " + at("d.wad") + " es un directorio, no un archivo\n");
}

// No unzip to run: a member the reader cannot extract itself is refused
// with its method; a stored one still loads.
TEST_F(Windows, ZipMembersNeedingUnzipAreRefused) {
  const bytes wad = fixture::wad_builder().lump("D_X", bytes(10, 1)).build();
  write_all(dir_ / "stored.zip", fixture::zip_builder().stored("a.wad", wad).build());
  write_all(dir_ / "bzip2.zip", fixture::zip_builder().member("b.wad", wad, 12).build());
  std::string log;
  wad_set_log(collect_line, &log);
  const wad_ptr stored(wad_load(at("stored.zip").c_str()), &wad_free);
  EXPECT_NE(stored, nullptr) << log;
  log.clear();
  const wad_ptr refused(wad_load(at("bzip2.zip").c_str()), &wad_free);
  EXPECT_EQ(refused, nullptr);
  EXPECT_EQ(log, "[WAD] no se pudo extraer WAD de ZIP " + at("bzip2.zip") +
                     ": b.wad método 12 (bzip2): no se puede extraer sin unzip\n");
}

}  // namespace
