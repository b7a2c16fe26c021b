#include "language/message_translation.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>
#include <QStringView>
#include <algorithm>
#include <vector>

namespace velorna {
namespace {

// Japanese text lies at and above the CJK symbols block (punctuation, kana, kanji, full-width
// forms); the separators are what the system puts between a message and its details, the
// Japanese full stop included, since a detail may follow a sentence without a blank.
constexpr char16_t kJapaneseStart = 0x3000;
constexpr std::u16string_view kSeparators = u"():<>\"',。";
// A run longer than this is no message of the catalogue: bounds the work on long texts.
constexpr size_t kMaxRunTokens = 64;

bool IsSeparator(QChar c) {
  return c.isSpace() || kSeparators.find(c.unicode()) != std::u16string_view::npos;
}

bool HasJapanese(QStringView text) {
  return std::any_of(text.begin(), text.end(),
                     [](QChar c) { return c.unicode() >= kJapaneseStart; });
}

// How many digits a token starts with: a number, or a number with its unit ("42％").
qsizetype LeadingDigits(QStringView token) {
  const auto end =
      std::find_if(token.begin(), token.end(), [](QChar c) { return c < u'0' || c > u'9'; });
  return end - token.begin();
}

// Words and single separators, in order; joined they give the text back.
std::vector<QStringView> Tokens(QStringView text) {
  std::vector<QStringView> tokens;
  qsizetype start = 0;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (!IsSeparator(text[i])) continue;
    if (i > start) tokens.push_back(text.sliced(start, i - start));
    tokens.push_back(text.sliced(i, 1));
    start = i + 1;
  }
  if (start < text.size()) tokens.push_back(text.sliced(start));
  return tokens;
}

// The translation of tokens [first, last), as written or with its numbers as placeholders.
QString TranslateRun(const std::vector<QStringView>& tokens, size_t first, size_t last,
                     const MessageLookup& lookup) {
  QString run, pattern;
  QStringList numbers;
  for (size_t k = first; k < last; ++k) {
    run += tokens[k];
    const qsizetype digits = LeadingDigits(tokens[k]);
    if (digits > 0) {
      numbers << tokens[k].first(digits).toString();
      pattern += u'%' + QString::number(numbers.size());
      pattern += tokens[k].sliced(digits);
    } else {
      pattern += tokens[k];
    }
  }
  if (!HasJapanese(run)) return {};
  if (QString exact = lookup(run); !exact.isEmpty()) return exact;
  if (numbers.isEmpty()) return {};
  QString filled = lookup(pattern);
  if (filled.isEmpty()) return {};
  for (const QString& number : numbers) filled = filled.arg(number);
  return filled;
}

}  // namespace

QString TranslateMessage(const QString& text, const MessageLookup& lookup) {
  if (!HasJapanese(text)) return text;
  const std::vector<QStringView> tokens = Tokens(text);
  QString out;
  size_t i = 0;
  while (i < tokens.size()) {
    QString translated;
    size_t end = std::min(tokens.size(), i + kMaxRunTokens);
    if (!tokens[i].front().isSpace()) {
      // The longest run from here that the catalogue knows; runs neither start nor end on a
      // blank.
      for (; end > i; --end) {
        if (tokens[end - 1].front().isSpace()) continue;
        translated = TranslateRun(tokens, i, end, lookup);
        if (!translated.isEmpty()) break;
      }
    }
    if (translated.isEmpty()) {
      out += tokens[i];
      ++i;
    } else {
      out += translated;
      i = end;
    }
  }
  return out;
}

QString FindTranslationFile(const QString& programDir, const char* catalog, Language language) {
  const QString name = QString::fromUtf8(catalog) + u'_' +
                       QString::fromUtf8(LanguageCode(language).data(),
                                         static_cast<qsizetype>(LanguageCode(language).size())) +
                       QStringLiteral(".qm");
  for (const QString& folder :
       {programDir + QStringLiteral("/translations"),
        programDir + u'/' + QStringLiteral(VELORNA_TRANSLATIONS_FROM_PROGRAM),
        QStringLiteral(VELORNA_BUILD_TRANSLATIONS)}) {
    const QFileInfo file(folder + u'/' + name);
    if (file.isFile()) return file.canonicalFilePath();
  }
  return {};
}

bool MessageCatalog::Load(Language language, const QString& programDir) {
  loaded_ = false;
  if (language == Language::kJapanese) return true;
  const QString file = FindTranslationFile(programDir, kMessagesCatalog, language);
  loaded_ = !file.isEmpty() && translator_.load(file);
  return loaded_;
}

std::string MessageCatalog::Translate(const std::string& text) const {
  if (!loaded_) return text;
  const QString translated =
      TranslateMessage(QString::fromStdString(text), [this](const QString& source) {
        return translator_.translate(kMessageContext, source.toUtf8().constData());
      });
  return translated.toStdString();
}

QString TranslateWithApplication(const std::string& text) {
  return TranslateMessage(QString::fromStdString(text), [](const QString& source) {
    const QByteArray utf8 = source.toUtf8();
    const QString translated = QCoreApplication::translate(kMessageContext, utf8.constData());
    // The application gives the source back when no translator knows it.
    return translated == source ? QString() : translated;
  });
}

}  // namespace velorna
