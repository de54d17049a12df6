// log.h: where the WAD reader's lines go. The reader never writes to a
// stream itself: each line goes to the hook set by wad_set_log, whose
// default prints it as the tool always has. Private to the WAD module.
#ifndef TUNECAST_WAD_LOG_H
#define TUNECAST_WAD_LOG_H

#include <cstdint>

#include "tunecast/wad.h"

namespace tunecast {

// Formats one line (printf style, without the newline) and hands it to the
// current hook at level (WAD_LOG_PROGRESS or WAD_LOG_FAILURE). Allocates
// only for a line longer than 1 KiB and never throws: a line that cannot be
// formatted whole goes out cut short. The format is translated first (see
// wad_text).
#ifdef __MINGW32__
// The formats are C99's (%zu) on Windows too, which mingw's own printf
// gives; gcc checks them as such only under this name.
#define TUNECAST_PRINTF_FORMAT gnu_printf
#else
#define TUNECAST_PRINTF_FORMAT printf
#endif
void wad_logf(int32_t level, const char *format, ...)
    __attribute__((format(TUNECAST_PRINTF_FORMAT, 2, 3)));

// text through the hook of wad_set_translation, or text itself: for the
// Spanish reasons a line quotes. wad_logf translates its format the same way.
const char *wad_text(const char *text) __attribute__((format_arg(1)));

}  // namespace tunecast

#endif  // TUNECAST_WAD_LOG_H
