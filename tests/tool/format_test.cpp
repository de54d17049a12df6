// The output formats end to end: FLAC and Ogg Vorbis read back with
// libsndfile and held against the WAV of the same render, the format taken
// from --formato or from the name, and what is refused, in a build with
// libsndfile and in one without.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "fixtures.h"
#include "tool_process.h"

#ifdef TUNECAST_HAVE_SNDFILE
#include <sndfile.h>
#endif

namespace {

using fixture::bytes;
namespace fs = std::filesystem;

#ifdef TUNECAST_HAVE_SNDFILE
constexpr bool sndfile_built_in = true;
#else
constexpr bool sndfile_built_in = false;
#endif

const std::string usage = "uso: tunecast ZARN.WAD D_E1M1 salida.wav [segundos]\n";

using fixture::busy_song;

std::vector<int16_t> wav_samples(const bytes &wav) {
  std::vector<int16_t> out;
  for (size_t at = 44; at + 1 < wav.size(); at += 2) {
    out.push_back(static_cast<int16_t>(wav[at] | wav[at + 1] << 8));
  }
  return out;
}

#ifdef TUNECAST_HAVE_SNDFILE
double rms(const std::vector<int16_t> &samples) {
  double sum = 0.0;
  for (const int16_t s : samples) sum += static_cast<double>(s) * s;
  return samples.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(samples.size()));
}

bool starts_with(const bytes &b, const std::string &magic) {
  return b.size() >= magic.size() && std::equal(magic.begin(), magic.end(), b.begin());
}

struct decoded {
  SF_INFO info{};
  std::vector<int16_t> samples;
};
// Every frame libsndfile reads from the file, whatever its header announced.
decoded decode(const std::string &path) {
  decoded d;
  SNDFILE *f = sf_open(path.c_str(), SFM_READ, &d.info);
  if (f == nullptr) {
    ADD_FAILURE() << path << ": " << sf_strerror(nullptr);
    return d;
  }
  int16_t block[4096];
  for (sf_count_t n; (n = sf_read_short(f, block, 4096)) > 0;) {
    d.samples.insert(d.samples.end(), block, block + n);
  }
  sf_close(f);
  return d;
}
#endif

class Formats : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fixture::make_temp_dir("formats");
    fixture::wad_builder()
        .lump("D_BUSY", busy_song())
        .lump("D_QUIET", fixture::mus_builder().note_on(0, 60, 60).delay(30).score_end().build())
        .write(path("song.wad"));
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }
  std::vector<std::string> files(const std::string &in) const {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(in)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  // Renders D_BUSY for `seconds` into out.wav, which must succeed.
  std::vector<int16_t> reference(const std::string &seconds) {
    const auto r = fixture::run_tool({path("song.wad"), "D_BUSY", path("ref.wav"), seconds});
    EXPECT_EQ(r.status, 0) << r.err;
    closing_ = r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1);
    return wav_samples(fixture::read_file(path("ref.wav")));
  }
  std::string dir_;
  std::string closing_;  // the reference render's closing line
};

#ifdef TUNECAST_HAVE_SNDFILE

TEST_F(Formats, FlacDecodesToTheWavSamplesWhereverItIsWritten) {
  const std::vector<int16_t> wav = reference("2");
  ASSERT_EQ(wav.size(), 88200u);
  ASSERT_GT(rms(wav), 300.0);
  // By extension in any case, chosen explicitly for another name, and to
  // standard output (a pipe: the encoder cannot go back to its header).
  const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
      {{path("song.wad"), "D_BUSY", path("out.flac"), "2"}, path("out.flac")},
      {{path("song.wad"), "D_BUSY", path("OUT.FLAC"), "2"}, path("OUT.FLAC")},
      {{"--formato", "flac", path("song.wad"), "D_BUSY", path("take"), "2"}, path("take")},
      {{"--formato=flac", path("song.wad"), "D_BUSY", "-", "2"}, ""},
  };
  for (const auto &[args, written] : rows) {
    SCOPED_TRACE(args[2]);
    const auto r = fixture::run_tool(args);
    ASSERT_EQ(r.status, 0) << r.err;
    std::string file = written;
    if (file.empty()) {
      file = path("piped.flac");
      fixture::write_file(file, bytes(r.out.begin(), r.out.end()));
      EXPECT_EQ(r.err.substr(r.err.rfind('\n', r.err.size() - 2) + 1), closing_);
    } else {
      EXPECT_EQ(r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1), closing_);
    }
    EXPECT_TRUE(starts_with(fixture::read_file(file), "fLaC"));
    const decoded d = decode(file);
    EXPECT_EQ(d.info.channels, 1);
    EXPECT_EQ(d.info.samplerate, 44100);
    EXPECT_EQ(d.info.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    EXPECT_TRUE(d.samples == wav) << d.samples.size() << " samples";
  }
  EXPECT_EQ(process::temporaries_in(dir_), 0u);
}

TEST_F(Formats, VorbisKeepsTheLevelAndTheLength) {
  const std::vector<int16_t> wav = reference("3");
  const auto r = fixture::run_tool({path("song.wad"), "D_BUSY", path("out.ogg"), "3"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(starts_with(fixture::read_file(path("out.ogg")), "OggS"));
  const decoded d = decode(path("out.ogg"));
  EXPECT_EQ(d.info.channels, 1);
  EXPECT_EQ(d.info.samplerate, 44100);
  EXPECT_EQ(d.info.format, SF_FORMAT_OGG | SF_FORMAT_VORBIS);
  // The last granule position gives the exact length; a block of padding
  // at most if a decoder ignores it.
  EXPECT_GE(d.samples.size(), wav.size());
  EXPECT_LE(d.samples.size(), wav.size() + 2048);
  EXPECT_NEAR(rms(d.samples) / rms(wav), 1.0, 0.03);
  // Lossy, but not the same file: it is smaller than the WAV.
  EXPECT_LT(fs::file_size(path("out.ogg")), fs::file_size(path("ref.wav")) / 4);
}

TEST_F(Formats, BatchWritesEveryLumpInTheChosenFormat) {
  const std::string all = path("all");
  const auto r = fixture::run_tool({"--todas", all, "--formato", "flac", path("song.wad"), "1"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1),
            "2 de 2 pistas escritas en " + all + "\n");
  EXPECT_EQ(files(all), (std::vector<std::string>{"D_BUSY.flac", "D_QUIET.flac"}));
  EXPECT_TRUE(decode(all + "/D_BUSY.flac").samples == reference("1"));
}

// The encoder's writes fail like the WAV writer's: the reason is the
// system's, the old file stays and the temporary file goes.
TEST_F(Formats, FailedEncodedWriteKeepsTheOldFile) {
  for (const char *name : {"out.flac", "out.ogg"}) {
    SCOPED_TRACE(name);
    fixture::write_file(path(name), {'o', 'l', 'd'});
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 16384;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const auto old_handler = signal(SIGXFSZ, SIG_IGN);
    const auto r = fixture::run_tool({path("song.wad"), "D_BUSY", path(name), "20"});
    signal(SIGXFSZ, old_handler);
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "no se puede escribir " + path(name) + ": archivo demasiado grande\n");
    EXPECT_EQ(fixture::read_file(path(name)), (bytes{'o', 'l', 'd'}));
    EXPECT_EQ(process::temporaries_in(dir_), 0u);
  }
}

// The tool with its standard output on out_fd: a pipe's write end, read
// here to its end while the tool writes, or a file opened to append.
// Returns what came through the pipe (nothing for a file).
bytes run_with_stdout(const std::vector<std::string> &args, int out_fd, int pipe_read_fd) {
  std::vector<std::string> words = {fixture::tool_path(), "-q"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  // The synthesizer forced, as run_tool forces it.
  std::vector<char *> envp;
  std::string forced = "ZARN_SYNTH=1";
  for (char **e = environ; *e != nullptr; ++e) {
    if (std::string_view(*e).substr(0, 11) != "ZARN_SYNTH=") envp.push_back(*e);
  }
  envp.push_back(forced.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out_fd);
  bytes got;
  if (pipe_read_fd >= 0) {
    uint8_t block[4096];
    for (ssize_t n; (n = read(pipe_read_fd, block, sizeof block)) > 0;) {
      got.insert(got.end(), block, block + n);
    }
    close(pipe_read_fd);
  }
  int status = -1;
  if (rc == 0) waitpid(pid, &status, 0);
  EXPECT_EQ(status, 0);
  return got;
}

// The reference decoder, found on PATH; empty when it is not installed.
std::string flac_program() {
  const char *path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "";
  for (size_t at = 0; at <= dirs.size();) {
    const size_t end = std::min(dirs.find(':', at), dirs.size());
    const std::string candidate = dirs.substr(at, end - at) + "/flac";
    if (end > at && access(candidate.c_str(), X_OK) == 0) return candidate;
    at = end + 1;
  }
  return "";
}

// Wherever a FLAC stream goes (a file, a pipe, standard output opened to
// append, where the encoder cannot go back to its header) and however
// short it is, the reference decoder takes it whole, with nothing after its
// last frame, and it decodes to the WAV's samples.
TEST_F(Formats, FlacPassesTheReferenceDecoderWhereverItGoesAndHoweverShort) {
  const std::string flac = flac_program();
  if (flac.empty()) GTEST_SKIP() << "the flac program is not installed: no stream is checked";
  enum class where { file, pipe, append };
  const struct {
    const char *what;
    where to;
    std::string seconds;
  } rows[] = {
      {"file", where::file, "2"},
      {"pipe", where::pipe, "2"},
      {"append", where::append, "2"},
      {"file, no samples", where::file, "0"},
      {"pipe, no samples", where::pipe, "0"},
      {"append, no samples", where::append, "0"},
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(r.what);
    const std::string file = path("out.flac");
    fs::remove(file);
    const std::vector<std::string> args = {
        "--formato", "flac", path("song.wad"), "D_BUSY", r.to == where::file ? file : "-",
        r.seconds};
    if (r.to == where::file) {
      ASSERT_EQ(fixture::run_tool(args).status, 0);
    } else if (r.to == where::pipe) {
      int ends[2];
      ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
      fixture::write_file(file, run_with_stdout(args, ends[1], ends[0]));
    } else {
      const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
      ASSERT_GE(fd, 0);
      run_with_stdout(args, fd, -1);
    }
    const fixture::run_result t = fixture::run({flac, "-s", "-t", file});
    EXPECT_EQ(t.status, 0) << t.err;
    EXPECT_EQ(t.err.find("ERROR"), std::string::npos) << t.err;
    EXPECT_TRUE(decode(file).samples == reference(r.seconds));
  }
  // Every file of a batch of no samples is a whole stream too, in stereo too.
  const std::string all = path("all");
  ASSERT_EQ(fixture::run_tool({"-a", all, "-e", "--formato", "flac", path("song.wad"), "0"}).status,
            0);
  for (const std::string &name : files(all)) {
    SCOPED_TRACE(name);
    const fixture::run_result t = fixture::run({flac, "-s", "-t", all + "/" + name});
    EXPECT_EQ(t.status, 0) << t.err;
    const decoded d = decode(all + "/" + name);
    EXPECT_EQ(d.info.channels, 2);
    EXPECT_TRUE(d.samples.empty());
  }
}

// Ogg Vorbis of no samples: the headers alone, which a decoder reads as a
// stream of no samples.
TEST_F(Formats, VorbisOfNoSamplesIsAWholeStream) {
  ASSERT_EQ(fixture::run_tool({path("song.wad"), "D_BUSY", path("out.ogg"), "0"}).status, 0);
  EXPECT_TRUE(starts_with(fixture::read_file(path("out.ogg")), "OggS"));
  const decoded d = decode(path("out.ogg"));
  EXPECT_EQ(d.info.format, SF_FORMAT_OGG | SF_FORMAT_VORBIS);
  EXPECT_TRUE(d.samples.empty());
}

#endif  // TUNECAST_HAVE_SNDFILE

TEST_F(Formats, WithoutLibsndfileTheCompressedFormatsAreRefused) {
  if (sndfile_built_in) GTEST_SKIP() << "this build encodes FLAC and Ogg Vorbis";
  const std::string all = path("all");
  const std::pair<std::vector<std::string>, const char *> rows[] = {
      {{path("song.wad"), "D_BUSY", path("out.flac")}, "flac"},
      {{"--formato", "flac", path("song.wad"), "D_BUSY", "-"}, "flac"},
      {{"--todas", all, "--formato", "ogg", path("song.wad")}, "ogg"},
  };
  for (const auto &[args, format] : rows) {
    SCOPED_TRACE(args[2]);
    const auto r = fixture::run_tool(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string("no se escribe ") + format +
                         ": esta compilación de tunecast no tiene libsndfile (instala "
                         "libsndfile1-dev y vuelve a compilar)\n");
    EXPECT_EQ(files(dir_), std::vector<std::string>{"song.wad"});
  }
}

TEST_F(Formats, NamesAndValuesTheToolDoesNotWriteAreRefused) {
  const std::string wad = path("song.wad");
  const std::string unknown = " (tunecast escribe .wav, .flac, .ogg y .mid; --formato elige uno)\n";
  const std::pair<std::vector<std::string>, std::string> rows[] = {
      {{wad, "D_BUSY", path("out.mp3")},
       "extensión de salida desconocida: " + path("out.mp3") + unknown},
      {{wad, "D_BUSY", path("OUT.Aac"), "1"},
       "extensión de salida desconocida: " + path("OUT.Aac") + unknown},
      {{wad, "D_BUSY", path("a.wav.part")},
       "extensión de salida desconocida: " + path("a.wav.part") + unknown},
      {{"--formato", "mp3", wad, "D_BUSY", path("out.wav")},
       "formato no válido: mp3 (wav, flac, ogg o mid) (ver tunecast --ayuda)\n" + usage},
      {{"--formato=", wad, "D_BUSY", path("out.wav")},
       "formato no válido:  (wav, flac, ogg o mid) (ver tunecast --ayuda)\n" + usage},
      {{"--formato", "flac", wad, "D_BUSY", path("out.wav")},
       "--formato flac no casa con el nombre " + path("out.wav") + "\n"},
      {{"--formato", "wav", "-l", wad},
       "--listar no va con --formato (ver tunecast --ayuda)\n" + usage},
  };
  for (const auto &[args, line] : rows) {
    SCOPED_TRACE(line);
    const auto r = fixture::run_tool(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, line);
    EXPECT_EQ(files(dir_), std::vector<std::string>{"song.wad"});
  }
}

// A name without an extension is a WAV, as it always was; --formato wav
// gives the same bytes to a name the tool would otherwise refuse.
TEST_F(Formats, NoExtensionOrAnExplicitWavGivesTheWavBytes) {
  const auto plain = fixture::run_tool({path("song.wad"), "D_BUSY", path("ref.wav"), "0.5"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  const bytes wav = fixture::read_file(path("ref.wav"));
  for (const auto &args : std::vector<std::vector<std::string>>{
           {path("song.wad"), "D_BUSY", path("take"), "0.5"},
           {path("song.wad"), "D_BUSY", path(".flac"), "0.5"},
           {"--formato", "wav", path("song.wad"), "D_BUSY", path("take.raw"), "0.5"}}) {
    SCOPED_TRACE(args[args.size() - 2]);
    const auto r = fixture::run_tool(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fixture::read_file(args[args.size() - 2]), wav);
  }
}

// --version names what this build writes; a score is written as MIDI
// whole, never with a length.
TEST_F(Formats, VersionNamesTheFormatsAndMidiTakesNoLength) {
  const auto v = fixture::run_tool({"--version"});
  ASSERT_EQ(v.status, 0);
  const size_t second = v.out.find('\n') + 1;
  const std::string line = v.out.substr(second, v.out.find('\n', second) + 1 - second);
  EXPECT_EQ(line, sndfile_built_in ? "formatos: wav flac ogg mid\n" : "formatos: wav mid\n");
  for (const auto &args : std::vector<std::vector<std::string>>{
           {path("song.wad"), "D_BUSY", path("out.mid"), "10"},
           {"--formato", "mid", "-v", "1", path("song.wad"), "D_BUSY", path("score")}}) {
    SCOPED_TRACE(args[args.size() - 1]);
    const auto r = fixture::run_tool(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "un MIDI lleva la partitura entera: sin duración ni --vueltas\n");
    EXPECT_EQ(files(dir_), std::vector<std::string>{"song.wad"});
  }
}

}  // namespace

namespace {

// A score written as MIDI by the tool and read back by it renders the same
// samples as the score itself, whole and through --todas.
TEST_F(Formats, MidiWrittenByTheToolPlaysBackTheSameSamples) {
  const std::vector<int16_t> wav = reference("2");
  ASSERT_NE(std::count(wav.begin(), wav.end(), int16_t{0}), static_cast<long>(wav.size()));
  const auto r = fixture::run_tool({path("song.wad"), "D_BUSY", path("busy.mid")});
  ASSERT_EQ(r.status, 0) << r.err;
  const bytes midi = fixture::read_file(path("busy.mid"));
  EXPECT_TRUE(r.out.ends_with("\nMIDI de " + std::to_string(midi.size()) + " bytes\n")) << r.out;
  ASSERT_EQ(std::string(midi.begin(), midi.begin() + 4), "MThd");
  fixture::wad_builder().lump("D_BACK", midi).write(path("back.wad"));
  const auto back = fixture::run_tool({path("back.wad"), "D_BACK", path("back.wav"), "2"});
  ASSERT_EQ(back.status, 0) << back.err;
  EXPECT_EQ(wav_samples(fixture::read_file(path("back.wav"))), wav);

  fs::create_directory(path("all"));
  const auto all =
      fixture::run_tool({"--todas", path("all"), "--formato", "mid", path("song.wad")});
  ASSERT_EQ(all.status, 0) << all.err;
  EXPECT_EQ(files(path("all")), (std::vector<std::string>{"D_BUSY.mid", "D_QUIET.mid"}));
  EXPECT_EQ(fixture::read_file(path("all/D_BUSY.mid")), midi);
}

}  // namespace
