// Where the dialog finds its help page.
#pragma once

#include <QString>

#include "language/language.h"

namespace velorna {

// The help page in `language` for a program in `programDir`: help/index.htm (English:
// index_en.htm) beside it (a build folder), else the installed one under the data folder,
// found relative to the program so that an installed tree can be moved. A language without
// its page gets the Japanese one. Empty when there is none.
QString FindHelpPage(const QString& programDir, Language language = Language::kJapanese);

}  // namespace velorna
