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

// Whether `text` holds Japanese (UTF-8 lead bytes of U+3000 and above).
bool HasJapanese(const std::string& text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) >= 0xE3 && static_cast<unsigned char>(c) <= 0xEF) return true;
  return false;
}

// A whole batch speaks one language: each song's messages, its closing line and the summary.
TEST(LanguageCli, ABatchSpeaksOneLanguageThroughout) {
  TempDir dir;
  const std::string notMidi = (dir / "notmidi.mid").string();
  std::ofstream(notMidi) << "This is no MIDI file at all.";
  const std::string missing = (dir / "missing.mid").string();
  struct Case {
    std::string lang;
    std::vector<std::string> langArgs;
    bool japanese;
    std::string summary;
  };
  const std::vector<Case> cases{
      {"C", {}, true, "2 曲: 変換 0、失敗 2 ("},
      {"POSIX", {}, true, "2 曲: 変換 0、失敗 2 ("},
      {"C.UTF-8", {"--lang", "en"}, false, "2 songs: 0 converted, 2 failed ("},
      {"en_US.UTF-8", {}, false, "2 songs: 0 converted, 2 failed ("},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv{CliPath(), "convert"};
    argv.insert(argv.end(), c.langArgs.begin(), c.langArgs.end());
    argv.insert(argv.end(),
                {"--soundfont", "/usr/share/sounds/sf2/TimGM6mb.sf2", missing, notMidi});
    const ProcessResult run = RunInLocale(c.lang, argv);
    SCOPED_TRACE("LANG=" + c.lang + " " + ::testing::PrintToString(c.langArgs));
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_NE(run.err.find(c.summary), std::string::npos) << run.err;
    EXPECT_EQ(HasJapanese(run.err), c.japanese) << run.err;
    if (c.japanese) {
      EXPECT_EQ(run.err.find("converted"), std::string::npos) << run.err;
    } else {
      EXPECT_NE(run.err.find("missing.mid: Could not open"), std::string::npos) << run.err;
      EXPECT_EQ(run.err.find("missing.mid: Could not open the MIDI file." + missing),
                std::string::npos);
    }
  }
}

}  // namespace
}  // namespace velorna::test
