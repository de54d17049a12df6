/* windows_env.h: what the tests take from POSIX and Windows' C runtime
 * names otherwise or lacks, included into every test source of the Windows
 * build that needs it. setenv and unsetenv go through _putenv_s; the
 * runtime holds no empty variable (setting one to "" removes it), so a test
 * that needs an empty value cannot run there. O_CLOEXEC is _O_NOINHERIT. */
#ifndef TUNECAST_WINDOWS_ENV_H
#define TUNECAST_WINDOWS_ENV_H

#include <fcntl.h>
#include <stdlib.h>

#define O_CLOEXEC _O_NOINHERIT

static inline int setenv(const char *name, const char *value, int overwrite) {
  (void)overwrite;
  return _putenv_s(name, value);
}
static inline int unsetenv(const char *name) { return _putenv_s(name, ""); }

#endif /* TUNECAST_WINDOWS_ENV_H */
