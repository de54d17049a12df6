// unzip.cpp: `unzip -p` as a well-behaved child. It is handed a copy of the
// one member in an anonymous memory file, never the user's archive nor a
// name to match, and its output comes through a pipe, so nothing is written
// to disk and no name in a shared directory can be planted or swapped; the
// member's declared size bounds the memory, a look at the first bytes ends
// what cannot be a WAD, and a deadline bounds the time. It runs without a
// shell, reads /dev/null (an encrypted member cannot wait on a hidden
// password prompt) and lives in its own process group, killed when this
// process dies.
#include "wad/unzip.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "common/byte_order.h"
#include "wad/read_at.h"

namespace tunecast {

namespace {

constexpr int exit_not_started = 127;  // what a shell reports for a missing command
constexpr long reap_poll_ns = 5'000'000;

double now_s() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The one-member archive handed to unzip: the member is renamed "m", a
// plain ASCII name unzip has nothing to convert, and keeps its data as is.
constexpr uint32_t local_header_sig = 0x04034B50;
constexpr uint32_t central_header_sig = 0x02014B50;
constexpr uint32_t end_record_sig = 0x06054B50;
constexpr uint16_t version_needed = 20;
constexpr uint16_t made_by_unix = 3 << 8 | version_needed;  // no code page to convert from
constexpr uint16_t date_1980_01_01 = 1 << 5 | 1;
constexpr char inner_name[] = "m";
constexpr int64_t inner_data_ofs = 30 + sizeof inner_name - 1;
constexpr size_t copy_chunk_bytes = size_t{1} << 16;
// Where the child finds the archive: fixed, so its path is made before fork.
constexpr int archive_child_fd = 3;
constexpr char archive_child_path[] = "/proc/self/fd/3";
constexpr int first_free_fd = 10;  // above every descriptor the child sets up

// The fields a local header and a central directory entry share, from the
// version needed to the name's length.
void put_common_fields(std::vector<uint8_t> &out, const unzip_source &m) {
  put_u16le(out, version_needed);
  put_u16le(out, m.flags);
  put_u16le(out, m.method);
  put_u16le(out, 0);  // time
  put_u16le(out, date_1980_01_01);
  put_u32le(out, m.crc);
  put_u32le(out, static_cast<uint32_t>(m.comp_size));
  put_u32le(out, static_cast<uint32_t>(m.uncomp_size));
  put_u16le(out, sizeof inner_name - 1);
}

bool write_all(int fd, const uint8_t *p, size_t n) {
  while (n > 0) {
    const ssize_t put = write(fd, p, n);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    p += put;
    n -= static_cast<size_t>(put);
  }
  return true;
}

bool copy_data(const unzip_source &m, std::vector<uint8_t> &chunk, int to) {
  for (uint64_t done = 0; done < m.comp_size;) {
    const auto n = static_cast<size_t>(std::min<uint64_t>(chunk.size(), m.comp_size - done));
    errno = 0;
    if (!wad_read_at(m.fd, m.data_ofs + static_cast<int64_t>(done), chunk.data(), n)) {
      if (errno == 0) errno = EIO;  // the archive ended early: it shrank meanwhile
      return false;
    }
    if (!write_all(to, chunk.data(), n)) return false;
    done += n;
  }
  return true;
}

// An anonymous memory file holding a ZIP archive of the member alone, or -1
// with errno set. Its sizes must fit the plain 32-bit fields.
int single_member_archive(const unzip_source &m) {
  if (m.comp_size >= UINT32_MAX || m.uncomp_size >= UINT32_MAX) {
    errno = EFBIG;
    return -1;
  }
  std::vector<uint8_t> head;
  put_u32le(head, local_header_sig);
  put_common_fields(head, m);
  put_u16le(head, 0);  // extra field length
  head.insert(head.end(), inner_name, inner_name + sizeof inner_name - 1);
  std::vector<uint8_t> tail;
  put_u32le(tail, central_header_sig);
  put_u16le(tail, made_by_unix);
  put_common_fields(tail, m);
  for (int field = 0; field < 4; ++field) put_u16le(tail, 0);  // extra, comment, disk, internal
  put_u32le(tail, 0);                                          // external attributes
  put_u32le(tail, 0);                                          // the local header's offset
  tail.insert(tail.end(), inner_name, inner_name + sizeof inner_name - 1);
  const auto central_bytes = static_cast<uint32_t>(tail.size());
  put_u32le(tail, end_record_sig);
  put_u32le(tail, 0);  // this disk, the directory's disk
  put_u16le(tail, 1);
  put_u16le(tail, 1);
  put_u32le(tail, central_bytes);
  put_u32le(tail, static_cast<uint32_t>(inner_data_ofs + static_cast<int64_t>(m.comp_size)));
  put_u16le(tail, 0);  // comment length
  // Everything allocated first: nothing after this can throw and leak fd.
  std::vector<uint8_t> chunk(copy_chunk_bytes);
  const int fd = memfd_create("tunecast-zip-member", MFD_CLOEXEC);
  if (fd < 0) return -1;
  if (write_all(fd, head.data(), head.size()) && copy_data(m, chunk, fd) &&
      write_all(fd, tail.data(), tail.size())) {
    return fd;
  }
  const int err = errno;
  close(fd);
  errno = err;
  return -1;
}

// The program execvp would run for name, found the same way (PATH, or the
// system's default directories when PATH is unset; an empty entry is the
// current directory). Empty when there is none: then nothing is forked.
std::string find_on_path(const char *name) {
  const char *path = std::getenv("PATH");
  const std::string dirs = path != nullptr ? path : "/bin:/usr/bin";
  size_t start = 0;
  for (;;) {
    const size_t end = dirs.find(':', start);
    const std::string dir =
        dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    if (end == std::string::npos) return {};
    start = end + 1;
  }
}

// In the child, between fork and exec: only async-signal-safe calls.
[[noreturn]] void exec_unzip(const char *program, char *const argv[], int out_fd, int archive_fd,
                             pid_t parent) {
  setpgid(0, 0);
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(exit_not_started);  // the parent is already gone
  // Both moved clear of the numbers set up below first: a parent with a
  // closed standard stream hands out 0 to 2, and a dup2 must not close them.
  const int out_high = fcntl(out_fd, F_DUPFD_CLOEXEC, first_free_fd);
  const int archive_high = fcntl(archive_fd, F_DUPFD_CLOEXEC, first_free_fd);
  const int null_fd = open("/dev/null", O_RDWR);
  // dup2 to another number clears close-on-exec: the archive survives exec.
  if (out_high < 0 || archive_high < 0 || null_fd < 0 || dup2(null_fd, STDIN_FILENO) < 0 ||
      dup2(null_fd, STDERR_FILENO) < 0 || dup2(out_high, STDOUT_FILENO) < 0 ||
      dup2(archive_high, archive_child_fd) < 0) {
    _exit(exit_not_started);
  }
  // Inherited dispositions survive exec: unzip must die of a closed pipe.
  signal(SIGPIPE, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  execv(program, argv);
  _exit(exit_not_started);
}

// Waits for the child until deadline; false when it is still running then.
bool reap_by(pid_t pid, double deadline, int &status) {
  for (;;) {
    const pid_t got = waitpid(pid, &status, WNOHANG);
    if (got == pid) return true;
    if (got < 0 && errno != EINTR) {
      status = -1;  // SIGCHLD ignored by the host program: the status is lost
      return true;
    }
    if (now_s() >= deadline) return false;
    const timespec pause{0, reap_poll_ns};
    nanosleep(&pause, nullptr);
  }
}

void end_group(pid_t pid, int &status) {
  kill(-pid, SIGKILL);
  kill(pid, SIGKILL);  // in case it had not yet made its group
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

// Reads the pipe until end of file, the budget is passed, check refuses
// the head or the deadline.
unzip_outcome drain(int fd, uint64_t budget, member_head_check check, double deadline,
                    unzip_result &out) {
  // One byte past the budget is room enough to see that more came.
  const size_t limit = static_cast<size_t>(budget) + 1;
  size_t capacity = 0;
  for (;;) {
    const double left = deadline - now_s();
    if (left <= 0.0) return unzip_outcome::timed_out;
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(left * 1000.0) + 1);
    if (ready < 0 && errno != EINTR) return unzip_outcome::failed;
    if (ready <= 0) continue;
    if (out.size == capacity && !member_buffer_grow(out.bytes, capacity, limit))
      return unzip_outcome::no_memory;
    const ssize_t n = read(fd, out.bytes + out.size, capacity - out.size);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return unzip_outcome::failed;
    }
    if (n == 0) return unzip_outcome::done;
    const size_t before = out.size;
    out.size += static_cast<size_t>(n);
    if (out.size > budget) return unzip_outcome::over_budget;
    if (check != nullptr && before < member_head_bytes && out.size >= member_head_bytes &&
        !check(out.bytes, budget)) {
      return unzip_outcome::bad_head;
    }
  }
}

}  // namespace

unzip_result unzip_member(const unzip_source &member, double timeout_s, member_head_check check) {
  unzip_result out;
  const std::string program = find_on_path("unzip");
  if (program.empty()) {
    out.outcome = unzip_outcome::not_found;
    return out;
  }
  const int archive_fd = single_member_archive(member);
  if (archive_fd < 0) {
    out.outcome = unzip_outcome::no_copy;
    out.error = errno;
    return out;
  }
  // Everything the child needs is made before fork: it must not allocate.
  char *argv[] = {const_cast<char *>("unzip"), const_cast<char *>("-p"),
                  const_cast<char *>(archive_child_path), nullptr};
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    close(archive_fd);
    return out;
  }
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) exec_unzip(program.c_str(), argv, fds[1], archive_fd, parent);
  close(fds[1]);
  close(archive_fd);
  if (pid < 0) {
    close(fds[0]);
    return out;
  }
  setpgid(pid, pid);  // also here, so the group exists whichever runs first

  const double deadline = now_s() + timeout_s;
  out.outcome = drain(fds[0], member.uncomp_size, check, deadline, out);
  close(fds[0]);
  if (out.outcome != unzip_outcome::done || !reap_by(pid, deadline, out.status)) {
    if (out.outcome == unzip_outcome::done) out.outcome = unzip_outcome::timed_out;
    end_group(pid, out.status);
  } else if (WIFEXITED(out.status) && WEXITSTATUS(out.status) == exit_not_started) {
    out.outcome = unzip_outcome::not_started;
  } else if (out.status != 0 && out.status != -1) {
    out.outcome = unzip_outcome::failed;
  }
  if (out.outcome != unzip_outcome::done) {
    std::free(out.bytes);
    out.bytes = nullptr;
  }
  return out;
}

}  // namespace tunecast
