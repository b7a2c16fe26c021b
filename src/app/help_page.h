// Where the dialog finds its help page.
#pragma once

#include <QString>

namespace velorna {

// The help page for a program in `programDir`: help/index.htm beside it (a build folder),
// else the installed one under the data folder, found relative to the program so that an
// installed tree can be moved. Empty when there is none.
QString FindHelpPage(const QString& programDir);

}  // namespace velorna
