// The front ends' language choice and the translation of the system's messages.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QHash>
#include <cstdint>
#include <string>
#include <vector>

#include "base/library_error.h"
#include "language/language.h"
#include "language/message_translation.h"
#include "tuning/scala.h"

namespace velorna {
namespace {

constexpr char32_t kJapaneseStart = 0x3000;

bool HasJapanese(const QString& text) {
  for (const char32_t c : text.toUcs4())
    if (c >= kJapaneseStart) return true;
  return false;
}

TEST(Language, LocaleChoosesJapaneseForJapaneseAndTheDefaultLocale) {
  struct Case {
    const char* lcAll;
    const char* lcMessages;
    const char* lang;
    Language expected;
  };
  constexpr Language ja = Language::kJapanese, en = Language::kEnglish;
  const std::vector<Case> cases{
      {nullptr, nullptr, nullptr, ja},
      {"", "", "", ja},
      {nullptr, nullptr, "C", ja},
      {nullptr, nullptr, "C.UTF-8", ja},
      {nullptr, nullptr, "POSIX", ja},
      {nullptr, nullptr, "ja_JP.UTF-8", ja},
      {nullptr, nullptr, "ja", ja},
      {nullptr, nullptr, "ja_JP.eucJP@x", ja},
      {nullptr, nullptr, "en_US.UTF-8", en},
      {nullptr, nullptr, "jam_JM", en},
      {"en_GB.UTF-8", "ja_JP.UTF-8", "C", en},
      {"", "ja_JP.UTF-8", "en_US.UTF-8", ja},
      {"C", "", "en_US.UTF-8", ja},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LanguageOfLocale(c.lcAll, c.lcMessages, c.lang), c.expected)
        << (c.lcAll ? c.lcAll : "-") << " " << (c.lcMessages ? c.lcMessages : "-") << " "
        << (c.lang ? c.lang : "-");
  }
  EXPECT_EQ(ParseLanguage("en"), Language::kEnglish);
  EXPECT_EQ(ParseLanguage("ja"), Language::kJapanese);
  EXPECT_FALSE(ParseLanguage("EN"));
}

TEST(MessageTranslation, KnownRunsTranslateWhateverSurroundsThem) {
  const QHash<QString, QString> catalogue{
      {QStringLiteral("ファイルが開けませんでした。"), QStringLiteral("Could not open the file.")},
      {QStringLiteral("ファイル"), QStringLiteral("file")},
      {QStringLiteral("の %1 行目"), QStringLiteral("(line %1)")},
      {QStringLiteral("%1 個中 %2 個"), QStringLiteral("%2 of %1")},
      {QStringLiteral("%1％"), QStringLiteral("%1%")},
      {QStringLiteral("音源 (SoundFont) がありません。"), QStringLiteral("No SoundFont.")},
  };
  const MessageLookup lookup = [&](const QString& s) { return catalogue.value(s); };
  const std::vector<std::pair<QString, QString>> cases{
      // Tag and code, a file name before, a detail after: kept as they are.
      {QStringLiteral("GENE01000007 ファイルが開けませんでした。"),
       QStringLiteral("GENE01000007 Could not open the file.")},
      {QStringLiteral("曲 1.mid: ファイルが開けませんでした。 (/tmp/x)"),
       QStringLiteral("曲 1.mid: Could not open the file. (/tmp/x)")},
      // Numbers inside a message stand as placeholders; a unit may follow a number.
      {QStringLiteral("a.scl の 12 行目: ファイル (3 個中 2 個)"),
       QStringLiteral("a.scl (line 12): file (2 of 3)")},
      {QStringLiteral("42％"), QStringLiteral("42%")},
      // The longest known run wins over its parts, separators inside it included.
      {QStringLiteral("音源 (SoundFont) がありません。"), QStringLiteral("No SoundFont.")},
      // Unknown texts, and texts without Japanese, stay as they are.
      {QStringLiteral("未知の文です。"), QStringLiteral("未知の文です。")},
      {QStringLiteral("a.mid -> a.wav (1.5 s)"), QStringLiteral("a.mid -> a.wav (1.5 s)")},
      {QString(), QString()},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(TranslateMessage(text, lookup), expected);
}

// Every message the libraries' tables and the scale reader can give comes out in English
// from the built catalogue, its tag and code unchanged.
TEST(MessageTranslation, EveryTableMessageAndScalaErrorIsEnglish) {
  MessageCatalog catalog;
  ASSERT_TRUE(catalog.Load(Language::kEnglish, QString()));
  RecordingReporter reporter;
  constexpr uint32_t kCodesPerModule = 0x30;
  for (uint32_t n = 0; n <= kCodesPerModule; ++n) {
    ShowM1dtError(reporter, 0x03000000 + n);
    ShowMdtkError(reporter, 0x0D000000 + n);
  }
  for (const std::string_view text :
       {msg::kOutOfMemory, msg::kFileOpenFailed, msg::kDataTooLarge, msg::kFileSizeError,
        msg::kMidiEventError, msg::kFormat0Internal, msg::kLoaderInternal, msg::kNotMidiFile,
        msg::kLoadTooLarge, msg::kMidiOpenFailed, msg::kEventDataTooLarge, msg::kEventDataError,
        msg::kLargeEvent, msg::kMultipleMasterVolume, msg::kNoteNumberRepaired}) {
    ShowLibraryError(reporter, LibraryModule::GENE, code::kGeneOutOfMemory, text);
  }
  const std::vector<std::string> details{"", "\"x\"", "3 個中 1 個", "基準周波数",
                                         "最後のキー < 最初のキー"};
  for (int kind = static_cast<int>(ScalaErrorKind::kCannotOpen);
       kind <= static_cast<int>(ScalaErrorKind::kReferenceUnmapped); ++kind) {
    for (const std::string& detail : details) {
      reporter.ShowText(
          ScalaErrorText({static_cast<ScalaErrorKind>(kind), kind % 2 * 7, detail}, "a.kbm"));
    }
  }
  for (const Report& report : reporter.reports()) {
    const QString english = QString::fromStdString(catalog.Translate(report.text));
    EXPECT_FALSE(HasJapanese(english)) << report.text << " -> " << english.toStdString();
    const std::string prefix = report.text.substr(0, report.text.find(' '));
    EXPECT_TRUE(english.startsWith(QString::fromStdString(prefix))) << english.toStdString();
  }
}

}  // namespace
}  // namespace velorna
