// output_format.cpp: choosing what the tool writes, from --formato or from
// the output's extension. A name whose extension the tool does not write is
// refused rather than given WAV bytes it would not hold elsewhere.
#include "tool/output_format.h"

#include <cctype>
#include <cstring>
#include <string_view>

#include "tool/messages.h"
#include "tool/sndfile_library.h"

using tunecast::format_text;
using tunecast::tr;

namespace {

constexpr output_format all_formats[] = {output_format::wav, output_format::flac,
                                         output_format::ogg, output_format::mid};

// The extension of the last path component, lower-cased; empty when there
// is none. Leading points belong to the name (".wav" is a hidden file named
// so, as a shell user would read it).
std::string extension_of(std::string_view path) {
  const size_t slash = path.rfind('/');
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const size_t lead = name.find_first_not_of('.');
  if (lead == std::string_view::npos) return {};
  name.remove_prefix(lead);
  const size_t point = name.rfind('.');
  if (point == std::string_view::npos) return {};
  std::string ext(name.substr(point + 1));
  for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

}  // namespace

bool output_format_from_name(const char *name, output_format &format) {
  for (const output_format f : all_formats) {
    if (std::strcmp(name, output_format_name(f)) == 0) {
      format = f;
      return true;
    }
  }
  return false;
}

const char *output_format_name(output_format format) {
  switch (format) {
    case output_format::wav:
      return "wav";
    case output_format::flac:
      return "flac";
    case output_format::ogg:
      return "ogg";
    case output_format::mid:
      return "mid";
  }
  return "wav";
}

bool output_format_available(output_format format) {
  switch (format) {
    case output_format::wav:
      return true;
    case output_format::flac:
    case output_format::ogg:
      return sndfile_unavailable().empty();
    case output_format::mid:
      return true;
  }
  return false;
}

std::string output_formats_built_in() {
  std::string list;
  for (const output_format f : all_formats) {
    if (!output_format_available(f)) continue;
    if (!list.empty()) list += ' ';
    list += output_format_name(f);
  }
  return list;
}

bool output_format_from_path(const char *path, output_format &format, std::string &error) {
  const std::string ext = extension_of(path);
  if (ext.empty()) {
    format = output_format::wav;
    return true;
  }
  if (output_format_from_name(ext.c_str(), format)) return true;
  error = format_text(
      tr("extensión de salida desconocida: %s (tunecast escribe .wav, .flac, .ogg y .mid; "
         "--formato elige uno)"),
      path);
  return false;
}

bool output_format_settle(const output_format *chosen, const char *path, output_format &format,
                          std::string &error) {
  const bool named_file = path != nullptr && std::strcmp(path, "-") != 0;
  format = output_format::wav;
  if (chosen != nullptr) {
    format = *chosen;
    // An extension the tool writes that names another format is a slip
    // (FLAC bytes in out.wav); any other name takes what --formato says.
    output_format named = format;
    std::string ignored;
    if (named_file && !extension_of(path).empty() &&
        output_format_from_path(path, named, ignored) && named != format) {
      error = format_text(tr("--formato %s no casa con el nombre %s"), output_format_name(format),
                          path);
      return false;
    }
  } else if (named_file && !output_format_from_path(path, format, error)) {
    return false;
  }
  if (output_format_available(format)) return true;
  error = format_text(tr("no se escribe %s: %s"), output_format_name(format),
                      sndfile_unavailable().c_str());
  return false;
}
