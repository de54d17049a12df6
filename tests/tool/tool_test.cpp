// The tunecast tool end to end: the built binary runs on archives made by
// the fixtures; its exit status, console lines and output file are checked.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "demo_song.h"
#include "fixtures.h"
#include "midi_builder.h"
#include "tool/wav_out.h"

namespace {

using fixture::bytes;
using namespace std::string_literals;
namespace fs = std::filesystem;

const std::string usage = "uso: tunecast ZARN.WAD D_E1M1 salida.wav [segundos]\n";

bytes silent_song() { return fixture::mus_builder().score_end().build(); }
bytes text_bytes(const std::string &s) { return bytes(s.begin(), s.end()); }

uint32_t u32_at(const bytes &b, size_t at) {
  return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
         uint32_t{b[at + 3]} << 24;
}
int16_t sample_at(const bytes &wav, size_t i) {
  return static_cast<int16_t>(wav[44 + 2 * i] | wav[45 + 2 * i] << 8);
}

// The closing line comes after the loader's own line on standard output.
std::string last_line(const std::string &out) {
  if (out.size() < 2) return out;
  const size_t start = out.rfind('\n', out.size() - 2);
  return start == std::string::npos ? out : out.substr(start + 1);
}

class Tool : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fixture::make_temp_dir("tool");
    bytes cut = fixture::mus_builder().note_on(0, 60, 100).delay(10).score_end().build();
    cut.pop_back();  // one byte less than the header declares
    // A header whose score start (0x4000) lies far past the lump's 12 bytes.
    const bytes far_start = text_bytes("MUS\x1A\x02\x00\x00\x40\x90\x3C\x00\x60"s);
    fixture::wad_builder()
        .lump("D_SONG", silent_song())
        .marker("D_MARK")
        .raw_entry("D_OUT", 1000, 16)
        .raw_entry("D_NEG", 12, -5)
        .lump("D_TWO", text_bytes("MU"))
        .lump("D_THREE", text_bytes("MUS"))
        .lump("D_TEXT", text_bytes("not a score"))
        .lump("D_SIG", text_bytes("MUS\x1A"))
        .lump("D_HEAD", text_bytes("MUS\x1A\x01\x00\x08"s))
        .lump("D_CUT", cut)
        .lump("D_START", far_start)
        .write(path("song.wad"));
  }
  void TearDown() override {
    chmod(path("ro").c_str(), 0755);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }
  static fixture::run_result tunecast(std::vector<std::string> args) {
    return fixture::run_tool(std::move(args));
  }
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  // A failure: status 1, exactly the one line given, no closing line.
  static void expect_refused(const fixture::run_result &r, const std::string &line) {
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, line);
    EXPECT_EQ(r.out.find("pico"), std::string::npos);
  }
  std::string dir_;
};

TEST_F(Tool, FewerThanThreeArgumentsPrintUsage) {
  for (const auto &args : std::vector<std::vector<std::string>>{
           {}, {path("song.wad")}, {path("song.wad"), "D_SONG"}}) {
    SCOPED_TRACE(args.size());
    const auto r = tunecast(args);
    expect_refused(r, usage);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(files(), std::vector<std::string>{"song.wad"});
  }
}

TEST_F(Tool, LumpAbsentOrWithoutDataIsNotThere) {
  // A music lump a letter or a case away is named after the line.
  const std::string hint = " (tunecast -l " + path("song.wad") + " lista la música)\n";
  const std::pair<std::string, std::string> rows[] = {{"D_NONE", ""},
                                                      {"d_song", "¿D_SONG?" + hint},
                                                      {"D_MARK", ""},
                                                      {"D_OUT", "¿D_CUT?" + hint},
                                                      {"D_NEG", ""}};
  for (const auto &[lump, near] : rows) {
    SCOPED_TRACE(lump);
    expect_refused(tunecast({path("song.wad"), lump, path("out.wav")}),
                   "no hay " + lump + "\n" + near);
    EXPECT_FALSE(fixture::file_exists(path("out.wav")));
  }
}

TEST_F(Tool, ArchiveThatDoesNotLoadGivesStatusOneAndNoFile) {
  fixture::write_file(path("bad.wad"), text_bytes("JUNK\0\0\0\0\0\0\0\0"s));
  for (const std::string &archive : {path("missing.wad"), path("bad.wad")}) {
    SCOPED_TRACE(archive);
    const auto r = tunecast({archive, "D_SONG", path("out.wav")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.find("pico"), std::string::npos);
    EXPECT_FALSE(fixture::file_exists(path("out.wav")));
  }
}

TEST_F(Tool, DefaultSixtySecondsWithTheCanonicalHeader) {
  const auto r = tunecast({path("song.wad"), "D_SONG", path("out.wav")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(last_line(r.out), "pico 0.00, 60.0 s\n");
  const bytes wav = fixture::read_file(path("out.wav"));
  ASSERT_EQ(wav.size(), 5292044u);
  // 2646000 frames: RIFF size 5292036 = 0x0050C004, data size 5292000 = 0x0050BFE0.
  const bytes header = {'R', 'I', 'F',  'F',  0x04, 0xC0, 0x50, 0x00, 'W',  'A',  'V',
                        'E', 'f', 'm',  't',  ' ',  16,   0,    0,    0,    1,    0,
                        1,   0,   0x44, 0xAC, 0,    0,    0x88, 0x58, 0x01, 0,    2,
                        0,   16,  0,    'd',  'a',  't',  'a',  0xE0, 0xBF, 0x50, 0x00};
  EXPECT_EQ(bytes(wav.begin(), wav.begin() + 44), header);
  EXPECT_TRUE(std::all_of(wav.begin() + 44, wav.end(), [](uint8_t b) { return b == 0; }));
}

// A render left at the default 60 s says when it cut the song short, and
// only then: not for a duration given, a quiet run or a song that ended.
TEST_F(Tool, TheDefaultLengthSaysWhenItCutsTheSong) {
  const bytes long_song =
      fixture::mus_builder().note_on(0, 60, 100).delay(140 * 70).score_end().build();
  fixture::wad_builder()
      .lump("D_LONG", long_song)
      .lump("D_SONG", silent_song())
      .write(path("long.wad"));
  const struct {
    std::vector<std::string> args;
    std::string err;
  } rows[] = {
      {{"D_LONG"},
       "aviso: la canción dura 70.0 s y se han escrito sus primeros 60 s: -v 1 la escribe "
       "entera\n"},
      {{"D_LONG", "60"}, ""},
      {{"-q", "D_LONG"}, ""},
      {{"D_SONG"}, ""},
  };
  for (const auto &c : rows) {
    SCOPED_TRACE(c.args[0]);
    std::vector<std::string> args = {path("long.wad")};
    args.insert(args.end(), c.args.begin(), c.args.end());
    // The output goes after the lump, the duration after the output.
    const auto lump = std::find_if(args.begin(), args.end(),
                                   [](const std::string &a) { return a.rfind("D_", 0) == 0; });
    args.insert(lump + 1, path("out.wav"));
    const auto r = tunecast(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, c.err);
  }
}

// Lumps that are not MUS (too short to hold a signature, or another one)
// are never registered and render silence, like the silent score.
TEST_F(Tool, DurationSetsTheFrameCountAndTheClosingLine) {
  struct row {
    std::vector<std::string> args;  // lump, then what follows the output path
    uint32_t frames;
    const char *shown;
  };
  const row rows[] = {{{"D_SONG", "1.5"}, 66150, "1.5"},   {{"D_SONG", "0"}, 0, "0.0"},
                      {{"D_SONG", ".1"}, 4410, "0.1"},     {{"D_SONG", "0.00003"}, 1, "0.0"},
                      {{"D_SONG", "2.5s"}, 110250, "2.5"}, {{"D_TWO", "0.5"}, 22050, "0.5"},
                      {{"D_THREE", "0.5"}, 22050, "0.5"},  {{"D_TEXT", "0.5"}, 22050, "0.5"}};
  for (const row &c : rows) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    std::vector<std::string> args = {path("song.wad"), c.args[0], path("out.wav")};
    args.insert(args.end(), c.args.begin() + 1, c.args.end());
    const auto r = tunecast(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(last_line(r.out), std::string("pico 0.00, ") + c.shown + " s\n");
    const bytes wav = fixture::read_file(path("out.wav"));
    ASSERT_EQ(wav.size(), 44 + 2 * size_t{c.frames});
    EXPECT_EQ(u32_at(wav, 4), 36 + 2 * c.frames);
    EXPECT_EQ(u32_at(wav, 40), 2 * c.frames);
    EXPECT_TRUE(std::all_of(wav.begin() + 44, wav.end(), [](uint8_t b) { return b == 0; }));
  }
}

TEST_F(Tool, RefusedDurationsAndTruncatedScoresLeaveTheTargetAlone) {
  const std::pair<std::vector<std::string>, std::string> rows[] = {
      {{"D_SONG", "-1"}, "duración no válida: -1\n"},
      {{"D_SONG", "-0.001"}, "duración no válida: -0.001\n"},
      {{"D_SONG", "nan"}, "duración no válida: nan\n"},
      {{"D_SONG", "inf"}, "duración no válida: inf\n"},
      {{"D_SONG", "1e999"}, "duración no válida: 1e999\n"},
      // 2147483630 / 44100 = 48695.77392...: one frame past the size fields.
      {{"D_SONG", "48695.774"}, "duración demasiado larga: 48695.774\n"},
      {{"D_SONG", "99999999999"}, "duración demasiado larga: 99999999999\n"},
      {{"D_SIG", "1"}, "lump D_SIG truncado\n"},
      {{"D_HEAD", "1"}, "lump D_HEAD truncado\n"},
      {{"D_CUT", "1"}, "lump D_CUT truncado\n"},
      {{"D_START", "1"}, "lump D_START truncado\n"},
  };
  fixture::write_file(path("out.wav"), text_bytes("old"));
  for (const auto &[args, line] : rows) {
    SCOPED_TRACE(line);
    expect_refused(tunecast({path("song.wad"), args[0], path("out.wav"), args[1]}), line);
    EXPECT_EQ(fixture::read_file(path("out.wav")), text_bytes("old"));
    EXPECT_EQ(files(), (std::vector<std::string>{"out.wav", "song.wad"}));
  }
}

TEST_F(Tool, TheLastOfTwoSameNamedLumpsIsRendered) {
  const bytes truncated = text_bytes("MUS\x1A");
  fixture::wad_builder()
      .lump("D_SONG", truncated)
      .lump("D_SONG", silent_song())
      .write(path("a.wad"));
  fixture::wad_builder()
      .lump("D_SONG", silent_song())
      .lump("D_SONG", truncated)
      .write(path("b.wad"));
  EXPECT_EQ(tunecast({path("a.wad"), "D_SONG", path("a.wav"), "0.1"}).status, 0);
  expect_refused(tunecast({path("b.wad"), "D_SONG", path("b.wav"), "0.1"}),
                 "lump D_SONG truncado\n");
}

TEST_F(Tool, OutputThatCannotBeWrittenIsReportedWithoutAFile) {
  ASSERT_EQ(symlink("nowhere.wav", path("dangling.wav").c_str()), 0);
  const std::pair<std::string, std::string> rows[] = {
      {dir_, "es un directorio"},
      {path("missing/out.wav"), "no existe el archivo o el directorio"},
      {path("dangling.wav"), "no existe el archivo o el directorio"},
      {path("song.wad/out.wav"), "parte de la ruta no es un directorio"},
  };
  for (const auto &[target, reason] : rows) {
    SCOPED_TRACE(target);
    expect_refused(tunecast({path("song.wad"), "D_SONG", target, "0.1"}),
                   "no se puede escribir " + target + ": " + reason + "\n");
    EXPECT_EQ(files(), (std::vector<std::string>{"dangling.wav", "song.wad"}));
  }
  if (fs::exists("/dev/full")) {
    expect_refused(tunecast({path("song.wad"), "D_SONG", "/dev/full", "0.1"}),
                   "no se puede escribir /dev/full: no queda espacio en el dispositivo\n");
  }
}

bool can_create_in(const std::string &dir) {
  const std::string probe = dir + "/.tunecast-probe";
  const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  if (fd < 0) return false;
  close(fd);
  unlink(probe.c_str());
  return true;
}

TEST_F(Tool, UnwritableDirectoryKeepsTheExistingFile) {
  const std::string ro = path("ro");
  ASSERT_EQ(mkdir(ro.c_str(), 0755), 0);
  fixture::write_file(ro + "/out.wav", text_bytes("old"));
  ASSERT_EQ(chmod(ro.c_str(), 0555), 0);
  // Permissions do not bind root; sysfs takes no new files from anyone.
  const bool unbound = can_create_in(ro);
  if (unbound && can_create_in("/sys")) GTEST_SKIP() << "no unwritable directory for this user";
  const std::string target = unbound ? "/sys/tunecast-out.wav" : ro + "/out.wav";
  expect_refused(tunecast({path("song.wad"), "D_SONG", target, "0.1"}),
                 "no se puede escribir " + target + ": permiso denegado\n");
  EXPECT_EQ(fixture::read_file(ro + "/out.wav"), text_bytes("old"));
  EXPECT_EQ(fs::directory_iterator(ro)->path().filename(), "out.wav");
  EXPECT_EQ(std::next(fs::directory_iterator(ro)), fs::directory_iterator());
  if (unbound) {
    EXPECT_FALSE(fixture::file_exists(target));
  }
}

TEST_F(Tool, FailedWriteKeepsTheExistingFileAndLeavesNoTemporary) {
  fixture::write_file(path("out.wav"), text_bytes("old"));
  // The tool inherits a file size limit below the WAV's size, and ignores
  // the signal that would otherwise end it, so the write itself fails.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 16384;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const auto old_handler = signal(SIGXFSZ, SIG_IGN);
  const auto r = tunecast({path("song.wad"), "D_SONG", path("out.wav"), "1"});
  signal(SIGXFSZ, old_handler);
  setrlimit(RLIMIT_FSIZE, &saved);
  expect_refused(r, "no se puede escribir " + path("out.wav") + ": archivo demasiado grande\n");
  EXPECT_EQ(fixture::read_file(path("out.wav")), text_bytes("old"));
  EXPECT_EQ(files(), (std::vector<std::string>{"out.wav", "song.wad"}));
}

// A replaced file keeps its permission bits (a private one stays private),
// through a link too; only a new file takes them from the umask.
TEST_F(Tool, ReplacedFileKeepsItsPermissionsAndALinkIsKept) {
  fixture::write_file(path("out.wav"), bytes(100000, 0x55));
  chmod(path("out.wav").c_str(), 0600);
  fixture::write_file(path("real.wav"), text_bytes("old"));
  chmod(path("real.wav").c_str(), 0604);
  ASSERT_EQ(symlink("real.wav", path("link.wav").c_str()), 0);
  const mode_t saved = umask(027);
  const auto replaced = tunecast({path("song.wad"), "D_SONG", path("out.wav"), "0.5"});
  const auto linked = tunecast({path("song.wad"), "D_SONG", path("link.wav"), "0.5"});
  const auto created = tunecast({path("song.wad"), "D_SONG", path("new.wav"), "0.5"});
  umask(saved);
  ASSERT_EQ(replaced.status, 0) << replaced.err;
  ASSERT_EQ(linked.status, 0) << linked.err;
  ASSERT_EQ(created.status, 0) << created.err;
  struct stat st {};
  for (const auto &[name, mode] :
       {std::pair{"out.wav", 0600u}, std::pair{"real.wav", 0604u}, std::pair{"new.wav", 0640u}}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(stat(path(name).c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 44 + 2 * 22050);
    EXPECT_EQ(st.st_mode & 07777, mode);
  }
  EXPECT_TRUE(fs::is_symlink(path("link.wav")));
  EXPECT_EQ(fs::read_symlink(path("link.wav")), "real.wav");
  EXPECT_EQ(files(),
            (std::vector<std::string>{"link.wav", "new.wav", "out.wav", "real.wav", "song.wad"}));
}

TEST_F(Tool, PipeIsWrittenDirectly) {
  ASSERT_EQ(mkfifo(path("pipe").c_str(), 0600), 0);
  bytes received;
  std::thread reader([&] {
    const int fd = open(path("pipe").c_str(), O_RDONLY);
    uint8_t buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
      received.insert(received.end(), buf, buf + n);
    close(fd);
  });
  const auto r = tunecast({path("song.wad"), "D_SONG", path("pipe"), "0.01"});
  // Should the tool never have opened the pipe, this lets the reader finish.
  if (const int fd = open(path("pipe").c_str(), O_WRONLY | O_NONBLOCK); fd >= 0) close(fd);
  reader.join();
  EXPECT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(received.size(), 44u + 2 * 441);
  EXPECT_EQ(u32_at(received, 40), 2u * 441);
  EXPECT_TRUE(fs::is_fifo(path("pipe")));
}

TEST(ToolSample, ProductInSinglePrecisionTruncatedTowardZero) {
  const std::pair<float, int16_t> rows[] = {
      {1.0f, 32000},
      {-1.0f, -32000},
      {0.99999f, 31999},
      {-0.99999f, -31999},
      {0.5f, 16000},
      {3.0e-5f, 0},
      {-3.0e-5f, 0},
      // 0.00015625f lies just below 5/32000: 4.9999999 in double, 5 once rounded to float.
      {0.00015625f, 5},
      {-0.00015625f, -5},
  };
  for (const auto &[value, expected] : rows) {
    SCOPED_TRACE(value);
    EXPECT_EQ(wav_sample(value), expected);
  }
}

TEST_F(Tool, DemoSongIsAudibleWhereItHasNotesAndSilentAfter) {
  fixture::write_file(path("demo.wad"), demo::song_wad());
  const auto r = tunecast({path("demo.wad"), "D_DEMO", path("demo.wav"), "48"});
  ASSERT_EQ(r.status, 0) << r.err;
  double peak = -1.0;
  ASSERT_EQ(std::sscanf(last_line(r.out).c_str(), "pico %lf, 48.0 s", &peak), 1);
  EXPECT_GE(peak, 0.2);
  EXPECT_LE(peak, 1.0);
  const bytes wav = fixture::read_file(path("demo.wav"));
  ASSERT_EQ(wav.size(), 44u + 2 * 48 * 44100);
  // The file's loudest sample agrees with the printed peak (two decimals).
  int largest = 0;
  for (size_t i = 0; i < 48 * 44100; ++i)
    largest = std::max(largest, std::abs(int{sample_at(wav, i)}));
  EXPECT_NEAR(largest / 32000.0, peak, 0.0051);
  // Every quarter second up to the last bar's fade holds sound, and from the
  // score end on (315 samples per tick) everything is silent.
  constexpr size_t window = 11025;
  const size_t fade = size_t{demo::score_end_tick - demo::ticks_per_bar} * 315;
  for (size_t start = 0; start + window <= fade; start += window) {
    SCOPED_TRACE(start);
    int loudest = 0;
    for (size_t i = start; i < start + window; ++i)
      loudest = std::max(loudest, std::abs(int{sample_at(wav, i)}));
    EXPECT_GT(loudest, 320);  // above 1 % of full scale
  }
  const size_t end = size_t{demo::score_end_tick} * 315;
  for (size_t i = end; i < 48 * 44100; ++i) {
    ASSERT_EQ(sample_at(wav, i), 0) << i;
  }
}

}  // namespace

// Music lumps beyond plain MUS, standard output as the target, and the
// clipping report.
namespace {

fixture::bytes wav_of(const fixture::run_result &r) {
  return fixture::bytes(r.out.begin(), r.out.end());
}

// The same piece as a format 1 MIDI file (one MIDI tick is one MUS tick at 70
// per quarter note and the default tempo) and as a MUS score written directly.
fixture::bytes piece_as_midi() {
  fixture::midi_track melody, drums;
  melody.program(0, 0, 80).note_on(0, 0, 60, 110).pitch_bend(5, 0, 12000);  // bend 12000 >> 6
  melody.controller(0, 0, 7, 90).note_off(15, 0, 60).note_on(0, 1, 67, 90).end(20);
  drums.note_on(0, 9, 36, 100).note_on(20, 9, 38, 100).end();
  return fixture::midi_builder(1, 70).track(melody).track(drums).build();
}
fixture::bytes piece_as_mus() {
  return fixture::mus_builder()
      .instrument(0, 80)
      .note_on(0, 60, 110)
      .note_on(15, 36, 100)
      .delay(5)
      .bend(0, 187)
      .volume(0, 90)
      .delay(15)
      .note_off(0, 60)
      .note_on(1, 67, 90)
      .note_on(15, 38)
      .delay(20)
      .score_end()
      .build();
}

TEST_F(Tool, MidiLumpRendersLikeTheSameScoreWrittenAsMus) {
  fixture::wad_builder()
      .lump("D_MIDI", piece_as_midi())
      .lump("D_MUS", piece_as_mus())
      .write(path("two.wad"));
  const auto midi = tunecast({path("two.wad"), "D_MIDI", path("midi.wav"), "0.5"});
  const auto mus = tunecast({path("two.wad"), "D_MUS", path("mus.wav"), "0.5"});
  ASSERT_EQ(midi.status, 0) << midi.err;
  ASSERT_EQ(mus.status, 0) << mus.err;
  EXPECT_EQ(midi.err, "");
  const bytes wav = fixture::read_file(path("midi.wav"));
  ASSERT_EQ(wav.size(), 44u + 2 * 22050);
  EXPECT_EQ(wav, fixture::read_file(path("mus.wav")));
  EXPECT_NE(std::count(wav.begin() + 44, wav.end(), 0), static_cast<long>(wav.size() - 44));
}

TEST_F(Tool, BrokenMidiIsRefusedAndOtherBytesWarnedAsSilence) {
  // An MTrk chunk that claims 100 bytes right after the 14-byte header.
  const bytes header = fixture::midi_builder(0, 70).build();
  bytes cut = header;
  for (const uint8_t b : bytes{'M', 'T', 'r', 'k', 0, 0, 0, 100, 0, 0x90}) cut.push_back(b);
  fixture::wad_builder()
      .lump("D_BAD", cut)
      .lump("D_TEXT", text_bytes("not a score"))
      .write(path("odd.wad"));
  expect_refused(tunecast({path("odd.wad"), "D_BAD", path("out.wav"), "0.1"}),
                 "lump D_BAD: MIDI dañado: el bloque del byte 14 pasa del final del archivo\n");
  EXPECT_FALSE(fixture::file_exists(path("out.wav")));
  const auto r = tunecast({path("odd.wad"), "D_TEXT", path("out.wav"), "0.1"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "aviso: el lump D_TEXT no es música que se pueda tocar (ni MUS ni MIDI): "
            "se escribe silencio\n");
  EXPECT_EQ(fixture::read_file(path("out.wav")).size(), 44u + 2 * 4410);
}

TEST_F(Tool, DashWritesTheSameBytesToStandardOutput) {
  fixture::wad_builder().lump("D_MUS", piece_as_mus()).write(path("one.wad"));
  const auto file = tunecast({path("one.wad"), "D_MUS", path("out.wav"), "0.3"});
  const auto piped = tunecast({path("one.wad"), "D_MUS", "-", "0.3"});
  ASSERT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(wav_of(piped), fixture::read_file(path("out.wav")));
  // Every line that would have gone to standard output is on standard error.
  EXPECT_EQ(piped.err, file.out);
  EXPECT_EQ(files(), (std::vector<std::string>{"one.wad", "out.wav", "song.wad"}));  // no "-"
}

TEST_F(Tool, ClippedSamplesAreCountedAfterTheClosingLine) {
  // Eight kicks and a chord of loud pulses at once overdrive the mix.
  fixture::mus_builder loud;
  for (int i = 0; i < 8; ++i) loud.note_on(15, 36, 127);
  for (int note = 48; note < 72; note += 4) loud.note_on(0, note, 127);
  loud.delay(20).score_end();
  fixture::wad_builder()
      .lump("D_LOUD", loud.build())
      .lump("D_SOFT", piece_as_mus())
      .write(path("loud.wad"));
  const auto r = tunecast({path("loud.wad"), "D_LOUD", path("loud.wav"), "0.2"});
  ASSERT_EQ(r.status, 0) << r.err;
  const bytes wav = fixture::read_file(path("loud.wav"));
  long count = 0;
  size_t first = 0;
  for (size_t i = 0; i < 8820; ++i) {
    if (std::abs(int{sample_at(wav, i)}) == 32000 && count++ == 0) first = i;
  }
  ASSERT_GT(count, 1);
  char line[120];
  std::snprintf(line, sizeof line,
                "aviso: %ld muestras recortadas; la primera a %.3f s: prueba --volumen auto\n",
                count, static_cast<double>(first) / 44100.0);
  EXPECT_EQ(r.err, line);
  EXPECT_EQ(last_line(r.out), "pico 1.00, 0.2 s\n");
  EXPECT_EQ(tunecast({path("loud.wad"), "D_SOFT", path("soft.wav"), "0.2"}).err, "");
}

}  // namespace
