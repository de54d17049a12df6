// archive.h: the render tool's view of a whole archive: which lumps
// hold music, the names under which they are shown and written, and the
// --listar table.
#ifndef TUNECAST_TOOL_ARCHIVE_H
#define TUNECAST_TOOL_ARCHIVE_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "midi/music_lump.h"
#include "tunecast/wad.h"

// The archive argument: a path, or "ARCHIVE.zip:MEMBER" naming one member
// of a ZIP. The whole argument wins when it names an existing file (a name
// may hold ':' itself); else it splits at its last ':' when what comes
// before names an existing file, which the loader then requires to be a
// ZIP. Otherwise the whole argument, which the loader reports as missing.
struct archive_arg {
  std::string path;
  std::optional<std::string> member;
};
archive_arg archive_arg_parse(const char *arg);

// The archive an argument names, as wad_open (open) or wad_load (load) it;
// null after the loader has said why.
wad_file *archive_arg_open(const archive_arg &arg);
wad_file *archive_arg_load(const archive_arg &arg);

// For an archive read from a ZIP holding several WADs: a line saying which
// member w was read from, which others there are and how to choose one
// (zip is the ZIP's path as given, shown escaped). Empty for one WAD alone.
std::string archive_members_line(wad_file *w, const char *zip);

// The album a song's tags name: the WAD's file name without its
// directories, the ZIP member read when the WAD came from a ZIP (the same
// WAD is the same album, zipped or not), else path as given; escaped as
// for the console, so it is printable UTF-8 whatever the bytes.
std::string archive_album(wad_file *w, const std::string &path);

struct archive_music {
  const wad_lump *lump;
  tunecast::lump_kind kind;  // mus, truncated_mus or midi
  std::string name;          // the lump name made safe (see archive_safe_name)
};

// The lumps that hold MUS or MIDI (a truncated MUS included), in directory
// order. last_only: of several lumps with one name, only the last, which is
// the one a lookup by that name finds. Only the first bytes of each lump are
// read (wad_read_lump_head), so w may be an archive opened with wad_open,
// whose lumps are then read one at a time as each is needed.
std::vector<archive_music> archive_music_lumps(wad_file *w, bool last_only);

// The bytes an entry names, as its offset and size in the archive: entries
// with the same offset and size name one region, and whatever is made of
// one (a conversion, a length, a score to play) serves them all. A
// directory may name one region any number of times, so work done per
// entry rather than per region is the directory's to multiply.
using archive_region = std::pair<int32_t, int32_t>;
inline archive_region archive_region_of(const archive_music &m) {
  return {m.lump->file_ofs, m.lump->size};
}

// What the listing says of a lump's length: its natural length in seconds,
// or why it has none ("truncado", "dañado", "sin fin").
struct archive_length {
  std::optional<double> seconds;
  const char *status = "ok";
};

// The lengths of one archive's music, each region read and measured once
// (a MIDI lump converted once) however many entries name it, and let go
// before the next: the listing holds one lump at a time. Valid while the
// archive w is.
class archive_lengths {
 public:
  explicit archive_lengths(wad_file *w) : wad_(w) {}
  archive_length of(const archive_music &m);
  // Regions measured so far.
  size_t measured() const { return known_.size(); }

 private:
  wad_file *wad_;
  std::map<archive_region, archive_length> known_;
};

// A lump name as a file name and for the console: letters, digits and
// _ - [ ] ^ stay; every other byte ('/', '.', '%', control bytes, ...)
// becomes %XX. Distinct names stay distinct, and none is "." or "..".
// Empty for an empty name.
std::string archive_safe_name(const char *name);

// Prints the --listar table on standard output: name, format, size in
// bytes, natural length in seconds (or why it cannot be measured).
void archive_list(wad_file *w);

// Prints the same facts as archive_list for scripts, one JSON object a line:
// {"name":..., "format":"MUS"|"MIDI", "size":bytes, "seconds":number|null,
// "status":"ok"|"truncado"|"dañado"|"sin fin"}. The name is the lump's own,
// escaped as JSON (json_quote), not made safe as a file name.
void archive_list_json(wad_file *w);
// The same lines as one text, for a caller with no standard output of its
// own (the WebAssembly module).
std::string archive_list_json_text(wad_file *w);

// For a lump name the archive w does not hold as music: a line
// naming the music lumps the user may have meant (the same name in another
// case, or one character substituted, inserted or deleted; at most three)
// and how to list them all; or, when w holds no music at all, a line saying
// so; empty when nothing is near. archive is the path as given, shown
// escaped for the terminal.
std::string archive_absent_hint(wad_file *w, const char *archive, const char *name);

#endif  // TUNECAST_TOOL_ARCHIVE_H
