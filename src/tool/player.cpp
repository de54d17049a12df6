// player.cpp: the live player's core. The audio side pulls the
// synthesizer only while the control side has a song fully started and not
// paused, so every frame it pulls is a frame of the song as the file
// render would pull it; at every other moment it hands the device silence.
#include "tool/player.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "tool/song_start.h"

using hold_lock = std::lock_guard<std::mutex>;

player::player(std::vector<player_song> songs, int channels, int32_t volume)
    : songs_(std::move(songs)), channels_(channels), synth_(tc_synth_new()), volume_(volume) {
  // Without the pipe the control side still wakes on its timeout.
  if (pipe2(wake_.data(), O_NONBLOCK | O_CLOEXEC) != 0) wake_ = {-1, -1};
}

player::~player() {
  for (const int fd : wake_) {
    if (fd >= 0) close(fd);
  }
}

void player::fill(int16_t *out, int32_t frames) {
  const hold_lock lock(mutex_);
  // At the point where the fade would begin, a looping song is given one
  // pass more: its score was registered looping, so the synthesizer goes on
  // into the next pass as the file render of one more pass would.
  const auto reached_end = [this] {
    const player_song &song = songs_[current_];
    if (loop_ && song.looping && song.pass_frames > 0 && position_ == span_.fade_from()) {
      span_.frames += song.pass_frames;
    }
    return position_ >= span_.frames;
  };
  const auto playing = [this] { return ready_ && !paused_ && !finished_; };
  int32_t done = 0;
  while (playing()) {
    if (reached_end()) {
      finished_ = true;
      // Nothing to do when the pipe is full: the control side is awake already.
      [[maybe_unused]] const ssize_t ignored = write(wake_[1], "e", 1);
      break;
    }
    if (done == frames) break;
    const player_song &song = songs_[current_];
    int64_t n = std::min<int64_t>({frames - done, player_block_frames, span_.frames - position_});
    if (loop_ && song.looping && position_ < span_.fade_from()) {
      n = std::min(n, span_.fade_from() - position_);
    }
    const auto count = static_cast<int32_t>(n);
    tc_synth_render_f32(synth_.get(), pulled_.data(), static_cast<size_t>(count));
    span_convert(pulled_.data(), channels_, count, position_, span_,
                 out + static_cast<ptrdiff_t>(done) * channels_, stats_);
    position_ += count;
    done += count;
  }
  std::fill(out + static_cast<ptrdiff_t>(done) * channels_,
            out + static_cast<ptrdiff_t>(frames) * channels_, int16_t{0});
  filled_ += frames;
}

tc_status player::play(size_t index) {
  {
    const hold_lock lock(mutex_);
    ready_ = false;
  }
  drain_wake();
  // From here to ready_ the audio side leaves the instance alone.
  const player_song &song = songs_[index];
  render_style style;
  style.volume = volume_;
  style.stereo = channels_ == 2;
  const tc_status status = song_load(synth_.get(), song.mus->data(), song.mus->size(), style);
  if (status != TC_OK) return status;
  const bool recording = song_play(synth_.get(), song.looping);
  const hold_lock lock(mutex_);
  recording_ = recording;
  current_ = index;
  position_ = 0;
  span_ = song.span;
  paused_ = false;
  loop_ = false;
  finished_ = false;
  ready_ = true;
  return TC_OK;
}

// While paused the audio side pulls nothing, so the song holds where it was.
void player::toggle_pause() {
  const hold_lock lock(mutex_);
  paused_ = !paused_;
}

void player::change_volume(int32_t delta) {
  const hold_lock lock(mutex_);
  volume_ = std::clamp(volume_ + delta, 0, 127);
  tc_synth_set_volume(synth_.get(), volume_);
}

void player::toggle_loop() {
  const hold_lock lock(mutex_);
  loop_ = !loop_;
}

player_status player::status(bool take_peak) {
  const hold_lock lock(mutex_);
  player_status s;
  s.index = current_;
  s.position = position_;
  s.peak = stats_.peak;
  s.volume = volume_;
  s.paused = paused_;
  s.loop = loop_;
  s.finished = finished_;
  s.recording = recording_;
  if (take_peak) stats_.peak = 0.0;
  return s;
}

int64_t player::frames_filled() {
  const hold_lock lock(mutex_);
  return filled_;
}

void player::drain_wake() {
  char buffer[64];
  while (wake_[0] >= 0 && read(wake_[0], buffer, sizeof buffer) > 0) {
  }
}
