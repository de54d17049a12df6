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

namespace {

// Frames a seek renders per tend(): a few milliseconds of work for most
// songs, so the keys are read between steps.
constexpr int64_t seek_step_frames = 44100;

}  // namespace

player::player(std::vector<player_song> songs, int channels, int32_t volume)
    : songs_(std::move(songs)),
      channels_(channels),
      synth_(tc_synth_new()),
      spare_(tc_synth_new()),
      volume_(volume) {
  // Without the pipe the control side still wakes on its timeout.
  if (pipe2(wake_.data(), O_NONBLOCK | O_CLOEXEC) != 0) wake_ = {-1, -1};
}

player::~player() {
  for (const int fd : wake_) {
    if (fd >= 0) close(fd);
  }
}

// Nothing to do when the pipe is full: the control side is awake already.
void player::wake_control() { [[maybe_unused]] const ssize_t ignored = write(wake_[1], "e", 1); }

// Under the lock: songs[index] plays from its first frame on synth_.
void player::begin_song(size_t index, bool recording) {
  recording_ = recording;
  current_ = index;
  position_ = 0;
  span_ = songs_[index].span;
  paused_ = false;
  loop_ = false;
  finished_ = false;
  ready_ = true;
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
      if (!loop_ && spare_use_ == spare_use::next && spare_index_ == current_ + 1) {
        // The next song, started ahead on the spare, follows in this very
        // buffer; the control side is woken to announce it.
        std::swap(synth_, spare_);
        spare_use_ = spare_use::none;
        begin_song(spare_index_, spare_recording_);
      } else {
        finished_ = true;
      }
      wake_control();
      continue;
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

// Control side, with the spare its own: loads songs[index] on it and starts
// it from its first frame.
bool player::spare_start(size_t index, bool &recording) {
  const player_song &song = songs_[index];
  render_style style;
  style.volume = volume_;
  style.stereo = channels_ == 2;
  if (song_load(spare_.get(), song.mus->data(), song.mus->size(), style) != TC_OK) return false;
  recording = song_play(spare_.get(), song.looping);
  return true;
}

// Under the lock: the spare is the control side's again, and a seek on it
// is dropped.
void player::take_spare() {
  spare_use_ = spare_use::none;
  seeking_ = false;
}

tc_status player::play(size_t index) {
  bool started_ahead = false;
  {
    const hold_lock lock(mutex_);
    started_ahead = spare_use_ == spare_use::next && spare_index_ == index;
    if (started_ahead) {
      std::swap(synth_, spare_);
      begin_song(index, spare_recording_);
    } else {
      ready_ = false;
    }
    take_spare();
  }
  drain_wake();
  if (started_ahead) return TC_OK;
  // From here to ready_ the audio side leaves the instance alone.
  const player_song &song = songs_[index];
  render_style style;
  style.volume = volume_;
  style.stereo = channels_ == 2;
  const tc_status status = song_load(synth_.get(), song.mus->data(), song.mus->size(), style);
  if (status != TC_OK) return status;
  const bool recording = song_play(synth_.get(), song.looping);
  const hold_lock lock(mutex_);
  begin_song(index, recording);
  return TC_OK;
}

void player::seek_by(int64_t delta_frames) {
  size_t index = 0;
  bool restart = false;
  {
    const hold_lock lock(mutex_);
    if (!ready_ || finished_) return;
    const int64_t from = seeking_ ? seek_target_ : position_;
    const int64_t target =
        delta_frames > INT64_MAX - from ? INT64_MAX : std::max<int64_t>(0, from + delta_frames);
    const player_song &song = songs_[current_];
    const bool endless = loop_ && song.looping && song.pass_frames > 0;
    if (!endless && target >= span_.frames) {
      if (seeking_) take_spare();
      finished_ = true;
      wake_control();
      return;
    }
    // The spare restarts the song when it is not on its way to an earlier
    // frame of it already.
    restart = !seeking_ || target < seek_done_;
    spare_use_ = spare_use::seeking;
    seeking_ = true;
    seek_target_ = target;
    index = current_;
  }
  if (!restart) return;
  seek_done_ = 0;
  bool recording = false;
  const bool started = spare_start(index, recording);
  const hold_lock lock(mutex_);
  spare_recording_ = recording;
  if (!started) take_spare();
}

// Renders the spare a step nearer the seek's frame (what it renders is
// thrown away); once there, it becomes the current instance.
void player::seek_step() {
  const int64_t step_end = std::min(seek_target_, seek_done_ + seek_step_frames);
  while (seek_done_ < step_end) {
    const auto n =
        static_cast<size_t>(std::min<int64_t>(player_block_frames, step_end - seek_done_));
    tc_synth_render_f32(spare_.get(), skipped_.data(), n);
    seek_done_ += static_cast<int64_t>(n);
  }
  if (seek_done_ < seek_target_) return;
  const hold_lock lock(mutex_);
  take_spare();
  // A looping song reaches the frame in a later pass, as playing it there
  // would have: each pass begun moves the end a pass further.
  const player_song &song = songs_[current_];
  if (loop_ && song.looping && song.pass_frames > 0) {
    while (seek_target_ >= span_.fade_from()) span_.frames += song.pass_frames;
  }
  if (seek_target_ >= span_.frames) {  // the loop was turned off meanwhile
    finished_ = true;
    wake_control();
    return;
  }
  std::swap(synth_, spare_);
  recording_ = spare_recording_;
  position_ = seek_target_;
  finished_ = false;
}

// Starts the song after the current one on the spare, once, unless the
// spare is busy or the playlist ends here.
void player::prepare_next() {
  size_t next = 0;
  {
    const hold_lock lock(mutex_);
    if (!ready_ || spare_use_ != spare_use::none) return;
    next = current_ + 1;
  }
  if (next >= songs_.size()) return;
  bool recording = false;
  const bool started = spare_start(next, recording);
  const hold_lock lock(mutex_);
  // A refusal is left for play() to meet and say; it is not tried again.
  spare_use_ = started ? spare_use::next : spare_use::refused;
  spare_index_ = next;
  spare_recording_ = recording;
}

bool player::tend() {
  if (seeking_) {
    seek_step();
  } else {
    prepare_next();
  }
  return seeking_;
}

// While paused the audio side pulls nothing, so the song holds where it was.
void player::toggle_pause() {
  const hold_lock lock(mutex_);
  paused_ = !paused_;
}

// The spare too: a song started ahead, or on its way to a seek's frame,
// plays at the volume of the moment it takes over.
void player::change_volume(int32_t delta) {
  const hold_lock lock(mutex_);
  volume_ = std::clamp(volume_ + delta, 0, 127);
  tc_synth_set_volume(synth_.get(), volume_);
  tc_synth_set_volume(spare_.get(), volume_);
}

void player::toggle_loop() {
  const hold_lock lock(mutex_);
  loop_ = !loop_;
}

player_status player::status(bool take_peak) {
  const hold_lock lock(mutex_);
  player_status s;
  s.index = current_;
  s.position = seeking_ ? seek_target_ : position_;
  s.total = span_.frames;
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
