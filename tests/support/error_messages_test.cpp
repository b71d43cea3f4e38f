// The text lookup: each source in its turn, line-break stripping, truncation, language.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <optional>
#include <string>

#include "support/error_messages.h"

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

TEST(ErrorMessages, OwnCodesInBothLanguagesWithoutTheLineBreak) {
  EXPECT_EQ(En(0xC2100121), L"The URL of TSP service is not specified");
  EXPECT_EQ(Ru(0xC2100121), L"Не задан адрес службы штампов времени");
  EXPECT_EQ(En(0xC2100120), L"The values of request's and stamp's \"Nonce\" fields are not equal.");
  EXPECT_EQ(Ru(0xC2100111), L"Указанный \"PolicyID\" запрещен групповой политикой");
  // A code of the library's facility that the table does not hold is unknown.
  EXPECT_EQ(En(0xC2100105), L"Unknown error code (0xC2100105)");
}

TEST(ErrorMessages, FixedCspTextInEveryLanguage) {
  const std::wstring text =
      L"Wrong name format or an attempt is made to open container of another CSP.";
  EXPECT_EQ(En(0x8010001C), text);
  EXPECT_EQ(Ru(0x8010001C), text);
}

TEST(ErrorMessages, PlatformTexts) {
  EXPECT_EQ(En(0x80070005), L"Access is denied.");
  EXPECT_EQ(Ru(0x80070005), L"Отказано в доступе.");
  EXPECT_EQ(En(5), L"Access is denied.");  // a bare Win32 number
  EXPECT_EQ(En(0x80070057), L"The parameter is incorrect.");
  EXPECT_EQ(En(0x80004005), L"Unspecified error");
  EXPECT_EQ(En(0x80090008), L"Invalid algorithm specified.");
  EXPECT_EQ(En(0x80093102), L"ASN1 unexpected end of data.");
  EXPECT_EQ(Ru(0x800B0105),
            L"Сертификат содержит неизвестное расширение, помеченное как критическое.");
}

TEST(ErrorMessages, WinHttpNumbersAreFoundByTheirLowBitsOnly) {
  EXPECT_EQ(En(0x80072EE2), L"The operation timed out");
  EXPECT_EQ(Ru(0x80072EE2), L"Время ожидания операции истекло");
  EXPECT_EQ(En(12002), L"The operation timed out");
  EXPECT_EQ(En(0x80072EFD), L"A connection with the server could not be established");
  // The same low 16 bits under another facility are not a WinHTTP number.
  EXPECT_EQ(En(0x80092EE2), L"Unknown error code (0x80092EE2)");
  EXPECT_EQ(En(0xC2102EE2), L"Unknown error code (0xC2102EE2)");
}

TEST(ErrorMessages, AdsiNamesAndTheirGaps) {
  EXPECT_EQ(En(0x80005000), L"E_ADS_BAD_PATHNAME");
  EXPECT_EQ(Ru(0x80005010), L"E_ADS_COLUMN_NOT_SET");
  EXPECT_EQ(En(0x80005014), L"E_ADS_INVALID_FILTER");
  EXPECT_EQ(En(0x80005011), L"Unknown error code (0x80005011)");
  EXPECT_EQ(En(0x80005013), L"Unknown error code (0x80005013)");
  EXPECT_EQ(En(0x80005015), L"Unknown error code (0x80005015)");
}

TEST(ErrorMessages, UnknownCodesAreFormattedAsUnsigned) {
  EXPECT_EQ(En(0xDEADBEEF), L"Unknown error code (0xDEADBEEF)");
  EXPECT_EQ(Ru(0x00000123), L"Unknown error code (0x00000123)");
  EXPECT_EQ(En(0x80070000), L"Unknown error code (0x80070000)");  // not "completed successfully"
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
  const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  std::optional<std::string> saved[3];
  for (int i = 0; i < 3; ++i) {
    if (const char* v = std::getenv(names[i])) {
      saved[i] = v;
    }
    unsetenv(names[i]);
  }
  setenv("LANG", "ru_RU.UTF-8", 1);
  EXPECT_EQ(S::GetErrorMessage(H(0xC2100121)), L"Не задан адрес службы штампов времени");
  EXPECT_EQ(S::GetErrorMessageUtf16(H(0xC2100121)),
            P::WideToUtf16(L"Не задан адрес службы штампов времени"));
  setenv("LANG", "en_US.UTF-8", 1);
  EXPECT_EQ(S::GetErrorMessage(H(0xC2100121)), L"The URL of TSP service is not specified");
  for (int i = 0; i < 3; ++i) {
    if (saved[i]) {
      setenv(names[i], saved[i]->c_str(), 1);
    } else {
      unsetenv(names[i]);
    }
  }
}
