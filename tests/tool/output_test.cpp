// Where the tool's WAV files go, end to end: links planted by another user,
// pipes where a file belongs, the archive itself as the target, signals and
// a killed batch in the middle of a write, and memory over a long render.
// Owners are changed to a uid nobody uses, which takes root (as in CI).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include "fixtures.h"
#include "tool/output_path.h"
#include "tool_process.h"

namespace {

using fixture::bytes;
namespace fs = std::filesystem;

constexpr uid_t stranger = 12345;              // another user, for planted links and directories
constexpr size_t tenth_bytes = 44 + 2 * 4410;  // a WAV of 0.1 s
const bytes secret = {'s', 'e', 'c', 'r', 'e', 't'};

bytes tone() {
  return fixture::mus_builder().note_on(0, 60, 127).delay(20).note_off(0, 60).score_end().build();
}
// Nine voices held for an hour: seconds of work for every minute rendered,
// so a worker is still busy when the test stops it.
bytes held_chord() {
  fixture::mus_builder m;
  for (int ch = 0; ch < 9; ++ch) m.note_on(ch, 48 + 3 * ch, 127);
  return m.delay(140 * 3600).score_end().build();
}

class Output : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fixture::make_temp_dir("output");
    fixture::wad_builder()
        .lump("D_TONE", tone())
        .lump("D_TUNE", tone())
        .lump("D_TEXT", {'n', 'o', 't', ' ', 'm', 'u', 's', 'i', 'c'})
        .write(path("song.wad"));
    fixture::write_file(path("victim"), secret);
    chmod(path("victim").c_str(), 0600);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }
  // A fresh directory with the given mode and owner.
  std::string directory(const std::string &name, mode_t mode, uid_t owner) const {
    const std::string d = path(name);
    EXPECT_EQ(mkdir(d.c_str(), 0700), 0);
    EXPECT_EQ(chown(d.c_str(), owner, owner), 0);
    EXPECT_EQ(chmod(d.c_str(), mode), 0);  // after chown, which may clear mode bits
    return d;
  }
  static void plant_link(const std::string &link, const std::string &to, uid_t owner) {
    ASSERT_EQ(symlink(to.c_str(), link.c_str()), 0);
    ASSERT_EQ(lchown(link.c_str(), owner, owner), 0);
  }
  static void need_root() {
    if (geteuid() != 0) GTEST_SKIP() << "changing owners takes root";
  }
  std::string dir_;
};

std::string log_of(const std::string &path) {
  const bytes b = fixture::read_file(path);
  return std::string(b.begin(), b.end());
}

std::string read_available(int fd) {
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
  return text;
}

TEST_F(Output, PlantedLinkInTheBatchDirectoryNeverReachesItsTarget) {
  need_root();
  struct row {
    const char *name;
    mode_t mode;
    uid_t dir_owner, link_owner;
    const char *refusal;  // null: written
  };
  const uid_t me = geteuid();
  const row rows[] = {
      {"mine", 0755, me, me, nullptr},
      {"sticky", 01777, me, stranger, nullptr},
      {"theirs", 0755, stranger, stranger, "pertenece a otro usuario"},
      {"open", 0777, me, stranger, "cualquiera puede escribir en él y no tiene el bit sticky"},
  };
  for (const row &c : rows) {
    SCOPED_TRACE(c.name);
    const std::string d = directory(c.name, c.mode, c.dir_owner);
    plant_link(d + "/D_TONE.wav", path("victim"), c.link_owner);
    const auto r = fixture::run_tool({"--todas", d, path("song.wad"), "0.1"});
    EXPECT_EQ(fixture::read_file(path("victim")), secret);
    if (c.refusal != nullptr) {
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err, "no se puede escribir en " + d + ": " + c.refusal + "\n");
      EXPECT_TRUE(fs::is_symlink(d + "/D_TONE.wav"));
      EXPECT_FALSE(fixture::file_exists(d + "/D_TUNE.wav"));
    } else {
      EXPECT_EQ(r.status, 0) << r.err;
      // The link itself was replaced by the new file.
      EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(d + "/D_TONE.wav")));
      EXPECT_EQ(fixture::read_file(d + "/D_TONE.wav").size(), tenth_bytes);
    }
  }
}

TEST_F(Output, PipeInTheBatchDirectoryIsRefusedWithoutHanging) {
  const std::string d = path("songs");
  ASSERT_EQ(mkdir(d.c_str(), 0755), 0);
  ASSERT_EQ(mkfifo((d + "/D_TONE.wav").c_str(), 0644), 0);
  const pid_t pid = process::start_tool({"--todas", d, path("song.wad"), "0.1"}, path("log"));
  ASSERT_GT(pid, 0);
  const process::ending e = process::wait_for(pid, 20);
  ASSERT_TRUE(e.ended) << "the tool waited on the pipe";
  EXPECT_TRUE(WIFEXITED(e.status) && WEXITSTATUS(e.status) == 1);
  const std::string log = log_of(path("log"));
  EXPECT_NE(log.find("no se puede escribir " + d + "/D_TONE.wav: no es un archivo regular\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("1 de 2 pistas escritas en " + d + "\n"), std::string::npos) << log;
  EXPECT_TRUE(fs::is_fifo(d + "/D_TONE.wav"));
  EXPECT_EQ(fixture::read_file(d + "/D_TUNE.wav").size(), tenth_bytes);
}

TEST_F(Output, TheArchiveIsNeverTheOutput) {
  const bytes archive = fixture::read_file(path("song.wad"));
  ASSERT_EQ(link(path("song.wad").c_str(), path("hard.wav").c_str()), 0);
  ASSERT_EQ(symlink("song.wad", path("soft.wav").c_str()), 0);
  for (const char *name : {"song.wad", "hard.wav", "soft.wav"}) {
    SCOPED_TRACE(name);
    // --formato: the archive's own name has an extension no output takes.
    const auto r =
        fixture::run_tool({"--formato", "wav", path("song.wad"), "D_TONE", path(name), "0.1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "no se puede escribir " + path(name) + ": es el archivo de entrada\n");
    EXPECT_EQ(fixture::read_file(path("song.wad")), archive);
    EXPECT_EQ(process::temporaries_in(dir_), 0u);
  }
  // In a batch, the archive kept in the directory under a lump's file name.
  const std::string d = path("songs");
  ASSERT_EQ(mkdir(d.c_str(), 0755), 0);
  fixture::write_file(d + "/D_TONE.wav", archive);
  const auto r = fixture::run_tool({"--todas", d, d + "/D_TONE.wav", "0.1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "no se puede escribir " + d + "/D_TONE.wav: es el archivo de entrada\n");
  EXPECT_EQ(fixture::read_file(d + "/D_TONE.wav"), archive);
  EXPECT_EQ(fixture::read_file(d + "/D_TUNE.wav").size(), tenth_bytes);
}

// A named output follows a link as the kernel's protected-symlink rule
// would: in a sticky directory anyone may write to, only a link of the
// user's own or of the directory's owner. The rule holds for the output
// itself and for a directory on the way to it (d/evil/out.wav).
TEST_F(Output, ForeignLinkInASharedDirectoryIsNotFollowed) {
  need_root();
  struct row {
    const char *name;
    mode_t mode;
    uid_t dir_owner, link_owner;
    bool followed;
  };
  const uid_t me = geteuid();
  const row rows[] = {
      {"shared", 01777, me, stranger, false},
      {"shared-mine", 01777, me, me, true},
      {"shared-owner", 01777, stranger, stranger, true},
      {"private", 0755, stranger, stranger, true},
  };
  const std::string refusal =
      ": es un enlace simbólico de otro usuario en un directorio compartido: no se sigue\n";
  for (const row &c : rows) {
    for (const bool on_the_way : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (on_the_way ? " (directory)" : " (file)"));
      const std::string d =
          directory(std::string(c.name) + (on_the_way ? "-dir" : ""), c.mode, c.dir_owner);
      // The link's target: the file itself, or a directory holding out.wav.
      const std::string target = path(std::string(c.name) + (on_the_way ? ".dir" : ".target"));
      const std::string written = on_the_way ? target + "/out.wav" : target;
      if (on_the_way) {
        ASSERT_EQ(mkdir(target.c_str(), 0755), 0);
      }
      fixture::write_file(written, secret);
      const std::string link = d + (on_the_way ? "/evil" : "/out.wav");
      plant_link(link, target, c.link_owner);
      const std::string out = d + (on_the_way ? "/evil/out.wav" : "/out.wav");
      const auto r = fixture::run_tool({path("song.wad"), "D_TONE", out, "0.1"});
      if (c.followed) {
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(fixture::read_file(written).size(), tenth_bytes);
      } else {
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "no se puede escribir " + out + refusal);
        EXPECT_EQ(fixture::read_file(written), secret);
        EXPECT_EQ(process::temporaries_in(target), 0u);
      }
      EXPECT_TRUE(fs::is_symlink(link));
    }
  }
}

// --todas DIR where DIR, or a directory on the way to it, is a link another
// user planted in a sticky shared directory (/tmp/songs -> ~/precious): the
// batch is refused before a worker starts, whether or not DIR was created
// beforehand; the user's own link there is followed.
TEST_F(Output, PlantedLinkAtTheBatchDirectoryIsNotFollowed) {
  need_root();
  struct row {
    const char *name;
    const char *dir;  // --todas argument, under the shared directory
    const char *link;
    uid_t link_owner;
  };
  const uid_t me = geteuid();
  const row rows[] = {
      {"dir", "songs", "songs", stranger},
      {"above", "evil/songs", "evil", stranger},
      {"mine", "songs", "songs", me},
  };
  for (const row &c : rows) {
    SCOPED_TRACE(c.name);
    const std::string shared = directory(std::string("shared-") + c.name, 01777, me);
    const std::string precious = path(std::string("precious-") + c.name);
    ASSERT_EQ(mkdir(precious.c_str(), 0700), 0);
    // The batch's entry as it would land through the link.
    const bool through_dir = std::string(c.dir) != c.link;
    const std::string landed = precious + (through_dir ? "/songs" : "");
    if (through_dir) {
      ASSERT_EQ(mkdir(landed.c_str(), 0700), 0);
    }
    fixture::write_file(landed + "/D_TONE.wav", secret);
    plant_link(shared + "/" + c.link, precious, c.link_owner);
    const std::string dir = shared + "/" + c.dir;
    const auto r = fixture::run_tool({"--todas", dir, path("song.wad"), "0.1"});
    if (c.link_owner == me) {
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(fixture::read_file(landed + "/D_TONE.wav").size(), tenth_bytes);
      continue;
    }
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "no se puede escribir en " + dir +
                         ": es un enlace simbólico de otro usuario en un directorio "
                         "compartido: no se sigue\n");
    EXPECT_EQ(fixture::read_file(landed + "/D_TONE.wav"), secret);
    EXPECT_FALSE(fixture::file_exists(landed + "/D_TUNE.wav"));
    EXPECT_EQ(process::temporaries_in(landed), 0u);
  }
}

TEST_F(Output, SignalDuringTheWriteRemovesTheTemporaryFile) {
  for (const int sig : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(sig);
    fixture::write_file(path("out.wav"), secret);
    // Hours of silence: written for many seconds, so the signal lands mid-write.
    const pid_t pid =
        process::start_tool({path("song.wad"), "D_TEXT", path("out.wav"), "20000"}, path("log"));
    ASSERT_GT(pid, 0);
    const bool writing = process::wait_for_temporaries(dir_, 1, 30);
    kill(pid, sig);
    const process::ending e = process::wait_for(pid, 10);
    EXPECT_TRUE(writing);
    ASSERT_TRUE(e.ended);
    EXPECT_TRUE(WIFSIGNALED(e.status) && WTERMSIG(e.status) == sig) << log_of(path("log"));
    EXPECT_EQ(process::temporaries_in(dir_), 0u);
    EXPECT_EQ(fixture::read_file(path("out.wav")), secret);
  }
}

// However the tool was started: a worker inherits the dispositions of the
// tool, SIGTERM ignored included, and must end with it all the same.
TEST_F(Output, KilledBatchTakesItsWorkersWithIt) {
  fixture::wad_builder()
      .lump("D_ONE", held_chord())
      .lump("D_TWO", held_chord())
      .write(path("held.wad"));
  for (const bool term_ignored : {false, true}) {
    SCOPED_TRACE(term_ignored ? "started with SIGTERM ignored" : "started as usual");
    const std::string d = path(term_ignored ? "ignoring" : "songs");
    // The workers, orphaned, become this process's children and can be reaped here.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    const pid_t pid =
        process::start_tool_onto({"--todas", d, path("held.wad"), "3000"}, path("log"), -1,
                                 term_ignored ? std::vector<int>{SIGTERM} : std::vector<int>{});
    ASSERT_GT(pid, 0);
    const bool writing = process::wait_for_temporaries(d, 1, 20);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    bool all_ended = false;
    while (!all_ended && std::chrono::steady_clock::now() < deadline) {
      const pid_t got = waitpid(-1, nullptr, WNOHANG);
      if (got < 0 && errno == ECHILD) all_ended = true;
      if (got == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(-pid, SIGKILL);  // whatever is left of the group, so no worker outlives the test
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    prctl(PR_SET_CHILD_SUBREAPER, 0);
    EXPECT_TRUE(writing);
    EXPECT_TRUE(all_ended) << "workers outlived the batch by 5 s";
    EXPECT_EQ(process::temporaries_in(d), 0u);
  }
}

// The batch's workers (its children), and whether one holds a file of dir
// open: a song it has not finished.
std::vector<pid_t> workers_of(pid_t batch) {
  std::ifstream list("/proc/" + std::to_string(batch) + "/task/" + std::to_string(batch) +
                     "/children");
  std::vector<pid_t> pids;
  for (pid_t p = 0; list >> p;) pids.push_back(p);
  return pids;
}

bool writes_into(pid_t worker, const std::string &dir) {
  std::error_code ec;
  for (const auto &fd : fs::directory_iterator("/proc/" + std::to_string(worker) + "/fd", ec)) {
    if (fs::read_symlink(fd.path(), ec).string().rfind(dir + "/", 0) == 0) return true;
  }
  return false;
}

// A worker that dies loses its own song only: the songs still waiting go to
// a worker started in its place, and the batch names the one lost.
TEST_F(Output, ACrashedWorkerLosesOnlyItsOwnSong) {
  const long cores = sysconf(_SC_NPROCESSORS_ONLN);
  const int lumps = static_cast<int>(cores < 1 ? 1 : cores) + 2;
  fixture::wad_builder held;
  for (int i = 0; i < lumps; ++i) held.lump("D_" + std::to_string(i), held_chord());
  held.write(path("held.wad"));
  const std::string d = path("songs");
  const pid_t pid = process::start_tool({"--todas", d, path("held.wad"), "20"}, path("log"));
  ASSERT_GT(pid, 0);
  const bool writing = process::wait_for_temporaries(d, 1, 20);
  // Each worker is held while it is looked at, so the one that dies is
  // surely in the middle of a song. It aborts, as a failed check would (a
  // sanitizer's runtime takes a SIGSEGV over and exits instead).
  bool killed = false;
  for (const pid_t w : workers_of(pid)) {
    kill(w, SIGSTOP);
    if (!killed && writes_into(w, d)) killed = kill(w, SIGABRT) == 0;
    kill(w, SIGCONT);
  }
  const process::ending e = process::wait_for(pid, 120);
  EXPECT_TRUE(writing && killed);
  ASSERT_TRUE(e.ended);
  EXPECT_TRUE(WIFEXITED(e.status) && WEXITSTATUS(e.status) == 1) << log_of(path("log"));
  EXPECT_NE(log_of(path("log")).find("el proceso murió por la señal SIGABRT"), std::string::npos)
      << log_of(path("log"));
  size_t written = 0;
  for (const auto &entry : fs::directory_iterator(d)) written += entry.path().extension() == ".wav";
  EXPECT_EQ(written, static_cast<size_t>(lumps - 1));
  EXPECT_EQ(process::temporaries_in(d), 0u);
}

// DIR is opened once: moved away and replaced by a link while the workers
// run, it still receives every file and the link's target none, including
// from the worker that starts after the swap.
TEST_F(Output, BatchDirectoryIsOpenedOnce) {
  const long cores = sysconf(_SC_NPROCESSORS_ONLN);
  const int lumps = static_cast<int>(cores < 1 ? 1 : cores) + 1;
  fixture::wad_builder held;
  for (int i = 0; i < lumps; ++i) held.lump("D_" + std::to_string(i), held_chord());
  held.write(path("held.wad"));
  const std::string d = path("songs"), moved = path("moved"), elsewhere = path("elsewhere");
  ASSERT_EQ(mkdir(elsewhere.c_str(), 0755), 0);
  const pid_t pid = process::start_tool({"--todas", d, path("held.wad"), "30"}, path("log"));
  ASSERT_GT(pid, 0);
  const bool writing = process::wait_for_temporaries(d, 1, 20);
  // Only the batch itself is held: a stop sent to the whole group while it
  // forks can reach the new worker after the group's SIGCONT, leaving it
  // stopped for good.
  kill(pid, SIGSTOP);
  const bool swapped =
      rename(d.c_str(), moved.c_str()) == 0 && symlink(elsewhere.c_str(), d.c_str()) == 0;
  kill(pid, SIGCONT);
  const process::ending e = process::wait_for(pid, 120);
  EXPECT_TRUE(writing && swapped);
  EXPECT_TRUE(e.ended && WIFEXITED(e.status) && WEXITSTATUS(e.status) == 0) << log_of(path("log"));
  for (int i = 0; i < lumps; ++i) {
    EXPECT_TRUE(fixture::file_exists(moved + "/D_" + std::to_string(i) + ".wav")) << i;
  }
  EXPECT_TRUE(fs::is_empty(elsewhere));
}

// The names of the tool's own standard output are standard output: a pipe
// gets the bytes - gives it, with the loader's and closing lines on standard
// error, and a terminal is refused as it is for -, with nothing written there.
TEST_F(Output, NamesOfStandardOutputAreStandardOutput) {
  const auto dash = fixture::run_tool({path("song.wad"), "D_TONE", "-", "0.1"});
  ASSERT_EQ(dash.status, 0) << dash.err;
  ASSERT_EQ(dash.out.size(), tenth_bytes);
  for (const char *name : {"-", "/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"}) {
    SCOPED_TRACE(name);
    const std::vector<std::string> args = {path("song.wad"), "D_TONE", name, "0.1"};
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    // 0.1 s fits the pipe's buffer: the tool ends before anything is read.
    pid_t pid = process::start_tool_onto(args, path("log"), pipe_fds[1]);
    close(pipe_fds[1]);
    process::ending e = process::wait_for(pid, 20);
    EXPECT_TRUE(e.ended && WIFEXITED(e.status) && WEXITSTATUS(e.status) == 0);
    const std::string piped = read_available(pipe_fds[0]);
    EXPECT_TRUE(piped == dash.out) << piped.size() << " bytes";
    EXPECT_EQ(log_of(path("log")), dash.err);
    close(pipe_fds[0]);

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
    const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    pid = process::start_tool_onto(args, path("log"), terminal);
    close(terminal);
    e = process::wait_for(pid, 20);
    EXPECT_TRUE(e.ended && WIFEXITED(e.status) && WEXITSTATUS(e.status) == 1);
    EXPECT_EQ(log_of(path("log")),
              "no se escribe un WAV en la terminal: redirige la salida a un archivo o a otro "
              "programa\n");
    fcntl(master, F_SETFL, O_NONBLOCK);
    EXPECT_EQ(read_available(master).size(), 0u);
    close(master);
  }
}

TEST(OutputPath, NamedDescriptorsAreThisProcesssOwn) {
  const std::string own = "/proc/" + std::to_string(getpid()) + "/fd/";
  const std::pair<std::string, int> cases[] = {
      {"/dev/stdin", 0},
      {"/dev/stderr", 2},
      {"/dev/fd/7", 7},
      {"/proc/thread-self/fd/4", 4},
      {own + "12", 12},
      {"/dev/fd/07", -1},
      {"/dev/fd/", -1},
      {"/dev/fd/1x", -1},
      {"/dev/fd/99999999999", -1},
      {"/proc/1/fd/1", -1},
      {"dev/stdout", -1},
      {"/dev/stdout/", -1},
  };
  for (const auto &[name, fd] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(path_named_descriptor(name.c_str()), fd);
  }
}

// The header's sizes are known before the first sample, so samples go out
// as they come: 3000 s (265 MB of samples) must take no more memory than
// one second does, give or take the chunk (the sanitizer build's own
// overhead is in both).
TEST_F(Output, LongRenderKeepsMemoryFlat) {
  long peak_kib[2] = {};
  for (const int i : {0, 1}) {
    const char *seconds = i == 0 ? "1" : "3000";
    SCOPED_TRACE(seconds);
    const pid_t pid =
        process::start_tool({path("song.wad"), "D_TEXT", "/dev/null", seconds}, path("log"));
    ASSERT_GT(pid, 0);
    const process::ending e = process::wait_for(pid, 120);
    ASSERT_TRUE(e.ended);
    EXPECT_TRUE(WIFEXITED(e.status) && WEXITSTATUS(e.status) == 0) << log_of(path("log"));
    peak_kib[i] = e.usage.ru_maxrss;
  }
  EXPECT_LT(peak_kib[1], peak_kib[0] + 16 * 1024) << "peak KiB, 3000 s against 1 s";
}

}  // namespace
