// batch_posix.cpp: the archive is loaded once; each music lump is then
// rendered by a forked worker that inherits it, so no worker loads it again
// or prints its loading line. A worker's failure is its own: the others go
// on, and only the exit status and the summary count it.
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "common/system_text.h"
#include "tool/archive.h"
#include "tool/batch.h"
#include "tool/output_path.h"
#include "tool/wav_out.h"

using tunecast::signal_text;

namespace {

struct worker {
  pid_t pid;
  const archive_music *music;
};

struct batch_state {
  std::string dir;
  int dir_fd = -1;  // DIR, opened once: the workers write relative to it
  render_length length;
  render_style style;
  file_identity input;  // the archive: no entry of the directory may be it
  output_format format = output_format::wav;
  std::string extension = ".wav";
  size_t total = 0;
  size_t done = 0;
  size_t written = 0;
  bool progress = false;  // standard error is a terminal
  std::vector<worker> running;

  void finish(const archive_music &m, bool ok) {
    ++done;
    if (ok) ++written;
    if (progress) {
      std::fprintf(stderr, "[%zu/%zu] %s%s\n", done, total, m.name.c_str(),
                   ok ? extension.c_str() : ": falló");
    }
  }
  bool reap_one();
  int start(const archive_music &m);
};

// Waits for any worker to end and records how it ended. False when there
// was none to wait for.
bool batch_state::reap_one() {
  int status = 0;
  pid_t pid;
  do {
    pid = waitpid(-1, &status, 0);
  } while (pid < 0 && errno == EINTR);
  if (pid < 0) {
    // No worker left to wait for, whatever the list says: none can succeed.
    for (const worker &k : running) finish(*k.music, false);
    running.clear();
    return false;
  }
  for (auto it = running.begin(); it != running.end(); ++it) {
    if (it->pid != pid) continue;
    const archive_music &m = *it->music;
    running.erase(it);
    if (WIFSIGNALED(status)) {
      std::fprintf(stderr, "lump %s: el proceso murió por %s\n", m.name.c_str(),
                   signal_text(WTERMSIG(status)).c_str());
    }
    finish(m, WIFEXITED(status) && WEXITSTATUS(status) == 0);
    break;
  }
  return true;
}

// Starts a worker for m. Returns 0, or the errno value of a failed fork.
int batch_state::start(const archive_music &m) {
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
    const std::string path = dir + "/" + m.name + extension;
    const render_job job{m.name.c_str(), m.lump->data, m.lump->size, length, path.c_str(), -1,
                         true,           input,        format,       style,  dir_fd};
    // _exit: nothing inherited from the parent is flushed or run twice.
    _exit(render_run(job));
  }
  if (pid < 0) return errno;
  running.push_back({pid, &m});
  return 0;
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

int batch_run(const wad_file *w, const char *dir_arg, const render_length &length,
              const render_style &style, const file_identity &input, output_format format) {
  if (length.loops == 0 && !render_seconds_valid(length.seconds, style.channels())) return 1;
  batch_state b;
  b.dir = without_trailing_slashes(dir_arg);
  if (const int err = open_directory(b.dir, b.dir_fd); err != 0) {
    std::fprintf(stderr, "no se puede escribir en %s: %s\n", b.dir.c_str(),
                 wav_error_text(err).c_str());
    return 1;
  }
  b.length = length;
  b.style = style;
  b.input = input;
  b.format = format;
  b.extension = std::string(".") + output_format_name(format);
  b.progress = !style.quiet && isatty(STDERR_FILENO) != 0;
  // An ignored SIGCHLD, inherited, would reap the workers before waitpid.
  std::signal(SIGCHLD, SIG_DFL);
  const std::vector<archive_music> music = archive_music_lumps(w, true);
  b.total = music.size();
  const size_t limit = worker_limit();
  for (const archive_music &m : music) {
    if (m.name.empty()) {
      std::fputs("lump sin nombre: no se escribe\n", stderr);
      b.finish(m, false);
      continue;
    }
    while (b.running.size() >= limit && b.reap_one()) {
    }
    int err = b.start(m);
    // Out of processes: wait for a worker to end and try once more.
    if (err != 0 && !b.running.empty() && b.reap_one()) err = b.start(m);
    if (err != 0) {
      std::fprintf(stderr, "lump %s: no se puede lanzar el proceso: %s\n", m.name.c_str(),
                   wav_error_text(err).c_str());
      b.finish(m, false);
    }
  }
  while (!b.running.empty() && b.reap_one()) {
  }
  close(b.dir_fd);
  if (!style.quiet) {
    std::printf("%zu de %zu %s en %s\n", b.written, b.total,
                b.total == 1 ? "pista escrita" : "pistas escritas", b.dir.c_str());
  }
  return b.written == b.total ? 0 : 1;
}
