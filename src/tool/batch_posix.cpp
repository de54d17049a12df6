// batch_posix.cpp: the archive is opened once; worker processes forked from
// the batch inherit it, so none opens it again or prints its loading line,
// and each reads the lump of the song it renders, when it renders it: an
// archive read on demand is never held whole, by the batch or a worker.
// A worker lives for many songs: the batch hands it one song at a time over
// a socket and reads back whether it was written, so the cost of a process
// is paid per worker, not per song. A worker's failure, even a crash, is
// its own song's: the others go on, a new worker takes its place, and only
// the exit status and the summary count it.
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "common/system_text.h"
#include "tool/archive.h"
#include "tool/batch.h"
#include "tool/messages.h"
#include "tool/output_path.h"
#include "tool/wav_out.h"

using tunecast::signal_text;
using tunecast::tr;

namespace {

struct worker {
  pid_t pid = -1;
  int channel = -1;                      // the batch's end of the worker's socket
  const archive_music *music = nullptr;  // the song it renders now; null: idle
};

struct batch_state {
  wad_file *wad = nullptr;
  std::string dir;
  int dir_fd = -1;  // DIR, opened once: the workers write relative to it
  render_length length;
  render_style style;
  file_identity input;  // the archive: no entry of the directory may be it
  output_format format = output_format::wav;
  std::string extension = ".wav";
  std::string album;  // every file's ALBUM tag
  std::vector<archive_music> music;
  size_t total = 0;
  size_t done = 0;
  size_t written = 0;
  bool progress = false;  // standard error is a terminal
  std::vector<worker> workers;

  void finish(const archive_music &m, bool ok) {
    ++done;
    if (ok) ++written;
    if (progress) {
      if (ok) {
        std::fprintf(stderr, "[%zu/%zu] %s%s\n", done, total, m.name.c_str(), extension.c_str());
      } else {
        std::fprintf(stderr, tr("[%zu/%zu] %s: falló\n"), done, total, m.name.c_str());
      }
    }
  }
  int start_worker();
  [[noreturn]] void work(int channel);
  bool hand_out(worker &k, size_t &next);
  void reap(worker &k);
  void wait_any();
};

// The worker's loop: a song's index in, one byte out (1 written, 0 not),
// until the batch closes its end.
void batch_state::work(int channel) {
  uint32_t index = 0;
  while (recv(channel, &index, sizeof index, 0) == static_cast<ssize_t>(sizeof index) &&
         index < music.size()) {
    const archive_music &m = music[index];
    const std::string path = dir + "/" + m.name + extension;
    const std::unique_ptr<uint8_t, decltype(&std::free)> data(wad_read_lump(wad, m.lump),
                                                              &std::free);
    unsigned char ok = 0;
    if (data == nullptr) {
      std::fprintf(stderr, tr("lump %s: no se puede leer\n"), m.name.c_str());
    } else {
      render_job job{m.name.c_str(), data.get(), m.lump->size, length, path.c_str(), -1,
                     true,           input,      format,       style,  dir_fd};
      job.title = m.name.c_str();
      job.album = album.c_str();
      ok = render_run(job) == 0 ? 1 : 0;
    }
    if (send(channel, &ok, 1, MSG_NOSIGNAL) != 1) break;
  }
  // _exit: nothing inherited from the batch is flushed or run twice.
  _exit(0);
}

// Forks a worker. Returns 0, or the errno value of what failed.
int batch_state::start_worker() {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return errno;
  // Buffered output would otherwise be written once more by the worker.
  std::fflush(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    // A worker ends with the batch: when the parent dies, the kernel sends
    // it a signal of the batch's own, whose handler removes the temporary
    // file. Not SIGTERM: the tool may have been started with it ignored,
    // and the worker inherits that. A parent that died before this call
    // sends nothing, hence the check after it.
    const int parent_died = SIGRTMIN;
    output_cleanup_on(parent_died);
    if (prctl(PR_SET_PDEATHSIG, parent_died) != 0 || getppid() != parent) _exit(1);
    // The other workers' channels stay with the batch alone, so that each
    // worker sees the end of its own when the batch closes it.
    for (const worker &k : workers) close(k.channel);
    close(ends[0]);
    work(ends[1]);
  }
  const int err = errno;
  close(ends[1]);
  if (pid < 0) {
    close(ends[0]);
    return err;
  }
  workers.push_back({pid, ends[0], nullptr});
  return 0;
}

// Gives k the next song to render, skipping the lumps without a name.
// False when none is left.
bool batch_state::hand_out(worker &k, size_t &next) {
  while (next < music.size() && music[next].name.empty()) {
    std::fputs(tr("lump sin nombre: no se escribe\n"), stderr);
    finish(music[next++], false);
  }
  if (next == music.size()) return false;
  const auto index = static_cast<uint32_t>(next);
  if (send(k.channel, &index, sizeof index, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof index)) {
    return false;  // the worker is gone: its end is seen on the next wait
  }
  k.music = &music[next++];
  return true;
}

// A worker's channel ended: it exited or died. Its song, if any, failed.
void batch_state::reap(worker &k) {
  close(k.channel);
  k.channel = -1;
  int status = 0;
  while (waitpid(k.pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (k.music == nullptr) return;
  if (WIFSIGNALED(status)) {
    std::fprintf(stderr, tr("lump %s: el proceso murió por %s\n"), k.music->name.c_str(),
                 signal_text(WTERMSIG(status)).c_str());
  }
  finish(*k.music, false);
  k.music = nullptr;
}

// Waits for a busy worker to answer or end, and records it.
void batch_state::wait_any() {
  std::vector<pollfd> fds;
  for (const worker &k : workers) fds.push_back({k.channel, POLLIN, 0});
  if (poll(fds.data(), fds.size(), -1) < 0) return;  // EINTR: the caller waits again
  for (size_t i = 0; i < fds.size(); ++i) {
    if (fds[i].revents == 0) continue;
    worker &k = workers[i];
    unsigned char ok = 0;
    if (recv(k.channel, &ok, 1, 0) == 1 && k.music != nullptr) {
      finish(*k.music, ok == 1);
      k.music = nullptr;
    } else {
      reap(k);
    }
  }
}

std::string without_trailing_slashes(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

// Another user who may add entries to DIR could plant links or pipes under
// the names the workers write. Entries are replaced, never followed, and a
// pipe is refused, but the directory is refused as well when it belongs to
// someone else (root excepted) or anyone may write to it without the sticky
// bit, which keeps others from replacing what the workers wrote.
int directory_refusal(const struct stat &st) {
  if (st.st_uid != geteuid() && st.st_uid != 0) return wav_err_foreign_dir;
  if ((st.st_mode & S_IWOTH) != 0 && (st.st_mode & S_ISVTX) == 0) return wav_err_open_dir;
  return 0;
}

// DIR, created when missing, opened once and judged as opened: the links
// on the way to it, DIR itself included, are followed only where another
// user cannot have planted them, and no worker looks its name up again.
// Returns 0 and sets fd, or the reason it was refused.
int open_directory(const std::string &dir, int &fd) {
  path_place place;
  if (const int err = path_walk(dir.c_str(), true, place); err != 0) return err;
  // Created never writable by all, whatever the umask; one made by someone
  // else meanwhile is judged below like any other.
  int err = 0;
  if (!place.exists && mkdirat(place.dir_fd, place.name.c_str(), 0775) != 0 && errno != EEXIST) {
    err = errno;
  }
  if (err == 0) {
    fd = openat(place.dir_fd, place.name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) err = errno;
  }
  close(place.dir_fd);
  struct stat st {};
  if (err == 0) err = fstat(fd, &st) == 0 ? directory_refusal(st) : errno;
  if (err != 0 && fd >= 0) {
    close(fd);
    fd = -1;
  }
  return err;
}

size_t worker_limit() {
  const long cores = sysconf(_SC_NPROCESSORS_ONLN);
  return cores < 1 ? 1 : static_cast<size_t>(cores);
}

}  // namespace

int batch_run(wad_file *w, const char *dir_arg, const render_length &length,
              const render_style &style, const file_identity &input, output_format format,
              const std::string &album) {
  if (length.loops == 0 && !render_seconds_valid(length.seconds, style.channels())) return 1;
  batch_state b;
  b.wad = w;
  b.dir = without_trailing_slashes(dir_arg);
  if (const int err = open_directory(b.dir, b.dir_fd); err != 0) {
    std::fprintf(stderr, tr("no se puede escribir en %s: %s\n"), b.dir.c_str(),
                 wav_error_text(err).c_str());
    return 1;
  }
  b.length = length;
  b.style = style;
  b.input = input;
  b.format = format;
  b.album = album;
  b.extension = std::string(".") + output_format_name(format);
  b.progress = !style.quiet && isatty(STDERR_FILENO) != 0;
  // An ignored SIGCHLD, inherited, would reap the workers before waitpid.
  std::signal(SIGCHLD, SIG_DFL);
  b.music = archive_music_lumps(w, true);
  b.total = b.music.size();
  const size_t limit = worker_limit();
  size_t next = 0;
  int refused = 0;  // why the last worker could not be started
  for (;;) {
    // Every idle worker gets a song; one that is gone, or has none left to
    // take, is let go.
    for (worker &k : b.workers) {
      if (k.channel >= 0 && k.music == nullptr && !b.hand_out(k, next)) b.reap(k);
    }
    std::erase_if(b.workers, [](const worker &k) { return k.channel < 0; });
    // More workers while songs wait, up to one per core.
    while (b.workers.size() < limit && next < b.music.size()) {
      refused = b.start_worker();
      if (refused != 0 || !b.hand_out(b.workers.back(), next)) break;
    }
    if (b.workers.empty()) break;
    b.wait_any();
  }
  // Songs no worker could take: out of processes with none running.
  for (; next < b.music.size(); ++next) {
    std::fprintf(stderr, tr("lump %s: no se puede lanzar el proceso: %s\n"),
                 b.music[next].name.c_str(), wav_error_text(refused).c_str());
    b.finish(b.music[next], false);
  }
  close(b.dir_fd);
  if (!style.quiet) {
    std::printf(b.total == 1 ? tr("%zu de %zu pista escrita en %s\n")
                             : tr("%zu de %zu pistas escritas en %s\n"),
                b.written, b.total, b.dir.c_str());
  }
  return b.written == b.total ? 0 : 1;
}
