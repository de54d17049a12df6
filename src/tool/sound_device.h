// sound_device.h: the system's sound device, through SDL2 when the tool was
// built with it and the system's SDL2 loads. The device pulls 16-bit samples at 44100 Hz from a
// player on its own thread; SDL converts them to the device's format if it must.
#ifndef TUNECAST_TOOL_SOUND_DEVICE_H
#define TUNECAST_TOOL_SOUND_DEVICE_H

#include <cstdint>
#include <string>

class player;
struct sdl_functions;

class sound_device {
 public:
  sound_device() = default;
  sound_device(const sound_device &) = delete;
  sound_device &operator=(const sound_device &) = delete;
  ~sound_device() { close(); }

  // Opens the default device for `channels` channels and sets it pulling
  // from source at once, so source must be ready to play. False with one
  // Spanish line in error when this build has no SDL2, the system's cannot
  // be loaded, or there is no device to open.
  bool open(player &source, int channels, std::string &error);
  // Sets the device pulling (running true) or holds it.
  void run(bool running);
  // Stops the device's thread; the player is no longer called after it.
  void close();
  // Frames of one buffer the device pulls at a time.
  int32_t buffer_frames() const { return buffer_frames_; }

 private:
  const sdl_functions *sdl_ = nullptr;  // loaded by open()
  uint32_t id_ = 0;
  bool subsystem_ = false;
  int channels_ = 1;
  int32_t buffer_frames_ = 0;
  player *source_ = nullptr;
  static void pull(void *self, uint8_t *stream, int bytes);
};

// The sound library this run plays through, with the loaded library's
// version ("SDL2 2.26.5"), or empty when it has none (asking loads it).
std::string sound_device_library();

// Empty when this run can play (asking loads the library); otherwise one
// Spanish line saying what is missing.
std::string sound_device_unavailable();

#endif  // TUNECAST_TOOL_SOUND_DEVICE_H
