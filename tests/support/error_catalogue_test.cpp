// Walks every code the library can raise: each has its English and Russian text, every platform
// constant of winerror.h has a text, and docs/errors.md documents every one of them.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "platform/text/messages.h"
#include "support/error_messages.h"

namespace P = Velmora::Platform;
namespace S = Velmora::Support;
using P::Language;

namespace {

std::string ReadSourceFile(const char* relative) {
  std::ifstream in(std::string(HORODEX_SOURCE_DIR) + "/" + relative, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool HasCyrillic(std::wstring_view text) {
  return text.find_first_of(L"абвгдеёжзийклмнопрстуфхцчшщъыьэюяАБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЭЮЯ") !=
         std::wstring_view::npos;
}

bool IsUnknown(const std::wstring& text) {
  return text.starts_with(L"Unknown error code");
}

std::string Hex(P::HRESULT hr) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(hr));
  return buffer;
}

}  // namespace

TEST(ErrorCatalogue, OwnCodesHaveBothTextsEndingInCrLf) {
  std::set<std::string> names;
  for (const S::OwnErrorCode& own : S::OwnErrorCodes()) {
    SCOPED_TRACE(own.name);
    EXPECT_EQ(P::HRESULT_FACILITY(own.code), S::FACILITY_HORODEX);
    EXPECT_EQ(static_cast<std::uint32_t>(own.code) >> 30, 3u);  // both severity bits
    EXPECT_TRUE(names.insert(own.name).second);
    for (const std::wstring_view text : {own.english, own.russian}) {
      EXPECT_TRUE(text.ends_with(L"\r\n"));
      EXPECT_FALSE(text.ends_with(L"\r\n\r\n"));
      EXPECT_GT(text.size(), 2u);
    }
    EXPECT_TRUE(HasCyrillic(own.russian));
    EXPECT_EQ(S::GetErrorMessage(own.code, Language::Russian) + L"\r\n", own.russian);
  }
  EXPECT_EQ(S::OwnErrorCodes().size(), 14u);
}

TEST(ErrorCatalogue, PlatformEntriesHaveBothTexts) {
  std::set<std::string> names;
  for (const P::PlatformMessage& entry : P::PlatformMessages()) {
    SCOPED_TRACE(entry.name);
    EXPECT_TRUE(names.insert(entry.name).second);
    for (const std::wstring_view text : {entry.english, entry.russian}) {
      EXPECT_FALSE(text.empty());
      EXPECT_EQ(text.find_first_of(L"\r\n"), std::wstring_view::npos);
      EXPECT_FALSE(text.ends_with(L" "));
    }
    EXPECT_TRUE(HasCyrillic(entry.russian)) << "Russian slot holds no Russian";
    // The lookup reaches every entry through the HRESULT the library would throw.
    const P::HRESULT hr = P::HRESULT_FROM_WIN32(entry.id);
    EXPECT_EQ(S::GetErrorMessage(hr, Language::English), entry.english);
    EXPECT_EQ(S::GetErrorMessage(hr, Language::Russian), entry.russian);
  }
}

TEST(ErrorCatalogue, EveryWinHttpNumberTheHttpClientReports) {
  for (const P::DWORD number :
       {12001u, 12002u, 12004u, 12005u, 12006u, 12007u, 12009u, 12011u, 12012u, 12015u,
        12017u, 12019u, 12029u, 12030u, 12031u, 12032u, 12037u, 12038u, 12044u, 12045u,
        12057u, 12150u, 12152u, 12153u, 12154u, 12155u, 12156u, 12157u, 12166u, 12167u,
        12172u, 12175u, 12176u, 12177u, 12178u, 12180u, 12181u, 12183u, 12184u, 12185u}) {
    EXPECT_NE(P::FindPlatformMessage(P::MessageSource::WinHttp, number), nullptr) << number;
  }
}

TEST(ErrorCatalogue, EveryConstantOfWinerrorHasATextInBothLanguages) {
  const std::string header = ReadSourceFile("platform/errors/winerror.h");
  ASSERT_FALSE(header.empty());
  const std::regex constant(
      R"(inline constexpr (DWORD|HRESULT) (\w+) =\s*(?:MakeHResult\()?(0x[0-9A-Fa-f]+|\d+))");
  int count = 0;
  for (std::sregex_iterator it(header.begin(), header.end(), constant), end; it != end; ++it) {
    const std::string name = (*it)[2];
    if (name.starts_with("FACILITY_") || name.starts_with("WINHTTP_ERROR_")) {
      continue;  // not error codes
    }
    const auto value = static_cast<P::DWORD>(std::stoul((*it)[3], nullptr, 0));
    const P::HRESULT hr = P::HRESULT_FROM_WIN32(value);
    EXPECT_FALSE(IsUnknown(S::GetErrorMessage(hr, Language::English))) << name;
    EXPECT_FALSE(IsUnknown(S::GetErrorMessage(hr, Language::Russian))) << name;
    ++count;
  }
  EXPECT_GT(count, 200);
}

TEST(ErrorCatalogue, DocumentationListsEveryCodeWithItsTexts) {
  const std::string doc = ReadSourceFile("docs/errors.md");
  ASSERT_FALSE(doc.empty());
  for (const S::OwnErrorCode& own : S::OwnErrorCodes()) {
    EXPECT_NE(doc.find(Hex(own.code)), std::string::npos) << own.name;
    EXPECT_NE(doc.find(own.name), std::string::npos) << own.name;
    for (const wchar_t* text : {own.english, own.russian}) {
      const std::string utf8 = P::WideToUtf8(S::StripTrailingLineBreaks(text));
      EXPECT_NE(doc.find(utf8), std::string::npos) << own.name << ": " << utf8;
    }
  }
  for (const P::PlatformMessage& entry : P::PlatformMessages()) {
    EXPECT_NE(doc.find("`" + std::string(entry.name) + "`"), std::string::npos) << entry.name;
    EXPECT_NE(doc.find(P::WideToUtf8(entry.english)), std::string::npos) << entry.name;
    EXPECT_NE(doc.find(P::WideToUtf8(entry.russian)), std::string::npos) << entry.name;
  }
}
