#include "app/help_page_test.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "app/help_page.h"

namespace velorna::test {
namespace {

QString MakePage(const QString& folder, const QString& name = QStringLiteral("index.htm")) {
  QDir().mkpath(folder);
  QFile page(folder + u'/' + name);
  page.open(QIODevice::WriteOnly);
  page.write("<html></html>");
  return QFileInfo(page).canonicalFilePath();
}

class HelpPageTest : public QObject {
  Q_OBJECT

 private slots:
  void installedTreeThenBuildFolder() {
    QTemporaryDir prefix;
    const QString bin = prefix.path() + QStringLiteral("/usr/bin");
    QDir().mkpath(bin);
    QVERIFY(FindHelpPage(bin).isEmpty());
    // As `cmake --install` and the package lay it out.
    const QString installed = MakePage(prefix.path() + QStringLiteral("/usr/share/velorna/help"));
    QCOMPARE(FindHelpPage(bin), installed);
    // A page beside the program, as in a build folder, comes first.
    const QString beside = MakePage(bin + QStringLiteral("/help"));
    QCOMPARE(FindHelpPage(bin), beside);
    // English takes its own page where there is one, in either place, else the Japanese one.
    QCOMPARE(FindHelpPage(bin, Language::kEnglish), beside);
    const QString english = MakePage(prefix.path() + QStringLiteral("/usr/share/velorna/help"),
                                     QStringLiteral("index_en.htm"));
    QCOMPARE(FindHelpPage(bin, Language::kEnglish), english);
    QCOMPARE(FindHelpPage(bin, Language::kJapanese), beside);
  }
};

}  // namespace

int RunHelpPageTests(int argc, char** argv) {
  HelpPageTest test;
  return QTest::qExec(&test, argc, argv);
}

}  // namespace velorna::test

#include "help_page_test.moc"
