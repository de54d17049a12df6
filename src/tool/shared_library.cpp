// shared_library.cpp: dlopen and dlsym, with the loader's reason kept as one
// line fit for the terminal (it holds a path, which may hold any byte).
#include "tool/shared_library.h"

#include <dlfcn.h>

#include "common/console_text.h"
#include "tool/messages.h"

using tunecast::console_escape;
using tunecast::tr;

namespace {

std::string loader_reason() {
  const char *reason = dlerror();
  return console_escape(reason != nullptr ? reason : tr("error desconocido del cargador"));
}

}  // namespace

void *shared_library_open(const char *soname, std::string &error) {
  // RTLD_NOW: a missing name fails here, not in the middle of a render.
  // RTLD_LOCAL: the library's names are not offered to anything loaded later.
  void *const library = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) error = loader_reason();
  return library;
}

void *shared_library_find(void *library, const char *name, std::string &error) {
  dlerror();  // a reason left from an earlier call is not this one's
  void *const address = dlsym(library, name);
  if (address == nullptr) error = loader_reason();
  return address;
}

void shared_library_drop(void *library) { dlclose(library); }
