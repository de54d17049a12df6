// wav_out.cpp: encodes the WAV header and writes the file as it is
// rendered. A regular target is only ever replaced by a complete file: the
// bytes go to a temporary file in the same directory, which is renamed over
// the target at the end and removed on every other path, signals included.
#include "tool/wav_out.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <bit>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <vector>

#include "common/system_text.h"

namespace {

constexpr int max_link_hops = 40;  // as many as the kernel follows in one lookup
// The signals that end the tool while it writes (an interrupt, a kill, a
// closed terminal, a batch parent's end): each first removes the temporary file.
constexpr int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP};

class header_writer {
 public:
  explicit header_writer(std::array<uint8_t, wav_header_bytes> &out) : out_(out) {}
  void tag(const char (&text)[5]) {
    for (int i = 0; i < 4; ++i) out_[at_++] = static_cast<uint8_t>(text[i]);
  }
  void u16(uint32_t v) {
    out_[at_++] = static_cast<uint8_t>(v);
    out_[at_++] = static_cast<uint8_t>(v >> 8);
  }
  void u32(uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  }

 private:
  std::array<uint8_t, wav_header_bytes> &out_;
  size_t at_ = 0;
};

void to_little_endian([[maybe_unused]] int16_t *samples, [[maybe_unused]] size_t count) {
  if constexpr (std::endian::native == std::endian::big) {
    for (size_t i = 0; i < count; ++i) {
      const auto u = static_cast<uint16_t>(samples[i]);
      samples[i] = static_cast<int16_t>(static_cast<uint16_t>(u << 8 | u >> 8));
    }
  }
}

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

// The temporary file being written, for the signal handler. Set and cleared
// with those signals blocked, so the handler never sees a name that does not
// exist yet or already names the finished file.
std::atomic<const char *> pending_temp{nullptr};
static_assert(std::atomic<const char *>::is_always_lock_free);

// Async-signal-safe only: unlink, then the default action, which the raised
// signal meets once the handler returns (it is blocked until then).
extern "C" void remove_temp_and_end(int sig) {
  const int saved = errno;
  if (const char *temp = pending_temp.load()) unlink(temp);
  signal(sig, SIG_DFL);
  raise(sig);
  errno = saved;
}

// Once per process, before its first temporary file. A signal the process
// was started with ignored (nohup) stays ignored.
void install_cleanup_handlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (const int sig : cleanup_signals) {
    struct sigaction old {};
    if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;
    struct sigaction act {};
    act.sa_handler = remove_temp_and_end;
    sigemptyset(&act.sa_mask);
    sigaction(sig, &act, nullptr);
  }
}

// Holds the cleanup signals back for a scope: creating the temporary file
// and registering it, or renaming it and forgetting it, happen as one step.
class signals_held {
 public:
  signals_held() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : cleanup_signals) sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, &saved_);
  }
  ~signals_held() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  signals_held(const signals_held &) = delete;
  signals_held &operator=(const signals_held &) = delete;

 private:
  sigset_t saved_;
};

std::string directory_of(const std::string &path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

mode_t current_umask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

// The kernel's rule for protected symlinks: in a sticky directory anyone
// may write to (/tmp), a link is followed only when it belongs to whoever
// follows it or to the directory's owner. Anyone else may have planted it
// there to make the tool write over a file of their choosing.
bool link_may_be_followed(const struct stat &link, const struct stat &dir) {
  const bool shared = (dir.st_mode & S_ISVTX) != 0 && (dir.st_mode & S_IWOTH) != 0;
  return !shared || link.st_uid == geteuid() || link.st_uid == dir.st_uid;
}

// A path the user named: its links are followed one at a time, each only
// where the rule above allows, so that a chain cannot pass through a
// planted one. On return path names no link; st is its lstat when exists.
int follow_links(std::string &path, struct stat &st, bool &exists) {
  std::vector<char> text(PATH_MAX);
  for (int hops = 0;; ++hops) {
    if (lstat(path.c_str(), &st) != 0) {
      if (errno != ENOENT) return errno;
      exists = false;
      // A link to nothing: refused rather than creating a file it points at.
      return hops == 0 ? 0 : ENOENT;
    }
    exists = true;
    if (!S_ISLNK(st.st_mode)) return 0;
    if (hops == max_link_hops) return ELOOP;
    const std::string dir = directory_of(path);
    struct stat dir_st {};
    if (stat(dir.c_str(), &dir_st) != 0) return errno;
    if (!link_may_be_followed(st, dir_st)) return wav_err_foreign_link;
    const ssize_t n = readlink(path.c_str(), text.data(), text.size());
    if (n < 0) return errno;
    if (static_cast<size_t>(n) == text.size()) return ENAMETOOLONG;
    const std::string to(text.data(), static_cast<size_t>(n));
    path = !to.empty() && to[0] == '/' ? to : dir + "/" + to;
  }
}

// An entry of the --todas directory: looked at, never followed. A link
// there counts as absent, since the rename replaces the link itself.
int look_at_entry(const std::string &path, struct stat &st, bool &exists) {
  if (lstat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) return errno;
    exists = false;
    return 0;
  }
  exists = !S_ISLNK(st.st_mode);
  return 0;
}

}  // namespace

std::array<uint8_t, wav_header_bytes> wav_header(uint32_t frames, int channels) {
  const auto block = static_cast<uint16_t>(2 * channels);  // bytes per frame
  const uint32_t data_size = block * frames;  // 32-bit unsigned, like the field
  std::array<uint8_t, wav_header_bytes> out{};
  header_writer w(out);
  w.tag("RIFF");
  w.u32(data_size + 36);
  w.tag("WAVE");
  w.tag("fmt ");
  w.u32(16);               // fmt chunk size
  w.u16(1);                // integer PCM
  w.u16(static_cast<uint16_t>(channels));
  w.u32(wav_rate_hz);          // frames per second
  w.u32(wav_rate_hz * block);  // bytes per second
  w.u16(block);
  w.u16(16);               // bits per sample
  w.tag("data");
  w.u32(data_size);
  return out;
}

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
  if (target.fd >= 0) {
    fd_ = target.fd;
    own_fd_ = false;
  } else if (const int err = open_path(target); err != 0) {
    abandon();
    return err;
  }
  return 0;
}

int output_file::write(const void *data, size_t size) { return write_all(fd_, data, size); }

int output_file::open_path(const wav_target &target) {
  std::string path = target.path;
  struct stat st {};
  bool exists = false;
  const int err =
      target.entry_only ? look_at_entry(path, st, exists) : follow_links(path, st, exists);
  if (err != 0) return err;
  if (!exists) return open_temporary(path, nullptr);
  if (S_ISDIR(st.st_mode)) return EISDIR;
  if (!S_ISREG(st.st_mode)) {
    // A pipe or a device the user named gets the bytes directly; one found
    // in the batch directory may be a trap (a pipe nobody reads hangs).
    if (target.entry_only) return wav_err_not_regular;
    fd_ = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ < 0) return errno;
    own_fd_ = true;
    return 0;
  }
  if (target.input.known && st.st_dev == target.input.dev && st.st_ino == target.input.ino) {
    return wav_err_same_as_input;
  }
  // Renaming would replace a file the user may not write; refuse it as
  // opening it for writing would.
  if (access(path.c_str(), W_OK) != 0) return errno;
  return open_temporary(path, &st);
}

// mkostemp creates with O_EXCL, so a link planted under the temporary name
// is never followed; the rename is atomic within the directory.
int output_file::open_temporary(const std::string &final_path, const struct stat *replaced) {
  std::string temp = directory_of(final_path) + "/.tunecast-XXXXXX";
  install_cleanup_handlers();
  {
    const signals_held held;
    fd_ = mkostemp(temp.data(), O_CLOEXEC);
    if (fd_ < 0) return errno;
    temp_ = std::move(temp);
    pending_temp.store(temp_.c_str());
  }
  own_fd_ = true;
  target_ = final_path;
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

int wav_writer::open(const wav_target &target, int64_t frames, int channels) {
  if (frames < 0 || frames > wav_max_frames_for(channels)) return EFBIG;
  if (const int err = file_.open(target); err != 0) return err;
  const auto header = wav_header(static_cast<uint32_t>(frames), channels);
  return file_.write(header.data(), header.size());
}

int wav_writer::write(int16_t *samples, size_t count) {
  to_little_endian(samples, count);
  return file_.write(samples, count * sizeof(int16_t));
}

int output_file::finish() {
  if (!own_fd_) return 0;  // a stream: nothing to close or rename
  int err = 0;
  if (!temp_.empty() && fsync(fd_) != 0) err = errno;
  if (close(fd_) != 0 && err == 0) err = errno;
  fd_ = -1;
  if (err == 0 && !temp_.empty()) {
    const signals_held held;
    if (rename(temp_.c_str(), target_.c_str()) != 0) {
      err = errno;
    } else {
      pending_temp.store(nullptr);
      temp_.clear();
    }
  }
  if (err != 0) abandon();
  return err;
}

void output_file::abandon() {
  if (fd_ >= 0 && own_fd_) close(fd_);
  fd_ = -1;
  if (temp_.empty()) return;
  const signals_held held;
  unlink(temp_.c_str());
  pending_temp.store(nullptr);
  temp_.clear();
}

std::string wav_error_text(int err) {
  struct reason {
    int err;
    const char *text;
  };
  static constexpr reason reasons[] = {
      {wav_err_same_as_input, "es el archivo de entrada"},
      {wav_err_foreign_link,
       "es un enlace simbólico de otro usuario en un directorio compartido: no se sigue"},
      {wav_err_not_regular, "no es un archivo regular"},
      {wav_err_foreign_dir, "pertenece a otro usuario"},
      {wav_err_open_dir, "cualquiera puede escribir en él y no tiene el bit sticky"},
      {wav_err_encoder, "falló el codificador (libsndfile)"},
  };
  for (const reason &r : reasons) {
    if (r.err == err) return r.text;
  }
  return system_error_text(err);
}
