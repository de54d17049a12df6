// sndfile_library.cpp: libsndfile loaded once, on demand, and every
// function the writer needs checked before the first is called.
#include "tool/sndfile_library.h"

#include "tool/messages.h"

using tunecast::format_text;
using tunecast::tr;

#ifdef TUNECAST_HAVE_SNDFILE

#include "tool/shared_library.h"

bool sndfile_functions_load(const char *soname, sndfile_functions &functions, std::string &error) {
  void *const library = shared_library_open(soname, error);
  if (library == nullptr) return false;
  sndfile_functions bound;
  if (shared_library_bind(library, "sf_open_virtual", bound.open_virtual, error) &&
      shared_library_bind(library, "sf_set_string", bound.set_string, error) &&
      shared_library_bind(library, "sf_write_short", bound.write_short, error) &&
      shared_library_bind(library, "sf_close", bound.close, error)) {
    functions = bound;
    return true;
  }
  shared_library_drop(library);
  return false;
}

const sndfile_functions *sndfile_library() {
  const auto &loaded = shared_library_load_once(sndfile_functions_load, sndfile_soname);
  return loaded.usable ? &loaded.functions : nullptr;
}

std::string sndfile_unavailable() {
  const auto &loaded = shared_library_load_once(sndfile_functions_load, sndfile_soname);
  return loaded.usable ? std::string()
                       : format_text(tr("falta libsndfile (%s)"), loaded.error.c_str());
}

#else  // no libsndfile at build time

std::string sndfile_unavailable() {
  return tr(
      "esta compilación de tunecast no tiene libsndfile (instala libsndfile1-dev y vuelve a "
      "compilar)");
}

#endif
