// options.h: the render tool's command line, GNU style: options (-v 3,
// -v3, --vueltas 3, --vueltas=3) and positional arguments may come in any
// order; "--" ends the options and "-" alone is an argument. Also reads the
// duration argument, so that a wrong one is refused before any file is read.
#ifndef TUNECAST_TOOL_OPTIONS_H
#define TUNECAST_TOOL_OPTIONS_H

#include <cstdint>
#include <string>
#include <vector>

#include "tool/output_format.h"

enum class tool_action {
  render,   // ARCHIVE LUMP OUT [seconds]
  list,     // --listar ARCHIVE
  batch,    // --todas DIR ARCHIVE [seconds]
  play,     // --tocar ARCHIVE [LUMP [seconds]]
  help,     // --ayuda: help text on standard output
  version,  // --version
};

struct tool_options {
  tool_action action = tool_action::render;
  bool any_option = false;        // false: the plain positional form
  bool list = false;              // --listar
  const char *archive = nullptr;  // what --listar lists: its attached value or the first argument
  const char *dir = nullptr;      // --todas's value
  const char *play_archive = nullptr;  // --tocar's value
  int64_t loops = 0;                   // --vueltas: 1 or more; 0 when not given
  double fade_s = 0.0;                 // --fundido: 0 or more seconds
  const char *fade_text = nullptr;
  bool format_given = false;  // --formato: format holds its value
  output_format format = output_format::wav;
  int32_t volume = 100;                // --volumen: 0 to 127, what I_SetMusicVolume gets
  const char *volume_text = nullptr;   // as typed, or null when not given
  bool volume_auto = false;            // --volumen auto: the loudest with no clipped sample
  bool quiet = false;                  // --silencio: errors and warnings only
  bool stereo = false;                 // --estereo: two channels placed by the song's pan
  bool json = false;                   // --json: the listing as one JSON object a line
  std::vector<const char *> args;      // positional arguments, in order
  double seconds = 60.0;               // the duration argument, read; 60 when not given
  const char *seconds_text = nullptr;  // the duration argument as typed, or null
  std::string error;                   // one Spanish line (no newline) when the line is wrong
};

// Reads argv[1..argc). On a mistake, error says what is wrong. --ayuda and
// --version end the reading where they stand.
tool_options options_parse(int argc, char **argv);

// Checks the positional arguments against the action: each form takes
// exactly what it needs (in the plain form without options the caller
// prints the usage line alone for too few). Sets error and returns false.
bool options_check_args(tool_options &opt);

// Reads the duration argument of a render or --todas, when there is one,
// into seconds. A duration is a decimal number of seconds (12, 12.5, .5;
// digits only, no sign, exponent or blanks), optionally followed by "s", or
// m:ss or h:mm:ss (minutes and seconds 00 to 59 after a larger field; the
// last field may have a fraction). Its value is the double that strtod
// gives for the same seconds written as a decimal. Anything else sets error
// to one line naming the text and returns false; the caller prints it
// without the usage line. Whether the value fits a WAV file is not checked
// here (render_seconds_valid).
bool options_read_seconds(tool_options &opt);

#endif  // TUNECAST_TOOL_OPTIONS_H
