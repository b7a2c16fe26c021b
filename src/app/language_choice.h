// The dialog's language: --lang, else the dialog's own setting, else the locale's; and the
// context-menu entry that sets it.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "language/language.h"

class QAction;
class QWidget;

namespace velorna {

struct LanguageArgument {
  std::optional<Language> language;  // none: not given
  QStringList rest;                  // the arguments without --lang and its value
  QString error;                     // set when --lang has no value or an unknown one
};

// Takes "--lang ja|en" or "--lang=ja|en" out of a program's arguments.
LanguageArgument TakeLanguageArgument(const QStringList& arguments);

// --lang first, then the stored setting ("ja", "en", empty or unknown: none), then the locale.
Language ChooseLanguage(std::optional<Language> argument, const QString& stored, Language ofLocale);

// The language the running application speaks (its default locale's).
Language ApplicationLanguage();

// "Language" with Automatic, Japanese and English; the choice is remembered and applies
// from the next start.
QAction* MakeLanguageAction(QWidget* parent);

}  // namespace velorna
