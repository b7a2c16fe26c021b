#include "app/help_page.h"

#include <QFileInfo>

namespace velorna {

QString FindHelpPage(const QString& programDir) {
  // The installed folder, relative to the installed program, comes from the build's
  // install layout.
  for (const QString& folder :
       {QStringLiteral("help"), QStringLiteral(VELORNA_HELP_FROM_PROGRAM)}) {
    const QFileInfo page(programDir + u'/' + folder + QStringLiteral("/index.htm"));
    if (page.isFile()) return page.canonicalFilePath();
  }
  return {};
}

}  // namespace velorna
