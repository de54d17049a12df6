// usability_test.cpp: the tool end to end on what helps a user along: the
// music volume, a quiet run, the hint after a mistyped lump name and the
// listing as JSON lines for scripts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "fixtures.h"
#include "midi_builder.h"
#include "tool/wav_out.h"
#include "tunecast/chip.h"

namespace {

using fixture::bytes;
namespace fs = std::filesystem;

const std::string usage = "uso: tunecast ZARN.WAD D_E1M1 salida.wav [segundos]\n";

// A held note, released at tick 20, and the score end at tick 30: 9450 samples.
bytes tone_song() {
  return fixture::mus_builder().instrument(0, 80).note_on(0, 60, 127).delay(20)
      .note_off(0, 60).delay(10).score_end().build();
}
bytes tone_midi() {
  fixture::midi_track t;
  t.program(0, 0, 80).note_on(0, 0, 60, 127).note_off(20, 0, 60).end(10);
  return fixture::midi_builder(0, 70).track(t).build();
}
// Eight kicks and a chord of loud pulses at once overdrive the mix.
bytes loud_song() {
  fixture::mus_builder loud;
  for (int i = 0; i < 8; ++i) loud.note_on(15, 36, 127);
  for (int note = 48; note < 72; note += 4) loud.note_on(0, note, 127);
  return loud.delay(20).score_end().build();
}
bytes text_bytes(const std::string &s) { return bytes(s.begin(), s.end()); }

class Usability : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fixture::make_temp_dir("usability");
    bytes cut = tone_song();
    cut.pop_back();
    fixture::wad_builder()
        .lump("D_TONE", tone_song())
        .lump("D_MIDI", tone_midi())
        .lump("D_E1M1", tone_song())
        .lump("D_E1M2", tone_song())
        .lump("D_CUT", cut)
        .lump("D_TEXT", text_bytes("not a score"))
        .lump("D_LOUD", loud_song())
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
  std::string dir_;
};

// What the synthesizer gives for the song at a volume, called directly and
// written as the tool writes samples.
bytes samples_at_volume(const bytes &song, int32_t volume, size_t frames) {
  setenv("ZARN_SYNTH", "1", 1);
  EXPECT_EQ(chip_register_song(song.data(), static_cast<int32_t>(song.size())), CHIP_REGISTERED);
  I_SetMusicVolume(volume);
  I_PlaySong(0, 0);
  std::vector<float> left(frames), right(frames);
  chip_render(left.data(), right.data(), static_cast<int32_t>(frames));
  bytes out;
  for (const float v : left) {
    const auto s = static_cast<uint16_t>(wav_sample(v));
    out.push_back(static_cast<uint8_t>(s & 0xFF));
    out.push_back(static_cast<uint8_t>(s >> 8));
  }
  return out;
}

bytes samples_of(const bytes &wav) { return bytes(wav.begin() + 44, wav.end()); }

TEST_F(Usability, VolumeIsWhatTheSynthesizerGetsForEveryRenderForm) {
  const auto plain = tunecast({path("songs.wad"), "D_TONE", path("plain.wav"), "0.25"});
  const auto soft = tunecast({"--volumen", "64", path("songs.wad"), "D_TONE", path("soft.wav"), "0.25"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  ASSERT_EQ(soft.status, 0) << soft.err;
  const bytes soft_wav = fixture::read_file(path("soft.wav"));
  EXPECT_NE(soft_wav, fixture::read_file(path("plain.wav")));
  EXPECT_EQ(samples_of(soft_wav), samples_at_volume(tone_song(), 64, 11025));

  // --todas and --vueltas play at the volume given too; 0 is silence.
  const auto all = tunecast({"--todas", path("all"), "--volumen=64", path("songs.wad"), "0.25"});
  EXPECT_EQ(all.status, 1);  // D_CUT is truncated
  EXPECT_EQ(fixture::read_file(path("all/D_TONE.wav")), soft_wav);
  const auto looped = tunecast({"-v", "1", "--volumen", "64", path("songs.wad"), "D_TONE", path("v.wav")});
  ASSERT_EQ(looped.status, 0) << looped.err;
  EXPECT_EQ(samples_of(fixture::read_file(path("v.wav"))),
            bytes(soft_wav.begin() + 44, soft_wav.begin() + 44 + 2 * 9450));
  ASSERT_EQ(tunecast({"--volumen", "0", path("songs.wad"), "D_TONE", path("zero.wav"), "0.25"}).status, 0);
  const bytes zero = samples_of(fixture::read_file(path("zero.wav")));
  EXPECT_EQ(zero, bytes(2 * 11025, 0));
}

TEST_F(Usability, VolumeIsAWholeNumberFromZeroTo127) {
  for (const char *text : {"-1", "128", "1.5", "", "x", "64 ", "+5", "99999999999999999999"}) {
    SCOPED_TRACE(text);
    const auto r = tunecast({"--volumen", text, path("songs.wad"), "D_TONE", path("out.wav")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string("volumen no válido: ") + text +
                         " (va de 0 a 127) (ver tunecast --ayuda)\n" + usage);
  }
  const auto listed = tunecast({"-l", path("songs.wad"), "--volumen", "3"});
  EXPECT_EQ(listed.err, "--listar no va con --volumen (ver tunecast --ayuda)\n" + usage);
  EXPECT_FALSE(fixture::file_exists(path("out.wav")));
}

TEST_F(Usability, ClippingSuggestsALowerVolume) {
  for (const auto &[given, suggested] : {std::pair{"100", "80"}, std::pair{"120", "96"}}) {
    SCOPED_TRACE(given);
    const auto r = tunecast({"--volumen", given, path("songs.wad"), "D_LOUD", path("out.wav"), "0.2"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string tail = std::string(": prueba --volumen ") + suggested + "\n";
    ASSERT_GE(r.err.size(), tail.size());
    EXPECT_EQ(r.err.substr(0, 7), "aviso: ");
    EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail);
  }
}

TEST_F(Usability, QuietRunsSayNothingButErrorsAndWarnings) {
  const std::vector<std::vector<std::string>> silent = {
      {"-q", path("songs.wad"), "D_TONE", path("out.wav"), "0.1"},
      {path("songs.wad"), "D_TONE", "--silencio", "-", "0.1"},
      {"-q", "-v", "1", path("songs.wad"), "D_MIDI", path("out.wav")},
      {"-q", "--todas", path("all"), path("songs.wad"), "0.1"},
  };
  for (const auto &args : silent) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const auto r = tunecast(args);
    if (args[1] == "--todas") {
      // The workers' own lines, in the order they end: an error and a warning.
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
      EXPECT_NE(r.err.find("lump D_CUT truncado\n"), std::string::npos);
      EXPECT_NE(r.err.find("aviso: D_LOUD: "), std::string::npos);
    } else {
      EXPECT_EQ(r.err, "");
    }
    if (args[3] != "-") {
      EXPECT_EQ(r.out, "");
    }
  }
  EXPECT_TRUE(fixture::file_exists(path("all/D_TONE.wav")));
  const auto listed = tunecast({"-q", "-l", path("songs.wad")});
  EXPECT_EQ(listed.err, "");
  EXPECT_EQ(listed.out.substr(0, 7), "D_TONE ");
  // Errors and warnings still come through.
  EXPECT_EQ(tunecast({"-q", path("songs.wad"), "D_ABSENT", path("out.wav")}).err,
            "no hay D_ABSENT\n");
  EXPECT_EQ(tunecast({"-q", path("missing.wad"), "D_TONE", path("out.wav")}).err,
            "[WAD] no se puede abrir " + path("missing.wad") +
                ": no existe el archivo o el directorio\n");
  const auto loud = tunecast({"-q", path("songs.wad"), "D_LOUD", path("out.wav"), "0.2"});
  EXPECT_EQ(loud.out, "");
  EXPECT_EQ(loud.err.substr(0, 7), "aviso: ");
}

TEST_F(Usability, AbsentLumpNamesWhatWasLikelyMeant) {
  const std::string hint = " (tunecast -l " + path("songs.wad") + " lista la música)\n";
  const std::pair<std::string, std::string> rows[] = {
      {"d_tone", "¿D_TONE?"},                     // case only
      {"D_TONA", "¿D_TONE?"},                     // one substituted
      {"D_TON", "¿D_TONE?"},                      // one deleted
      {"D_TONES", "¿D_TONE?"},                    // one inserted
      {"d_e1m3", "¿D_E1M1 o D_E1M2?"},            // two as near
      {"D_E1M", "¿D_E1M1 o D_E1M2?"},
      {"d_mid", "¿D_MIDI?"},                      // case and a deletion
      {"D_CUTS", "¿D_CUT?"},                      // listed, so suggested, though truncated
  };
  for (const auto &[name, line] : rows) {
    SCOPED_TRACE(name);
    const auto r = tunecast({path("songs.wad"), name, path("out.wav")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "no hay " + name + "\n" + line + hint);
  }
  // Nothing near (D_TEXT is no music), and an archive with no music at all.
  for (const char *far : {"D_XYZ", "D_TEXTS"}) {
    EXPECT_EQ(tunecast({path("songs.wad"), far, path("out.wav")}).err, std::string("no hay ") + far + "\n");
  }
  const std::string odd = path("no music\x1b.wad");
  fixture::wad_builder().lump("D_TEXT", text_bytes("not a score")).write(odd);
  EXPECT_EQ(tunecast({odd, "D_TONE", path("out.wav")}).err,
            "no hay D_TONE\n" + path("no music\\x1b.wad") + " no tiene ningún lump de música\n");
  // A name the shell would split is quoted in the command shown.
  const std::string spaced = path("my songs.wad");
  fs::copy_file(path("songs.wad"), spaced);
  EXPECT_EQ(tunecast({spaced, "D_TONF", path("out.wav")}).err,
            "no hay D_TONF\n¿D_TONE? (tunecast -l '" + spaced + "' lista la música)\n");
  EXPECT_FALSE(fixture::file_exists(path("out.wav")));
}

// The values of one flat JSON object (strings, numbers, null) as text:
// strings decoded, with \u00XX read back as the byte XX, as the tool writes
// bytes of a name; numbers and null as written. Empty on a syntax error.
std::map<std::string, std::string> parse_flat_object(const std::string &line) {
  std::map<std::string, std::string> fields;
  size_t i = 0;
  auto string_at = [&](std::string &out) {
    if (line[i++] != '"') return false;
    for (; i < line.size() && line[i] != '"'; ++i) {
      if (static_cast<unsigned char>(line[i]) < 0x20) return false;
      if (line[i] != '\\') {
        out += line[i];
      } else if (line[++i] == 'u') {
        out += static_cast<char>(std::stoi(line.substr(i + 1, 4), nullptr, 16));
        i += 4;
      } else {
        out += line[i];  // \" and \\ only
      }
    }
    return line[i++] == '"';
  };
  if (line.empty() || line[i++] != '{') return {};
  while (i < line.size()) {
    std::string key, value;
    if (!string_at(key) || line[i++] != ':') return {};
    if (line[i] == '"') {
      if (!string_at(value)) return {};
    } else {
      const size_t end = line.find_first_of(",}", i);
      value = line.substr(i, end - i);
      i = end;
    }
    fields[key] = value;
    if (line[i] == '}') return i + 1 == line.size() ? fields : decltype(fields){};
    if (line[i++] != ',') return {};
  }
  return {};
}

TEST_F(Usability, JsonListingCarriesTheListingsFactsOneObjectALine) {
  bytes bad_midi = tone_midi();
  bad_midi.resize(bad_midi.size() - 3);
  const std::string weird = "\x01\"\\\xff\xc3\xa9";  // a control, quote, backslash, bad byte, é
  fixture::wad_builder()
      .lump("D_TONE", tone_song())
      .lump("D_BAD", bad_midi)
      .lump("D_RUN", fixture::mus_builder().note_on(0, 60, 100).delay(4).build())
      .lump("D_TEXT", text_bytes("not a score"))
      .lump(weird, tone_midi())
      .write(path("list.wad"));
  const auto r = tunecast({"--listar", path("list.wad"), "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1) {
    lines.push_back(r.out.substr(at, end - at));
  }
  ASSERT_EQ(lines.size(), 4u) << r.out;
  EXPECT_EQ(lines[0].rfind(R"({"name":"D_TONE","format":"MUS","size":19,"seconds":0.214)", 0), 0u);
  EXPECT_EQ(lines[3].rfind(R"({"name":"\u0001\"\\\u00ffé","format":"MIDI")", 0), 0u);
  struct expected {
    std::string name, format, size, status;
    bool timed;
  };
  const expected rows[] = {{"D_TONE", "MUS", "19", "ok", true},
                           {"D_BAD", "MIDI", "34", "dañado", false},
                           {"D_RUN", "MUS", "12", "sin fin", false},
                           {weird, "MIDI", "37", "ok", true}};
  for (size_t k = 0; k < 4; ++k) {
    SCOPED_TRACE(lines[k]);
    auto fields = parse_flat_object(lines[k]);
    ASSERT_EQ(fields.size(), 5u);
    EXPECT_EQ(fields["name"], rows[k].name);
    EXPECT_EQ(fields["format"], rows[k].format);
    EXPECT_EQ(fields["size"], rows[k].size);
    EXPECT_EQ(fields["status"], rows[k].status);
    if (rows[k].timed) {
      EXPECT_EQ(std::strtod(fields["seconds"].c_str(), nullptr), 9450.0 / 44100.0);
    } else {
      EXPECT_EQ(fields["seconds"], "null");
    }
  }
  EXPECT_EQ(tunecast({"--json", path("songs.wad"), "D_TONE", path("out.wav")}).err,
            "--json solo va con --listar (ver tunecast --ayuda)\n" + usage);
}

}  // namespace
