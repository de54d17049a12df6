// options.cpp: a small GNU-style option reader for the render tool.
// Each option is a row of a table; a value may be attached (-v3,
// --vueltas=3) or be the next argument, even one that begins with '-'.
// Options and positional arguments may mix. Also the duration reader.
#include "tool/options.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "tool/messages.h"

using tunecast::format_text;
using tunecast::tr;

namespace {

enum class option_id {
  list,
  loops,
  fade,
  batch,
  play,
  volume,
  quiet,
  json,
  help,
  version,
  format,
  stereo
};

// How an option takes a value. An attached-only value is GNU's optional
// argument: "-lA" and "--listar=A" give it, and otherwise the next argument
// stays a positional one, so "--listar --json A" lists A.
enum class value_use { none, next_or_attached, attached_only };

struct option_row {
  option_id id;
  char short_name;  // 0: long form only
  const char *long_name;
  value_use value;
};

constexpr option_row option_table[] = {
    {option_id::list, 'l', "listar", value_use::attached_only},
    {option_id::loops, 'v', "vueltas", value_use::next_or_attached},
    {option_id::fade, 'f', "fundido", value_use::next_or_attached},
    {option_id::batch, 'a', "todas", value_use::next_or_attached},
    {option_id::volume, 0, "volumen", value_use::next_or_attached},
    {option_id::quiet, 'q', "silencio", value_use::none},
    {option_id::json, 0, "json", value_use::none},
    {option_id::help, 'h', "ayuda", value_use::none},
    {option_id::help, 0, "help", value_use::none},
    {option_id::version, 0, "version", value_use::none},
    {option_id::format, 0, "formato", value_use::next_or_attached},
    {option_id::stereo, 'e', "estereo", value_use::none},
    {option_id::play, 'p', "tocar", value_use::next_or_attached},
    // The same options by their English names, and -V as other tools have it.
    {option_id::list, 0, "list", value_use::attached_only},
    {option_id::loops, 0, "passes", value_use::next_or_attached},
    {option_id::fade, 0, "fade", value_use::next_or_attached},
    {option_id::batch, 0, "all", value_use::next_or_attached},
    {option_id::volume, 0, "volume", value_use::next_or_attached},
    {option_id::quiet, 0, "quiet", value_use::none},
    {option_id::format, 0, "format", value_use::next_or_attached},
    {option_id::stereo, 0, "stereo", value_use::none},
    {option_id::play, 0, "play", value_use::next_or_attached},
    {option_id::version, 'V', "version", value_use::none},
};

const option_row *find_short(char c) {
  for (const option_row &row : option_table) {
    if (row.short_name != 0 && row.short_name == c) return &row;
  }
  return nullptr;
}

const option_row *find_long(const std::string &name) {
  for (const option_row &row : option_table) {
    if (name == row.long_name) return &row;
  }
  return nullptr;
}

bool fail(tool_options &opt, const std::string &line) {
  opt.error = line;
  return false;
}

bool all_digits(std::string_view t) {
  return !t.empty() && t.find_first_not_of("0123456789") == std::string_view::npos;
}

// Digits, a point and digits, one side of the point possibly empty: 12,
// 12.5, 12., .5. strtod would take more (blanks, a sign, an exponent, hex,
// inf, nan); none of that is a duration anyone means.
bool is_decimal(std::string_view t) {
  const size_t point = t.find('.');
  if (point == std::string_view::npos) return all_digits(t);
  const std::string_view whole = t.substr(0, point);
  const std::string_view fraction = t.substr(point + 1);
  if (whole.empty() && fraction.empty()) return false;
  return (whole.empty() || all_digits(whole)) && (fraction.empty() || all_digits(fraction));
}

// Hours this large are far past what a WAV file holds; a bound on the digits
// keeps the sum below from overflowing.
constexpr size_t clock_max_lead_digits = 12;

// m:ss or h:mm:ss. The fields become whole seconds in integers and the
// fraction is appended as typed, so that strtod reads the same decimal
// text as for the plain form: 1:30.1 is exactly the double of 90.1, which
// 60 + 30.1 in doubles need not be.
bool read_clock(std::string_view t, double &seconds) {
  std::string_view fields[3];
  size_t count = 0;
  for (;;) {
    const size_t colon = t.find(':');
    if (count == 3) return false;
    fields[count++] = t.substr(0, colon);
    if (colon == std::string_view::npos) break;
    t.remove_prefix(colon + 1);
  }
  if (count < 2) return false;
  std::string_view last = fields[count - 1];
  std::string_view fraction;  // with its point, or empty
  if (const size_t point = last.find('.'); point != std::string_view::npos) {
    fraction = last.substr(point);
    last = last.substr(0, point);
    if (fraction.size() > 1 && !all_digits(fraction.substr(1))) return false;
  }
  fields[count - 1] = last;
  if (!all_digits(fields[0])) return false;
  const bool huge = fields[0].size() > clock_max_lead_digits;
  uint64_t total = huge ? 0 : std::strtoull(std::string(fields[0]).c_str(), nullptr, 10);
  for (size_t k = 1; k < count; ++k) {
    // After a larger field, minutes and seconds are two digits, 00 to 59.
    if (fields[k].size() != 2 || !all_digits(fields[k])) return false;
    const uint64_t part =
        static_cast<uint64_t>(fields[k][0] - '0') * 10 + static_cast<uint64_t>(fields[k][1] - '0');
    if (part > 59) return false;
    total = total * 60 + part;
  }
  if (huge) {
    seconds = HUGE_VAL;  // refused as too long, like any other such duration
    return true;
  }
  const std::string decimal = std::to_string(total) + std::string(fraction);
  seconds = std::strtod(decimal.c_str(), nullptr);
  return true;
}

bool read_seconds(std::string_view t, double &seconds) {
  if (t.find(':') != std::string_view::npos) return read_clock(t, seconds);
  if (!t.empty() && t.back() == 's') t.remove_suffix(1);
  if (!is_decimal(t)) return false;
  seconds = std::strtod(std::string(t).c_str(), nullptr);
  return true;
}

// Seconds of fade, written as a duration is (5, 1.5s, 0:05): one grammar
// for every length the user types. A fade too long for the file is refused
// with the passes it adds to (span_from_loops), as a duration is.
bool parse_fade(tool_options &opt, const char *text) {
  double s = 0.0;
  if (!read_seconds(text, s)) return fail(opt, format_text(tr("fundido no válido: %s"), text));
  opt.fade_s = s;
  opt.fade_text = text;
  return true;
}

// A whole number of passes, 1 or more, digits only.
bool parse_loops(tool_options &opt, const char *text) {
  const bool digits = *text != 0 && std::strspn(text, "0123456789") == std::strlen(text);
  errno = 0;
  const long long n = digits ? std::strtoll(text, nullptr, 10) : 0;
  if (!digits || errno == ERANGE || n < 1) {
    return fail(opt, format_text(tr("número de vueltas no válido: %s"), text));
  }
  opt.loops = n;
  return true;
}

bool parse_format(tool_options &opt, const char *text) {
  if (!output_format_from_name(text, opt.format)) {
    return fail(opt, format_text(tr("formato no válido: %s (wav, flac, ogg o mid)"), text));
  }
  opt.format_given = true;
  return true;
}

// The music volume the synthesizer takes: a whole number from 0 to 127,
// digits only (no sign, blank or fraction), so a slip is refused rather
// than read as something else; or "auto", which leaves the volume to be
// found for each song.
bool parse_volume(tool_options &opt, const char *text) {
  opt.volume_auto = std::strcmp(text, "auto") == 0;
  opt.volume_text = text;
  if (opt.volume_auto) return true;
  const bool digits = *text != 0 && std::strspn(text, "0123456789") == std::strlen(text);
  errno = 0;
  const long long n = digits ? std::strtoll(text, nullptr, 10) : -1;
  if (!digits || errno == ERANGE || n > 127) {
    return fail(opt, format_text(tr("volumen no válido: %s (va de 0 a 127, o auto)"), text));
  }
  opt.volume = static_cast<int32_t>(n);
  return true;
}

bool apply(tool_options &opt, const option_row &row, const char *value) {
  opt.any_option = true;
  switch (row.id) {
    case option_id::list:
      opt.list = true;
      if (value != nullptr) opt.archive = value;
      return true;
    case option_id::batch:
      opt.dir = value;
      return true;
    case option_id::play:
      opt.play_archive = value;
      return true;
    case option_id::loops:
      return parse_loops(opt, value);
    case option_id::fade:
      return parse_fade(opt, value);
    case option_id::volume:
      return parse_volume(opt, value);
    case option_id::quiet:
      opt.quiet = true;
      return true;
    case option_id::stereo:
      opt.stereo = true;
      return true;
    case option_id::json:
      opt.json = true;
      return true;
    case option_id::help:
      opt.action = tool_action::help;
      return true;
    case option_id::version:
      opt.action = tool_action::version;
      return true;
    case option_id::format:
      return parse_format(opt, value);
  }
  return true;
}

// One option at argv[i]; advances i past its value when that is separate.
bool read_option(tool_options &opt, int argc, char **argv, int &i) {
  const char *arg = argv[i];
  const option_row *row = nullptr;
  const char *value = nullptr;  // attached value, if any
  std::string shown;            // the option as the user would name it
  if (arg[1] == '-') {
    const char *eq = std::strchr(arg + 2, '=');
    shown = eq ? std::string(arg, eq) : std::string(arg);
    row = find_long(shown.substr(2));
    if (eq != nullptr) value = eq + 1;
  } else {
    row = find_short(arg[1]);
    shown = std::string(arg, 2);
    if (arg[2] != 0) value = arg + 2;
    // Flags are not bundled: "-hx" is not "-h -x".
    if (row != nullptr && row->value == value_use::none && value != nullptr) row = nullptr;
  }
  if (row == nullptr)
    return fail(opt, format_text(tr("opción desconocida: %s"), value ? arg : shown.c_str()));
  if (row->value == value_use::none) {
    if (value != nullptr)
      return fail(opt, format_text(tr("la opción %s no lleva valor"), shown.c_str()));
    return apply(opt, *row, nullptr);
  }
  if (row->value == value_use::attached_only) return apply(opt, *row, value);
  if (value == nullptr) {
    if (i + 1 >= argc) return fail(opt, format_text(tr("falta el valor de %s"), shown.c_str()));
    value = argv[++i];
  }
  return apply(opt, *row, value);
}

// "-" alone names standard output. No option is a digit, so "-5" or "-.5"
// is taken as an argument too: as a duration it is then refused for what it
// is, a negative number, rather than as an unknown option.
bool is_option(const char *arg) {
  return arg[0] == '-' && arg[1] != 0 &&
         !(std::isdigit(static_cast<unsigned char>(arg[1])) || arg[1] == '.');
}

}  // namespace

tool_options options_parse(int argc, char **argv) {
  tool_options opt;
  int i = 1;
  for (; i < argc; ++i) {
    const char *arg = argv[i];
    if (std::strcmp(arg, "--") == 0) {
      ++i;
      break;
    }
    if (!is_option(arg)) {
      opt.args.push_back(arg);
      continue;
    }
    if (!read_option(opt, argc, argv, i)) return opt;
    if (opt.action == tool_action::help || opt.action == tool_action::version) return opt;
  }
  for (; i < argc; ++i) opt.args.push_back(argv[i]);
  if (opt.dir != nullptr) opt.action = tool_action::batch;
  if (opt.play_archive != nullptr) opt.action = tool_action::play;
  if (opt.list && opt.action == tool_action::render) {
    opt.action = tool_action::list;
    // Not attached to the option: the archive is the first argument.
    if (opt.archive == nullptr && !opt.args.empty()) {
      opt.archive = opt.args.front();
      opt.args.erase(opt.args.begin());
    }
  }
  return opt;
}

bool options_check_args(tool_options &opt) {
  const int actions = opt.list + (opt.dir != nullptr) + (opt.play_archive != nullptr);
  if (actions > 1) {
    return fail(opt, opt.play_archive == nullptr ? tr("--listar y --todas no van juntas")
                                                 : tr("--tocar no va con --listar ni con --todas"));
  }
  if (opt.fade_text != nullptr && opt.loops == 0)
    return fail(opt, tr("--fundido solo va con --vueltas"));
  if (opt.json && (opt.action == tool_action::render || opt.action == tool_action::batch ||
                   opt.action == tool_action::play)) {
    return fail(opt, tr("--json solo va con --listar"));
  }
  size_t needed = 0;  // positional arguments the form takes
  size_t allowed = 0;
  switch (opt.action) {
    case tool_action::list:
      if (opt.archive == nullptr) return fail(opt, tr("falta el archivo que listar"));
      if (opt.loops != 0) return fail(opt, tr("--listar no va con --vueltas"));
      if (opt.format_given) return fail(opt, tr("--listar no va con --formato"));
      if (opt.volume_text != nullptr) return fail(opt, tr("--listar no va con --volumen"));
      if (opt.stereo) return fail(opt, tr("--listar no va con --estereo"));
      break;
    case tool_action::batch:
      needed = 1;
      allowed = opt.loops != 0 ? 1 : 2;
      break;
    case tool_action::play:
      if (opt.format_given) return fail(opt, tr("--tocar no va con --formato"));
      // The player keeps one volume for every song, changed by the keys: a
      // level found per song by rendering it first has no place there.
      if (opt.volume_auto) return fail(opt, tr("--tocar no va con --volumen auto"));
      allowed = opt.loops != 0 ? 1 : 2;
      break;
    case tool_action::render:
      needed = opt.any_option ? 3 : 0;
      allowed = opt.loops != 0 ? 3 : 4;
      break;
    case tool_action::help:
    case tool_action::version:
      return true;
  }
  if (opt.args.size() < needed) return fail(opt, tr("faltan argumentos"));
  if (opt.args.size() > allowed) {
    // One argument too many with --vueltas is most likely a duration.
    if (opt.loops != 0 && opt.args.size() == allowed + 1) {
      return fail(opt, tr("con --vueltas no se da la duración en segundos"));
    }
    return fail(opt, format_text(tr("sobra el argumento %s"), opt.args[allowed]));
  }
  return true;
}

bool options_read_seconds(tool_options &opt) {
  size_t at = 0;  // where the form has its duration
  if (opt.action == tool_action::render) {
    at = 3;
  } else if (opt.action == tool_action::batch || opt.action == tool_action::play) {
    at = 1;
  } else {
    return true;
  }
  if (opt.args.size() <= at) return true;
  const char *text = opt.args[at];
  if (read_seconds(text, opt.seconds)) {
    opt.seconds_text = text;
    return true;
  }
  // A decimal comma, as written in Spanish, is the likely slip.
  std::string with_point = text;
  for (char &c : with_point) {
    if (c == ',') c = '.';
  }
  double ignored = 0.0;
  if (with_point != text && read_seconds(with_point, ignored)) {
    return fail(opt, format_text(tr("duración no válida: %s (el decimal se escribe con punto: %s)"),
                                 text, with_point.c_str()));
  }
  return fail(opt, format_text(tr("duración no válida: %s"), text));
}
