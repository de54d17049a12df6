// sdl_library.cpp: SDL2 loaded once, on demand, and every function the
// sound device needs checked before the first is called.
#include "tool/sdl_library.h"

#include "tool/messages.h"
#include "tool/shared_library.h"

using tunecast::format_text;
using tunecast::tr;

bool sdl_functions_load(const char *soname, sdl_functions &functions, std::string &error) {
  void *const library = shared_library_open(soname, error);
  if (library == nullptr) return false;
  sdl_functions bound;
  if (shared_library_bind(library, "SDL_SetHint", bound.set_hint, error) &&
      shared_library_bind(library, "SDL_InitSubSystem", bound.init_subsystem, error) &&
      shared_library_bind(library, "SDL_QuitSubSystem", bound.quit_subsystem, error) &&
      shared_library_bind(library, "SDL_OpenAudioDevice", bound.open_audio_device, error) &&
      shared_library_bind(library, "SDL_PauseAudioDevice", bound.pause_audio_device, error) &&
      shared_library_bind(library, "SDL_CloseAudioDevice", bound.close_audio_device, error) &&
      shared_library_bind(library, "SDL_GetError", bound.get_error, error) &&
      shared_library_bind(library, "SDL_GetVersion", bound.get_version, error)) {
    functions = bound;
    return true;
  }
  shared_library_drop(library);
  return false;
}

const sdl_functions *sdl_library() {
  const auto &loaded = shared_library_load_once(sdl_functions_load, sdl_soname);
  return loaded.usable ? &loaded.functions : nullptr;
}

std::string sdl_unavailable() {
  const auto &loaded = shared_library_load_once(sdl_functions_load, sdl_soname);
  return loaded.usable ? std::string() : format_text(tr("falta SDL2 (%s)"), loaded.error.c_str());
}
