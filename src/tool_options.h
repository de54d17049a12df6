// tool_options.h: the render tool's command line. Options come first, GNU
// style (-v 3, -v3, --vueltas 3, --vueltas=3; "--" ends them; "-" alone is
// an argument), then the positional arguments, which are left as given.
#ifndef TUNECAST_TOOL_OPTIONS_H
#define TUNECAST_TOOL_OPTIONS_H

#include <cstdint>
#include <string>
#include <vector>

enum class tool_action {
  render,   // ARCHIVE LUMP OUT [seconds]
  list,     // --listar ARCHIVE
  batch,    // --todas DIR ARCHIVE [seconds]
  help,     // --ayuda: help text on standard output
  version,  // --version
};

struct tool_options {
  tool_action action = tool_action::render;
  bool any_option = false;      // false: the plain positional form
  const char *archive = nullptr;  // --listar's value
  const char *dir = nullptr;      // --todas's value
  int64_t loops = 0;              // --vueltas: 1 or more; 0 when not given
  double fade_s = 0.0;            // --fundido: 0 or more seconds
  const char *fade_text = nullptr;
  std::vector<const char *> args;  // positional arguments, in order
  std::string error;  // one Spanish line (no newline) when the line is wrong
};

// Reads argv[1..argc). On a mistake, error says what is wrong. --ayuda and
// --version end the reading where they stand.
tool_options options_parse(int argc, char **argv);

// Checks the positional arguments against the action: the plain form keeps
// its own rules (the caller prints the usage line for too few); the forms
// with options take exactly what they need. Sets error and returns false.
bool options_check_args(tool_options &opt);

#endif  // TUNECAST_TOOL_OPTIONS_H
