/* windows_env.h: setenv and unsetenv, which the tests call and Windows' C
 * runtime lacks, over _putenv_s. Included into every test source of the
 * Windows build that needs them. The runtime holds no empty variable:
 * setting one to "" removes it, so a test that needs an empty value cannot
 * run there. */
#ifndef TUNECAST_WINDOWS_ENV_H
#define TUNECAST_WINDOWS_ENV_H

#include <stdlib.h>

static inline int setenv(const char *name, const char *value, int overwrite) {
  (void)overwrite;
  return _putenv_s(name, value);
}
static inline int unsetenv(const char *name) { return _putenv_s(name, ""); }

#endif /* TUNECAST_WINDOWS_ENV_H */
