// console_text.h: bytes that came from a file, made safe to print. A lump or
// member name, a magic or a path may hold control bytes that would move the
// cursor, clear the screen or retitle the terminal if printed as they are.
#ifndef TUNECAST_CONSOLE_TEXT_H
#define TUNECAST_CONSOLE_TEXT_H

#include <string>
#include <string_view>

// text with every byte that a terminal could act on written as "\xNN": C0
// and C1 control characters, DEL, and bytes that are not part of a valid
// UTF-8 sequence. A backslash itself stays, and so do printable ASCII and
// well-formed UTF-8 letters ("dañado").
std::string console_escape(std::string_view text);

#endif  // TUNECAST_CONSOLE_TEXT_H
