// archive.cpp: finds the music lumps of an archive, names them safely
// and lists them with their natural length.
#include "tool/archive.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string_view>

#include "common/console_text.h"
#include "common/shortest_decimal.h"
#ifdef _WIN32
#include "common/wide_path.h"
#endif
#include "mus/song_length.h"
#include "tool/messages.h"

using tunecast::classify_lump_head;
using tunecast::console_escape;
using tunecast::format_text;
using tunecast::json_quote;
using tunecast::lump_kind;
using tunecast::music_prepare;
using tunecast::music_score;
using tunecast::tr;

namespace {

bool safe_byte(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         std::strchr("_-[]^", c) != nullptr;
}

struct list_row {
  std::string name, format, size, length;
};

archive_length length_of(wad_file *w, const wad_lump &lump, lump_kind kind) {
  if (kind == lump_kind::truncated_mus) return {std::nullopt, "truncado"};
  // A lump that cannot be read now (the file shrank, memory ran out) has no
  // score to measure, as a damaged one.
  const std::unique_ptr<uint8_t, decltype(&std::free)> data(wad_read_lump(w, &lump), &std::free);
  const music_score score = music_prepare(data.get(), lump.size);
  if (score.mus() == nullptr) return {std::nullopt, "dañado"};
  double seconds = 0.0;
  if (!tunecast::mus::song_length(score.mus(), score.mus_size(), seconds)) {
    return {std::nullopt, "sin fin"};
  }
  return {seconds, "ok"};
}

// The status as the table shows it, in the user's language; the JSON
// listing keeps the Spanish words, which are its data.
const char *status_shown(const char *status) {
  if (std::strcmp(status, "truncado") == 0) return tr("truncado");
  if (std::strcmp(status, "dañado") == 0) return tr("dañado");
  if (std::strcmp(status, "sin fin") == 0) return tr("sin fin");
  return status;
}

std::string length_text(const archive_length &facts) {
  if (!facts.seconds) return status_shown(facts.status);
  char text[64];
  std::snprintf(text, sizeof text, "%.3f s", *facts.seconds);
  return text;
}

// The shortest decimal that reads back as the same double, for scripts.
std::string json_number(double value) {
#ifdef __cpp_lib_to_chars
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
#else
  return tunecast::shortest_decimal(value);
#endif
}

char fold(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Whether two names, letters folded to capitals, are one substitution,
// insertion or deletion apart (or equal).
bool within_one_edit(std::string_view a, std::string_view b) {
  if (a.size() > b.size()) std::swap(a, b);
  if (b.size() - a.size() > 1) return false;
  size_t i = 0;
  while (i < a.size() && fold(a[i]) == fold(b[i])) ++i;
  // Past the first difference, the rest must agree once that character is
  // skipped in the longer name (or in both, for a substitution).
  const size_t skip_a = a.size() == b.size() ? 1 : 0;
  if (i == a.size()) return true;
  for (size_t k = i + skip_a, m = i + 1; m < b.size(); ++k, ++m) {
    if (fold(a[k]) != fold(b[m])) return false;
  }
  return true;
}

// A path as a word the shell takes as it is: quoted when it holds anything
// but the characters paths usually have.
std::string shell_word(std::string_view path) {
  const bool plain =
      !path.empty() &&
      path.find_first_not_of(
          "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-./+,:@%=") ==
          std::string_view::npos;
  if (plain) return std::string(path);
  std::string out = "'";
  for (const char c : path) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

constexpr size_t max_suggestions = 3;

// Display width: the names are ASCII; a status may hold letters of two
// bytes ("dañado"), each one column.
size_t width(const std::string &s) {
  return static_cast<size_t>(
      std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string pad(const std::string &s, size_t to, bool right) {
  const std::string fill(to > width(s) ? to - width(s) : 0, ' ');
  return right ? fill + s : s + fill;
}

}  // namespace

archive_length archive_lengths::of(const archive_music &m) {
  const auto [at, fresh] = known_.try_emplace(archive_region_of(m));
  if (fresh) at->second = length_of(wad_, *m.lump, m.kind);
  return at->second;
}

std::string archive_safe_name(const char *name) {
  std::string out;
  for (const char *p = name; *p != 0; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (safe_byte(c)) {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

std::vector<archive_music> archive_music_lumps(wad_file *w, bool last_only) {
  std::vector<archive_music> found;
  std::map<std::string, size_t> last_of;  // name -> its entry in found
  for (int32_t i = 0; i < w->num_lumps; ++i) {
    const wad_lump &lump = w->lumps[i];
    uint8_t head[tunecast::lump_head_bytes];
    const int32_t got = wad_read_lump_head(w, &lump, head, sizeof head);
    if (got <= 0) continue;  // no data, or none to be read now
    const lump_kind kind = classify_lump_head(head, static_cast<size_t>(got), lump.size);
    if (kind == lump_kind::not_music) continue;
    found.push_back({&lump, kind, archive_safe_name(lump.name)});
    last_of[lump.name] = found.size() - 1;
  }
  if (!last_only) return found;
  std::vector<archive_music> kept;
  for (size_t i = 0; i < found.size(); ++i) {
    if (last_of[found[i].lump->name] == i) kept.push_back(found[i]);
  }
  return kept;
}

void archive_list(wad_file *w) {
  std::vector<list_row> rows;
  size_t widths[4] = {0, 0, 0, 0};
  archive_lengths lengths(w);
  for (const archive_music &m : archive_music_lumps(w, false)) {
    list_row row{m.name, m.kind == lump_kind::midi ? "MIDI" : "MUS", std::to_string(m.lump->size),
                 length_text(lengths.of(m))};
    widths[0] = std::max(widths[0], width(row.name));
    widths[1] = std::max(widths[1], width(row.format));
    widths[2] = std::max(widths[2], width(row.size));
    widths[3] = std::max(widths[3], width(row.length));
    rows.push_back(std::move(row));
  }
  for (const list_row &r : rows) {
    std::printf("%s  %s  %s  %s\n", pad(r.name, widths[0], false).c_str(),
                pad(r.format, widths[1], false).c_str(), pad(r.size, widths[2], true).c_str(),
                pad(r.length, widths[3], true).c_str());
  }
}

std::string archive_list_json_text(wad_file *w) {
  std::string text;
  archive_lengths lengths(w);
  for (const archive_music &m : archive_music_lumps(w, false)) {
    const archive_length facts = lengths.of(m);
    text +=
        format_text("{\"name\":%s,\"format\":\"%s\",\"size\":%d,\"seconds\":%s,\"status\":%s}\n",
                    json_quote(m.lump->name).c_str(), m.kind == lump_kind::midi ? "MIDI" : "MUS",
                    static_cast<int>(m.lump->size),
                    facts.seconds ? json_number(*facts.seconds).c_str() : "null",
                    json_quote(facts.status).c_str());
  }
  return text;
}

void archive_list_json(wad_file *w) { std::fputs(archive_list_json_text(w).c_str(), stdout); }

#ifdef _WIN32
bool path_exists(const char *path) {
  std::wstring wide;
  struct _stat64 st;
  return tunecast::utf8_to_wide(path, wide) && _wstat64(wide.c_str(), &st) == 0;
}
#else
bool path_exists(const char *path) {
  struct stat st;
  return stat(path, &st) == 0;
}
#endif

archive_arg archive_arg_parse(const char *arg) {
  const char *colon = std::strrchr(arg, ':');
  if (colon == nullptr || path_exists(arg)) return {arg, std::nullopt};
  std::string zip(arg, static_cast<size_t>(colon - arg));
  if (zip.empty() || !path_exists(zip.c_str())) return {arg, std::nullopt};
  return {std::move(zip), std::string(colon + 1)};
}

wad_file *archive_arg_open(const archive_arg &arg) {
  return wad_open_member(arg.path.c_str(), arg.member ? arg.member->c_str() : nullptr);
}

wad_file *archive_arg_load(const archive_arg &arg) {
  return wad_load_member(arg.path.c_str(), arg.member ? arg.member->c_str() : nullptr);
}

std::string archive_album(wad_file *w, const std::string &path) {
  const char *member = wad_zip_member(w, 0);
  const std::string_view name = member != nullptr ? std::string_view(member) : path;
#ifdef _WIN32
  const size_t cut = name.find_last_of(member != nullptr ? "/" : "/\\");
#else
  const size_t cut = name.find_last_of('/');
#endif
  return console_escape(cut == std::string_view::npos ? name : name.substr(cut + 1));
}

std::string archive_members_line(wad_file *w, const char *zip) {
  const char *read = wad_zip_member(w, 0);
  if (read == nullptr || wad_zip_member(w, 1) == nullptr) return "";
  std::string others;
  for (int32_t i = 1; wad_zip_member(w, i) != nullptr; ++i)
    others += (i > 1 ? ", " : "") + console_escape(wad_zip_member(w, i));
  const std::string example = std::string(zip) + ":" + wad_zip_member(w, 1);
  return format_text(
      tr("%s tiene varios WAD: se lista %s; los otros: %s (ARCHIVO.zip:MIEMBRO elige uno: "
         "tunecast -l %s)"),
      console_escape(zip).c_str(), console_escape(read).c_str(), others.c_str(),
      console_escape(shell_word(example)).c_str());
}

std::string archive_absent_hint(wad_file *w, const char *archive, const char *name) {
  const std::vector<archive_music> music = archive_music_lumps(w, true);
  if (music.empty()) {
    return format_text(tr("%s no tiene ningún lump de música"), console_escape(archive).c_str());
  }
  // Names that differ only in case first: the likeliest slip.
  std::vector<std::string> near;
  for (const bool case_only : {true, false}) {
    for (const archive_music &m : music) {
      const std::string_view candidate = m.lump->name;
      if (candidate == name || near.size() == max_suggestions) continue;
      const bool same_folded = candidate.size() == std::strlen(name) &&
                               std::equal(candidate.begin(), candidate.end(), name,
                                          [](char a, char b) { return fold(a) == fold(b); });
      if (case_only ? same_folded : (!same_folded && within_one_edit(candidate, name))) {
        near.push_back(console_escape(candidate));
      }
    }
  }
  if (near.empty()) return "";
  std::string names = near.front();
  for (size_t i = 1; i + 1 < near.size(); ++i) names += ", " + near[i];
  if (near.size() > 1) names = format_text(tr("%s o %s"), names.c_str(), near.back().c_str());
  return format_text(tr("¿%s? (tunecast -l %s lista la música)"), names.c_str(),
                     console_escape(shell_word(archive)).c_str());
}
