// messages.h: the console's text in the user's language. Every line the tool
// prints for a person goes through tr(): the Spanish text is both the message
// and its key, so with no catalog (or no translation) the tool says exactly
// what it always said.
#pragma once

#include <string>

// The formats are C99's (%zu) on Windows too, which mingw's own printf
// gives; gcc checks them as such only under this name.
#ifdef __MINGW32__
#define TUNECAST_PRINTF_FORMAT gnu_printf
#else
#define TUNECAST_PRINTF_FORMAT printf
#endif

namespace tunecast {

// Picks the language of tr() from the environment (LANGUAGE, LC_ALL,
// LC_MESSAGES, LANG) and finds the catalogs beside the executable. Called
// once, first thing in main, before any thread starts. Without a catalog
// for that language, or without gettext (Windows), tr() stays Spanish.
void messages_use_environment();

// The translation of spanish (kept for the life of the process), or spanish
// itself when there is none. format_arg: the compiler checks a printf format given
// through tr() against its arguments, as if it were the literal.
#if defined(__GNUC__)
__attribute__((format_arg(1)))
#endif
const char *
tr(const char *spanish);

// printf into a string, for a message kept before it is printed:
// format_text(tr("fundido no válido: %s"), text).
#if defined(__GNUC__)
__attribute__((format(TUNECAST_PRINTF_FORMAT, 1, 2)))
#endif
std::string
format_text(const char *format, ...);

}  // namespace tunecast
