// log.cpp: the WAD reader's log hook and the default that prints its lines,
// progress on standard output and failures on standard error.
#include "wad/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

// Progress lines are flushed at once: one of them announces an unzip that
// may take a while, and it must be seen before the wait.
void print_line(void *, int32_t level, const char *line) {
  std::FILE *stream = level == WAD_LOG_PROGRESS ? stdout : stderr;
  std::fprintf(stream, "%s\n", line);
  std::fflush(stream);
}

wad_log_fn log_fn = print_line;
void *log_user = nullptr;
wad_translate_fn translate_fn = nullptr;

}  // namespace

void wad_set_log(wad_log_fn fn, void *user) {
  log_fn = fn != nullptr ? fn : print_line;
  log_user = fn != nullptr ? user : nullptr;
}

void wad_set_translation(wad_translate_fn translate) { translate_fn = translate; }

const char *tunecast::wad_text(const char *text) {
  return translate_fn != nullptr ? translate_fn(text) : text;
}

void tunecast::wad_logf(int32_t level, const char *spanish_format, ...) {
  // The translation takes the arguments of the Spanish format, which the
  // compiler checked at the call; the catalogs are checked to agree.
  const char *format = wad_text(spanish_format);
  char small[1024];
  va_list args;
  va_start(args, spanish_format);
  const int needed = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (needed < 0) return;  // nothing sensible to say
  char *line = small;
  // Paths are the only long parts; a line that outgrows the buffer gets its own.
  if (static_cast<size_t>(needed) >= sizeof small) {
    auto *big = static_cast<char *>(std::malloc(static_cast<size_t>(needed) + 1));
    if (big != nullptr) {
      va_start(args, spanish_format);
      std::vsnprintf(big, static_cast<size_t>(needed) + 1, format, args);
      va_end(args);
      line = big;
    }
  }
  log_fn(log_user, level, line);
  if (line != small) std::free(line);
}
