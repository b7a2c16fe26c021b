// The one-line progress display of a conversion on a terminal, fitted to its width.
#pragma once

#include <string>

namespace velorna::cli {

inline constexpr int kFallbackColumns = 80;

// Columns of the terminal on `fd`; else $COLUMNS; else kFallbackColumns.
int TerminalColumns(int fd);

// Columns a UTF-8 text takes on a terminal: East Asian wide characters take two.
int DisplayWidth(const std::string& text);

// "name [#####.....]  42% 00:12 ETA 00:17", at most `columns` - 1 wide so that the
// terminal never wraps it. Narrow terminals lose the bar, then the times; the name is
// shortened with "…" before anything else goes.
std::string ProgressLine(const std::string& name, int percent, double elapsedSeconds, int columns);

}  // namespace velorna::cli
