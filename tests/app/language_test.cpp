// The dialog in each language: English under an English locale or --lang en, Japanese under
// a Japanese one, C or no locale; a screenshot of each.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/run_process.h"
#include "support/temp_dir.h"

namespace velorna::test {
namespace {

namespace fs = std::filesystem;

struct Probe {
  ProcessResult run;
  fs::path screenshot;
};

Probe RunProbe(const fs::path& screenshot, const std::string& lang,
               const std::vector<std::string>& args) {
  Probe probe{{}, screenshot};
  std::vector<std::string> argv{"/usr/bin/env", "-u", "LC_ALL", "-u",
                                "LC_MESSAGES",  "-u", "LANG",   "QT_QPA_PLATFORM=offscreen"};
  if (!lang.empty()) argv.push_back("LANG=" + lang);
  argv.push_back(VELORNA_LANGUAGE_PROBE);
  argv.insert(argv.end(), args.begin(), args.end());
  argv.push_back(probe.screenshot.string());
  probe.run = RunProcess(argv);
  return probe;
}

bool Shows(const Probe& probe, const std::string& line) {
  return probe.run.out.find(line + "\n") != std::string::npos;
}

TEST(DialogLanguage, EnglishOutsideJapaneseLocalesJapaneseInThem) {
  TempDir dir;
  const std::vector<std::string> english{"button Convert",
                                         "button Help",
                                         "button Exit",
                                         "button Back to defaults",
                                         "action About Velorna(&A)...",
                                         "message MDLD17000002 Not a MIDI file."};
  const std::vector<std::string> japanese{"button 変換",
                                          "button ヘルプ",
                                          "button 終了",
                                          "button 初期値に戻す",
                                          "action バージョン情報 Velorna(&A)...",
                                          "message MDLD17000002 Midiファイルではありません。"};
  struct Case {
    std::string lang;
    std::vector<std::string> args;
    const std::vector<std::string>& expected;
  };
  const std::vector<Case> cases{{"en_US.UTF-8", {}, english},
                                {"C", {}, japanese},
                                {"ja_JP.UTF-8", {}, japanese},
                                {"", {}, japanese},
                                {"ja_JP.UTF-8", {"--lang", "en"}, english},
                                {"en_US.UTF-8", {"--lang=ja"}, japanese}};
  std::vector<uintmax_t> sizes;
  for (const Case& c : cases) {
    SCOPED_TRACE("LANG=" + c.lang + (c.args.empty() ? "" : " " + c.args.back()));
    const fs::path screenshot = dir / ("dialog-" + std::to_string(sizes.size()) + ".png");
    const Probe probe = RunProbe(screenshot, c.lang, c.args);
    ASSERT_EQ(probe.run.exitStatus, 0) << probe.run.err;
    for (const std::string& line : c.expected) EXPECT_TRUE(Shows(probe, line)) << probe.run.out;
    EXPECT_EQ(probe.run.out.find("layout "), std::string::npos) << probe.run.out;
    ASSERT_TRUE(fs::is_regular_file(probe.screenshot));
    sizes.push_back(fs::file_size(probe.screenshot));
  }
  // The two languages draw different dialogs.
  EXPECT_NE(sizes[0], sizes[1]);
}

}  // namespace
}  // namespace velorna::test
