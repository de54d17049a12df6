// wad_writer.h: writes WAD archives: the 12-byte header, the lump data in
// order, then the directory. Used by the demo generator and the tests'
// fixtures; not installed.
#ifndef TUNECAST_WAD_WRITER_H
#define TUNECAST_WAD_WRITER_H

#include <cstdint>
#include <string>
#include <vector>

class wad_writer {
 public:
  using bytes = std::vector<uint8_t>;

  // magic: its first 4 bytes, NUL-padded ("IWAD" or "PWAD" in real files).
  explicit wad_writer(std::string magic = "PWAD") : magic_(std::move(magic)) {}
  // name: up to 8 bytes, padded with NULs.
  wad_writer &lump(const std::string &name, const bytes &data);
  wad_writer &marker(const std::string &name) { return lump(name, {}); }
  // An entry whose offset and size are written as given (for bounds tests).
  wad_writer &raw_entry(const std::string &name, int32_t file_ofs, int32_t size);
  bytes build() const;
  // Writes build() to path; throws std::runtime_error when it cannot.
  void write(const std::string &path) const;

 private:
  struct entry {
    std::string name;
    bytes data;
    bool raw = false;
    int32_t file_ofs = 0, size = 0;
  };
  std::string magic_;
  std::vector<entry> entries_;
};

#endif  // TUNECAST_WAD_WRITER_H
