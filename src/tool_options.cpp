// tool_options.cpp: a small GNU-style option reader for the render tool.
// Each option is a row of a table; a value may be attached (-v3,
// --vueltas=3) or be the next argument, even one that begins with '-'.
#include "tool_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

enum class option_id { list, loops, fade, batch, help, version };

struct option_row {
  option_id id;
  char short_name;  // 0: long form only
  const char *long_name;
  bool takes_value;
};

constexpr option_row option_table[] = {
    {option_id::list, 'l', "listar", true},   {option_id::loops, 'v', "vueltas", true},
    {option_id::fade, 'f', "fundido", true},  {option_id::batch, 'a', "todas", true},
    {option_id::help, 'h', "ayuda", false},   {option_id::help, 0, "help", false},
    {option_id::version, 0, "version", false},
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

// A whole number of passes, 1 or more, digits only.
bool parse_loops(tool_options &opt, const char *text) {
  const bool digits = *text != 0 && std::strspn(text, "0123456789") == std::strlen(text);
  errno = 0;
  const long long n = digits ? std::strtoll(text, nullptr, 10) : 0;
  if (!digits || errno == ERANGE || n < 1) {
    return fail(opt, std::string("número de vueltas no válido: ") + text);
  }
  opt.loops = n;
  return true;
}

// Seconds of fade: the whole text must be a finite number, 0 or more.
bool parse_fade(tool_options &opt, const char *text) {
  char *end = nullptr;
  const double s = std::strtod(text, &end);
  if (end == text || *end != 0 || !std::isfinite(s) || s < 0.0) {
    return fail(opt, std::string("fundido no válido: ") + text);
  }
  opt.fade_s = s;
  opt.fade_text = text;
  return true;
}

bool apply(tool_options &opt, const option_row &row, const char *value) {
  opt.any_option = true;
  switch (row.id) {
    case option_id::list:
      opt.archive = value;
      return true;
    case option_id::batch:
      opt.dir = value;
      return true;
    case option_id::loops:
      return parse_loops(opt, value);
    case option_id::fade:
      return parse_fade(opt, value);
    case option_id::help:
      opt.action = tool_action::help;
      return true;
    case option_id::version:
      opt.action = tool_action::version;
      return true;
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
    if (row != nullptr && !row->takes_value && value != nullptr) row = nullptr;
  }
  if (row == nullptr) return fail(opt, "opción desconocida: " + (value ? std::string(arg) : shown));
  if (!row->takes_value) {
    if (value != nullptr) return fail(opt, "la opción " + shown + " no lleva valor");
    return apply(opt, *row, nullptr);
  }
  if (value == nullptr) {
    if (i + 1 >= argc) return fail(opt, "falta el valor de " + shown);
    value = argv[++i];
  }
  return apply(opt, *row, value);
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
    if (arg[0] != '-' || arg[1] == 0) break;  // the first positional argument
    if (!read_option(opt, argc, argv, i)) return opt;
    if (opt.action == tool_action::help || opt.action == tool_action::version) return opt;
  }
  for (; i < argc; ++i) opt.args.push_back(argv[i]);
  if (opt.archive != nullptr) opt.action = tool_action::list;
  if (opt.dir != nullptr) opt.action = tool_action::batch;
  return opt;
}

bool options_check_args(tool_options &opt) {
  if (opt.archive != nullptr && opt.dir != nullptr) {
    return fail(opt, "--listar y --todas no van juntas");
  }
  if (opt.fade_text != nullptr && opt.loops == 0) return fail(opt, "--fundido solo va con --vueltas");
  size_t needed = 0;  // positional arguments the form takes
  size_t allowed = 0;
  switch (opt.action) {
    case tool_action::list:
      if (opt.loops != 0) return fail(opt, "--listar no va con --vueltas");
      break;
    case tool_action::batch:
      needed = 1;
      allowed = opt.loops != 0 ? 1 : 2;
      break;
    case tool_action::render:
      // Without options the plain form ignores arguments after the fourth.
      if (!opt.any_option) return true;
      needed = 3;
      allowed = opt.loops != 0 ? 3 : 4;
      break;
    case tool_action::help:
    case tool_action::version:
      return true;
  }
  if (opt.args.size() < needed) return fail(opt, "faltan argumentos");
  if (opt.args.size() > allowed) {
    // One argument too many with --vueltas is most likely a duration.
    if (opt.loops != 0 && opt.args.size() == allowed + 1) {
      return fail(opt, "con --vueltas no se da la duración en segundos");
    }
    return fail(opt, std::string("sobra el argumento ") + opt.args[allowed]);
  }
  return true;
}
