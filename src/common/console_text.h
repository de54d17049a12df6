// console_text.h: bytes that came from a file, made safe to print. A lump or
// member name, a magic or a path may hold control bytes that would move the
// cursor, clear the screen or retitle the terminal if printed as they are.
#ifndef TUNECAST_CONSOLE_TEXT_H
#define TUNECAST_CONSOLE_TEXT_H

#include <string>
#include <string_view>

namespace tunecast {

// text with every byte that a terminal could act on written as "\xNN": C0
// and C1 control characters, DEL, and bytes that are not part of a valid
// UTF-8 sequence. A backslash itself stays, and so do printable ASCII and
// well-formed UTF-8 letters ("dañado").
std::string console_escape(std::string_view text);

// text as a JSON string, quotes included, safe on a terminal too: '"' and
// '\\' escaped with a backslash; control characters (C0, DEL, C1) as
// \u00XX; well-formed UTF-8 kept; a byte that is not part of a well-formed
// sequence as \u00XX of its value (so 0xFF and a real "ÿ" read alike: the
// text was not UTF-8 to begin with).
std::string json_quote(std::string_view text);

}  // namespace tunecast

#endif  // TUNECAST_CONSOLE_TEXT_H
