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

const std::string usage = "uso: tunecast ZARN.WAD D_E1M1 salida.wav [segundos]\n";

// A held note to tick 20, the score end at tick 30: 9450 samples.
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

class Usability : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fixture::make_temp_dir("usability");
    fixture::wad_builder().lump("D_TONE", tone_song()).lump("D_E1M1", tone_song())
        .lump("D_E1M2", tone_song()).lump("D_MIDI", tone_midi()).lump("D_LOUD", loud_song())
        .lump("D_TEXT", {'t', 'e', 'x', 't'}).write(path("songs.wad"));
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }
  static fixture::run_result tunecast(std::vector<std::string> args) {
    return fixture::run_tool(std::move(args));
  }
  std::string dir_;
};

TEST_F(Usability, VolumeIsWhatTheSynthesizerGetsForEveryRenderForm) {
  const auto r = tunecast({"--volumen", "64", path("songs.wad"), "D_TONE", path("soft.wav"), "0.25"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(tunecast({path("songs.wad"), "D_TONE", path("plain.wav"), "0.25"}).status, 0);
  const bytes soft = fixture::read_file(path("soft.wav"));
  EXPECT_NE(soft, fixture::read_file(path("plain.wav")));
  // The same samples from the synthesizer called directly.
  setenv("ZARN_SYNTH", "1", 1);
  const bytes song = tone_song();
  ASSERT_EQ(chip_register_song(song.data(), static_cast<int32_t>(song.size())), CHIP_REGISTERED);
  I_SetMusicVolume(64);
  I_PlaySong(0, 0);
  std::vector<float> left(11025), right(11025);
  chip_render(left.data(), right.data(), 11025);
  ASSERT_EQ(soft.size(), 44u + 2 * 11025);
  for (size_t i = 0; i < left.size(); ++i) {
    ASSERT_EQ(static_cast<int16_t>(soft[44 + 2 * i] | soft[45 + 2 * i] << 8), wav_sample(left[i])) << i;
  }
  // --todas plays every song at it, and a clipping song points to --volumen auto.
  const auto all = tunecast({"-a", path("all"), "--volumen=64", path("songs.wad"), "0.25"});
  EXPECT_EQ(all.status, 0) << all.err;
  EXPECT_EQ(fixture::read_file(path("all/D_TONE.wav")), soft);
  const auto loud = tunecast({"--volumen", "120", path("songs.wad"), "D_LOUD", path("l.wav"), "0.2"});
  EXPECT_TRUE(loud.err.ends_with(": prueba --volumen auto\n")) << loud.err;
}

TEST_F(Usability, VolumeIsAWholeNumberFromZeroTo127) {
  for (const char *text : {"-1", "128", "1.5", "", "x", "+5", "99999999999999999999"}) {
    const auto r = tunecast({"--volumen", text, path("songs.wad"), "D_TONE", path("out.wav")});
    EXPECT_EQ(r.err, std::string("volumen no válido: ") + text + " (va de 0 a 127, o auto) (ver "
                     "tunecast --ayuda)\n" + usage) << text;
    EXPECT_EQ(r.status, 1);
  }
  EXPECT_EQ(tunecast({"-l", path("songs.wad"), "--volumen", "3"}).err,
            "--listar no va con --volumen (ver tunecast --ayuda)\n" + usage);
  EXPECT_FALSE(fixture::file_exists(path("out.wav")));
}

TEST_F(Usability, QuietRunsSayNothingButErrorsAndWarnings) {
  for (const auto &args : std::vector<std::vector<std::string>>{
           {"-q", path("songs.wad"), "D_TONE", path("out.wav"), "0.1"},
           {"--silencio", "-v", "1", path("songs.wad"), "D_MIDI", path("out.wav")},
           {"-q", "--todas", path("all"), path("songs.wad"), "0.1"}}) {
    const auto r = tunecast(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    // The batch's one line is D_LOUD's warning: warnings stay.
    const bool batch = args[1] == "--todas";
    EXPECT_EQ(r.err.substr(0, batch ? 15 : std::string::npos), batch ? "aviso: D_LOUD: " : "");
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), batch ? 1 : 0) << r.err;
  }
  EXPECT_EQ(tunecast({"-q", path("songs.wad"), "D_TONE", "-", "0.1"}).err, "");
  EXPECT_EQ(tunecast({"-q", "-l", path("songs.wad")}).err, "");
  EXPECT_EQ(tunecast({"-q", path("missing.wad"), "D_TONE", path("out.wav")}).err,
            "[WAD] no se puede abrir " + path("missing.wad") + ": no existe el archivo o el directorio\n");
}

TEST_F(Usability, AbsentLumpNamesWhatWasLikelyMeant) {
  const std::string hint = " (tunecast -l " + path("songs.wad") + " lista la música)\n";
  const std::pair<std::string, std::string> rows[] = {
      {"d_tone", "¿D_TONE?" + hint},  {"D_TONA", "¿D_TONE?" + hint},  // case, substitution
      {"D_TON", "¿D_TONE?" + hint},   {"D_TONES", "¿D_TONE?" + hint}, // deletion, insertion
      {"d_e1m3", "¿D_E1M1 o D_E1M2?" + hint},
      {"D_TEXTS", ""},  // D_TEXT is no music
  };
  for (const auto &[name, line] : rows) {
    const auto r = tunecast({path("songs.wad"), name, path("out.wav")});
    EXPECT_EQ(r.err, "no hay " + name + "\n" + line);
    EXPECT_EQ(r.status, 1);
  }
  const std::string odd = path("no music\x1b.wad");
  fixture::wad_builder().lump("D_TEXT", {'t'}).write(odd);
  EXPECT_EQ(tunecast({odd, "D_TONE", path("out.wav")}).err,
            "no hay D_TONE\n" + path("no music\\x1b.wad") + " no tiene ningún lump de música\n");
  std::filesystem::copy_file(path("songs.wad"), path("my songs.wad"));
  EXPECT_EQ(tunecast({path("my songs.wad"), "D_TONF", path("out.wav")}).err,
            "no hay D_TONF\n¿D_TONE? (tunecast -l '" + path("my songs.wad") + "' lista la música)\n");
}

// The fields of one flat JSON object {"key":value,...}, each value as
// written (a string with its quotes and escapes, a number, null); empty when
// the line is not such an object.
std::map<std::string, std::string> flat_object(const std::string &line) {
  std::map<std::string, std::string> fields;
  if (line.size() < 2 || line[0] != '{') return {};
  size_t i = 1;
  const auto string_end = [&](size_t from) {  // past the closing quote
    size_t j = from + 1;
    while (j < line.size() && line[j] != '"') j += line[j] == '\\' ? 2 : 1;
    return j + 1;
  };
  while (i < line.size() && line[i] == '"') {
    const size_t key_end = string_end(i);
    if (key_end >= line.size() || line[key_end] != ':') return {};
    const size_t value_end =
        line[key_end + 1] == '"' ? string_end(key_end + 1) : line.find_first_of(",}", key_end);
    if (value_end >= line.size()) return {};
    fields[line.substr(i + 1, key_end - i - 2)] = line.substr(key_end + 1, value_end - key_end - 1);
    if (line[value_end] == '}') return value_end + 1 == line.size() ? fields : decltype(fields){};
    if (line[value_end] != ',') return {};
    i = value_end + 1;
  }
  return {};
}

TEST_F(Usability, JsonListingCarriesTheListingsFactsOneObjectALine) {
  bytes bad_midi = tone_midi();
  bad_midi.resize(bad_midi.size() - 3);
  fixture::wad_builder().lump("D_TONE", tone_song()).lump("D_BAD", bad_midi)
      .lump("D_RUN", fixture::mus_builder().note_on(0, 60, 100).delay(4).build())
      .lump("\x01\"\\\xff\xc3\xa9", tone_midi())  // a control, a quote, a backslash, a bad byte, é
      .write(path("list.wad"));
  const auto r = tunecast({"--listar", path("list.wad"), "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::map<std::string, std::string>> expected = {
      {{"name", R"("D_TONE")"}, {"format", R"("MUS")"}, {"size", "19"}, {"status", R"("ok")"}},
      {{"name", R"("D_BAD")"}, {"format", R"("MIDI")"}, {"size", "34"}, {"seconds", "null"},
       {"status", R"("dañado")"}},
      {{"name", R"("D_RUN")"}, {"format", R"("MUS")"}, {"size", "12"}, {"seconds", "null"},
       {"status", R"("sin fin")"}},
      {{"name", R"("\u0001\"\\\u00ffé")"}, {"format", R"("MIDI")"}, {"size", "37"}, {"status", R"("ok")"}}};
  size_t k = 0;
  for (size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1, ++k) {
    const std::string line = r.out.substr(at, end - at);
    ASSERT_LT(k, expected.size()) << line;
    std::map<std::string, std::string> got = flat_object(line);
    ASSERT_EQ(got.size(), 5u) << line;
    if (got["status"] == R"("ok")") {
      EXPECT_EQ(std::strtod(got["seconds"].c_str(), nullptr), 9450.0 / 44100.0) << line;
      got.erase("seconds");
    }
    EXPECT_EQ(got, expected[k]);
  }
  EXPECT_EQ(k, expected.size());
  EXPECT_EQ(tunecast({"--json", path("songs.wad"), "D_TONE", path("out.wav")}).err,
            "--json solo va con --listar (ver tunecast --ayuda)\n" + usage);
}

}  // namespace
