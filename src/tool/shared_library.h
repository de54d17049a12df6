// shared_library.h: a system library opened while the tool runs, for the
// features that need one (FLAC and Ogg output, live playback): a run that
// does not use a feature never pays for loading its library.
#ifndef TUNECAST_TOOL_SHARED_LIBRARY_H
#define TUNECAST_TOOL_SHARED_LIBRARY_H

#include <string>

// The library soname ("libsndfile.so.1"), found as the dynamic loader finds
// any and with its own needs resolved at once; null with error set to the
// loader's reason, escaped for the terminal. A library in use is never
// closed: it stays for the rest of the process, so the addresses taken from
// it (and the threads SDL runs in it) never outlive it.
void *shared_library_open(const char *soname, std::string &error);

// The address of name in library, or null with error set as above.
void *shared_library_find(void *library, const char *name, std::string &error);

// Closes a library that turned out unusable, before any address taken from
// it was used.
void shared_library_drop(void *library);

// Binds function to name in library: false, with error set, when the library
// lacks it (the loader gives a data pointer; POSIX makes it a function's).
template <typename Function>
bool shared_library_bind(void *library, const char *name, Function &function, std::string &error) {
  void *const address = shared_library_find(library, name, error);
  function = reinterpret_cast<Function>(address);
  return address != nullptr;
}

// A library's table of functions loaded once, the first time it is asked
// for, by load (which binds every function or none), and kept for the
// process. Safe from any thread.
template <typename Functions>
struct loaded_functions {
  Functions functions{};
  bool usable = false;
  std::string error;
};
template <typename Functions>
const loaded_functions<Functions> &shared_library_load_once(bool (*load)(const char *, Functions &,
                                                                         std::string &),
                                                            const char *soname) {
  static const loaded_functions<Functions> loaded = [&] {
    loaded_functions<Functions> l;
    l.usable = load(soname, l.functions, l.error);
    return l;
  }();
  return loaded;
}

#endif  // TUNECAST_TOOL_SHARED_LIBRARY_H
