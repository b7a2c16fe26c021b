// The command line's language: the system's messages in English outside Japanese locales,
// with their tag and code kept, and --lang over the locale.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/run_process.h"
#include "support/temp_dir.h"
#include "support/test_paths.h"

namespace velorna::test {
namespace {

const std::string kNotMidiJapanese = "notmidi.mid: MDLD17000002 Midiファイルではありません。";
const std::string kNotMidiEnglish = "notmidi.mid: MDLD17000002 Not a MIDI file.";

// velorna-cli under a locale of `lang` alone (the other locale variables unset).
ProcessResult RunWithLocale(const std::string& lang, std::vector<std::string> args) {
  std::vector<std::string> argv{"/usr/bin/env", "-u", "LC_ALL", "-u", "LC_MESSAGES"};
  if (!lang.empty()) argv.push_back("LANG=" + lang);
  argv.push_back(CliPath());
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv);
}

TEST(LanguageCli, MessagesFollowTheLocaleAndLang) {
  TempDir dir;
  const std::string song = (dir / "notmidi.mid").string();
  std::ofstream(song) << "This is no MIDI file at all.";
  struct Case {
    std::string lang;
    std::vector<std::string> options;
    std::string expected;
  };
  const std::vector<Case> cases{
      {"en_US.UTF-8", {}, kNotMidiEnglish},
      {"de_DE.UTF-8", {}, kNotMidiEnglish},
      {"C", {}, kNotMidiJapanese},
      {"POSIX", {}, kNotMidiJapanese},
      {"", {}, kNotMidiJapanese},
      {"ja_JP.UTF-8", {}, kNotMidiJapanese},
      {"en_US.UTF-8", {"--lang", "ja"}, kNotMidiJapanese},
      {"ja_JP.UTF-8", {"--lang", "en"}, kNotMidiEnglish},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"convert"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(song);
    const ProcessResult run = RunWithLocale(c.lang, args);
    SCOPED_TRACE("LANG=" + c.lang + (c.options.empty() ? "" : " " + c.options[1]));
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_NE(run.err.find(c.expected + "\n"), std::string::npos) << run.err;
  }
}

TEST(LanguageCli, PresetNamesAndUsage) {
  const ProcessResult english = RunWithLocale("C", {"--lang", "en", "--list-presets"});
  EXPECT_EQ(english.exitStatus, 0);
  EXPECT_NE(english.out.find("just\tJust intonation (5-limit)\t"), std::string::npos);
  const ProcessResult japanese = RunWithLocale("en_GB.UTF-8", {"--list-presets", "--lang", "ja"});
  EXPECT_NE(japanese.out.find("just\t純正律 (5 リミット)\t"), std::string::npos);
  const ProcessResult wrong = RunWithLocale("C", {"--lang", "fr", "--list-presets"});
  EXPECT_EQ(wrong.exitStatus, 2);
  EXPECT_NE(wrong.err.find("--lang needs ja or en: fr"), std::string::npos) << wrong.err;
}

}  // namespace
}  // namespace velorna::test
