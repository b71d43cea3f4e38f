#include "platform/text/language.h"

#include <clocale>
#include <cstdlib>

namespace Velmora::Platform {
namespace {

constexpr char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// True for the locales that name no language: "C", "POSIX" and their code-set variants
// ("C.UTF-8").
bool IsNeutralLocale(std::string_view name) {
  const std::string_view base = name.substr(0, name.find('.'));
  return base.empty() || base == "C" || base == "POSIX";
}

}  // namespace

Language LanguageFromLocaleName(std::string_view localeName) noexcept {
  // The language part ends at the territory, code set or modifier: "ru", "ru_RU", "ru.KOI8-R",
  // "ru@..."; "ru-RU" is the tag form some programs put there.
  if (localeName.size() < 2 || Lower(localeName[0]) != 'r' || Lower(localeName[1]) != 'u') {
    return Language::English;
  }
  if (localeName.size() == 2) {
    return Language::Russian;
  }
  const char next = localeName[2];
  return next == '_' || next == '.' || next == '@' || next == '-' ? Language::Russian
                                                                  : Language::English;
}

Language UserLanguage() noexcept {
  if (const char* current = std::setlocale(LC_MESSAGES, nullptr);
      current != nullptr && !IsNeutralLocale(current)) {
    return LanguageFromLocaleName(current);
  }
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') {
      return LanguageFromLocaleName(value);
    }
  }
  return Language::English;
}

const wchar_t* InUserLanguage(const wchar_t* russian, const wchar_t* english) noexcept {
  return UserLanguage() == Language::Russian ? russian : english;
}

}  // namespace Velmora::Platform
