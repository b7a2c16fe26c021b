#include "app/language_choice.h"

#include <QAction>
#include <QActionGroup>
#include <QCoreApplication>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <array>

#include "app/dialog_settings.h"

namespace velorna {
namespace {

constexpr char kContext[] = "velorna::LanguageMenu";
constexpr char kOption[] = "--lang";

QString Translate(const char* text) {
  return QCoreApplication::translate(kContext, text);
}

std::optional<Language> ParseCode(const QString& code) {
  return ParseLanguage(code.toStdString());
}

}  // namespace

LanguageArgument TakeLanguageArgument(const QStringList& arguments) {
  LanguageArgument result;
  const QString option = QString::fromUtf8(kOption);
  const QString joined = option + u'=';
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    QString value;
    if (a == option) {
      if (i + 1 >= arguments.size()) {
        result.error = QStringLiteral("--lang needs ja or en");
        continue;
      }
      value = arguments[++i];
    } else if (a.startsWith(joined)) {
      value = a.mid(joined.size());
    } else {
      result.rest << a;
      continue;
    }
    result.language = ParseCode(value);
    if (!result.language) result.error = QStringLiteral("--lang needs ja or en: ") + value;
  }
  return result;
}

Language ChooseLanguage(std::optional<Language> argument, const QString& stored,
                        Language ofLocale) {
  if (argument) return *argument;
  return ParseCode(stored).value_or(ofLocale);
}

Language ApplicationLanguage() {
  return QLocale().language() == QLocale::Japanese ? Language::kJapanese : Language::kEnglish;
}

QAction* MakeLanguageAction(QWidget* parent) {
  struct Choice {
    const char* code;  // as stored; empty: the locale's
    const char* text;
  };
  static constexpr std::array<Choice, 3> kChoices{{
      {"", QT_TRANSLATE_NOOP("velorna::LanguageMenu", "自動（デスクトップの言語）")},
      {"ja", QT_TRANSLATE_NOOP("velorna::LanguageMenu", "日本語")},
      {"en", "English"},
  }};
  auto* menu = new QMenu(parent);
  auto* group = new QActionGroup(menu);
  const QString stored = LoadLanguageSetting();
  for (const Choice& choice : kChoices) {
    const QString code = QString::fromUtf8(choice.code);
    QAction* action = menu->addAction(Translate(choice.text));
    action->setObjectName(QStringLiteral("language-") +
                          (code.isEmpty() ? QStringLiteral("auto") : code));
    action->setCheckable(true);
    action->setChecked(code == stored || (code.isEmpty() && !ParseCode(stored)));
    group->addAction(action);
    QObject::connect(action, &QAction::triggered, parent, [parent, code] {
      SaveLanguageSetting(code);
      QMessageBox::information(
          parent, QStringLiteral("Velorna"),
          Translate(QT_TRANSLATE_NOOP("velorna::LanguageMenu",
                                      "言語は次に起動したときから変わります。")));
    });
  }
  auto* entry =
      new QAction(Translate(QT_TRANSLATE_NOOP("velorna::LanguageMenu", "言語 (Language)")), parent);
  entry->setObjectName(QStringLiteral("language"));
  entry->setMenu(menu);
  return entry;
}

}  // namespace velorna
