// output_path.cpp: the walk of an output's path, one component at a time
// from an open directory, and the names that stand for an open descriptor.
#include "tool/output_path.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string_view>
#include <vector>

#include "tool/wav_out.h"

namespace {

constexpr int max_link_hops = 40;  // as many as the kernel follows in one lookup
// A directory on the way: looked up, never read, and never reached through a
// link (a link found there has been judged and resolved already).
constexpr int walk_flags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The kernel's rule for protected symlinks: in a sticky directory anyone
// may write to (/tmp), a link is followed only when it belongs to whoever
// follows it or to the directory's owner. Anyone else may have planted it
// there to make the tool write over a file of their choosing.
bool link_may_be_followed(const struct stat &link, const struct stat &dir) {
  const bool shared = (dir.st_mode & S_ISVTX) != 0 && (dir.st_mode & S_IWOTH) != 0;
  return !shared || link.st_uid == geteuid() || link.st_uid == dir.st_uid;
}

// The directory the walk stands in; closed when the walk moves on or fails.
class walk_dir {
 public:
  walk_dir() = default;
  walk_dir(const walk_dir &) = delete;
  walk_dir &operator=(const walk_dir &) = delete;
  ~walk_dir() { reset(-1); }
  int fd() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Moves to `to`, relative to where the walk stands. Returns 0 or errno.
  int move(const char *to) {
    const int fd = openat(fd_, to, walk_flags);
    if (fd < 0) return errno;
    reset(fd);
    return 0;
  }
  int move_to_root() {
    const int fd = open("/", walk_flags);
    if (fd < 0) return errno;
    reset(fd);
    return 0;
  }

 private:
  int fd_ = -1;
};

// Adds the components of text to the stack of those still to walk, the first
// on top. "a//b/" gives a, "", b, "": the empty ones are steps that go nowhere.
void push_components(std::string_view text, std::vector<std::string> &pending) {
  std::vector<std::string> pieces;
  size_t from = 0;
  for (size_t slash; (slash = text.find('/', from)) != std::string_view::npos; from = slash + 1) {
    pieces.emplace_back(text.substr(from, slash - from));
  }
  pieces.emplace_back(text.substr(from));
  pending.insert(pending.end(), pieces.rbegin(), pieces.rend());
}

bool all_digits(std::string_view text) {
  if (text.empty() || (text.size() > 1 && text[0] == '0')) return false;  // as /proc reads them
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

int path_walk(const char *path, bool follow_last, path_place &out) {
  if (path == nullptr || *path == '\0') return ENOENT;
  walk_dir at;
  at.reset(open(*path == '/' ? "/" : ".", walk_flags));
  if (at.fd() < 0) return errno;
  std::vector<std::string> pending;
  push_components(path, pending);
  int hops = 0;
  bool last_from_link = false;  // the last component came from a followed link
  while (!pending.empty()) {
    std::string piece = std::move(pending.back());
    pending.pop_back();
    const bool last = pending.empty();
    if (piece.empty() || piece == "." || piece == "..") {
      if (piece == "..") {
        if (const int err = at.move(".."); err != 0) return err;
      }
      if (!last) continue;
      // The path ends in a directory: its place is "." in it.
      piece.clear();
      piece.push_back('.');
    }
    struct stat st {};
    if (fstatat(at.fd(), piece.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT || !last || last_from_link) return errno;
      out = {at.release(), piece, {}, false};
      return 0;
    }
    if (S_ISLNK(st.st_mode) && (!last || follow_last)) {
      if (++hops > max_link_hops) return ELOOP;
      struct stat dir_st {};
      if (fstat(at.fd(), &dir_st) != 0) return errno;
      if (!link_may_be_followed(st, dir_st)) return wav_err_foreign_link;
      std::string to(PATH_MAX, '\0');
      const ssize_t n = readlinkat(at.fd(), piece.c_str(), to.data(), to.size());
      if (n < 0) return errno;
      if (n == 0) return ENOENT;
      if (static_cast<size_t>(n) == to.size()) return ENAMETOOLONG;
      to.resize(static_cast<size_t>(n));
      if (to[0] == '/') {
        if (const int err = at.move_to_root(); err != 0) return err;
      }
      push_components(to, pending);
      last_from_link = last_from_link || last;
      continue;
    }
    if (last) {
      out = {at.release(), piece, st, true};
      return 0;
    }
    if (!S_ISDIR(st.st_mode)) return ENOTDIR;
    // O_NOFOLLOW: a link put in its place since fstatat is refused, not followed.
    if (const int err = at.move(piece.c_str()); err != 0) return err;
  }
  return ENOENT;  // not reached: the last component always returns above
}

int path_named_descriptor(const char *path) {
  const std::string_view p = path;
  if (p == "/dev/stdin") return 0;
  if (p == "/dev/stdout") return 1;
  if (p == "/dev/stderr") return 2;
  const std::string own = "/proc/" + std::to_string(getpid()) + "/fd/";
  for (const std::string_view prefix :
       {std::string_view("/dev/fd/"), std::string_view("/proc/self/fd/"),
        std::string_view("/proc/thread-self/fd/"), std::string_view(own)}) {
    if (!p.starts_with(prefix)) continue;
    const std::string_view number = p.substr(prefix.size());
    int fd = -1;
    if (!all_digits(number) ||
        std::from_chars(number.data(), number.data() + number.size(), fd).ec != std::errc()) {
      return -1;
    }
    return fd;
  }
  return -1;
}
