// output_file_posix.cpp: where the bytes of an output go on a POSIX
// system. A regular target is only ever replaced by a complete file: the
// bytes go to a temporary file in the same directory, which is renamed over
// the target at the end and removed on every other path, signals included.
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "tool/fatal_signals.h"
#include "tool/output_path.h"
#include "tool/wav_out.h"

namespace {

constexpr int temporary_attempts = 100;  // names tried before giving up, as mkstemp does

// write() may take less than it is given (a signal, a pipe); go on from
// where it stopped.
int write_all(int fd, const void *data, size_t size) {
  const auto *p = static_cast<const uint8_t *>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

// The temporary file being written, for the signal handler: its directory
// and its name there. Set and cleared with every signal blocked, so the
// handler never sees a name that does not exist yet or already names the
// finished file.
std::atomic<int> pending_dir{-1};
std::atomic<const char *> pending_temp{nullptr};
static_assert(std::atomic<const char *>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

// Async-signal-safe only: unlinkat, then the default action, which the
// raised signal meets once the handler returns (it is blocked until then).
extern "C" void remove_temp_and_end(int sig) {
  const int saved = errno;
  if (const char *temp = pending_temp.load()) unlinkat(pending_dir.load(), temp, 0);
  signal(sig, SIG_DFL);
  raise(sig);
  errno = saved;
}

void catch_with_cleanup(int sig) {
  struct sigaction act {};
  act.sa_handler = remove_temp_and_end;
  sigemptyset(&act.sa_mask);
  sigaction(sig, &act, nullptr);
}

// Once per process, before its first output. A signal the process was
// started with ignored (nohup) stays ignored, and one a sanitizer or a
// debugger already handles is left to it. A file-size limit is a failure
// with a reason (EFBIG from write), not a silent end.
void install_cleanup_handlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (const int sig : fatal_signals) {
    struct sigaction old {};
    if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;
    catch_with_cleanup(sig);
  }
  signal(SIGXFSZ, SIG_IGN);
}

// Holds every signal back for a scope: creating the temporary file and
// registering it, or renaming it and forgetting it, happen as one step.
class signals_held {
 public:
  signals_held() {
    sigset_t set;
    sigfillset(&set);
    sigprocmask(SIG_BLOCK, &set, &saved_);
  }
  ~signals_held() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  signals_held(const signals_held &) = delete;
  signals_held &operator=(const signals_held &) = delete;

 private:
  sigset_t saved_;
};

mode_t current_umask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

// A name no one can guess, as mkstemp makes them: ".tunecast-" and six
// characters from the kernel's random source.
int temporary_name(std::string &name) {
  static constexpr char symbols[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  uint8_t noise[6];
  // Never short: the kernel fills requests of up to 256 bytes whole.
  if (getrandom(noise, sizeof noise, 0) < 0) return errno;
  name = ".tunecast-";
  for (const uint8_t b : noise) name += symbols[b % (sizeof symbols - 1)];
  return 0;
}

bool same_file(const struct stat &st, const file_identity &id) {
  return id.known && st.st_dev == id.dev && st.st_ino == id.ino;
}

}  // namespace

file_identity file_identity_of(const char *path) {
  file_identity id;
  struct stat st {};
  if (path != nullptr && stat(path, &st) == 0) {
    id.dev = st.st_dev;
    id.ino = st.st_ino;
    id.known = true;
  }
  return id;
}

output_file::~output_file() { abandon(); }

int output_file::open(const wav_target &target) {
  install_cleanup_handlers();
  const int err = target.fd >= 0 ? open_descriptor(target) : open_path(target);
  if (err != 0) abandon();
  return err;
}

int output_file::write(const void *data, size_t size) { return write_all(fd_, data, size); }

// A descriptor the process was handed (standard output, /dev/fd/N): written
// where it stands, once it is known to be open for writing.
int output_file::open_descriptor(const wav_target &target) {
  const int flags = fcntl(target.fd, F_GETFL);
  if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) return EBADF;
  struct stat st {};
  if (fstat(target.fd, &st) == 0 && S_ISREG(st.st_mode) && same_file(st, target.input)) {
    return wav_err_same_as_input;
  }
  fd_ = target.fd;
  own_fd_ = false;
  return 0;
}

int output_file::open_path(const wav_target &target) {
  path_place place;
  if (target.entry_only && target.entry_dir >= 0) {
    const char *slash = std::strrchr(target.path, '/');
    place.name = slash != nullptr ? slash + 1 : target.path;
    place.dir_fd = fcntl(target.entry_dir, F_DUPFD_CLOEXEC, 0);
    if (place.dir_fd < 0) return errno;
    if (fstatat(place.dir_fd, place.name.c_str(), &place.st, AT_SYMLINK_NOFOLLOW) == 0) {
      place.exists = true;
    } else if (errno != ENOENT) {
      close(place.dir_fd);
      return errno;
    }
  } else if (const int err = path_walk(target.path, !target.entry_only, place); err != 0) {
    return err;
  }
  dir_fd_ = place.dir_fd;
  name_ = place.name;
  const struct stat &st = place.st;
  // A link still there is an entry of the batch directory, which is never
  // followed: it counts as absent, since the rename replaces the link itself.
  if (!place.exists || S_ISLNK(st.st_mode)) return open_temporary(nullptr);
  if (S_ISDIR(st.st_mode)) return EISDIR;
  if (!S_ISREG(st.st_mode)) {
    // A pipe or a device the user named gets the bytes directly; one found
    // in the batch directory may be a trap (a pipe nobody reads hangs).
    if (target.entry_only) return wav_err_not_regular;
    fd_ = openat(dir_fd_, name_.c_str(), O_WRONLY | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ < 0) return errno;
    own_fd_ = true;
    return 0;
  }
  if (same_file(st, target.input)) return wav_err_same_as_input;
  // Renaming would replace a file the user may not write; refuse it as
  // opening it for writing would.
  if (faccessat(dir_fd_, name_.c_str(), W_OK, 0) != 0) return errno;
  return open_temporary(&st);
}

// O_EXCL under a name no one can guess: a link planted there is never
// followed, and the rename is atomic within the directory.
int output_file::open_temporary(const struct stat *replaced) {
  for (int attempt = 0; fd_ < 0; ++attempt) {
    std::string temp;
    if (const int err = temporary_name(temp); err != 0) return err;
    const signals_held held;
    fd_ = openat(dir_fd_, temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) {
      if (errno != EEXIST || attempt + 1 == temporary_attempts) return errno;
      continue;
    }
    temp_ = std::move(temp);
    pending_dir.store(dir_fd_);
    pending_temp.store(temp_.c_str());
  }
  own_fd_ = true;
  if (replaced == nullptr) {
    if (fchmod(fd_, 0666 & ~current_umask()) != 0) return errno;
    return 0;
  }
  // The owner before the mode: a change of owner may clear mode bits. Only
  // root may give a file away; anyone else keeps their own, silently.
  if (fchown(fd_, replaced->st_uid, replaced->st_gid) != 0) {
    // Not an error: the new file is the user's, with the old permission bits.
  }
  if (fchmod(fd_, replaced->st_mode & 0777) != 0) return errno;
  return 0;
}

int output_file::finish() {
  if (!own_fd_) return 0;  // a stream: nothing to close or rename
  int err = 0;
  if (!temp_.empty() && fsync(fd_) != 0) err = errno;
  if (close(fd_) != 0 && err == 0) err = errno;
  fd_ = -1;
  if (err == 0 && !temp_.empty()) {
    const signals_held held;
    if (renameat(dir_fd_, temp_.c_str(), dir_fd_, name_.c_str()) != 0) {
      err = errno;
    } else {
      pending_temp.store(nullptr);
      temp_.clear();
    }
  }
  abandon();
  return err;
}

void output_file::abandon() {
  if (fd_ >= 0 && own_fd_) close(fd_);
  fd_ = -1;
  if (dir_fd_ < 0) return;
  {
    const signals_held held;
    if (!temp_.empty()) unlinkat(dir_fd_, temp_.c_str(), 0);
    pending_temp.store(nullptr);
    pending_dir.store(-1);
    temp_.clear();
  }
  close(dir_fd_);
  dir_fd_ = -1;
}

void output_cleanup_on(int sig) {
  catch_with_cleanup(sig);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
}
