// The optional libraries loaded at run time: libsndfile's functions bound
// all at once or not at all, the loader's reason made safe for a terminal,
// and the built tool loading a library only on the runs that use it,
// refusing in one line, with nothing written, when the system's copy is
// unusable (a planted empty file found first through LD_LIBRARY_PATH).
#include "tool/shared_library.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fixtures.h"
#include "tool/sndfile_library.h"
#include "tool_process.h"

namespace {

namespace fs = std::filesystem;

class SharedLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fixture::make_temp_dir("libraries");
    // An empty file where the loader looks first: found, and refused.
    fs::create_directory(path("planted"));
    for (const char *name : {"libsndfile.so.1", "libSDL2-2.0.so.0"}) {
      std::ofstream(path("planted/") + name).flush();
    }
    // Ten seconds of a held chord: far more bytes in any format than a
    // pipe of one page holds.
    fixture::mus_builder m;
    m.instrument(0, 30).note_on(0, 52, 120).note_on(0, 59, 110).delay(1400);
    fixture::wad_builder()
        .lump("D_HELD", m.note_off(0, 52).score_end().build())
        .write(path("s.wad"));
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string dir_;
};

#ifdef TUNECAST_HAVE_SNDFILE
TEST_F(SharedLibrary, LibsndfileIsBoundWholeOrNotAtAll) {
  struct row {
    const char *soname;
    bool usable;
    const char *reason;  // a part of the loader's reason when unusable
  };
  const row rows[] = {
      {sndfile_soname, true, ""},
      {"libtunecast-absent.so.1", false, "libtunecast-absent.so.1"},
      {"libz.so.1", false, "sf_open_virtual"},  // a library, not this one
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.soname);
    sndfile_functions functions;
    std::string error;
    EXPECT_EQ(sndfile_functions_load(r.soname, functions, error), r.usable);
    const bool all = functions.open_virtual != nullptr && functions.set_string != nullptr &&
                     functions.write_short != nullptr && functions.close != nullptr;
    const bool none = functions.open_virtual == nullptr && functions.set_string == nullptr &&
                      functions.write_short == nullptr && functions.close == nullptr;
    EXPECT_TRUE(r.usable ? all : none);
    EXPECT_NE(error.find(r.reason), std::string::npos) << error;
  }
}
#endif

// The reason names the file the loader tried, whose name may hold bytes a
// terminal would act on.
TEST_F(SharedLibrary, LoaderReasonIsEscaped) {
  const std::string planted = path("lib\x1b]0;x\x07.so");
  std::ofstream(planted).flush();
  std::string error;
  EXPECT_EQ(shared_library_open(planted.c_str(), error), nullptr);
  EXPECT_NE(error.find("lib\\x1b]0;x\\x07.so"), std::string::npos) << error;
  EXPECT_TRUE(std::none_of(error.begin(), error.end(),
                           [](char c) { return static_cast<unsigned char>(c) < 0x20; }));
}

#if defined(TUNECAST_HAVE_SNDFILE) && defined(TUNECAST_HAVE_SDL)
// With the system's libraries unusable, what needs one is refused before the
// archive is read or any output is made; what needs neither still works, and
// --version says what this run can do.
TEST_F(SharedLibrary, UnusableLibraryRefusesOnlyWhatNeedsIt) {
  struct row {
    std::vector<std::string> args;
    int status;
    std::string err_start;  // the whole of standard error starts so, in one line
    std::string out;
  };
  const std::string wad = path("s.wad");
  const std::string planted = path("planted/");
  const row rows[] = {
      {{wad, "D_HELD", path("out.flac"), "1"},
       1,
       "no se escribe flac: falta libsndfile (" + planted + "libsndfile.so.1: ",
       ""},
      {{"--todas", path("all"), "--formato", "ogg", wad},
       1,
       "no se escribe ogg: falta libsndfile (" + planted + "libsndfile.so.1: ",
       ""},
      {{"--tocar", wad, "D_HELD"},
       1,
       "no se puede tocar: falta SDL2 (" + planted + "libSDL2-2.0.so.0: ",
       ""},
      {{"-q", wad, "D_HELD", path("out.wav"), "1"}, 0, "", ""},
      {{"--version"}, 0, "", "formatos: wav mid\ntocar: no\n"},
  };
  for (const row &r : rows) {
    std::vector<std::string> argv = {fixture::tool_path()};
    std::string line = "tunecast";
    for (const std::string &arg : r.args) {
      argv.push_back(arg);
      line += " " + arg;
    }
    SCOPED_TRACE(line);
    const auto result = fixture::run(argv, {"ZARN_SYNTH=1", "LD_LIBRARY_PATH=" + path("planted")});
    EXPECT_EQ(result.status, r.status) << result.err;
    EXPECT_EQ(result.err.rfind(r.err_start, 0), 0u) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), r.status) << result.err;
    EXPECT_TRUE(result.out.ends_with(r.out)) << result.out;
    if (r.status != 0) {
      EXPECT_EQ(files(), (std::vector<std::string>{"planted", "s.wad"}));
    }
  }
  EXPECT_EQ(fs::file_size(path("out.wav")), 44u + 2u * 44100u);
}

// Which libraries the tool has mapped in the middle of a render, while it
// waits on a pipe of one page: libsndfile for FLAC alone, SDL2 never.
TEST_F(SharedLibrary, RenderMapsOnlyTheLibraryItsFormatNeeds) {
  struct row {
    const char *format;
    bool sndfile;
  };
  for (const row r : {row{"wav", false}, row{"flac", true}}) {
    SCOPED_TRACE(r.format);
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    ASSERT_GT(fcntl(pipe_fds[0], F_SETPIPE_SZ, 4096), 0);
    const pid_t pid =
        process::start_tool_onto({"-q", "--formato", r.format, path("s.wad"), "D_HELD", "-", "10"},
                                 path("log"), pipe_fds[1]);
    close(pipe_fds[1]);
    ASSERT_GT(pid, 0);
    // One byte read: the rest cannot fit, so the tool is still there.
    char first = 0;
    ASSERT_EQ(read(pipe_fds[0], &first, 1), 1);
    std::ifstream maps_file("/proc/" + std::to_string(pid) + "/maps");
    const std::string maps{std::istreambuf_iterator<char>(maps_file), {}};
    char block[65536];
    while (read(pipe_fds[0], block, sizeof block) > 0) {
    }
    close(pipe_fds[0]);
    const process::ending e = process::wait_for(pid, 60);
    EXPECT_TRUE(e.ended && WIFEXITED(e.status) && WEXITSTATUS(e.status) == 0);
    ASSERT_NE(maps.find("libc.so"), std::string::npos) << maps;
    EXPECT_EQ(maps.find("libsndfile.so") != std::string::npos, r.sndfile) << maps;
    EXPECT_EQ(maps.find("libSDL2"), std::string::npos) << maps;
  }
}
#endif

}  // namespace
