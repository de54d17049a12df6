// memory_log_test.cpp: archives loaded from memory, checked as a file is and
// owning their copy, and the log hook that receives the loader's lines in
// place of the standard streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fixtures.h"
#include "tunecast/wad.h"

namespace {

using fixture::bytes;
using wad_ptr = std::unique_ptr<wad_file, decltype(&wad_free)>;

struct log_line {
  int32_t level;
  std::string text;
};

void collect(void *user, int32_t level, const char *line) {
  static_cast<std::vector<log_line> *>(user)->push_back({level, line});
}

// Sets the collecting hook for one test and puts the default back after it,
// so the other tests see the lines on the standard streams.
class WadLog : public testing::Test {
 protected:
  void SetUp() override { wad_set_log(collect, &lines_); }
  void TearDown() override { wad_set_log(nullptr, nullptr); }
  std::vector<log_line> lines_;
};

TEST_F(WadLog, MemoryImagesAreCheckedAsFilesAreWithTheSameLines) {
  const bytes good = fixture::wad_builder("IWAD").lump("A", {1, 2}).build();
  bytes bad_magic = good;
  bad_magic[0] = 0x1b;
  // Header 12 + data 2: the directory sits at 14.
  struct row {
    bytes image;
    bool loads;
    log_line line;
  };
  const std::vector<row> rows = {
      {good, true, {WAD_LOG_PROGRESS, "[WAD] IWAD mem: 1 lumps, dir @ 14"}},
      {{}, false, {WAD_LOG_FAILURE, "[WAD] mem está vacío"}},
      {{'P', 'W', 'A', 'D', 0, 0, 0},
       false,
       {WAD_LOG_FAILURE, "[WAD] mem es demasiado corto para ser un WAD (7 bytes)"}},
      {bad_magic, false, {WAD_LOG_FAILURE, "[WAD] Magic inválido \\x1bWAD en mem"}},
      {bytes(good.begin(), good.end() - 1), false, {WAD_LOG_FAILURE, "[WAD] dir_ofs corrupto 14"}},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.line.text);
    lines_.clear();
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const wad_ptr w(wad_load_memory(r.image.data(), r.image.size(), "mem"), &wad_free);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(w != nullptr, r.loads);
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_EQ(lines_[0].level, r.line.level);
    EXPECT_EQ(lines_[0].text, r.line.text);
    if (w) {
      EXPECT_STREQ(w->path, "mem");
      EXPECT_STREQ(w->src_path, "mem");
    }
  }
}

TEST_F(WadLog, AMemoryImageIsCopiedSoTheCallerMayReleaseIt) {
  auto image = std::make_unique<bytes>(fixture::wad_builder().lump("D_X", {7, 8, 9}).build());
  const wad_ptr w(wad_load_memory(image->data(), image->size(), "x"), &wad_free);
  ASSERT_NE(w, nullptr);
  std::fill(image->begin(), image->end(), 0);
  image.reset();
  int32_t size = 0;
  const auto *data = static_cast<const uint8_t *>(wad_get_data(w.get(), "D_X", &size));
  ASSERT_EQ(size, 3);
  EXPECT_EQ(bytes(data, data + 3), (bytes{7, 8, 9}));
  // Caller mistakes are refused without a line.
  lines_.clear();
  EXPECT_EQ(wad_load_memory(nullptr, 12, "x"), nullptr);
  EXPECT_EQ(wad_load_memory(data, 3, nullptr), nullptr);
  EXPECT_TRUE(lines_.empty());
}

// A file's lines, a missing file's system line included, reach the hook
// at their levels, and none reaches a stream.
TEST_F(WadLog, FileLoadsReportThroughTheHook) {
  const std::string dir = fixture::make_temp_dir("wadlog");
  const std::string path = dir + "/a.wad";
  fixture::write_file(path, fixture::wad_builder().build());
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  wad_free(wad_load(path.c_str()));
  EXPECT_EQ(wad_load((dir + "/none.wad").c_str()), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  std::filesystem::remove_all(dir);
  ASSERT_EQ(lines_.size(), 2u);
  EXPECT_EQ(lines_[0].level, WAD_LOG_PROGRESS);
  EXPECT_EQ(lines_[0].text, "[WAD] PWAD " + path + ": 0 lumps, dir @ 12");
  EXPECT_EQ(lines_[1].level, WAD_LOG_FAILURE);
  EXPECT_EQ(lines_[1].text,
            "[WAD] no se puede abrir " + dir + "/none.wad: no existe el archivo o el directorio");
}

const char *test_english(const char *text) {
  if (std::strcmp(text, "[WAD] no se puede abrir %s: %s") == 0) return "[WAD] cannot open %s (%s)";
  if (std::strcmp(text, "no existe el archivo o el directorio") == 0) return "no such file";
  return text;
}

// With a translation hook, a line is made of what it returns for the
// format and for the system reason the line quotes; null brings back the
// reader's Spanish.
TEST_F(WadLog, TranslatedLinesAreMadeOfWhatTheHookReturns) {
  const std::string dir = fixture::make_temp_dir("wadlog");
  const std::string missing = dir + "/none.wad";
  wad_set_translation(test_english);
  const wad_file *translated = wad_load(missing.c_str());
  wad_set_translation(nullptr);
  const wad_file *spanish = wad_load(missing.c_str());
  std::filesystem::remove_all(dir);
  EXPECT_EQ(translated, nullptr);
  EXPECT_EQ(spanish, nullptr);
  ASSERT_EQ(lines_.size(), 2u);
  EXPECT_EQ(lines_[0].text, "[WAD] cannot open " + missing + " (no such file)");
  EXPECT_EQ(lines_[1].text,
            "[WAD] no se puede abrir " + missing + ": no existe el archivo o el directorio");
}

}  // namespace
