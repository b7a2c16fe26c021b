// The application: Japanese texts for Qt's own dialogs, the font, the icon, then the main
// dialog run modally; when it closes, the program ends.
#pragma once

#include <QApplication>
#include <QTranslator>

#include "app/velorna_dlg.h"

namespace velorna {

class CVelornaApp : public QApplication {
 public:
  CVelornaApp(int& argc, char** argv);
  int InitInstance(ConversionRunner runner);
  bool HasJapaneseTranslations() const { return m_qtLoaded; }

 private:
  QTranslator m_qtTranslator;
  bool m_qtLoaded = false;
};

}  // namespace velorna
