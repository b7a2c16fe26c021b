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

const std::string kNotMidiJapanese = "notmidi.mid: MDLD17000002 Midiファイルではありません。\n";
const std::string kNotMidiEnglish = "notmidi.mid: MDLD17000002 Not a MIDI file.\n";

// Messages and preset names follow the locale, and --lang goes over it either way.
TEST(LanguageCli, MessagesFollowTheLocaleAndLang) {
  TempDir dir;
  const std::string song = (dir / "notmidi.mid").string();
  std::ofstream(song) << "This is no MIDI file at all.";
  struct Case {
    std::string lang;
    std::vector<std::string> args;
    int exitStatus;
    std::string expected;  // on either stream
  };
  const std::vector<Case> cases{
      {"en_US.UTF-8", {"convert", song}, 1, kNotMidiEnglish},
      {"C", {"convert", song}, 1, kNotMidiJapanese},
      {"en_US.UTF-8", {"convert", "--lang", "ja", song}, 1, kNotMidiJapanese},
      {"ja_JP.UTF-8", {"convert", "--lang", "en", song}, 1, kNotMidiEnglish},
      {"C", {"--lang", "en", "--list-presets"}, 0, "\njust\tJust intonation (5-limit)\t"},
      {"en_GB.UTF-8", {"--list-presets", "--lang", "ja"}, 0, "\njust\t純正律 (5 リミット)\t"},
      {"C", {"--lang", "fr", "--list-presets"}, 2, "--lang needs ja or en: fr"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv{CliPath()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const ProcessResult run = RunInLocale(c.lang, argv);
    SCOPED_TRACE("LANG=" + c.lang + " " + ::testing::PrintToString(c.args));
    EXPECT_EQ(run.exitStatus, c.exitStatus);
    EXPECT_NE((run.out + run.err).find(c.expected), std::string::npos) << run.out << run.err;
  }
}

}  // namespace
}  // namespace velorna::test
