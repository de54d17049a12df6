// tool_bench.cpp: the whole tool as a process, on the demo song: it loads the
// archive, renders 60 s and writes the WAV file. Reports the child's CPU time
// and its peak resident memory (ru_maxrss from wait4) against the budget of
// archive size + 8 MiB: the WAV is written as it is rendered, so nothing
// grows with the duration.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <string>

#include "demo_song.h"
#include "fixtures.h"

extern char **environ;

namespace {

constexpr int seconds = 60;
constexpr double frames = seconds * 44100.0;
constexpr double mib = 1024.0 * 1024.0;

struct child_usage {
  bool ok = false;
  double cpu_s = 0;
  double peak_bytes = 0;
};

child_usage run_tool(const std::string &wad, const std::string &wav) {
  const std::string tool = fixture::tool_path();
  const std::string secs = std::to_string(seconds);
  char *argv[] = {const_cast<char *>(tool.c_str()), const_cast<char *>(wad.c_str()),
                  const_cast<char *>("D_DEMO"), const_cast<char *>(wav.c_str()),
                  const_cast<char *>(secs.c_str()), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int err = posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  child_usage u;
  if (err != 0) return u;
  int status = 0;
  rusage ru{};
  if (wait4(pid, &status, 0, &ru) != pid) return u;
  u.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  u.cpu_s = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
            static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
  u.peak_bytes = static_cast<double>(ru.ru_maxrss) * 1024.0;
  return u;
}

void BM_tool_demo_song(benchmark::State &state) {
  setenv("ZARN_SYNTH", "1", 1);
  const std::string dir = fixture::make_temp_dir("bench");
  const fixture::bytes wad = demo::song_wad();
  fixture::write_file(dir + "/demo.wad", wad);
  double cpu = 0, peak = 0;
  int64_t runs = 0;
  for (auto _ : state) {
    const child_usage u = run_tool(dir + "/demo.wad", dir + "/demo.wav");
    if (!u.ok) {
      state.SkipWithError("the tool failed");
      break;
    }
    state.SetIterationTime(u.cpu_s);
    cpu += u.cpu_s;
    peak = u.peak_bytes > peak ? u.peak_bytes : peak;
    ++runs;
  }
  if (runs == 0) return;
  // Rates by hand: the parent's own CPU time says nothing about the child.
  const double cpu_per_run = cpu / static_cast<double>(runs);
  const double budget = static_cast<double>(wad.size()) + 8 * mib;
  state.counters["frames_per_s"] = frames / cpu_per_run;
  state.counters["realtime_x"] = seconds / cpu_per_run;
  state.counters["peak_MiB"] = peak / mib;
  state.counters["budget_MiB"] = budget / mib;
}

BENCHMARK(BM_tool_demo_song)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
