// zip.cpp: finding the WAD inside a ZIP archive by walking its local
// headers, and reading it into memory: stored members are copied here,
// deflated ones inflated here with zlib, and any other method goes to
// `unzip -p`. The walk keeps only the best candidate so far, so its memory
// stays small whatever the archive holds; the central directory is read
// only for the sizes a streaming writer left out of the local headers.
// Sizes too large for their 32-bit fields come from the ZIP64 extra field.
#include "wad/zip.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "common/byte_order.h"
#include "common/console_text.h"
#include "common/system_text.h"
#include "wad/inflate.h"
#include "wad/log.h"
#include "wad/read_at.h"
#include "wad/unzip.h"

namespace tunecast {

namespace {

constexpr int64_t local_header_bytes = 30;
constexpr int64_t central_header_bytes = 46;
constexpr int64_t end_record_bytes = 22;
constexpr int64_t max_comment_bytes = 65535;
constexpr uint32_t local_header_sig = 0x04034B50;
constexpr uint32_t central_header_sig = 0x02014B50;
constexpr uint32_t end_record_sig = 0x06054B50;
constexpr uint32_t descriptor_sig = 0x08074B50;
constexpr int64_t descriptor_bytes = 12;  // CRC-32 and the two sizes, after an optional signature
constexpr int64_t zip64_descriptor_bytes = 20;  // the same with 8-byte sizes
constexpr uint16_t zip64_extra_id = 0x0001;
constexpr uint32_t zip64_marker = 0xFFFFFFFF;  // "the value is in the ZIP64 extra field"
constexpr uint16_t flag_encrypted = 1 << 0;
constexpr uint16_t flag_sizes_deferred = 1 << 3;
// These two serve the unzip child only, which some builds lack.
[[maybe_unused]] constexpr uint16_t flag_utf8_name = 1 << 11;
constexpr uint16_t method_stored = 0;
constexpr uint16_t method_deflated = 8;
constexpr uint16_t method_bzip2 = 12;
constexpr uint16_t method_lzma = 14;
constexpr size_t name_field_bytes = 512;  // names are matched by their first 511 bytes
[[maybe_unused]] constexpr double bytes_per_mib = 1024.0 * 1024.0;
constexpr int64_t wad_dir_entry_bytes = 16;
// A WAD is graphics, sounds and maps, which deflate to a few times smaller;
// even one padded with empty lumps stays far below 200:1 once it is tens of
// MiB. A member that declares more is a bomb, refused before it inflates,
// since honest output that large would be held in memory whole. Below the
// floor the memory is small whatever the ratio, so no small WAD is refused.
constexpr uint64_t max_compression_ratio = 200;
constexpr uint64_t compression_ratio_floor_bytes = uint64_t{16} << 20;

struct zip_member {
  char name[name_field_bytes];  // NUL-terminated; a NUL in the name ends it early
  int64_t data_ofs = 0;
  uint64_t comp_size = 0;
  uint64_t uncomp_size = 0;
  uint32_t crc = 0;
  uint16_t method = 0;
  uint16_t flags = 0;
  bool sizes_missing = false;  // deferred sizes not found in the central directory
  int rank = 0;
};

struct central_sizes {
  uint64_t local_ofs;
  uint64_t comp_size, uncomp_size;
  uint32_t crc;
};

// Tried in this order; the first rank that any member matches wins, and
// after them any name ending in ".wad".
constexpr const char *preferred_names[] = {"freezarn2.wad", "freezarn1.wad", "zarn2.wad",
                                           "zarn.wad", ".wad"};
constexpr int no_rank = static_cast<int>(std::size(preferred_names));

// Replaces each of fields (in the order the format stores them: the
// uncompressed size, the compressed size, the local header's offset) that
// holds the marker by its 8-byte value in the extra field's ZIP64 record.
// A central directory entry stores only the values it marked; a local
// header stores both sizes whenever it has the record. A value missing from
// the record keeps its marker, which the size checks then refuse. Returns
// whether there is a record at all.
bool apply_zip64(const uint8_t *extra, size_t extra_len, bool local, uint64_t *const *fields,
                 size_t count) {
  for (size_t at = 0; extra_len - at >= 4;) {
    const size_t body = at + 4;
    const size_t size = get_u16le(extra + at + 2);
    if (size > extra_len - body) return false;
    if (get_u16le(extra + at) == zip64_extra_id) {
      size_t pos = 0;
      for (size_t i = 0; i < count && size - pos >= 8; ++i) {
        const bool marked = *fields[i] == zip64_marker;
        if (marked) *fields[i] = get_u64le(extra + body + pos);
        if (marked || local) pos += 8;
      }
      return true;
    }
    at = body + size;
  }
  return false;
}

// apply_zip64 on the extra field of extra_len bytes at ofs.
bool read_zip64(int fd, int64_t ofs, uint16_t extra_len, bool local, uint64_t *const *fields,
                size_t count) {
  std::vector<uint8_t> extra(extra_len);
  return extra_len > 0 && wad_read_at(fd, ofs, extra.data(), extra.size()) &&
         apply_zip64(extra.data(), extra.size(), local, fields, count);
}

int member_rank(const char *name) {
  for (int r = 0; r < no_rank; ++r) {
    if (strcase_ends_with(name, preferred_names[r])) return r;
  }
  return no_rank;
}

// The central directory's entries (local offset and sizes), sorted by local
// offset; empty when there is none to be found. At most 65535 entries, as
// the end record counts them, so this stays small.
std::vector<central_sizes> read_central(int fd, int64_t size) {
  std::vector<central_sizes> found;
  const int64_t tail_bytes = std::min(size, end_record_bytes + max_comment_bytes);
  std::vector<uint8_t> tail(static_cast<size_t>(tail_bytes));
  const int64_t tail_ofs = size - tail_bytes;
  if (!wad_read_at(fd, tail_ofs, tail.data(), tail.size())) return found;
  int64_t end_ofs = -1;
  for (int64_t i = tail_bytes - end_record_bytes; i >= 0 && end_ofs < 0; --i) {
    if (get_u32le(&tail[static_cast<size_t>(i)]) == end_record_sig) end_ofs = i;
  }
  if (end_ofs < 0) return found;
  const uint8_t *end = &tail[static_cast<size_t>(end_ofs)];
  const uint16_t entries = get_u16le(end + 10);
  int64_t at = get_u32le(end + 16);
  const int64_t limit = tail_ofs + end_ofs;  // the directory lies before the end record
  found.reserve(entries);
  for (uint16_t k = 0; k < entries && at + central_header_bytes <= limit; ++k) {
    uint8_t h[central_header_bytes];
    if (!wad_read_at(fd, at, h, sizeof h) || get_u32le(h) != central_header_sig) break;
    central_sizes c{get_u32le(h + 42), get_u32le(h + 20), get_u32le(h + 24), get_u32le(h + 16)};
    const uint16_t name_len = get_u16le(h + 28);
    const uint16_t extra_len = get_u16le(h + 30);
    uint64_t *const fields[] = {&c.uncomp_size, &c.comp_size, &c.local_ofs};
    if (c.uncomp_size == zip64_marker || c.comp_size == zip64_marker ||
        c.local_ofs == zip64_marker) {
      read_zip64(fd, at + central_header_bytes + name_len, extra_len, false, fields, 3);
    }
    found.push_back(c);
    at += central_header_bytes + name_len + extra_len + get_u16le(h + 32);
  }
  std::sort(found.begin(), found.end(), [](const central_sizes &a, const central_sizes &b) {
    return a.local_ofs < b.local_ofs;
  });
  return found;
}

// at moved on by n bytes, or to the end when they reach past it.
int64_t skip(int64_t at, uint64_t n, int64_t size) {
  return n < static_cast<uint64_t>(size - at) ? at + static_cast<int64_t>(n) : size;
}

// A WAD member met on the walk: where its data starts (which tells it from
// another of the same name) and its name.
struct wad_member_seen {
  int64_t data_ofs;
  std::string name;
};

// Whether the member is the one asked for by name: all of its name, byte
// for byte (a name cut to fit the field, or one with a NUL inside, is not).
bool member_named(const zip_member &m, uint16_t name_len, const char *wanted) {
  return std::strlen(wanted) == name_len && std::strcmp(m.name, wanted) == 0;
}

// Walks the local headers from offset 0 until one is missing, malformed or
// runs past the end, and returns in best the member of the lowest rank
// (the first of it in archive order), or with wanted the first member of
// that name. seen gets the first WAD members in archive order, one more than
// are kept as others so that the one read can be left out. False when no
// member fits.
bool walk_members(int fd, int64_t size, const char *wanted, zip_member &best,
                  std::vector<wad_member_seen> &seen) {
  bool any = false;
  bool central_read = false;
  std::vector<central_sizes> central;
  int64_t offset = 0;
  while (offset + local_header_bytes <= size) {
    uint8_t h[local_header_bytes];
    if (!wad_read_at(fd, offset, h, sizeof h) || get_u32le(h) != local_header_sig) break;
    const uint16_t name_len = get_u16le(h + 26);
    const uint16_t extra_len = get_u16le(h + 28);
    const int64_t data_ofs = offset + local_header_bytes + name_len + extra_len;
    if (data_ofs > size) break;

    zip_member m;
    const size_t want = std::min<size_t>(name_len, name_field_bytes - 1);
    if (!wad_read_at(fd, offset + local_header_bytes, m.name, want)) break;
    m.name[want] = '\0';
    m.data_ofs = data_ofs;
    m.flags = get_u16le(h + 6);
    m.method = get_u16le(h + 8);
    m.crc = get_u32le(h + 14);
    m.comp_size = get_u32le(h + 18);
    m.uncomp_size = get_u32le(h + 22);
    uint64_t *const sizes[] = {&m.uncomp_size, &m.comp_size};
    const bool zip64 =
        read_zip64(fd, offset + local_header_bytes + name_len, extra_len, true, sizes, 2);
    int64_t next = data_ofs;
    if ((m.flags & flag_sizes_deferred) != 0) {
      if (!central_read) central = read_central(fd, size), central_read = true;
      const auto it =
          std::lower_bound(central.begin(), central.end(), static_cast<uint64_t>(offset),
                           [](const central_sizes &c, uint64_t ofs) { return c.local_ofs < ofs; });
      m.sizes_missing = it == central.end() || it->local_ofs != static_cast<uint64_t>(offset);
      if (!m.sizes_missing) {
        m.comp_size = it->comp_size;
        m.uncomp_size = it->uncomp_size;
        m.crc = it->crc;
        next = skip(next, m.comp_size, size);
        uint8_t sig[4];
        const bool signed_descriptor =
            wad_read_at(fd, next, sig, sizeof sig) && get_u32le(sig) == descriptor_sig;
        next = skip(next,
                    static_cast<uint64_t>(zip64 ? zip64_descriptor_bytes : descriptor_bytes) +
                        (signed_descriptor ? 4 : 0),
                    size);
      }
    } else {
      next = skip(next, m.comp_size, size);
    }
    m.rank = member_rank(m.name);
    if (m.rank < no_rank && seen.size() <= zip_other_members_kept)
      seen.push_back({m.data_ofs, m.name});
    const bool fits = wanted != nullptr ? !any && member_named(m, name_len, wanted)
                                        : m.rank < no_rank && (!any || m.rank < best.rank);
    if (fits) {
      best = m;
      any = true;
    }
    offset = next;  // always at least a header further on, so the walk ends
  }
  return any;
}

bool refuse(zip_wad &out, const std::string &reason) {
  out.reason = reason;
  return false;
}

bool damaged(zip_wad &out, const std::string &what) {
  return refuse(out, "datos dañados: " + what);
}

bool cut_short(zip_wad &out, const std::string &shown, uint64_t comp_size) {
  return damaged(out, shown + " acaba antes de sus " + std::to_string(comp_size) + " bytes");
}

bool read_stored(int fd, const char *path, const zip_member &m, zip_wad &out) {
  const auto size = static_cast<size_t>(m.comp_size);  // at most INT32_MAX, checked before
  auto *bytes = static_cast<uint8_t *>(std::malloc(size > 0 ? size : 1));
  if (bytes == nullptr) return refuse(out, "sin memoria");
  if (!wad_read_at(fd, m.data_ofs, bytes, size)) {  // the file shrank since it was measured
    std::free(bytes);
    return cut_short(out, console_escape(m.name), m.comp_size);
  }
  out.bytes = bytes;
  out.size = size;
  wad_logf(WAD_LOG_PROGRESS, "[WAD] ZIP %s -> extraído %s (%zu KB) en memoria",
           console_escape(path).c_str(), console_escape(m.name).c_str(), size / 1024);
  return true;
}

// Whether head can begin a WAD of declared bytes: its magic, and a
// directory that lies within it (count and offset are signed 32-bit).
bool wad_head_fits(const uint8_t *head, uint64_t declared) {
  if (std::memcmp(head, "IWAD", 4) != 0 && std::memcmp(head, "PWAD", 4) != 0) return false;
  const int64_t count = static_cast<int32_t>(get_u32le(head + 4));
  const int64_t dir_ofs = static_cast<int32_t>(get_u32le(head + 8));
  return count >= 0 && dir_ofs >= 0 &&
         static_cast<uint64_t>(dir_ofs + wad_dir_entry_bytes * count) <= declared;
}

// "método 8 (deflate)": the number as the archive gives it, and the name
// of the methods one meets in practice.
std::string method_text(uint16_t method) {
  std::string text = "método " + std::to_string(method);
  switch (method) {
    case method_deflated:
      return text + " (deflate)";
    case method_bzip2:
      return text + " (bzip2)";
    case method_lzma:
      return text + " (lzma)";
    default:
      return text;
  }
}

// What both ways of decompressing say of their output.
bool size_mismatch(zip_wad &out, const std::string &shown, size_t got, uint64_t declared) {
  return damaged(out, shown + " da " + std::to_string(got) + " de los " + std::to_string(declared) +
                          " bytes declarados");
}

bool over_declared(zip_wad &out, const std::string &shown, uint64_t declared) {
  return damaged(out, shown + " da más de los " + std::to_string(declared) + " bytes declarados");
}

bool not_a_wad(zip_wad &out, const std::string &shown) {
  return refuse(out, shown + " no es un WAD: su cabecera no es válida");
}

bool read_with_zlib(int fd, const char *path, const zip_member &m, zip_wad &out) {
  const std::string shown = console_escape(m.name);
  wad_logf(WAD_LOG_PROGRESS, "[WAD] ZIP %s %s %s, descomprimiendo con zlib ...",
           console_escape(path).c_str(), shown.c_str(), method_text(m.method).c_str());
  const inflate_result r =
      inflate_member(fd, m.data_ofs, m.comp_size, m.uncomp_size, wad_head_fits);
  switch (r.outcome) {
    case inflate_outcome::done:
      break;
    case inflate_outcome::over_budget:
      return over_declared(out, shown, m.uncomp_size);
    case inflate_outcome::bad_head:
      return not_a_wad(out, shown);
    case inflate_outcome::corrupt:
      return damaged(out, "el flujo deflate de " + shown + " no es válido");
    case inflate_outcome::truncated:
      return damaged(out, "el flujo deflate de " + shown + " se corta antes de su final");
    case inflate_outcome::trailing:
      return damaged(out, "a " + shown + " le sobran " + std::to_string(r.extra) +
                              " bytes tras el final de su flujo deflate");
    case inflate_outcome::unreadable:
      return cut_short(out, shown, m.comp_size);
    case inflate_outcome::no_memory:
      return refuse(out, "sin memoria");
  }
  if (r.size != m.uncomp_size) {
    std::free(r.bytes);
    return size_mismatch(out, shown, r.size, m.uncomp_size);
  }
  if (r.crc != m.crc) {
    std::free(r.bytes);
    char crcs[64];
    std::snprintf(crcs, sizeof crcs, "el CRC-32 0x%08X en lugar del 0x%08X declarado",
                  static_cast<unsigned>(r.crc), static_cast<unsigned>(m.crc));
    return damaged(out, shown + " da " + crcs);
  }
  out.bytes = r.bytes;
  out.size = r.size;
  wad_logf(WAD_LOG_PROGRESS, "[WAD] ZIP %s -> extraído con zlib %s (%zu KB) en memoria",
           console_escape(path).c_str(), shown.c_str(), r.size / 1024);
  return true;
}

#if defined(_WIN32) || defined(__EMSCRIPTEN__)
// Windows and the WebAssembly module have no unzip to hand a member to: a
// method the reader does not extract itself is refused.
bool read_with_unzip(int, const char *, const zip_member &m, const zip_time_limit &, zip_wad &out) {
  return refuse(out, console_escape(m.name) + " " + method_text(m.method) +
                         ": no se puede extraer sin unzip");
}
#else
bool read_with_unzip(int fd, const char *path, const zip_member &m, const zip_time_limit &limit,
                     zip_wad &out) {
  const std::string shown = console_escape(m.name);
  wad_logf(WAD_LOG_PROGRESS, "[WAD] ZIP %s %s %s, usando unzip -p ...",
           console_escape(path).c_str(), shown.c_str(), method_text(m.method).c_str());
  const double timeout_s =
      limit.base_s + limit.per_mib_s * static_cast<double>(m.uncomp_size) / bytes_per_mib;
  unzip_source source;
  source.fd = fd;
  source.data_ofs = m.data_ofs;
  source.comp_size = m.comp_size;
  source.uncomp_size = m.uncomp_size;
  source.crc = m.crc;
  source.method = m.method;
  // Both speak of this archive's headers; the copy has headers of its own.
  source.flags = static_cast<uint16_t>(m.flags & ~(flag_sizes_deferred | flag_utf8_name));
  const unzip_result r = unzip_member(source, timeout_s, wad_head_fits);
  switch (r.outcome) {
    case unzip_outcome::done:
      break;
    case unzip_outcome::not_found:
      return refuse(out, "no se encuentra el programa unzip");
    case unzip_outcome::not_started:
      return refuse(out, "no se pudo ejecutar unzip");
    case unzip_outcome::no_copy:
      return refuse(out,
                    "no se pudo copiar " + shown + " para unzip: " + system_error_text(r.error));
    case unzip_outcome::failed:
      // How it ended, in words: a raw wait status means nothing to the reader.
      return refuse(out, "unzip falló con " + shown + ": " + wait_status_text(r.status));
    case unzip_outcome::timed_out:
      return refuse(out, "unzip no terminó en " + std::to_string(static_cast<long>(timeout_s)) +
                             " s con " + shown);
    case unzip_outcome::over_budget:
      return over_declared(out, shown, m.uncomp_size);
    case unzip_outcome::bad_head:
      return not_a_wad(out, shown);
    case unzip_outcome::no_memory:
      return refuse(out, "sin memoria");
  }
  if (r.size != m.uncomp_size) {
    std::free(r.bytes);
    return size_mismatch(out, shown, r.size, m.uncomp_size);
  }
  out.bytes = r.bytes;
  out.size = r.size;
  wad_logf(WAD_LOG_PROGRESS, "[WAD] ZIP %s -> extraído via unzip %s (%ld KB) en memoria",
           console_escape(path).c_str(), shown.c_str(), static_cast<long>(r.size / 1024));
  return true;
}
#endif

// Why a member asked for by name was not read: its name, and the WAD
// members the archive does hold (the first few), any of which can be asked for.
std::string absent_member_text(const char *wanted, const std::vector<std::string> &wads) {
  constexpr size_t shown_max = 8;
  std::string text = "no tiene el miembro " + console_escape(wanted);
  if (wads.empty()) return text + " ni ningún archivo .wad";
  text += "; sus archivos .wad: ";
  for (size_t i = 0; i < wads.size() && i < shown_max; ++i)
    text += (i > 0 ? ", " : "") + console_escape(wads[i]);
  if (wads.size() > shown_max) text += ", ...";
  return text;
}

}  // namespace

int strcase_ends_with(const char *s, const char *suffix) {
  const size_t n = std::strlen(s);
  const size_t k = std::strlen(suffix);
  if (n < k) return 0;
  const auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
  const char *tail = s + (n - k);
  for (size_t i = 0; i < k; ++i) {
    if (fold(static_cast<unsigned char>(tail[i])) != fold(static_cast<unsigned char>(suffix[i])))
      return 0;
  }
  return 1;
}

bool zip_extract_wad(int fd, const char *path, zip_wad &out, const zip_time_limit &limit,
                     const char *wanted) {
  int64_t archive_size = 0;
  if (!wad_file_size(fd, archive_size)) return refuse(out, "no se puede leer el archivo");
  zip_member m;
  bool found = false;
  try {
    std::vector<wad_member_seen> seen;
    found = walk_members(fd, archive_size, wanted, m, seen);
    for (const wad_member_seen &s : seen) {
      if (!(found && s.data_ofs == m.data_ofs) && out.others.size() < zip_other_members_kept)
        out.others.push_back(s.name);
    }
    if (!found && wanted != nullptr) return refuse(out, absent_member_text(wanted, out.others));
  } catch (const std::bad_alloc &) {
    return refuse(out, "sin memoria");
  }
  if (!found) return refuse(out, "no contiene ningún archivo .wad");
  out.member = m.name;
  const std::string shown = console_escape(m.name);
  // Refused before anything is read or run.
  if ((m.flags & flag_encrypted) != 0) return refuse(out, shown + " está cifrado");
  if (m.sizes_missing) {
    return damaged(out, "el tamaño de " + shown + " no está en el directorio central");
  }
  // A WAD's offsets are signed 32-bit: nothing larger can be one.
  const uint64_t declared = m.method == method_stored ? m.comp_size : m.uncomp_size;
  if (declared > static_cast<uint64_t>(INT32_MAX)) {
    return refuse(
        out, shown + " es demasiado grande para un WAD (" + std::to_string(declared) + " bytes)");
  }
  const auto file_size = static_cast<uint64_t>(archive_size);
  if (m.comp_size > file_size - static_cast<uint64_t>(m.data_ofs)) {
    return cut_short(out, shown, m.comp_size);
  }
  // The size is at most INT32_MAX here, so with comp_size below it the
  // product cannot overflow.
  if (m.method != method_stored && m.uncomp_size > compression_ratio_floor_bytes &&
      m.comp_size < m.uncomp_size && m.uncomp_size > max_compression_ratio * m.comp_size) {
    return refuse(out, shown + " declara " + std::to_string(m.uncomp_size) + " bytes en " +
                           std::to_string(m.comp_size) + " comprimidos, más de " +
                           std::to_string(max_compression_ratio) +
                           ":1: ningún WAD real se comprime tanto");
  }
  try {
    switch (m.method) {
      case method_stored:
        return read_stored(fd, path, m, out);
      case method_deflated:
        return read_with_zlib(fd, path, m, out);
      default:
        return read_with_unzip(fd, path, m, limit, out);
    }
  } catch (const std::bad_alloc &) {
    return refuse(out, "sin memoria");
  }
}

}  // namespace tunecast
