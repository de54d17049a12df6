// zip.h: the ZIP container side of the WAD loader, private to the WAD
// module (and its tests). An archive given to wad_load may be a ZIP holding
// a WAD; this finds that WAD member and reads it into memory.
#ifndef TUNECAST_WAD_ZIP_H
#define TUNECAST_WAD_ZIP_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tunecast {

// The time unzip may take for one member: base_s, and per_mib_s more for
// each MiB the member declares. Generous: it only ends an unzip that spins.
struct zip_time_limit {
  double base_s = 60.0;
  double per_mib_s = 1.0;
};

// The WAD member, read whole.
struct zip_wad {
  uint8_t *bytes = nullptr;  // malloc'd, size bytes; the caller frees
  size_t size = 0;
  std::string member;  // the member's name (its first 511 bytes)
  // The archive's other WAD members (names ending in ".wad"), in archive
  // order, at most zip_other_members_kept: what else could have been asked for.
  std::vector<std::string> others;
  std::string reason;  // after a failure: why, in Spanish, escaped for the console
};

// How many other WAD members a zip_wad names: enough to show what a ZIP
// holds, while an archive of thousands of names costs no more.
inline constexpr size_t zip_other_members_kept = 64;

// Picks the preferred WAD member of the ZIP archive open on fd (a regular
// file; path only names it in the messages, it is never opened again) and
// reads it: a stored member directly, a deflated one with zlib, any other
// method through `unzip -p` on a copy of that member alone. Refuses a
// member whose compression ratio no WAD has, and stops at a first 12 bytes
// no WAD begins with. A deflated member's CRC-32 must match. Logs the
// progress lines. Returns true with out filled, or false with
// out.reason set (empty when a line already said why). wanted: null for the
// preferred member, else the exact name (case-sensitive, whole) of the
// member to read, the first of that name; its absence is a failure whose
// reason names the WAD members there are.
bool zip_extract_wad(int fd, const char *path, zip_wad &out, const zip_time_limit &limit = {},
                     const char *wanted = nullptr);

// 1 when s ends with suffix, ASCII letters compared without case; else 0.
int strcase_ends_with(const char *s, const char *suffix);

}  // namespace tunecast

#endif  // TUNECAST_WAD_ZIP_H
