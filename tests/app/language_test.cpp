// The dialog in each language: English under an English locale or --lang en, Japanese under
// C or --lang ja; a screenshot of each.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/run_process.h"
#include "support/temp_dir.h"

namespace velorna::test {
namespace {

namespace fs = std::filesystem;

TEST(DialogLanguage, EnglishOutsideJapaneseLocalesJapaneseInThem) {
  TempDir dir;
  const std::vector<std::string> english{"button Convert", "button Back to defaults",
                                         "action About Velorna(&A)...",
                                         "message MDLD17000002 Not a MIDI file."};
  const std::vector<std::string> japanese{"button 変換", "button 初期値に戻す",
                                          "action バージョン情報 Velorna(&A)...",
                                          "message MDLD17000002 Midiファイルではありません。"};
  struct Case {
    std::string lang;
    std::vector<std::string> args;
    const std::vector<std::string>& expected;
  };
  const std::vector<Case> cases{{"en_US.UTF-8", {}, english},
                                {"C", {}, japanese},
                                {"ja_JP.UTF-8", {"--lang", "en"}, english},
                                {"en_US.UTF-8", {"--lang=ja"}, japanese}};
  std::vector<uintmax_t> sizes;
  for (const Case& c : cases) {
    SCOPED_TRACE("LANG=" + c.lang + (c.args.empty() ? "" : " " + c.args.back()));
    const fs::path screenshot = dir / ("dialog-" + std::to_string(sizes.size()) + ".png");
    std::vector<std::string> argv{"/usr/bin/env", "QT_QPA_PLATFORM=offscreen",
                                  VELORNA_LANGUAGE_PROBE};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    argv.push_back(screenshot.string());
    const ProcessResult run = RunInLocale(c.lang, argv);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    for (const std::string& line : c.expected)
      EXPECT_NE(run.out.find(line + "\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("layout "), std::string::npos) << run.out;  // texts that do not fit
    ASSERT_TRUE(fs::is_regular_file(screenshot));
    sizes.push_back(fs::file_size(screenshot));
  }
  // The two languages draw different dialogs.
  EXPECT_NE(sizes[0], sizes[1]);
}

}  // namespace
}  // namespace velorna::test
