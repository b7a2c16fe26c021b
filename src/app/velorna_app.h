// The application: its language (--lang, the dialog's setting or the locale) with Qt's own
// dialogs in it, the font, the icon, then the main dialog run modally; when it closes, the
// program ends.
#pragma once

#include <QApplication>
#include <QStringList>
#include <QTranslator>

#include "app/velorna_dlg.h"
#include "language/language.h"

namespace velorna {

class CVelornaApp : public QApplication {
 public:
  CVelornaApp(int& argc, char** argv);
  int InitInstance(ConversionRunner runner);
  bool HasJapaneseTranslations() const { return m_qtLoaded; }
  Language language() const { return m_language; }

 private:
  void UseLanguage(Language language);

  QTranslator m_qtTranslator;
  QTranslator m_dialogTranslator;
  QTranslator m_messageTranslator;
  bool m_qtLoaded = false;
  Language m_language = Language::kJapanese;
  QStringList m_songs;   // the arguments that name songs
  QString m_usageError;  // a --lang the program cannot use
};

}  // namespace velorna
