// sndfile_library.h: the libsndfile functions the FLAC and Ogg writer calls,
// loaded from the system's library the first time a render needs them. The
// build compiles against libsndfile's header, for its types and constants,
// but does not link the library: WAV and MIDI renders never load it.
#ifndef TUNECAST_TOOL_SNDFILE_LIBRARY_H
#define TUNECAST_TOOL_SNDFILE_LIBRARY_H

#include <string>

#ifdef TUNECAST_HAVE_SNDFILE
#include <sndfile.h>

// The library of the interface that sndfile.h describes.
inline constexpr const char *sndfile_soname = "libsndfile.so.1";

struct sndfile_functions {
  decltype(&sf_open_virtual) open_virtual = nullptr;
  decltype(&sf_set_string) set_string = nullptr;
  decltype(&sf_write_short) write_short = nullptr;
  decltype(&sf_close) close = nullptr;
};

// Loads the library soname and binds every function above, all or none:
// false, with error set to the loader's reason (escaped for the terminal),
// when it cannot be loaded or lacks one of them.
bool sndfile_functions_load(const char *soname, sndfile_functions &functions, std::string &error);

// The process's libsndfile, loaded from sndfile_soname by the first call
// (from any thread) and kept; null when it cannot be loaded.
const sndfile_functions *sndfile_library();
#endif

// Empty when this run can write FLAC and Ogg, which loads libsndfile;
// otherwise why not, as the end of a Spanish line.
std::string sndfile_unavailable();

#endif  // TUNECAST_TOOL_SNDFILE_LIBRARY_H
