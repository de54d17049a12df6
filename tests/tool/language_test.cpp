// language_test.cpp: the tool end to end in the user's language: the locale
// variables choose it as gettext does, even where that locale is not
// installed; the help names the options of its language; numbers keep
// their point; and no catalog is read from where another user could put one.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "fixtures.h"

namespace {

namespace fs = std::filesystem;

constexpr uid_t stranger = 65534;

class Language : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef TUNECAST_HAVE_GETTEXT
    GTEST_SKIP() << "this build has no catalogs: the tool speaks Spanish only";
#endif
    dir_ = fixture::make_temp_dir("language");
    fixture::bytes cut = fixture::mus_builder().note_on(0, 60, 100).delay(10).score_end().build();
    cut.pop_back();  // one byte less than the header declares
    fixture::wad_builder()
        .lump("D_SONG", fixture::mus_builder().score_end().build())
        .lump("D_CUT", cut)
        .write(path("song.wad"));
  }
  void TearDown() override {
    std::error_code ignored;
    if (!dir_.empty()) fs::remove_all(dir_, ignored);
  }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }
  // tool (the built one unless given) with args and the environment env.
  static fixture::run_result tunecast(const std::vector<std::string> &args,
                                      const std::vector<std::string> &env,
                                      const std::string &tool = fixture::tool_path()) {
    std::vector<std::string> argv = {tool};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> with_synth = {"ZARN_SYNTH=1"};
    with_synth.insert(with_synth.end(), env.begin(), env.end());
    return fixture::run(argv, with_synth);
  }
  std::string dir_;
};

// This machine has no en_US or en_GB locale installed (locale -a: C,
// C.utf8, POSIX): English must come all the same. LANGUAGE counts only
// where the locale is not C or POSIX, as in gettext.
TEST_F(Language, TheLocaleVariablesChooseTheLanguageAsGettextDoes) {
  const std::string spanish = "no hay NOPE\n";
  const std::string english = "no lump named NOPE\n";
  const struct {
    std::vector<std::string> env;
    const std::string &line;
  } cases[] = {
      {{}, spanish},
      {{"LANG=C"}, spanish},
      {{"LANG=POSIX"}, spanish},
      {{"LANG=en_US.UTF-8"}, english},
      {{"LC_MESSAGES=en_GB.UTF-8"}, english},
      {{"LC_ALL=en_US.UTF-8", "LANG=C"}, english},
      {{"LC_ALL=C", "LANG=en_US.UTF-8"}, spanish},
      {{"LC_ALL=C", "LANGUAGE=en"}, spanish},
      {{"LANGUAGE=en", "LANG=C"}, spanish},
      {{"LANGUAGE=en"}, spanish},
      {{"LANGUAGE=en", "LANG=C.UTF-8"}, english},
      {{"LANGUAGE=en:es", "LANG=es_ES.UTF-8"}, english},
      {{"LANGUAGE=es", "LANG=en_US.UTF-8"}, spanish},
      {{"LANG=fr_FR.UTF-8"}, spanish},  // no catalog: the default
  };
  for (const auto &c : cases) {
    std::string shown;
    for (const std::string &e : c.env) shown += e + " ";
    SCOPED_TRACE(shown);
    const auto r = tunecast({path("song.wad"), "NOPE", path("out.wav")}, c.env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.line);
    EXPECT_FALSE(fs::exists(path("out.wav")));
  }
}

// The WAD reader's lines and the system's reasons they and the tool's
// lines quote come in the tool's language.
TEST_F(Language, TheReaderAndTheSystemReasonsSpeakTheToolsLanguage) {
  const std::string out = path("missing/out.wav");
  const std::string archive = path("missing.wad");
  const struct {
    std::vector<std::string> args;
    std::string english, spanish;
  } cases[] = {
      {{path("song.wad"), "D_SONG", out, "1"},
       "cannot write " + out + ": no such file or directory\n",
       "no se puede escribir " + out + ": no existe el archivo o el directorio\n"},
      {{archive, "D_SONG", path("out.wav")},
       "[WAD] cannot open " + archive + ": no such file or directory\n",
       "[WAD] no se puede abrir " + archive + ": no existe el archivo o el directorio\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.spanish);
    EXPECT_EQ(tunecast(c.args, {"LANG=en_US.UTF-8"}).err, c.english);
    EXPECT_EQ(tunecast(c.args, {}).err, c.spanish);
  }
}

// The listing's table is for a person and speaks English; its JSON is data
// for programs and keeps the same words in every language.
TEST_F(Language, TheListingTranslatesItsTableButNotItsJson) {
  const auto table = tunecast({"-l", path("song.wad")}, {"LANG=en_US.UTF-8"});
  EXPECT_NE(table.out.find("D_CUT   MUS  "), std::string::npos) << table.out;
  EXPECT_NE(table.out.find("  truncated\n"), std::string::npos) << table.out;
  const auto json = tunecast({"-l", path("song.wad"), "--json"}, {"LANG=en_US.UTF-8"});
  EXPECT_NE(json.out.find("\"status\":\"truncado\"}\n"), std::string::npos) << json.out;
  EXPECT_EQ(json.out, tunecast({"-l", path("song.wad"), "--json"}, {}).out);
}

// Each help names the options of its own language and ends at the manual.
TEST_F(Language, TheHelpNamesTheOptionsOfItsLanguage) {
  const struct {
    std::vector<std::string> env;
    std::vector<std::string> lines;
  } cases[] = {
      {{}, {"  -v, --vueltas N ", "  -q, --silencio ", "  -h, --ayuda, --help "}},
      {{"LANG=en_US.UTF-8"},
       {"usage: tunecast ZARN.WAD D_E1M1 out.wav [seconds]\n", "  -v, --passes N ",
        "  -f, --fade S ", "      --volume N|auto ", "  -a, --all DIR ", "  -l, --list ZARN.WAD ",
        "  -p, --play ZARN.WAD ", "  -e, --stereo ", "      --format F ", "  -q, --quiet ",
        "  -h, --help ", "  -V, --version "}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.env.empty() ? "no locale" : c.env[0]);
    const auto r = tunecast({"--help"}, c.env);
    EXPECT_EQ(r.status, 0);
    for (const std::string &line : c.lines) EXPECT_NE(r.out.find(line), std::string::npos) << line;
    const std::string manual = "man tunecast\n";
    ASSERT_GE(r.out.size(), manual.size());
    EXPECT_EQ(r.out.substr(r.out.size() - manual.size()), manual);
  }
  EXPECT_EQ(tunecast({"--help"}, {"LANG=en_US.UTF-8"}).out.find("--vueltas N"), std::string::npos);
}

// Messages come from the locale, numbers never do: durations are read and
// printed with a point in English too.
TEST_F(Language, NumbersKeepTheirDecimalPointInEnglish) {
  const auto r = tunecast({path("song.wad"), "D_SONG", path("out.wav"), "1.5"},
                          {"LC_ALL=en_US.UTF-8", "LC_NUMERIC=de_DE.UTF-8"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string closing = "peak 0.00, 1.5 s\n";
  ASSERT_GE(r.out.size(), closing.size());
  EXPECT_EQ(r.out.substr(r.out.size() - closing.size()), closing);
  const auto bad =
      tunecast({path("song.wad"), "D_SONG", path("out.wav"), "1,5"}, {"LANG=en_US.UTF-8"});
  EXPECT_EQ(bad.err, "invalid duration: 1,5 (decimals take a point: 1.5)\n");
}

// A copy of the tool finds the catalog in locale/ beside it, as the build
// tree's does; but not when another user could have put it there: the
// tool's directory open to everyone, or locale/ (or a link to it) another
// user's.
TEST_F(Language, CatalogsComeOnlyFromDirectoriesNoOtherUserControls) {
  const fs::path built_catalog =
      fs::path(fixture::tool_path()).parent_path() / "locale/en/LC_MESSAGES/tunecast.mo";
  const std::string catalogs = path("catalogs");
  fs::create_directories(catalogs + "/en/LC_MESSAGES");
  fs::copy_file(built_catalog, catalogs + "/en/LC_MESSAGES/tunecast.mo");
  enum class locale_dir { own, strangers, strangers_link };
  const struct {
    const char *name;
    mode_t mode;  // of the tool's directory
    locale_dir locale;
    bool english;
  } cases[] = {
      {"own", 0755, locale_dir::own, true},
      {"shared", 01777, locale_dir::own, false},
      {"stranger's locale", 0755, locale_dir::strangers, false},
      {"stranger's link", 0755, locale_dir::strangers_link, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string bin = path(std::string("bin-") + c.name);
    fs::create_directory(bin);
    ASSERT_EQ(chmod(bin.c_str(), c.mode), 0);
    const std::string tool = bin + "/tunecast";
    fs::copy_file(fixture::tool_path(), tool);
    if (c.locale == locale_dir::strangers_link) {
      fs::create_directory_symlink(catalogs, bin + "/locale");
      ASSERT_EQ(lchown((bin + "/locale").c_str(), stranger, stranger), 0);
    } else {
      fs::copy(catalogs, bin + "/locale", fs::copy_options::recursive);
      if (c.locale == locale_dir::strangers) {
        ASSERT_EQ(chown((bin + "/locale").c_str(), stranger, stranger), 0);
      }
    }
    const auto r =
        tunecast({path("song.wad"), "NOPE", path("out.wav")}, {"LANG=en_US.UTF-8"}, tool);
    EXPECT_EQ(r.err, c.english ? "no lump named NOPE\n" : "no hay NOPE\n");
  }
}

}  // namespace
