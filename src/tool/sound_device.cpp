// sound_device.cpp: the live player's output through SDL2's audio device,
// SDL2 loaded when the tool is asked to play; in a build without SDL2, the
// line that says how to get it.
#include "tool/sound_device.h"

#include "tool/messages.h"
#include "tool/player.h"

using tunecast::format_text;
using tunecast::tr;

#ifdef TUNECAST_HAVE_SDL

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "common/console_text.h"
#include "tool/sdl_library.h"

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
  sdl_ = sdl_library();
  if (sdl_ == nullptr) {
    error = sound_device_unavailable();
    return false;
  }
  // The player catches the signals itself and puts the terminal back.
  sdl_->set_hint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  sdl_->set_hint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "tunecast");
  sdl_->set_hint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, tr("música"));
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
    subsystem_ = sdl_->init_subsystem(SDL_INIT_AUDIO) == 0;
    // No changes allowed: SDL converts the samples to whatever the device takes.
    if (subsystem_) id_ = sdl_->open_audio_device(nullptr, 0, &wanted, &got, 0);
    // A device opens paused, and SDL plays silence while it is: started at
    // once, with the player's song already started, the device begins with
    // the song's first frames (unless SDL's own thread slips a buffer in
    // before this call returns, which no caller of SDL2 can prevent).
    run(true);
  }
  if (id_ == 0) {
    error = format_text(tr("no se puede tocar: no hay dispositivo de sonido (SDL: %s)"),
                        console_escape(sdl_->get_error()).c_str());
    close();
    return false;
  }
  buffer_frames_ = got.samples;
  return true;
}

void sound_device::run(bool running) {
  if (id_ != 0) sdl_->pause_audio_device(id_, running ? 0 : 1);
}

void sound_device::close() {
  if (id_ != 0) sdl_->close_audio_device(id_);
  id_ = 0;
  if (subsystem_) sdl_->quit_subsystem(SDL_INIT_AUDIO);
  subsystem_ = false;
}

void sound_device::pull(void *self, uint8_t *stream, int bytes) {
  auto *device = static_cast<sound_device *>(self);
  const int frame_bytes = 2 * device->channels_;
  device->source_->fill(reinterpret_cast<int16_t *>(stream), bytes / frame_bytes);
}

std::string sound_device_unavailable() {
  const std::string missing = sdl_unavailable();
  return missing.empty() ? missing : format_text(tr("no se puede tocar: %s"), missing.c_str());
}

std::string sound_device_library() {
  const sdl_functions *const sdl = sdl_library();
  if (sdl == nullptr) return {};
  SDL_version v;
  sdl->get_version(&v);
  return "SDL2 " + std::to_string(v.major) + "." + std::to_string(v.minor) + "." +
         std::to_string(v.patch);
}

#else  // no SDL2 in this build

std::string sound_device_unavailable() {
  return tr(
      "no se puede tocar: esta compilación de tunecast no tiene SDL2 (instala libsdl2-dev y "
      "vuelve a compilar)");
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
