#include "app/velorna_app.h"

#include <QFont>
#include <QFontDatabase>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <cstdio>

#include "app/dialog_settings.h"
#include "app/language_choice.h"
#include "language/message_translation.h"

namespace velorna {

CVelornaApp::CVelornaApp(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Velorna"));
  setApplicationVersion(QStringLiteral(VELORNA_VERSION));
  setWindowIcon(QIcon(QStringLiteral(":/velorna/velorna.png")));

  QStringList arguments = this->arguments();
  arguments.removeFirst();
  LanguageArgument given = TakeLanguageArgument(arguments);
  m_songs = given.rest;
  m_usageError = given.error;
  UseLanguage(ChooseLanguage(given.language, LoadLanguageSetting(), LanguageOfEnvironment()));

  // A font with every Japanese glyph first; the desktop's own font stays the fallback.
  const QString japanese = QStringLiteral("IPAexGothic");
  if (QFontDatabase::families().contains(japanese)) {
    QFont f = font();
    f.setFamilies({japanese, f.family()});
    setFont(f);
  }
}

void CVelornaApp::UseLanguage(Language language) {
  m_language = language;
  if (language == Language::kJapanese) {
    // Qt's own buttons and file dialog speak Japanese too.
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    m_qtLoaded = m_qtTranslator.load(QStringLiteral("qtbase_ja"),
                                     QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    if (m_qtLoaded) installTranslator(&m_qtTranslator);
    return;
  }
  // Qt's own texts are English already; the dialog's and the system's messages need their
  // files, without which they stay Japanese.
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  const std::initializer_list<std::pair<QTranslator*, const char*>> catalogs{
      {&m_dialogTranslator, kDialogCatalog}, {&m_messageTranslator, kMessagesCatalog}};
  for (const auto& [translator, catalog] : catalogs) {
    const QString file = FindTranslationFile(applicationDirPath(), catalog, language);
    if (!file.isEmpty() && translator->load(file)) installTranslator(translator);
  }
}

int CVelornaApp::InitInstance(ConversionRunner runner) {
  if (!m_usageError.isEmpty()) {
    std::fprintf(stderr, "velorna: %s\n", qPrintable(m_usageError));
    return 2;
  }
  CVelornaDlg dialog(std::move(runner));
  // Songs named on the command line (velorna a.mid b.mid, as a file manager opens them) wait
  // in the list: the tuning is chosen first, and Convert starts them.
  dialog.OpenSongs(m_songs);
  dialog.exec();
  return 0;
}

}  // namespace velorna
