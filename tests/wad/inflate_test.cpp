// inflate_test.cpp: deflated ZIP members inflated in process with zlib, with
// no unzip anywhere on PATH: they load as their stored twins do, and every
// kind of damage is refused with its own reason.
#include "wad/inflate.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "fixtures.h"
#include "tunecast/wad.h"
#include "wad/zip.h"

namespace {

using fixture::bytes;

class Inflate : public testing::Test {
 protected:
  // PATH names an empty directory: an unzip run anyway would not be found.
  void SetUp() override {
    dir_ = fixture::make_temp_dir("inflate");
    saved_path_ = std::getenv("PATH");
    setenv("PATH", dir_.c_str(), 1);
  }
  void TearDown() override {
    setenv("PATH", saved_path_.c_str(), 1);
    std::filesystem::remove_all(dir_);
  }
  std::string write(const bytes &b, const std::string &name) {
    fixture::write_file(dir_ + "/" + name, b);
    return dir_ + "/" + name;
  }
  struct outcome {
    bool ok = false;
    bytes data;
    std::string reason, out;
  };
  static outcome extract(const std::string &zip) {
    outcome o;
    const int fd = open(zip.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_GE(fd, 0) << zip;
    tunecast::zip_wad z;
    testing::internal::CaptureStdout();
    o.ok = tunecast::zip_extract_wad(fd, zip.c_str(), z);
    o.out = testing::internal::GetCapturedStdout();
    close(fd);
    if (z.bytes != nullptr) o.data.assign(z.bytes, z.bytes + z.size);
    std::free(z.bytes);
    o.reason = z.reason;
    return o;
  }
  std::string dir_;
  std::string saved_path_;
};

// Bytes that deflate poorly, so a few MiB take many reads and many doublings.
bytes noise(size_t size) {
  bytes out(size);
  uint32_t x = 12345;
  for (uint8_t &b : out) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
  return out;
}

bytes wad_of(const bytes &lump) { return fixture::wad_builder().lump("D_X", lump).build(); }

bytes wad_head(const char *magic) {
  bytes out;
  fixture::put_text(out, magic);
  fixture::put_u32le(out, 0);
  fixture::put_u32le(out, 12);
  return out;
}

// The bytes a stored member would give, whatever the sizes' source.
TEST_F(Inflate, DeflatedMembersLoadWhole) {
  struct row {
    const char *what;
    bytes data;
    fixture::zip_flags flags;
  };
  const row rows[] = {
      {"a small WAD", wad_of(bytes(300, 'a')), {}},
      {"an empty member", {}, {}},
      {"3 MiB that hardly compress", wad_of(noise(3u << 20)), {}},
      {"streamed", wad_of(bytes(5000, 's')), {.streamed = true}},
      {"ZIP64 sizes", wad_of(bytes(5000, 'z')), {.streamed = true, .zip64 = true}},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    const std::string zip = write(fixture::zip_builder()
                                      .deflated("leeme.txt", {1, 2, 3}, r.flags)
                                      .deflated("maps/zarn.wad", r.data, r.flags)
                                      .build(),
                                  "d.zip");
    const outcome deflated = extract(zip);
    ASSERT_TRUE(deflated.ok) << deflated.reason;
    EXPECT_EQ(deflated.data, r.data);
    EXPECT_EQ(deflated.out, "[WAD] ZIP " + zip +
                                " maps/zarn.wad método 8 (deflate), descomprimiendo con zlib ...\n"
                                "[WAD] ZIP " +
                                zip + " -> extraído con zlib maps/zarn.wad (" +
                                std::to_string(r.data.size() / 1024) + " KB) en memoria\n");
  }
  // And through the library's own call.
  const bytes lump = noise(70000);
  const std::string zip =
      write(fixture::zip_builder().deflated("zarn.wad", wad_of(lump)).build(), "w.zip");
  testing::internal::CaptureStdout();
  wad_file *w = wad_load(zip.c_str());
  testing::internal::GetCapturedStdout();
  ASSERT_NE(w, nullptr);
  int32_t size = 0;
  const auto *data = static_cast<const uint8_t *>(wad_get_data(w, "D_X", &size));
  EXPECT_EQ(bytes(data, data + size), lump);
  wad_free(w);
}

TEST_F(Inflate, DamageIsRefusedWithItsReason) {
  const bytes wad = wad_of(bytes(3000, 'd'));
  const bytes stream = fixture::deflate_raw(wad);
  const uint32_t crc = fixture::crc32(wad);
  const auto size = static_cast<uint32_t>(wad.size());
  const std::string n = std::to_string(size);
  char crcs[64];
  std::snprintf(crcs, sizeof crcs, "el CRC-32 0x%08X en lugar del 0x%08X declarado", crc,
                crc ^ 0x80u);
  bytes trailing = stream;
  trailing.insert(trailing.end(), {1, 2, 3});
  // A stored block (not the last) of a 12-byte head, then a reserved block type.
  bytes bad_head = {0x00, 12, 0x00, 0xF3, 0xFF};
  const bytes zwad = wad_head("ZWAD");
  bad_head.insert(bad_head.end(), zwad.begin(), zwad.end());
  bad_head.push_back(0xFF);
  // 26 MB in 26 KB: over 200:1, past the 16 MiB below which any ratio goes.
  const uint64_t runs = 100000;
  const bytes bomb = fixture::deflate_run(wad_head("PWAD"), runs);
  const auto bomb_size = static_cast<uint32_t>(12 + 258 * runs);
  struct row {
    const char *what;
    bytes data;
    uint32_t crc, size;
    std::string reason;
  };
  const row rows[] = {
      {"a reserved block type",
       {0xFF, 0xFF, 0xFF},
       crc,
       size,
       "datos dañados: el flujo deflate de d.wad no es válido"},
      {"cut before its last block ends", bytes(stream.begin(), stream.end() - 2), crc, size,
       "datos dañados: el flujo deflate de d.wad se corta antes de su final"},
      {"bytes after the stream's end", trailing, crc, size,
       "datos dañados: a d.wad le sobran 3 bytes tras el final de su flujo deflate"},
      {"another CRC-32", stream, crc ^ 0x80u, size, std::string("datos dañados: d.wad da ") + crcs},
      {"one byte more than declared", stream, crc, size - 1,
       "datos dañados: d.wad da más de los " + std::to_string(size - 1) + " bytes declarados"},
      {"one byte fewer than declared", stream, crc, size + 1,
       "datos dañados: d.wad da " + n + " de los " + std::to_string(size + 1) +
           " bytes declarados"},
      {"no WAD's head: stopped before the damage behind it", bad_head, 0, 5000,
       "d.wad no es un WAD: su cabecera no es válida"},
      {"a ratio no WAD has", bomb, 0, bomb_size,
       "d.wad declara " + std::to_string(bomb_size) + " bytes en " + std::to_string(bomb.size()) +
           " comprimidos, más de 200:1: ningún WAD real se comprime tanto"},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    const outcome o = extract(write(
        fixture::zip_builder().compressed("d.wad", r.data, 8, r.crc, r.size).build(), "x.zip"));
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.reason, r.reason);
    EXPECT_EQ(o.data, bytes{});
  }
}

// A member that declares 2 GB but gives 10 MB costs memory for what it
// gives: with the address space held to 1 GiB, it is still read to its end.
// Windows has no fork and no address-space limit.
#ifndef _WIN32
TEST_F(Inflate, MemoryFollowsTheOutputNotTheDeclaredSize) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit";
#endif
  bytes wad = wad_head("PWAD");
  wad.resize(10'000'000);
  const uint32_t declared = 2'000'000'000;
  const std::string zip = write(
      fixture::zip_builder()
          .compressed("zarn.wad", fixture::deflate_raw(wad, 0), 8, fixture::crc32(wad), declared)
          .build(),
      "lie.zip");
  const std::string reason =
      "datos dañados: zarn.wad da 10000000 de los 2000000000 bytes declarados";
  const pid_t pid = fork();
  if (pid == 0) {
    const int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, STDOUT_FILENO);
    const rlimit one_gib{rlim_t{1} << 30, rlim_t{1} << 30};
    const int fd = open(zip.c_str(), O_RDONLY);
    tunecast::zip_wad z;
    const bool refused = setrlimit(RLIMIT_AS, &one_gib) == 0 && fd >= 0 &&
                         !tunecast::zip_extract_wad(fd, zip.c_str(), z) && z.reason == reason;
    _exit(refused ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
#endif

}  // namespace
