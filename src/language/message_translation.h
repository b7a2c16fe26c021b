// The system's messages are Japanese texts defined in libraries that know no Qt; the front
// ends show them in the user's language by looking them up, by their Japanese text, in one
// fixed context, so that a message keeps its translation wherever it is defined.
#pragma once

#include <QString>
#include <QTranslator>
#include <functional>
#include <string>

#include "language/language.h"

namespace velorna {

inline constexpr char kMessageContext[] = "Messages";
// The translation files' base names: the system's messages, and the dialog's own texts.
inline constexpr char kMessagesCatalog[] = "messages";
inline constexpr char kDialogCatalog[] = "velorna";

// One Japanese text to its translation; empty when there is none.
using MessageLookup = std::function<QString(const QString& source)>;

// `text` with every part the catalogue knows translated: the whole text when it is one
// message, else the longest known runs of its words, so that a message stays translated when
// a tag and code, a file name or a detail surrounds it, or numbers sit inside it (a number
// stands as %1, %2, ... in the catalogue). What the catalogue does not know stays as it is.
QString TranslateMessage(const QString& text, const MessageLookup& lookup);

// The file `catalog`_`language`.qm for a program in `programDir`: in the translations folder
// beside it, the installed one found relative to it, or the build tree's. Empty when none
// has it.
QString FindTranslationFile(const QString& programDir, const char* catalog, Language language);

// The catalogue of the system's messages in one language, for a front end without a Qt
// application (the command line).
class MessageCatalog {
 public:
  // Japanese needs no file; false when the language's file is missing (texts stay Japanese).
  bool Load(Language language, const QString& programDir);
  std::string Translate(const std::string& text) const;

 private:
  QTranslator translator_;
  bool loaded_ = false;
};

// Through the translators installed in the running application (the dialog).
QString TranslateWithApplication(const std::string& text);

}  // namespace velorna
