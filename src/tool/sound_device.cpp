// sound_device.cpp: the live player's output through SDL2's audio device,
// or, in a build without SDL2, the line that says how to get it.
#include "tool/sound_device.h"

#include "tool/player.h"

#ifdef TUNECAST_HAVE_SDL

#include <SDL.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "common/console_text.h"

using tunecast::console_escape;

namespace {

// While SDL looks for a device, the sound libraries under it write their own
// complaints to standard error (ALSA a dozen lines on a machine without
// sound); the tool says what went wrong in one line of its own instead.
class stderr_muted {
 public:
  stderr_muted() {
    std::fflush(stderr);
    saved_ = dup(STDERR_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0) dup2(null, STDERR_FILENO);
    if (null >= 0) ::close(null);
  }
  ~stderr_muted() {
    if (saved_ < 0) return;
    dup2(saved_, STDERR_FILENO);
    ::close(saved_);
  }
  stderr_muted(const stderr_muted &) = delete;
  stderr_muted &operator=(const stderr_muted &) = delete;

 private:
  int saved_ = -1;
};

constexpr int device_buffer_frames = 1024;  // 23 ms: pause and skip answer at once

}  // namespace

bool sound_device::open(player &source, int channels, std::string &error) {
  // The player catches the signals itself and puts the terminal back.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "tunecast");
  SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, "música");
  source_ = &source;
  channels_ = channels;
  SDL_AudioSpec wanted{};
  wanted.freq = 44100;
  wanted.format = AUDIO_S16SYS;
  wanted.channels = static_cast<Uint8>(channels);
  wanted.samples = device_buffer_frames;
  wanted.callback = pull;
  wanted.userdata = this;
  SDL_AudioSpec got{};
  {
    const stderr_muted quiet;
    subsystem_ = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
    // No changes allowed: SDL converts the samples to whatever the device takes.
    if (subsystem_) id_ = SDL_OpenAudioDevice(nullptr, 0, &wanted, &got, 0);
  }
  if (id_ == 0) {
    error = std::string("no se puede tocar: no hay dispositivo de sonido (SDL: ") +
            console_escape(SDL_GetError()) + ")";
    close();
    return false;
  }
  buffer_frames_ = got.samples;
  return true;
}

void sound_device::run(bool running) {
  if (id_ != 0) SDL_PauseAudioDevice(id_, running ? 0 : 1);
}

void sound_device::close() {
  if (id_ != 0) SDL_CloseAudioDevice(id_);
  id_ = 0;
  if (subsystem_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  subsystem_ = false;
}

void sound_device::pull(void *self, uint8_t *stream, int bytes) {
  auto *device = static_cast<sound_device *>(self);
  const int frame_bytes = 2 * device->channels_;
  device->source_->fill(reinterpret_cast<int16_t *>(stream), bytes / frame_bytes);
}

std::string sound_device_unavailable() { return {}; }

std::string sound_device_library() {
  SDL_version v;
  SDL_GetVersion(&v);
  return "SDL2 " + std::to_string(v.major) + "." + std::to_string(v.minor) + "." +
         std::to_string(v.patch);
}

#else  // no SDL2 in this build

std::string sound_device_unavailable() {
  return "no se puede tocar: esta compilación de tunecast no tiene SDL2 (instala libsdl2-dev y "
         "vuelve a compilar)";
}

bool sound_device::open(player &, int, std::string &error) {
  error = sound_device_unavailable();
  return false;
}

void sound_device::run(bool) {}
void sound_device::close() {}
void sound_device::pull(void *, uint8_t *, int) {}
std::string sound_device_library() { return {}; }

#endif
