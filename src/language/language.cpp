#include "language/language.h"

#include <cstdlib>
#include <string>

namespace velorna {
namespace {

constexpr std::string_view kJapaneseCode = "ja";
constexpr std::string_view kEnglishCode = "en";

bool IsSet(const char* value) {
  return value != nullptr && *value != '\0';
}

}  // namespace

std::optional<Language> ParseLanguage(std::string_view code) {
  if (code == kJapaneseCode) return Language::kJapanese;
  if (code == kEnglishCode) return Language::kEnglish;
  return std::nullopt;
}

std::string_view LanguageCode(Language language) {
  return language == Language::kJapanese ? kJapaneseCode : kEnglishCode;
}

Language LanguageOfLocale(const char* lcAll, const char* lcMessages, const char* lang) {
  const char* chosen = IsSet(lcAll) ? lcAll : IsSet(lcMessages) ? lcMessages : lang;
  if (!IsSet(chosen)) return Language::kJapanese;
  const std::string_view name(chosen);
  // The locale's name up to its territory, codeset or modifier: "ja_JP.UTF-8" -> "ja".
  const std::string_view base = name.substr(0, name.find_first_of("_.@"));
  if (base == kJapaneseCode || base == "C" || base == "POSIX") return Language::kJapanese;
  return Language::kEnglish;
}

Language LanguageOfEnvironment() {
  return LanguageOfLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
}

}  // namespace velorna
