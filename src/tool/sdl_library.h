// sdl_library.h: the SDL2 functions the sound device calls, loaded from the
// system's library when the tool is first asked to play. The build compiles
// against SDL's headers, for their types and constants, but does not link
// the library: a render never loads it, nor the sound stack under it.
#ifndef TUNECAST_TOOL_SDL_LIBRARY_H
#define TUNECAST_TOOL_SDL_LIBRARY_H

#include <SDL.h>

#include <string>

// The library of the interface that SDL.h describes.
inline constexpr const char *sdl_soname = "libSDL2-2.0.so.0";

struct sdl_functions {
  decltype(&SDL_SetHint) set_hint = nullptr;
  decltype(&SDL_InitSubSystem) init_subsystem = nullptr;
  decltype(&SDL_QuitSubSystem) quit_subsystem = nullptr;
  decltype(&SDL_OpenAudioDevice) open_audio_device = nullptr;
  decltype(&SDL_PauseAudioDevice) pause_audio_device = nullptr;
  decltype(&SDL_CloseAudioDevice) close_audio_device = nullptr;
  decltype(&SDL_GetError) get_error = nullptr;
  decltype(&SDL_GetVersion) get_version = nullptr;
};

// Loads the library soname and binds every function above, all or none:
// false, with error set to the loader's reason (escaped for the terminal),
// when it cannot be loaded or lacks one of them.
bool sdl_functions_load(const char *soname, sdl_functions &functions, std::string &error);

// The process's SDL2, loaded from sdl_soname by the first call (from any
// thread) and kept; null when it cannot be loaded.
const sdl_functions *sdl_library();

// Empty when this run can play, which loads SDL2; otherwise why not, as the
// end of a Spanish line.
std::string sdl_unavailable();

#endif  // TUNECAST_TOOL_SDL_LIBRARY_H
