// player.h: the live player's core, without a device or a terminal: a
// playlist of prepared songs, the audio side that fills the device's
// buffers from the synthesizer, and the control side that pauses, skips,
// seeks, loops and changes the volume from the main thread.
//
// Threads: fill() runs on the audio thread; every other call belongs to one
// control thread. The player owns two synthesizer instances, each driven
// by one thread at a time: the current one, which fill() pulls, and a
// spare, on which the control side starts the next song ahead of time or
// renders its way to a seek's frame. Both sides meet under the player's
// mutex, which fill() holds while it pulls the current instance (and
// while it trades it for a spare handed over as the next song), and the
// control side while it changes the shared fields. The slow work (loading
// a song, rendering towards a seek) runs on the control side outside the
// lock, on an instance the audio side is not using.
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
  int64_t position = 0;  // frames of it played, pauses not counted; a seek's frame once asked
  int64_t total = 0;     // frames it plays in all; INT64_MAX when it has no end
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
  // current song's samples, exactly as the file render converts them; at
  // its end, not looping, the next song's from its first frame when tend()
  // has started it ahead; silence once it has finished, while paused, or
  // while a song is being loaded. Allocates nothing and never blocks but
  // on the lock.
  void fill(int16_t *out, int32_t frames);

  // Control side.
  const std::vector<player_song> &songs() const { return songs_; }
  // Loads songs[index] (or takes it from the spare, started ahead) and
  // starts it from its first frame, playing (a pause is lifted) and not
  // looping; a seek under way is dropped. Returns the synthesizer's refusal
  // (TC_OK when it plays); nothing plays after a refusal.
  tc_status play(size_t index);
  // Moves the current song delta_frames from where it is (or from where a
  // seek under way is going): before its start is its start; at or past its
  // end (a song looping has none) it finishes as if it had played there.
  // tend() does the rendering; until then the song plays on where it was.
  void seek_by(int64_t delta_frames);
  // The control side's slow work, a step at a time: a seek under way
  // renders up to a second more of the song on the spare, and the song
  // plays on from its frame once it is reached; otherwise the next song is
  // started on the spare, ready to follow the current one without a gap.
  // Returns true while a seek is under way (call again soon).
  bool tend();
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
  using synth_ptr = std::unique_ptr<tc_synth, synth_deleter>;
  // What the spare instance holds. Only `next` hands it to the audio side,
  // which may then trade it in under the lock; in the other states the
  // control side alone touches it.
  enum class spare_use { none, next, seeking, refused };

  bool spare_start(size_t index, bool &recording);
  void begin_song(size_t index, bool recording);
  void take_spare();
  void seek_step();
  void prepare_next();
  void wake_control();

  std::vector<player_song> songs_;
  int channels_;
  std::array<int, 2> wake_{-1, -1};
  std::mutex mutex_;
  // Shared with the audio side, under the mutex; an instance is only
  // touched by one side at a time (see above).
  synth_ptr synth_;
  synth_ptr spare_;
  spare_use spare_use_ = spare_use::none;
  size_t spare_index_ = 0;  // the song on the spare
  bool spare_recording_ = false;
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
  // The control side's alone: a seek under way renders the spare from
  // seek_done_ to seek_target_.
  bool seeking_ = false;
  int64_t seek_target_ = 0;
  int64_t seek_done_ = 0;
  std::array<float, 2 * player_block_frames> skipped_{};
};

#endif  // TUNECAST_TOOL_PLAYER_H
