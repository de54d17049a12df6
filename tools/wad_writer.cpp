// wad_writer.cpp: the WAD archive writer declared in wad_writer.h.
#include "wad_writer.h"

#include <fstream>
#include <stdexcept>

#include "common/byte_order.h"

using tunecast::put_u32le;

wad_writer &wad_writer::lump(const std::string &name, const bytes &data) {
  entries_.push_back(entry{name, data});
  return *this;
}

wad_writer &wad_writer::raw_entry(const std::string &name, int32_t file_ofs, int32_t size) {
  entries_.push_back(entry{name, {}, true, file_ofs, size});
  return *this;
}

wad_writer::bytes wad_writer::build() const {
  bytes out(4, 0);
  for (size_t k = 0; k < magic_.size() && k < 4; ++k) out[k] = static_cast<uint8_t>(magic_[k]);
  put_u32le(out, static_cast<uint32_t>(entries_.size()));
  put_u32le(out, 0);  // directory offset, patched below
  std::vector<uint32_t> offsets;
  for (const entry &e : entries_) {
    offsets.push_back(static_cast<uint32_t>(out.size()));
    out.insert(out.end(), e.data.begin(), e.data.end());
  }
  const auto dir = static_cast<uint32_t>(out.size());
  for (size_t i = 0; i < 4; ++i) out[8 + i] = static_cast<uint8_t>(dir >> (8 * i));
  for (size_t i = 0; i < entries_.size(); ++i) {
    const entry &e = entries_[i];
    put_u32le(out, e.raw ? static_cast<uint32_t>(e.file_ofs) : offsets[i]);
    put_u32le(out, e.raw ? static_cast<uint32_t>(e.size) : static_cast<uint32_t>(e.data.size()));
    bytes name(8, 0);
    for (size_t k = 0; k < e.name.size() && k < 8; ++k) name[k] = static_cast<uint8_t>(e.name[k]);
    out.insert(out.end(), name.begin(), name.end());
  }
  return out;
}

void wad_writer::write(const std::string &path) const {
  const bytes data = build();
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}
