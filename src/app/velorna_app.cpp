#include "app/velorna_app.h"

#include <QFont>
#include <QFontDatabase>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>

namespace velorna {

CVelornaApp::CVelornaApp(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Velorna"));
  setApplicationVersion(QStringLiteral(VELORNA_VERSION));
  setWindowIcon(QIcon(QStringLiteral(":/velorna/velorna.png")));

  // The interface is Japanese whatever the locale, so Qt's own buttons and file dialog are too.
  QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
  m_qtLoaded = m_qtTranslator.load(QStringLiteral("qtbase_ja"),
                                   QLibraryInfo::path(QLibraryInfo::TranslationsPath));
  if (m_qtLoaded) installTranslator(&m_qtTranslator);

  // A font with every Japanese glyph first; the desktop's own font stays the fallback.
  const QString japanese = QStringLiteral("IPAexGothic");
  if (QFontDatabase::families().contains(japanese)) {
    QFont f = font();
    f.setFamilies({japanese, f.family()});
    setFont(f);
  }
}

int CVelornaApp::InitInstance(ConversionRunner runner) {
  CVelornaDlg dialog(std::move(runner));
  // Songs named on the command line (velorna a.mid b.mid) are converted once the dialog is up.
  QStringList songs = arguments();
  songs.removeFirst();
  if (!songs.isEmpty()) {
    QMetaObject::invokeMethod(
        &dialog, [&dialog, songs] { dialog.ConvertSongs(songs); }, Qt::QueuedConnection);
  }
  dialog.exec();
  return 0;
}

}  // namespace velorna
