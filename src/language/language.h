// Which language the front ends speak: Japanese, the language the system is written in,
// or English.
#pragma once

#include <optional>
#include <string_view>

namespace velorna {

enum class Language { kJapanese, kEnglish };

// "ja" or "en", as --lang and the settings spell them.
std::optional<Language> ParseLanguage(std::string_view code);
std::string_view LanguageCode(Language language);

// The locale's language as POSIX resolves it (LC_ALL, then LC_MESSAGES, then LANG; empty
// values count as unset): Japanese for ja*, and for C, POSIX or no locale at all, so that the
// behaviour the system is specified with stands; English for every other locale.
Language LanguageOfLocale(const char* lcAll, const char* lcMessages, const char* lang);
// The same for this process's environment.
Language LanguageOfEnvironment();

}  // namespace velorna
