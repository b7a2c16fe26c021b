// Text that came from files (song texts, track names, file names) is shown escaped, so that
// it can neither drive the terminal (escape sequences) nor forge lines of our own output.
#pragma once

#include <string>
#include <string_view>

namespace velorna {

// Returns `text` with every control character (C0, DEL, C1), line or paragraph separator and
// bidirectional override written as a visible escape ("\n", "\x1b", "\u202e") and every
// byte that is not part of valid UTF-8 as "\xNN". Valid printable UTF-8 is kept as it is.
[[nodiscard]] std::string EscapeForDisplay(std::string_view text);

}  // namespace velorna
