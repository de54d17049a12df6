// unzip.cpp: `unzip -p` as a well-behaved child. Its output comes
// through a pipe, so nothing is written to disk and no name in a shared
// directory can be planted or swapped; the member's declared size bounds the
// memory and a deadline bounds the time. It runs without a shell, reads
// /dev/null (an encrypted member cannot wait on a hidden password prompt)
// and lives in its own process group, killed when this process dies.
#include "wad/unzip.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

constexpr size_t first_capacity_bytes = size_t{1} << 20;
constexpr int exit_not_started = 127;  // what a shell reports for a missing command
constexpr long reap_poll_ns = 5'000'000;

double now_s() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// unzip reads its member argument as a pattern: a backslash makes each of
// its special characters literal, and a leading '-' would be an option.
std::string literal_pattern(const char *member) {
  std::string out;
  for (const char *p = member; *p != '\0'; ++p) {
    if (std::strchr("\\[]*?", *p) != nullptr || (p == member && *p == '-')) out += '\\';
    out += *p;
  }
  return out;
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
    const std::string dir = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    if (end == std::string::npos) return {};
    start = end + 1;
  }
}

// In the child, between fork and exec: only async-signal-safe calls.
[[noreturn]] void exec_unzip(const char *program, char *const argv[], int out_fd, pid_t parent) {
  setpgid(0, 0);
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(exit_not_started);  // the parent is already gone
  const int null_fd = open("/dev/null", O_RDWR);
  if (null_fd < 0 || dup2(null_fd, STDIN_FILENO) < 0 || dup2(null_fd, STDERR_FILENO) < 0 ||
      dup2(out_fd, STDOUT_FILENO) < 0) {
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

// Grows out's buffer so that it can take more bytes, up to limit in all.
bool grow(unzip_result &out, size_t &capacity, size_t limit) {
  size_t next = capacity == 0 ? first_capacity_bytes : capacity * 2;
  if (next > limit) next = limit;
  auto *bytes = static_cast<uint8_t *>(std::realloc(out.bytes, next));
  if (bytes == nullptr) return false;
  out.bytes = bytes;
  capacity = next;
  return true;
}

// Reads the pipe until end of file, the budget is passed or the deadline.
unzip_outcome drain(int fd, uint64_t budget, double deadline, unzip_result &out) {
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
    if (out.size == capacity && !grow(out, capacity, limit)) return unzip_outcome::no_memory;
    const ssize_t n = read(fd, out.bytes + out.size, capacity - out.size);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return unzip_outcome::failed;
    }
    if (n == 0) return unzip_outcome::done;
    out.size += static_cast<size_t>(n);
    if (out.size > budget) return unzip_outcome::over_budget;
  }
}

}  // namespace

unzip_result unzip_member(const char *archive, const char *member, uint64_t budget,
                          double timeout_s) {
  unzip_result out;
  const std::string program = find_on_path("unzip");
  if (program.empty()) {
    out.outcome = unzip_outcome::not_found;
    return out;
  }
  // Everything the child needs is made before fork: it must not allocate.
  // An archive whose name starts with '-' would be read as options.
  std::string archive_arg = archive[0] == '-' ? std::string("./") + archive : archive;
  std::string member_arg = literal_pattern(member);
  char *argv[] = {const_cast<char *>("unzip"), const_cast<char *>("-p"), archive_arg.data(),
                  member_arg.data(), nullptr};
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return out;
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) exec_unzip(program.c_str(), argv, fds[1], parent);
  close(fds[1]);
  if (pid < 0) {
    close(fds[0]);
    return out;
  }
  setpgid(pid, pid);  // also here, so the group exists whichever runs first

  const double deadline = now_s() + timeout_s;
  out.outcome = drain(fds[0], budget, deadline, out);
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
