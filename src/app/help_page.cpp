#include "app/help_page.h"

#include <QFileInfo>

namespace velorna {

QString FindHelpPage(const QString& programDir, Language language) {
  QStringList pages;
  if (language == Language::kEnglish) pages << QStringLiteral("index_en.htm");
  pages << QStringLiteral("index.htm");
  for (const QString& name : pages) {
    // The installed folder, relative to the installed program, comes from the build's
    // install layout.
    for (const QString& folder :
         {QStringLiteral("help"), QStringLiteral(VELORNA_HELP_FROM_PROGRAM)}) {
      const QFileInfo page(programDir + u'/' + folder + u'/' + name);
      if (page.isFile()) return page.canonicalFilePath();
    }
  }
  return {};
}

}  // namespace velorna
