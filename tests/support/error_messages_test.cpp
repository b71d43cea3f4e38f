// The text lookup: each source in its turn, line-break stripping, truncation, language.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cwchar>
#include <optional>
#include <string>

#include "support/error_messages.h"
#include "tests/common/saved_environment.h"

namespace P = Velmora::Platform;
namespace S = Velmora::Support;
using P::Language;

namespace {

constexpr P::HRESULT H(std::uint32_t value) {
  return P::MakeHResult(value);
}

std::wstring En(std::uint32_t hr) {
  return S::GetErrorMessage(H(hr), Language::English);
}
std::wstring Ru(std::uint32_t hr) {
  return S::GetErrorMessage(H(hr), Language::Russian);
}

}  // namespace

// The catalogue test reaches every entry of the tables; these are the rules around them.
TEST(ErrorMessages, EachSourceAndTheCodesNoneOfThemHolds) {
  const wchar_t* const csp =
      L"Wrong name format or an attempt is made to open container of another CSP.";
  const struct {
    std::uint32_t code;
    const wchar_t* english;  // null: unknown
    const wchar_t* russian;  // null: the English text
  } cases[] = {
      {5, L"Access is denied.", L"Отказано в доступе."},  // a bare Win32 number
      {12002, L"The operation timed out", L"Время ожидания операции истекло"},  // bare WinHTTP
      {0x80072EE2, L"The operation timed out", L"Время ожидания операции истекло"},
      {0x8010001C, csp, nullptr},  // one text in every language
      {0x80005000, L"E_ADS_BAD_PATHNAME", nullptr},
      {0x80005014, L"E_ADS_INVALID_FILTER", nullptr},
      {0xC2100105, nullptr, nullptr},  // the library's facility, not in its table
      {0x80092EE2, nullptr, nullptr},  // WinHTTP's low bits under other facilities
      {0xC2102EE2, nullptr, nullptr},
      {0x80005011, nullptr, nullptr},  // the gaps between ADSI's names
      {0x80005013, nullptr, nullptr},
      {0x80005015, nullptr, nullptr},
      {0xDEADBEEF, nullptr, nullptr},
      {0x00000123, nullptr, nullptr},
      {0x80070000, nullptr, nullptr},  // not "completed successfully"
  };
  for (const auto& c : cases) {
    wchar_t unknown[40];
    std::swprintf(unknown, 40, L"Unknown error code (0x%08X)", c.code);
    const std::wstring english = c.english != nullptr ? c.english : unknown;
    EXPECT_EQ(En(c.code), english) << std::hex << c.code;
    EXPECT_EQ(Ru(c.code), c.russian != nullptr ? c.russian : english) << std::hex << c.code;
  }
}

TEST(ErrorMessages, OnlyTheFinalRunOfLineBreaksIsCut) {
  EXPECT_EQ(S::StripTrailingLineBreaks(L"a\r\nb\r\n\n\r\r\n"), L"a\r\nb");
  EXPECT_EQ(S::StripTrailingLineBreaks(L"a\n \r\n"), L"a\n ");
  EXPECT_EQ(S::StripTrailingLineBreaks(L"\r\n\r\n"), L"");
  EXPECT_EQ(S::StripTrailingLineBreaks(L"plain"), L"plain");
  for (const S::OwnErrorCode& own : S::OwnErrorCodes()) {
    const std::wstring text = S::GetErrorMessage(own.code, Language::English);
    EXPECT_EQ(text + L"\r\n", own.english);
  }
}

TEST(ErrorMessages, LookupFillsAndTerminatesTheBuffer) {
  std::array<wchar_t, S::kErrorMessageChars> full{};
  full.fill(L'x');
  EXPECT_TRUE(S::LookupErrorMessage(H(0x80070005), full, Language::English));
  EXPECT_EQ(std::wstring(full.data()), L"Access is denied.");

  full.fill(L'x');
  EXPECT_FALSE(S::LookupErrorMessage(H(0x80005011), full, Language::English));
  EXPECT_EQ(full[0], L'\0');

  std::array<wchar_t, 7> small{};
  EXPECT_TRUE(S::LookupErrorMessage(H(0x80070005), small, Language::English));
  EXPECT_EQ(std::wstring(small.data()), L"Access");

  EXPECT_FALSE(S::LookupErrorMessage(H(0x80070005), std::span<wchar_t>(), Language::English));
}

TEST(ErrorMessages, DefaultLanguageFollowsTheLocaleEnvironment) {
  const Velmora::Testing::SavedEnvironment saved({"LC_ALL", "LC_MESSAGES", "LANG"}, true);
  setenv("LANG", "ru_RU.UTF-8", 1);
  EXPECT_EQ(S::GetErrorMessage(H(0xC2100121)), L"Не задан адрес службы штампов времени");
  EXPECT_EQ(S::GetErrorMessageUtf16(H(0xC2100121)),
            P::WideToUtf16(L"Не задан адрес службы штампов времени"));
  setenv("LANG", "en_US.UTF-8", 1);
  EXPECT_EQ(S::GetErrorMessage(H(0xC2100121)), L"The URL of TSP service is not specified");
}
