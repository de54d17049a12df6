// play.cpp: --tocar. The playlist is prepared whole and the first song
// started before the device opens (every refusal is said up front, and the
// device starts with the song's first frames, not silence), then the main
// thread waits on the keyboard, the signals and the player's song-end pipe,
// and does the player's slow work, while the device's thread pulls the
// samples.
#include "tool/play.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mus/song_length.h"
#include "tool/archive.h"
#include "tool/messages.h"
#include "tool/player.h"
#include "tool/render.h"
#include "tool/song_start.h"
#include "tool/sound_device.h"
#include "tool/standard_streams.h"
#include "tool/terminal.h"
#include "tool/wav_out.h"
#include "tunecast/wad.h"

using tunecast::lump_kind;
using tunecast::music_prepare;
using tunecast::music_score;
using tunecast::tr;

namespace {

constexpr double rate_hz = wav_rate_hz;
constexpr int32_t volume_step = 8;
constexpr int64_t restart_within_frames = 3 * 44100;  // 'p' later than this restarts the song
constexpr int status_interval_ms = 100;
constexpr int64_t seek_jump_frames = 5 * 44100;         // an arrow key's step
constexpr int64_t endless_unattended_frames = 2646000;  // 60 s, as a render without a duration

struct wad_closer {
  void operator()(wad_file *w) const { wad_free(w); }
};

struct play_setup {
  const tool_options &opt;
  bool interactive;  // keys and a status line
  int channels() const { return opt.stereo ? 2 : 1; }
};

// How long a song plays: as the file render of the same options would
// render it (--vueltas, or a duration), or else one whole pass, rendered
// as --vueltas 1 renders it. A score without an end plays until skipped on
// a terminal; with nobody to skip it, for a render's default minute.
bool plan_song(const play_setup &setup, const char *name, const music_score &score,
               player_song &song) {
  const tool_options &opt = setup.opt;
  double pass_s = 0.0;
  const bool ends = tunecast::mus::song_length(score.mus(), score.mus_size(), pass_s);
  // A pass too long for a file is too long to play whole; with a duration
  // or passes, it is for those to accept or refuse.
  const bool pass_fits = ends && span_pass_frames(pass_s, setup.channels(), song.pass_frames);
  if (opt.loops > 0) {
    render_length length;
    length.loops = opt.loops;
    length.fade_s = opt.fade_s;
    length.fade_text = opt.fade_text;
    song.looping = true;
    return span_from_loops(length, name, setup.channels(), score, song.span, song.pass_frames);
  }
  if (opt.seconds_text != nullptr) {
    return span_from_seconds({opt.seconds, opt.seconds_text}, setup.channels(), song.span);
  }
  if (ends) {
    if (!pass_fits) {
      render_length one_pass;
      one_pass.loops = 1;
      return span_refuse_too_long(one_pass, pass_s);
    }
    song.looping = true;
    song.span.frames = song.pass_frames;
  } else if (setup.interactive) {
    song.span.frames = INT64_MAX;
  } else {
    song.span.frames = endless_unattended_frames;
    std::fprintf(stderr, tr("aviso: el lump %s no llega a su fin: suena 60 s\n"), name);
  }
  song.span.seconds = static_cast<double>(song.span.frames) / rate_hz;
  return true;
}

// A lump made into a song; false, said on standard error, when it cannot play.
bool prepare_song(const play_setup &setup, const char *lump_name, const uint8_t *data, int32_t size,
                  player_song &song) {
  const std::string name = archive_safe_name(lump_name);
  const music_score score = music_prepare(data, size);
  if (score.kind == lump_kind::not_music) {
    std::fprintf(stderr, tr("el lump %s no es música que se pueda tocar (ni MUS ni MIDI)\n"),
                 name.c_str());
    return false;
  }
  render_job job{};
  job.lump_name = name.c_str();
  if (!render_score_usable(job, score)) return false;
  song.name = name;
  song.mus =
      std::make_shared<const std::vector<uint8_t>>(score.mus(), score.mus() + score.mus_size());
  return plan_song(setup, name.c_str(), score, song);
}

// The songs to play, in order; empty when none can (every reason said).
std::vector<player_song> load_playlist(const play_setup &setup) {
  const tool_options &opt = setup.opt;
  std::vector<player_song> songs;
  const std::unique_ptr<wad_file, wad_closer> wad(
      archive_arg_load(archive_arg_parse(opt.play_archive)));
  if (!wad) return songs;  // the loader has said why
  if (!opt.args.empty()) {
    const char *lump = opt.args[0];
    int32_t size = 0;
    const auto *data = static_cast<const uint8_t *>(wad_get_data(wad.get(), lump, &size));
    if (data == nullptr) {
      std::fprintf(stderr, tr("no hay %s\n"), lump);
      const std::string hint = archive_absent_hint(wad.get(), opt.play_archive, lump);
      if (!hint.empty()) std::fprintf(stderr, "%s\n", hint.c_str());
      return songs;
    }
    player_song song;
    if (prepare_song(setup, lump, data, size, song)) songs.push_back(std::move(song));
    return songs;
  }
  const std::vector<archive_music> music = archive_music_lumps(wad.get(), false);
  if (music.empty()) {
    std::fprintf(stderr, tr("%s no tiene ningún lump de música\n"),
                 archive_safe_name(opt.play_archive).c_str());
  }
  // Each region of bytes is made a song once (its refusal said once, under
  // the first name); the other entries naming it share that song's score.
  std::map<archive_region, std::optional<player_song>> prepared;
  for (const archive_music &m : music) {
    auto [at, fresh] = prepared.try_emplace(archive_region_of(m));
    if (fresh) {
      player_song song;
      if (prepare_song(setup, m.lump->name, m.lump->data, m.lump->size, song)) at->second = song;
    }
    if (!at->second) continue;
    songs.push_back(*at->second);
    songs.back().name = m.name;
  }
  return songs;
}

// m:ss.d, the tenths truncated.
std::string clock_text(int64_t frames) {
  const long long tenths = frames / 4410;
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld.%lld", tenths / 600, tenths % 600 / 10,
                tenths % 10);
  return text;
}

// Ten cells of 4 dB each, from -40 dB to full scale.
std::string meter_text(double peak) {
  const double db = peak > 0.0 ? 20.0 * std::log10(peak) : -100.0;
  const int cells = std::clamp(static_cast<int>(std::floor((db + 40.0) / 4.0)), 0, 10);
  std::string meter = "[..........]";
  std::fill_n(meter.begin() + 1, cells, '#');
  return meter;
}

std::string status_text(const player_status &s, const std::vector<player_song> &songs) {
  const player_song &song = songs[s.index];
  std::string line = song.name + " (" + std::to_string(s.index + 1) + "/" +
                     std::to_string(songs.size()) + ")  " + clock_text(s.position) + " / " +
                     (s.total != INT64_MAX ? clock_text(s.total) : tr("sin fin")) + "  " +
                     meter_text(s.peak) + "  " + tr("volumen") + " " + std::to_string(s.volume);
  if (s.paused) line += std::string("  ") + tr("en pausa");
  if (s.loop) line += std::string("  ") + tr("bucle");
  return line;
}

class player_session {
 public:
  player_session(const play_setup &setup, player &p, sound_device &device)
      : setup_(setup), player_(p), device_(device) {}
  int run();

 private:
  const play_setup &setup_;
  player &player_;
  sound_device &device_;
  raw_keyboard keyboard_;
  key_decoder keys_;
  signal_pipe signals_;
  bool status_shown_ = false;
  bool quit_ = false;
  size_t announced_ = 0;  // the song last said to be playing
  std::chrono::steady_clock::time_point next_draw_{};

  bool start(size_t index);
  void announce(size_t index);
  void on_key(int key);
  void on_song_end(const player_status &s);
  void draw(const player_status &s);
  void clear_status();
  void wait_for_last_buffers();
  void suspend();
  int leave_by(int signo);
};

bool player_session::start(size_t index) {
  if (const tc_status status = player_.play(index); status != TC_OK) {
    clear_status();
    song_refusal(player_.songs()[index].name.c_str(), status);
    return false;
  }
  announce(index);
  return true;
}

// Says which song plays now, whether started here or followed on by itself.
void player_session::announce(size_t index) {
  announced_ = index;
  const player_song &song = player_.songs()[index];
  if (player_.status().recording) {
    clear_status();
    song_warn_recording(song.name.c_str());
  }
  if (!setup_.interactive && !setup_.opt.quiet) {
    std::printf("[%zu/%zu] %s, %.1f s\n", index + 1, player_.songs().size(), song.name.c_str(),
                song.span.seconds);
    standard_stream_flush(stdout);
  }
}

void player_session::on_key(int key) {
  const player_status s = player_.status();
  const size_t last = player_.songs().size() - 1;
  switch (key) {
    case ' ':
      player_.toggle_pause();
      break;
    case 'n':
      if (s.index == last) {
        quit_ = true;
      } else if (!start(s.index + 1)) {
        quit_ = true;
      }
      break;
    case 'p':
      if (!start(s.position > restart_within_frames || s.index == 0 ? s.index : s.index - 1)) {
        quit_ = true;
      }
      break;
    case '+':
    case '=':
      player_.change_volume(volume_step);
      break;
    case '-':
    case '_':
      player_.change_volume(-volume_step);
      break;
    case 'l':
      player_.toggle_loop();
      break;
    case key_decoder::key_left:
      player_.seek_by(-seek_jump_frames);
      break;
    case key_decoder::key_right:
      player_.seek_by(seek_jump_frames);
      break;
    case 'q':
    case 'Q':
      quit_ = true;
      break;
    default:
      break;
  }
}

// At its end a song loops when asked (the fill already carried a looping
// score into its next pass; what ends here starts again), else the next
// one plays, and after the last the player is done.
void player_session::on_song_end(const player_status &s) {
  size_t next = s.index;
  if (!s.loop) {
    if (s.index + 1 == player_.songs().size()) {
      quit_ = true;
      wait_for_last_buffers();
      return;
    }
    next = s.index + 1;
  }
  if (!start(next)) quit_ = true;
}

// The song's last frames were handed over in the last buffer; a device
// plays a buffer or two behind, so closing at once would cut them.
void player_session::wait_for_last_buffers() {
  const int64_t until = player_.frames_filled() + 2 * device_.buffer_frames();
  for (int waited_ms = 0; waited_ms < 1000 && player_.frames_filled() < until; waited_ms += 5) {
    usleep(5000);
  }
}

// One line, cut to the terminal's width: a line that wrapped would be
// redrawn a row lower each time.
void player_session::draw(const player_status &s) {
  if (!setup_.interactive || setup_.opt.quiet) return;
  std::string line = status_text(s, player_.songs());
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 &&
      line.size() >= size.ws_col) {
    line.resize(size.ws_col - 1u);
  }
  std::printf("\r%s\x1b[K", line.c_str());
  standard_stream_flush(stdout);
  status_shown_ = true;
  next_draw_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(status_interval_ms);
}

void player_session::clear_status() {
  if (!status_shown_) return;
  std::printf("\r\x1b[K");
  standard_stream_flush(stdout);
}

// Ctrl-Z: the terminal goes back to normal and the music holds while the
// player is stopped, and both come back when it is continued.
void player_session::suspend() {
  device_.run(false);
  keyboard_.leave();
  clear_status();
  signals_.raise_default(SIGTSTP);
  keyboard_.enter(STDIN_FILENO);
  device_.run(true);
}

int player_session::leave_by(int signo) {
  device_.close();
  keyboard_.leave();
  if (status_shown_) std::printf("\n");
  standard_stream_flush(stdout);
  signals_.raise_default(signo);
  return 128 + signo;  // not reached: the default action ends the process
}

int player_session::run() {
  if (setup_.interactive) {
    keyboard_.enter(STDIN_FILENO);
    if (!setup_.opt.quiet) {
      std::printf("%s", tr("teclas: espacio pausa, ←/→ 5 s atrás/adelante, n siguiente, "
                           "p anterior, +/- volumen, l bucle, q salir\n"));
    }
  }
  announce(0);
  while (!quit_) {
    // A seek under way takes its next step as soon as the keys are read.
    const bool busy = player_.tend();
    pollfd fds[3] = {{signals_.fd(), POLLIN, 0},
                     {player_.wake_fd(), POLLIN, 0},
                     {setup_.interactive ? STDIN_FILENO : -1, POLLIN, 0}};
    if (poll(fds, 3, busy ? 0 : status_interval_ms) < 0 && errno != EINTR) break;
    if (const int signo = signals_.take(); signo != 0) {
      if (signo != SIGTSTP) return leave_by(signo);
      suspend();
    }
    if ((fds[2].revents & (POLLHUP | POLLERR)) != 0) {
      quit_ = true;  // the terminal went away
    } else if ((fds[2].revents & POLLIN) != 0) {
      unsigned char keys[16];
      const ssize_t n = read(STDIN_FILENO, keys, sizeof keys);
      for (ssize_t k = 0; k < n && !quit_; ++k) {
        if (const int key = keys_.feed(keys[k]); key != key_decoder::key_none) on_key(key);
      }
    }
    player_.drain_wake();
    // While a seek renders, the line is drawn at its usual pace, not at every step.
    const bool draw_due = !busy || std::chrono::steady_clock::now() >= next_draw_;
    player_status s = player_.status(draw_due);
    // A song that followed on by itself is said first, even when it has
    // already ended too.
    if (!quit_ && s.index != announced_) announce(s.index);
    if (!quit_ && s.finished) {
      on_song_end(s);
      s = player_.status(draw_due);
    }
    if (!quit_ && draw_due) draw(s);
  }
  device_.close();
  keyboard_.leave();
  if (status_shown_) std::printf("\n");
  standard_stream_flush(stdout);
  return 0;
}

}  // namespace

int play_run(const tool_options &opt) {
  // Before the archive is read: a build that cannot play says so first.
  if (const std::string missing = sound_device_unavailable(); !missing.empty()) {
    std::fprintf(stderr, "%s\n", missing.c_str());
    return 1;
  }
  const play_setup setup{opt, isatty(STDIN_FILENO) == 1 && isatty(STDOUT_FILENO) == 1};
  std::vector<player_song> songs = load_playlist(setup);
  if (songs.empty()) return 1;
  player source(std::move(songs), setup.channels(), opt.volume);
  if (const tc_status status = source.play(0); status != TC_OK) {
    song_refusal(source.songs()[0].name.c_str(), status);
    return 1;
  }
  sound_device device;
  std::string error;
  if (!device.open(source, setup.channels(), error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  player_session session(setup, source, device);
  return session.run();
}
