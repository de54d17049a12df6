// tool_process.cpp: starting, watching and reaping the built tool.
#include "tool_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "fixtures.h"

extern char **environ;

namespace process {

namespace {

std::vector<std::string> environment_with(const std::vector<std::string> &changes) {
  std::vector<std::string> environment;
  for (char **e = environ; *e != nullptr; ++e) environment.emplace_back(*e);
  for (const std::string &change : changes) {
    const bool remove = !change.empty() && change[0] == '-';
    const std::string name = remove ? change.substr(1) : change.substr(0, change.find('='));
    std::erase_if(environment, [&](const std::string &s) {
      return s.compare(0, name.size() + 1, name + "=") == 0;
    });
    if (!remove) environment.push_back(change);
  }
  return environment;
}

// Starts the tool as start_tool says, its standard streams set by actions
// and the signals in ignored left ignored.
pid_t spawn_tool(const std::vector<std::string> &args, const std::vector<std::string> &env,
                 const posix_spawn_file_actions_t &actions, const std::vector<int> &ignored = {}) {
  // No language of the tester's: the tool speaks its default, Spanish.
  std::vector<std::string> changes = {"ZARN_SYNTH=1", "-LANGUAGE", "-LC_ALL", "-LC_MESSAGES",
                                      "-LANG"};
  changes.insert(changes.end(), env.begin(), env.end());
  const std::vector<std::string> environment = environment_with(changes);
  const std::string tool = fixture::tool_path();
  std::vector<char *> argv = {const_cast<char *>(tool.c_str())};
  for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char *> envp;
  for (const std::string &e : environment) envp.push_back(const_cast<char *>(e.c_str()));
  envp.push_back(nullptr);

  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&defaults, sig);
  // An ignored signal stays ignored across exec: ignore it here meanwhile.
  std::vector<struct sigaction> saved(ignored.size());
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  for (size_t i = 0; i < ignored.size(); ++i) {
    sigdelset(&defaults, ignored[i]);
    sigaction(ignored[i], &ignore, &saved[i]);
  }
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), envp.data());
  for (size_t i = 0; i < ignored.size(); ++i) sigaction(ignored[i], &saved[i], nullptr);
  posix_spawnattr_destroy(&attr);
  return rc == 0 ? pid : -1;
}

}  // namespace

pid_t start_tool(const std::vector<std::string> &args, const std::string &log_path,
                 const std::vector<std::string> &env) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  const pid_t pid = spawn_tool(args, env, actions);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

pid_t start_tool_onto(const std::vector<std::string> &args, const std::string &log_path, int out_fd,
                      const std::vector<int> &ignored) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_adddup2(&actions, out_fd >= 0 ? out_fd : 2, 1);
  const pid_t pid = spawn_tool(args, {}, actions, ignored);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

pid_t start_tool_streams(const std::vector<std::string> &args, const std::string &out_path,
                         const std::string &err_path, const std::vector<std::string> &env) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  const std::string *paths[] = {&out_path, &err_path};
  for (int fd = 1; fd <= 2; ++fd) {
    const std::string &path = *paths[fd - 1];
    if (path.empty()) {
      posix_spawn_file_actions_addclose(&actions, fd);
    } else {
      posix_spawn_file_actions_addopen(&actions, fd, path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0600);
    }
  }
  const pid_t pid = spawn_tool(args, env, actions);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

ending wait_for(pid_t pid, double timeout_s) {
  ending e;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_s);
  for (;;) {
    const pid_t got = wait4(pid, &e.status, WNOHANG, &e.usage);
    if (got == pid) {
      e.ended = true;
      return e;
    }
    if (got < 0 || std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  kill(-pid, SIGKILL);
  wait4(pid, &e.status, 0, &e.usage);
  return e;
}

size_t temporaries_in(const std::string &dir) {
  size_t count = 0;
  std::error_code ignored;
  for (const auto &entry : std::filesystem::directory_iterator(dir, ignored)) {
    if (entry.path().filename().string().rfind(".tunecast-", 0) == 0) ++count;
  }
  return count;
}

bool wait_for_temporaries(const std::string &dir, size_t count, double timeout_s) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_s);
  while (temporaries_in(dir) < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace process
