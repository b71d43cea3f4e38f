// The language of the library's texts: Russian for a user whose locale's language is Russian,
// English for everyone else. The values are the platform's language identifiers, so that a text
// table keyed by them reads like the message table it stands in for.
#pragma once

#include <cstdint>
#include <string_view>

namespace Velmora::Platform {

enum class Language : std::uint16_t {
  English = 1033,  // en-US
  Russian = 1049,  // ru-RU
};

// The language of a locale name such as "ru_RU.UTF-8", "ru", "ru_UA@euro" or "en_US.UTF-8":
// Russian when the language part is "ru" (any case), English for anything else, including the
// "C" and "POSIX" locales and an empty name.
Language LanguageFromLocaleName(std::string_view localeName) noexcept;

// The language of the calling process's user. The message locale set by the program
// (setlocale(LC_MESSAGES, ...)) decides when it names a real language; when it is still "C" or
// "POSIX" (the program never called setlocale, or the user's locale is not installed on this
// machine) the environment decides, with the POSIX precedence: LC_ALL, then LC_MESSAGES, then
// LANG, the first one that is set and not empty.
Language UserLanguage() noexcept;

// The one of two texts that the user reads: `russian` when UserLanguage() is Russian, `english`
// otherwise.
const wchar_t* InUserLanguage(const wchar_t* russian, const wchar_t* english) noexcept;

}  // namespace Velmora::Platform
