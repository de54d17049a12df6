// player.h: the live player's core, without a device or a terminal: a
// playlist of prepared songs, the audio side that fills the device's
// buffers from the synthesizer, and the control side that pauses, skips,
// loops and changes the volume from the main thread.
//
// Threads: fill() runs on the audio thread; every other call belongs to one
// control thread. The player owns its synthesizer instance, which one
// thread may drive at a time: both sides meet under the player's mutex,
// which fill() holds while it pulls the instance and the control side
// while it changes the instance or the shared fields. A song is loaded
// with the audio side held off it (ready_ false), so no lock is held
// across the load.
#ifndef TUNECAST_TOOL_PLAYER_H
#define TUNECAST_TOOL_PLAYER_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tool/render_span.h"
#include "tunecast/synth.h"

// A song ready to play: the score to register and how long it plays.
struct player_song {
  std::string name;  // as shown: the lump's safe name
  // The MUS score (a MIDI lump already converted); songs from entries that
  // name the same bytes share one.
  std::shared_ptr<const std::vector<uint8_t>> mus;
  render_span span;         // frames to play, the last fade_frames fading out
  int64_t pass_frames = 0;  // one pass of the score; 0 when it has no end
  bool looping = false;     // the score loops, as the file render of passes plays it
};

// The player as the status line shows it.
struct player_status {
  size_t index = 0;      // the current song
  int64_t position = 0;  // frames of it played, pauses not counted
  double peak = 0.0;     // the loudest output since the peak was last taken, 0 to 1
  int32_t volume = 100;  // 0 to 127
  bool paused = false;
  bool loop = false;       // the current song starts again at its end
  bool finished = false;   // the current song has played its last frame
  bool recording = false;  // a recording plays in the song's place
};

// Frames the audio side pulls from the synthesizer at a time.
inline constexpr int32_t player_block_frames = 1024;

class player {
 public:
  // songs: at least one. channels: 1, or 2 for stereo. volume: 0 to 127.
  player(std::vector<player_song> songs, int channels, int32_t volume);
  player(const player &) = delete;
  player &operator=(const player &) = delete;
  ~player();

  // Audio side. Writes `frames` frames (interleaved in stereo) to out: the
  // current song's samples, exactly as the file render converts them, then
  // silence once it has finished, while paused, or while a song is being
  // changed. Allocates nothing and never blocks but on the lock.
  void fill(int16_t *out, int32_t frames);

  // Control side.
  const std::vector<player_song> &songs() const { return songs_; }
  // Loads songs[index] and starts it from its first frame, playing (a
  // pause is lifted) and not looping. Returns the synthesizer's refusal
  // (TC_OK when it plays); nothing plays after a refusal.
  tc_status play(size_t index);
  void toggle_pause();
  // Adds delta to the volume, kept within 0 to 127.
  void change_volume(int32_t delta);
  void toggle_loop();
  // A snapshot. take_peak: the peak is this snapshot's, and the next
  // starts from 0 (the status line's meter takes it ten times a second).
  player_status status(bool take_peak = false);
  // Audio frames filled since the player was made, silence included.
  int64_t frames_filled();
  // A descriptor that becomes readable when the current song finishes
  // (read it empty with drain_wake); for poll() beside the keyboard.
  int wake_fd() const { return wake_[0]; }
  void drain_wake();

 private:
  struct synth_deleter {
    void operator()(tc_synth *s) const { tc_synth_free(s); }
  };

  std::vector<player_song> songs_;
  int channels_;
  std::array<int, 2> wake_{-1, -1};
  std::mutex mutex_;
  // Shared with the audio side, under the mutex; the instance is only
  // touched by one side at a time (see above).
  std::unique_ptr<tc_synth, synth_deleter> synth_;
  size_t current_ = 0;
  bool ready_ = false;  // a song is registered and started: fill may pull it
  bool paused_ = false;
  bool loop_ = false;
  bool finished_ = false;
  bool recording_ = false;
  int32_t volume_;
  int64_t position_ = 0;
  int64_t filled_ = 0;
  render_span span_;
  render_stats stats_;
  std::array<float, 2 * player_block_frames> pulled_{};  // interleaved, as the instance gives them
};

#endif  // TUNECAST_TOOL_PLAYER_H
