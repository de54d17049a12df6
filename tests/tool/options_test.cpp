// The tool's options end to end: the command line's mistakes, whole passes
// and the fade, the listing, and every lump of an archive at once. Songs are
// built so that their natural length is known by hand (315 samples a tick).
#include "tool/options.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <tuple>

#include "fixtures.h"
#include "midi_builder.h"

namespace {

using fixture::bytes;
namespace fs = std::filesystem;

const std::string usage = "uso: tunecast ZARN.WAD D_E1M1 salida.wav [segundos]\n";
constexpr size_t tone_pass = 30 * 315;  // the tone song's natural length in samples

// A held note, released at tick 20, and the score end at tick 30.
bytes tone_song() {
  return fixture::mus_builder()
      .instrument(0, 80)
      .note_on(0, 60, 127)
      .delay(20)
      .note_off(0, 60)
      .delay(10)
      .score_end()
      .build();
}
// The same song as a MIDI file: 70 ticks a quarter note is one MUS tick each.
bytes tone_midi() {
  fixture::midi_track t;
  t.program(0, 0, 80).note_on(0, 0, 60, 127).note_off(20, 0, 60).end(10);
  return fixture::midi_builder(0, 70).track(t).build();
}
bytes text_bytes(const std::string &s) { return bytes(s.begin(), s.end()); }

int16_t sample_at(const bytes &wav, size_t i) {
  return static_cast<int16_t>(wav[44 + 2 * i] | wav[45 + 2 * i] << 8);
}
size_t frames_of(const bytes &wav) { return (wav.size() - 44) / 2; }

class Options : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fixture::make_temp_dir("options");
    bytes cut = tone_song();
    cut.pop_back();
    fixture::wad_builder()
        .lump("D_TONE", tone_song())
        .lump("D_MIDI", tone_midi())
        .lump("D_CUT", cut)
        .lump("D_TEXT", text_bytes("not a score"))
        .lump("D_RUN", fixture::mus_builder().note_on(0, 60, 100).delay(4).build())
        .lump("D_ZERO", fixture::mus_builder().note_on(0, 60, 100).score_end().build())
        .write(path("songs.wad"));
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }
  static fixture::run_result tunecast(std::vector<std::string> args) {
    return fixture::run_tool(std::move(args));
  }
  // Renders and returns the file, which must have been written.
  bytes render(std::vector<std::string> args) {
    const fixture::run_result r = tunecast(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    return fixture::read_file(path("out.wav"));
  }
  std::string dir_;
};

TEST_F(Options, HelpAndVersion) {
  for (const char *flag : {"-h", "--ayuda", "--help"}) {
    SCOPED_TRACE(flag);
    const auto r = tunecast({flag, "ignored", "-x"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(0, usage.size()), usage);
    for (const char *option :
         {"--vueltas", "--fundido", "--todas", "--listar", "--version", "h:mm:ss", "--volumen",
          "-q, --silencio", "--json", "--formato", "-e, --estereo", "-p, --tocar", "-V, --version",
          "--passes, --fade", "--volume, --all"}) {
      EXPECT_NE(r.out.find(option), std::string::npos) << option;
    }
    // Each option's line is followed by an example of it.
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1) {
      const std::string line = r.out.substr(at, end - at);
      lines.push_back(line.substr(std::min(line.size(), line.find_first_not_of(' '))));
    }
    size_t options = 0;
    for (size_t k = 0; k + 1 < lines.size(); ++k) {
      if (lines[k].rfind("-", 0) != 0) continue;
      EXPECT_EQ(lines[k + 1].substr(0, 9), "tunecast ") << lines[k];
      ++options;
    }
    EXPECT_EQ(options, 12u);
    EXPECT_EQ(r.err, "");
  }
  const auto v = tunecast({"--version"});
  EXPECT_EQ(v.status, 0);
  ASSERT_EQ(v.out.substr(0, 9), "tunecast ");
  // The version, then the formats line (tested with the formats).
  const size_t end = v.out.find('\n');
  ASSERT_NE(end, std::string::npos) << v.out;
  EXPECT_EQ(v.out.find_first_not_of("0123456789.", 9), end) << v.out;
  EXPECT_EQ(v.out.back(), '\n');
}

TEST_F(Options, MistakesGetOneLineAndTheUsage) {
  const std::string a = path("songs.wad");
  const std::string out = path("out.wav");
  const std::pair<std::vector<std::string>, std::string> rows[] = {
      {{"--foo", a, "D_TONE", out}, "opción desconocida: --foo"},
      {{"-x", a, "D_TONE", out}, "opción desconocida: -x"},
      {{"-hv"}, "opción desconocida: -hv"},
      {{"--ayuda=sí"}, "la opción --ayuda no lleva valor"},
      {{"-v"}, "falta el valor de -v"},
      {{"--vueltas"}, "falta el valor de --vueltas"},
      {{"-v", "0", a, "D_TONE", out}, "número de vueltas no válido: 0"},
      {{"-v", "2x", a, "D_TONE", out}, "número de vueltas no válido: 2x"},
      {{"--vueltas=-1", a, "D_TONE", out}, "número de vueltas no válido: -1"},
      {{"-v", "99999999999999999999", a, "D_TONE", out},
       "número de vueltas no válido: 99999999999999999999"},
      {{"-v", "2", "-f", "-1", a, "D_TONE", out}, "fundido no válido: -1"},
      {{"-v", "2", "-f", "inf", a, "D_TONE", out}, "fundido no válido: inf"},
      {{"-f", "1", a, "D_TONE", out}, "--fundido solo va con --vueltas"},
      {{"-v", "2", a, "D_TONE", out, "5"}, "con --vueltas no se da la duración en segundos"},
      {{"-v", "2", a, "D_TONE"}, "faltan argumentos"},
      {{"-a", path("all")}, "faltan argumentos"},
      {{"-a", path("all"), a, "5", "6"}, "sobra el argumento 6"},
      {{"-l", a, "extra"}, "sobra el argumento extra"},
      {{"-l", a, "-a", path("all")}, "--listar y --todas no van juntas"},
      {{"-v", "2", "-l", a}, "--listar no va con --vueltas"},
      {{"-p", a, "-l", a}, "--tocar no va con --listar ni con --todas"},
      {{"-p", a, "--formato", "flac"}, "--tocar no va con --formato"},
      {{"-p", a, "--json"}, "--json solo va con --listar"},
      {{"-p", a, "D_TONE", "5", "6"}, "sobra el argumento 6"},
      {{"-p", a, "-v", "2", "D_TONE", "5"}, "con --vueltas no se da la duración en segundos"},
      // The plain form takes no more than four arguments either.
      {{a, "D_TONE", out, "5", "6", "7"}, "sobra el argumento 6"},
      // After the arguments, an option still takes the next one as its value.
      {{a, "D_TONE", out, "-v", "-1"}, "número de vueltas no válido: -1"},
      {{a, "D_TONE", out, "5", "--vueltas=2"}, "con --vueltas no se da la duración en segundos"},
  };
  for (const auto &[args, line] : rows) {
    SCOPED_TRACE(line);
    const auto r = tunecast(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, line + " (ver tunecast --ayuda)\n" + usage);
    EXPECT_EQ(r.out, "");
  }
  EXPECT_FALSE(fixture::file_exists(out));
  EXPECT_FALSE(fixture::file_exists(path("all")));
}

// Options and arguments mix in any order; "--" ends the options.
TEST_F(Options, SpellingsOfAnOptionAndWhereOptionsEnd) {
  const std::string a = path("songs.wad");
  const std::string out = path("out.wav");
  for (const auto &args :
       std::vector<std::vector<std::string>>{{"-v2", a, "D_TONE", out},
                                             {"-v", "2", a, "D_TONE", out},
                                             {"--vueltas=2", a, "D_TONE", out},
                                             {"--vueltas", "2", a, "D_TONE", out},
                                             {"-v", "2", "--", a, "D_TONE", out},
                                             {a, "D_TONE", out, "-v", "2"},
                                             {a, "-v2", "D_TONE", out},
                                             {a, "D_TONE", "--vueltas", "2", out}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    EXPECT_EQ(frames_of(render(args)), 2 * tone_pass);
  }
  EXPECT_EQ(frames_of(render({"--", a, "D_TONE", out, "0.01"})), 441u);
  // After "--" an option's spelling is an argument: here, a duration.
  const auto r = tunecast({a, "D_TONE", out, "--", "-v"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "duración no válida: -v\n");
}

// A duration that is not wholly a number is refused before the archive is
// read (no loader line) and before the output is touched.
TEST_F(Options, RefusedDurationsTouchNothingAndLoadNothing) {
  const std::string bad = "duración no válida: ", big = "duración demasiado larga: ";
  const std::string rows[][2] = {
      {"abc", bad},
      {"1m30", bad},
      {"1e3", bad},
      {"inf", bad},
      {"-5", bad},
      {" 12", bad},
      {"12s5", bad},
      {"1:60", bad},
      {"1:5", bad},
      {"1:30s", bad},
      {"1:00:00:00", bad},
      {"12,5", bad + "12,5 (el decimal se escribe con punto: 12.5)"},
      // 48695.774 s is one frame past the WAV size fields (2147483629 frames).
      {"48695.774", big},
      {"99999999999999999999:00:00", big}};
  const std::string out = path("out.wav");
  const bytes old = text_bytes("old");
  fixture::write_file(out, old);
  for (const auto &[text, said] : rows) {
    SCOPED_TRACE(text);
    // A prefix (ending in a blank) is followed by the text itself.
    const std::string line = said.back() == ' ' ? said + text : said;
    for (const auto &args :
         std::vector<std::vector<std::string>>{{path("songs.wad"), "D_TONE", out, text},
                                               {"-a", path("all"), path("songs.wad"), text}}) {
      const auto r = tunecast(args);
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err, line + "\n");
      EXPECT_EQ(r.out, "");  // the loader's line would be here
    }
    EXPECT_EQ(fixture::read_file(out), old);
    EXPECT_FALSE(fixture::file_exists(path("all")));
  }
}

// Frames are seconds x 44100 truncated, the seconds read exactly as strtod
// reads the same decimal text.
TEST_F(Options, AcceptedDurationFormsGiveTheirFrameCounts) {
  const std::tuple<const char *, size_t, const char *> rows[] = {
      {"90", 3969000, "90.0"},
      {"90s", 3969000, "90.0"},
      {"1:30", 3969000, "90.0"},
      {"0:01:30", 3969000, "90.0"},
      {"1.5", 66150, "1.5"},
      {".5s", 22050, "0.5"},
      // 68.04 x 44100 = 3000564 exactly, and the double nearest 68.04 lies
      // just above it. 60 + 8.04 in doubles lies just below and would give
      // 3000563: the clock form must read the seconds as one decimal.
      {"1:08.04", 3000564, "68.0"},
      {"68.04", 3000564, "68.0"}};
  for (const auto &[text, frames, shown] : rows) {
    SCOPED_TRACE(text);
    const auto r = tunecast({path("songs.wad"), "D_TONE", path("out.wav"), text});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(r.out.rfind("pico")).substr(9), std::string(", ") + shown + " s\n");
    EXPECT_EQ(frames_of(fixture::read_file(path("out.wav"))), frames);
  }
  // --todas reads its duration the same way.
  fixture::wad_builder().lump("D_TONE", tone_song()).write(path("one.wad"));
  const auto r = tunecast({path("one.wad"), "0:00.5", "--todas", path("all")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(frames_of(fixture::read_file(path("all/D_TONE.wav"))), 22050u);
}

TEST_F(Options, PassesAreWholeNaturalLengthsAndLoopTheSong) {
  const std::string a = path("songs.wad");
  const bytes once = render({"-v", "1", a, "D_TONE", path("out.wav")});
  const auto r = tunecast({"-v", "3", a, "D_TONE", path("out.wav")});
  EXPECT_EQ(r.status, 0);
  // 3 x 9450 samples = 0.643 s.
  EXPECT_EQ(r.out.substr(r.out.rfind("pico")).substr(9), ", 0.6 s\n");
  const bytes thrice = fixture::read_file(path("out.wav"));
  ASSERT_EQ(frames_of(once), tone_pass);
  ASSERT_EQ(frames_of(thrice), 3 * tone_pass);
  EXPECT_NE(sample_at(once, 100), 0);
  for (size_t i = 0; i < 3 * tone_pass; ++i) {
    ASSERT_EQ(sample_at(thrice, i), sample_at(once, i % tone_pass)) << i;
  }
  // The MIDI lump is measured on its converted score.
  EXPECT_EQ(render({"-v", "2", a, "D_MIDI", path("out.wav")}),
            render({"-v", "2", a, "D_TONE", path("out.wav")}));
}

// Over a fade of F samples the gain of fade sample k is (F - 1 - k) / F, so
// the last is silent. Beneath the fade the song goes on looping: the third
// pass of an unfaded render is what is being faded.
TEST_F(Options, FadeFallsLinearlyToZeroOnTheLastSample) {
  const std::string a = path("songs.wad");
  const bytes looped = render({"-v", "3", a, "D_TONE", path("out.wav")});
  const bytes faded = render({"-v", "2", "-f", "0.1", a, "D_TONE", path("out.wav")});
  constexpr size_t fade = 4410;
  ASSERT_EQ(frames_of(faded), 2 * tone_pass + fade);
  for (size_t i = 0; i < 2 * tone_pass; ++i) ASSERT_EQ(sample_at(faded, i), sample_at(looped, i));
  for (size_t k = 0; k < fade; ++k) {
    const size_t i = 2 * tone_pass + k;
    const double gain = static_cast<double>(fade - 1 - k) / fade;
    ASSERT_NEAR(sample_at(faded, i), sample_at(looped, i) * gain, 1.5) << k;
  }
  EXPECT_EQ(sample_at(faded, 2 * tone_pass + fade - 1), 0);
  EXPECT_NE(sample_at(looped, 2 * tone_pass + fade - 1), 0);  // silent by the fade alone
  EXPECT_EQ(frames_of(render({"-v", "1", "-f", "0", a, "D_TONE", path("out.wav")})), tone_pass);
}

TEST_F(Options, PassesOfWhatHasNoLengthAreRefused) {
  const std::pair<std::vector<std::string>, std::string> rows[] = {
      {{"-v", "2", "D_TEXT"}, "lump D_TEXT: no es MUS ni MIDI, no tiene vueltas\n"},
      {{"-v", "2", "D_RUN"}, "lump D_RUN: la partitura no llega a su fin, no se puede medir\n"},
      {{"-v", "2", "D_ZERO"}, "lump D_ZERO: dura 0 s, no hay vueltas que dar\n"},
      {{"-v", "2", "D_CUT"}, "lump D_CUT truncado\n"},
      // 227253 x 9450 = 2147540850 frames, past 2147483629.
      {{"-v", "227253", "D_TONE"}, "duración demasiado larga: 227253 vueltas de 0.214 s\n"},
      {{"-v", "1", "-f", "48695.6", "D_TONE"},
       "duración demasiado larga: 1 vuelta de 0.214 s y 48695.6 s de fundido\n"},
  };
  for (const auto &[args, line] : rows) {
    SCOPED_TRACE(line);
    std::vector<std::string> full(args.begin(), args.end() - 1);
    full.insert(full.end(), {path("songs.wad"), args.back(), path("out.wav")});
    const auto r = tunecast(full);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, line);
    EXPECT_FALSE(fixture::file_exists(path("out.wav")));
  }
}

TEST_F(Options, ListingShowsMusicLumpsAligned) {
  bytes bad_midi = tone_midi();
  bad_midi.resize(bad_midi.size() - 3);
  fixture::wad_builder()
      .lump("D_TONE", tone_song())
      .lump("D_LONGER", tone_midi())
      .lump("D_TEXT", text_bytes("not a score"))
      .lump("D_BAD", bad_midi)
      .lump("D_RUN", fixture::mus_builder().note_on(0, 60, 100).delay(4).build())
      .lump("a/..", fixture::mus_builder().score_end().build())
      .write(path("list.wad"));
  const auto r = tunecast({"--listar", path("list.wad")});
  EXPECT_EQ(r.status, 0);
  // Sizes: the tone song is 8 + 11 bytes, its MIDI file 14 + 8 + 15; the
  // cut MIDI file lost 3 of them.
  EXPECT_EQ(r.out,
            "D_TONE      MUS   19  0.214 s\n"
            "D_LONGER    MIDI  37  0.214 s\n"
            "D_BAD       MIDI  34   dañado\n"
            "D_RUN       MUS   12  sin fin\n"
            "a%2F%2E%2E  MUS    9  0.000 s\n");
  EXPECT_EQ(r.err.substr(0, 6), "[WAD] ");  // the loader's line, off the listing
  EXPECT_EQ(tunecast({"-l", path("missing.wad")}).status, 1);
}

// Runs the tool with standard output and standard error on a terminal of its
// own; returns the exit status and what the terminal received.
std::pair<int, std::string> run_on_terminal(const std::vector<std::string> &args) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return {-1, ""};
  const int term = open(ptsname(master), O_RDWR | O_NOCTTY);
  termios mode{};
  tcgetattr(term, &mode);
  mode.c_oflag &= ~static_cast<tcflag_t>(OPOST);  // "\n" stays "\n"
  tcsetattr(term, TCSANOW, &mode);
  std::vector<std::string> env_text = {"ZARN_SYNTH=1"};
  for (char **e = environ; *e != nullptr; ++e) env_text.emplace_back(*e);
  std::vector<char *> argv, envp;
  const std::string tool = fixture::tool_path();
  argv.push_back(const_cast<char *>(tool.c_str()));
  for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  for (std::string &e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, term, 1);
  posix_spawn_file_actions_adddup2(&actions, term, 2);
  pid_t pid = 0;
  int status = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) {
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    if (WIFEXITED(wstatus)) status = WEXITSTATUS(wstatus);
  }
  posix_spawn_file_actions_destroy(&actions);
  // The terminal stays open on this side, so what was written waits to be read.
  fcntl(master, F_SETFL, O_NONBLOCK);
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0;)
    text.append(buf, static_cast<size_t>(n));
  close(term);
  close(master);
  return {status, text};
}

// Every music lump, the last of each name: D_TONE twice (silent, then the
// tone), the MIDI file, a truncated score, and names that are no file names.
class Batch : public Options {
 protected:
  void SetUp() override {
    Options::SetUp();
    bytes cut = tone_song();
    cut.pop_back();
    fixture::wad_builder()
        .lump("D_TONE", fixture::mus_builder().score_end().build())
        .lump("D_MIDI", tone_midi())
        .lump("D_CUT", cut)
        .lump("D_TEXT", text_bytes("not a score"))
        .lump("a/..", tone_song())
        .lump("\x01X", tone_song())
        .lump("D_TONE", tone_song())
        .write(path("all.wad"));
  }
  const std::vector<std::string> written = {"%01X.wav", "D_MIDI.wav", "D_TONE.wav",
                                            "a%2F%2E%2E.wav"};
  std::vector<std::string> files_in(const std::string &dir) const {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(Batch, OneBrokenLumpFailsAloneAndTheSummaryCountsIt) {
  const std::string out = path("out");
  const auto r = tunecast({"--todas", out, path("all.wad"), "0.2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "lump D_CUT truncado\n");
  // The archive was loaded once, by the parent.
  EXPECT_EQ(r.out.find("[WAD]"), r.out.rfind("[WAD]"));
  EXPECT_EQ(r.out.substr(r.out.find('\n') + 1), "4 de 5 pistas escritas en " + out + "\n");
  EXPECT_EQ(files_in(out), written);
  EXPECT_EQ(files_in(dir_), (std::vector<std::string>{"all.wad", "out", "songs.wad"}));
  const bytes tone = render({path("songs.wad"), "D_TONE", path("out.wav"), "0.2"});
  for (const std::string &name : written) {
    SCOPED_TRACE(name);
    EXPECT_EQ(fixture::read_file(out + "/" + name), tone);  // the tone, not the silent D_TONE
  }
}

TEST_F(Batch, PassesPerLumpAndProgressOnATerminal) {
  fixture::wad_builder()
      .lump("D_TONE", tone_song())
      .lump("D_MIDI", tone_midi())
      .write(path("good.wad"));
  const auto [status, text] = run_on_terminal({"-a", path("out/"), "-v", "2", path("good.wad")});
  EXPECT_EQ(status, 0) << text;
  for (const char *name : {"D_TONE.wav", "D_MIDI.wav"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(frames_of(fixture::read_file(path("out/") + name)), 2 * tone_pass);
  }
  // One progress line per lump, in the order they finish, then the summary.
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
    lines.push_back(text.substr(at, end - at));
  }
  const auto first = std::find_if(lines.begin(), lines.end(),
                                  [](const std::string &l) { return l.rfind("[1/2] ", 0) == 0; });
  ASSERT_EQ(lines.end() - first, 3) << text;
  EXPECT_EQ(first[1].substr(0, 6), "[2/2] ");
  std::vector<std::string> done = {first[0].substr(6), first[1].substr(6)};
  std::sort(done.begin(), done.end());
  EXPECT_EQ(done, (std::vector<std::string>{"D_MIDI.wav", "D_TONE.wav"}));
  EXPECT_EQ(first[2], "2 de 2 pistas escritas en " + path("out"));
}

TEST_F(Batch, TargetThatIsNotADirectory) {
  const auto r = tunecast({"-a", path("songs.wad"), path("all.wad")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "no se puede escribir en " + path("songs.wad") +
                       ": parte de la ruta no es un directorio\n");
}

TEST_F(Options, BinaryIsNotWrittenToATerminal) {
  const auto [status, text] = run_on_terminal({path("songs.wad"), "D_TONE", "-", "0.1"});
  EXPECT_EQ(status, 1);
  EXPECT_EQ(text,
            "no se escribe un WAV en la terminal: redirige la salida a un archivo o a otro "
            "programa\n");
}

// The command line read in process: the words live as long as the options
// that point into them.
struct parsed {
  std::vector<std::string> words;
  std::vector<char *> argv;
  tool_options opt;
  explicit parsed(std::vector<std::string> args) : words(std::move(args)) {
    words.insert(words.begin(), "tunecast");
    for (std::string &w : words) argv.push_back(w.data());
    opt = options_parse(static_cast<int>(argv.size()), argv.data());
    if (opt.error.empty()) options_check_args(opt);
  }
};

// The fade is a duration, read by the duration's grammar and nothing else.
TEST(OptionsParse, FadeTakesExactlyTheDurationsGrammar) {
  const std::pair<const char *, double> accepted[] = {{"5", 5.0},       {"5s", 5.0}, {"0:05", 5.0},
                                                      {"1:30.5", 90.5}, {".5", 0.5}, {"0", 0.0}};
  for (const auto &[text, seconds] : accepted) {
    SCOPED_TRACE(text);
    const parsed p({"-v", "1", "-f", text, "a.wad", "D_TONE", "out.wav"});
    ASSERT_EQ(p.opt.error, "");
    EXPECT_EQ(p.opt.fade_s, seconds);
    EXPECT_STREQ(p.opt.fade_text, text);
  }
  for (const char *text :
       {"0x10", "1e1", " 5", "5 ", "+5", "-1", "1e-400", "inf", "nan", "", "5ss", "1:60", "5,5"}) {
    SCOPED_TRACE(text);
    const parsed p({"-v", "1", "--fundido", text, "a.wad", "D_TONE", "out.wav"});
    EXPECT_EQ(p.opt.error, std::string("fundido no válido: ") + text);
  }
}

// --listar's archive is attached to it or is the first argument, so a flag
// between the two is a flag, as GNU reads an option whose value is optional.
TEST(OptionsParse, ListingTakesItsArchiveAttachedOrAsTheArgument) {
  const std::vector<std::string> lists_as_json[] = {
      {"--listar", "--json", "a.wad"}, {"-l", "a.wad", "--json"},    {"--json", "-l", "a.wad"},
      {"-la.wad", "--json"},           {"--listar=a.wad", "--json"}, {"a.wad", "--json", "-l"}};
  for (const auto &args : lists_as_json) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const parsed p(args);
    ASSERT_EQ(p.opt.error, "");
    EXPECT_EQ(p.opt.action, tool_action::list);
    EXPECT_STREQ(p.opt.archive, "a.wad");
    EXPECT_TRUE(p.opt.json);
    EXPECT_TRUE(p.opt.args.empty());
  }
  const std::pair<std::vector<std::string>, std::string> refused[] = {
      {{"-l"}, "falta el archivo que listar"},
      {{"--listar", "--json"}, "falta el archivo que listar"},
      {{"-l", "a.wad", "b.wad"}, "sobra el argumento b.wad"},
      {{"-la.wad", "b.wad"}, "sobra el argumento b.wad"},
      {{"-l", "-a", "dir", "a.wad"}, "--listar y --todas no van juntas"},
  };
  for (const auto &[args, line] : refused) {
    SCOPED_TRACE(line);
    EXPECT_EQ(parsed(args).opt.error, line);
  }
}

// Each English name reads as its Spanish one: the same options, the same
// values, the same arguments.
TEST(OptionsParse, EnglishNamesAreTheSameOptions) {
  const std::pair<std::vector<std::string>, std::vector<std::string>> same[] = {
      {{"--passes", "2", "--fade=3", "--volume", "64", "--stereo", "--quiet", "--format", "flac",
        "a.wad", "D_X", "o.flac"},
       {"--vueltas", "2", "--fundido=3", "--volumen", "64", "--estereo", "--silencio", "--formato",
        "flac", "a.wad", "D_X", "o.flac"}},
      {{"--all", "dir", "a.wad"}, {"--todas", "dir", "a.wad"}},
      {{"--list=a.wad", "--json"}, {"--listar=a.wad", "--json"}},
      {{"--play", "a.wad"}, {"--tocar", "a.wad"}},
      {{"-V"}, {"--version"}},
  };
  for (const auto &[english, spanish] : same) {
    SCOPED_TRACE(::testing::PrintToString(english));
    const parsed e(english);
    const parsed s(spanish);
    ASSERT_EQ(e.opt.error, "");
    ASSERT_EQ(s.opt.error, "");
    EXPECT_EQ(e.opt.action, s.opt.action);
    EXPECT_EQ(e.opt.loops, s.opt.loops);
    EXPECT_EQ(e.opt.fade_s, s.opt.fade_s);
    EXPECT_EQ(e.opt.volume, s.opt.volume);
    EXPECT_EQ(e.opt.stereo, s.opt.stereo);
    EXPECT_EQ(e.opt.quiet, s.opt.quiet);
    EXPECT_EQ(e.opt.format_given, s.opt.format_given);
    EXPECT_EQ(e.opt.format, s.opt.format);
    EXPECT_EQ(e.opt.json, s.opt.json);
    ASSERT_EQ(e.opt.args.size(), s.opt.args.size());
    for (size_t i = 0; i < e.opt.args.size(); ++i) EXPECT_STREQ(e.opt.args[i], s.opt.args[i]);
  }
}

}  // namespace
