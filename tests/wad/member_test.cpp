// member_test.cpp: a ZIP archive's WAD member chosen by name
// (wad_load_member, wad_open_member) and the names wad_zip_member gives of
// the member read and of the others, stored and deflated alike.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "fixtures.h"
#include "tunecast/wad.h"

namespace {

using fixture::bytes;
using wad_ptr = std::unique_ptr<wad_file, decltype(&wad_free)>;
namespace fs = std::filesystem;

void collect(void *user, int32_t level, const char *line) {
  if (level == WAD_LOG_FAILURE) static_cast<std::vector<std::string> *>(user)->push_back(line);
}

bytes one_lump_wad(const char *lump) {
  return fixture::wad_builder().lump(lump, {1, 2, 3}).build();
}

class WadMember : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    dir_ = fixture::make_temp_dir("member");
    fixture::zip_builder zip;
    for (const auto &[name, lump] : members) {
      if (GetParam()) {
        zip.deflated(name, one_lump_wad(lump));
      } else {
        zip.stored(name, one_lump_wad(lump));
      }
    }
    fixture::write_file(zip_path(), zip.stored("notes.txt", {'h', 'i'}).build());
    fixture::write_file(dir_ + "/plain.wad", one_lump_wad("D_PLAIN"));
    wad_set_log(collect, &failures_);
  }
  void TearDown() override {
    wad_set_log(nullptr, nullptr);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string zip_path() const { return dir_ + "/two.zip"; }

  // Archive order; the usual choice is the first ending in ".wad".
  static constexpr std::pair<const char *, const char *> members[] = {
      {"first.wad", "D_FIRST"}, {"maps/Second.WAD", "D_SECOND"}, {"maps/second.wad", "D_LOWER"}};
  std::string dir_;
  std::vector<std::string> failures_;
};

TEST_P(WadMember, ChosenByExactNameOrByTheUsualRule) {
  struct pick {
    const char *member;              // null: the usual choice
    const char *lump;                // the lump only that member holds
    std::vector<std::string> names;  // wad_zip_member 0, 1, ...
  };
  const pick picks[] = {
      {nullptr, "D_FIRST", {"first.wad", "maps/Second.WAD", "maps/second.wad"}},
      {"maps/Second.WAD", "D_SECOND", {"maps/Second.WAD", "first.wad", "maps/second.wad"}},
      {"maps/second.wad", "D_LOWER", {"maps/second.wad", "first.wad", "maps/Second.WAD"}},
      {"notes.txt", nullptr, {}},  // there, but no WAD
  };
  for (const pick &p : picks) {
    for (const bool on_demand : {false, true}) {
      SCOPED_TRACE(std::string(p.member != nullptr ? p.member : "(usual)") +
                   (on_demand ? " opened" : " loaded"));
      const wad_ptr w(on_demand ? wad_open_member(zip_path().c_str(), p.member)
                                : wad_load_member(zip_path().c_str(), p.member),
                      &wad_free);
      if (p.lump == nullptr) {
        EXPECT_EQ(w, nullptr);
        continue;
      }
      ASSERT_NE(w, nullptr);
      EXPECT_NE(wad_get(w.get(), p.lump), nullptr);
      EXPECT_EQ(w->num_lumps, 1);
      for (size_t i = 0; i < p.names.size(); ++i) {
        const char *name = wad_zip_member(w.get(), static_cast<int32_t>(i));
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(name, p.names[i]);
      }
      EXPECT_EQ(wad_zip_member(w.get(), static_cast<int32_t>(p.names.size())), nullptr);
      EXPECT_EQ(wad_zip_member(w.get(), -1), nullptr);
    }
  }
}

// Names match whole and by case; a miss names the WAD members there are.
TEST_P(WadMember, AbsentMemberNamesTheOnesThere) {
  for (const char *absent : {"MAPS/SECOND.WAD", "second.wad", "first.wa", "first.wad/", ""}) {
    SCOPED_TRACE(absent);
    failures_.clear();
    EXPECT_EQ(wad_open_member(zip_path().c_str(), absent), nullptr);
    ASSERT_EQ(failures_.size(), 1u);
    EXPECT_EQ(failures_[0], "[WAD] no se pudo extraer WAD de ZIP " + zip_path() +
                                ": no tiene el miembro " + absent +
                                "; sus archivos .wad: first.wad, maps/Second.WAD, maps/second.wad");
  }
}

TEST_P(WadMember, OnlyAZipHasMembers) {
  const std::string plain = dir_ + "/plain.wad";
  const wad_ptr whole(wad_load_member(plain.c_str(), nullptr), &wad_free);
  ASSERT_NE(whole, nullptr);
  EXPECT_EQ(wad_zip_member(whole.get(), 0), nullptr);
  EXPECT_EQ(wad_load_member(plain.c_str(), "plain.wad"), nullptr);
  ASSERT_EQ(failures_.size(), 1u);
  EXPECT_EQ(failures_[0], "[WAD] " + plain + " no es un archivo ZIP: no tiene miembros que elegir");
  EXPECT_EQ(wad_load_member(nullptr, "first.wad"), nullptr);
  EXPECT_EQ(wad_zip_member(nullptr, 0), nullptr);
}

// However many WAD members a ZIP holds, the handle keeps 64 besides the one read.
TEST_P(WadMember, KeepsAtMost64OtherNames) {
  fixture::zip_builder zip;
  for (int k = 0; k < 70; ++k)
    zip.stored(std::string("w").append(std::to_string(k)).append(".wad"), one_lump_wad("D_W"));
  const std::string many = dir_ + "/many.zip";
  fixture::write_file(many, zip.build());
  const wad_ptr w(wad_load_member(many.c_str(), "w69.wad"), &wad_free);
  ASSERT_NE(w, nullptr);
  EXPECT_STREQ(wad_zip_member(w.get(), 0), "w69.wad");
  EXPECT_STREQ(wad_zip_member(w.get(), 1), "w0.wad");
  EXPECT_STREQ(wad_zip_member(w.get(), 64), "w63.wad");
  EXPECT_EQ(wad_zip_member(w.get(), 65), nullptr);
}

INSTANTIATE_TEST_SUITE_P(StoredAndDeflated, WadMember, ::testing::Bool(),
                         [](const auto &param_info) {
                           return param_info.param ? "Deflated" : "Stored";
                         });

}  // namespace
