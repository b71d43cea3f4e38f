// Text conversions: round trips through every form, and refusal of every kind of invalid input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/errors/atl_exception.h"
#include "platform/errors/winerror.h"
#include "platform/text/convert.h"
#include "tests/common/der_build.h"

namespace P = Velmora::Platform;

using Velmora::Testing::DerBuild::CodeOf;

namespace {

constexpr P::HRESULT kNoTranslation = P::MakeHResult(0x80070459);

P::Utf16String U16(std::initializer_list<P::WCHAR16> units) {
  return P::Utf16String(units);
}

}  // namespace

TEST(Convert, RoundTripsThroughEveryForm) {
  // ASCII, Cyrillic, a BMP symbol, astral characters up to the last code point, an embedded NUL.
  const std::wstring samples[] = {
      L"",
      L"http://tsa.example/tsp",
      L"Штамп времени",
      L"€ № ∑",
      L"\U0001F600 grin, \U00010000 first, \U0010FFFF last",
      std::wstring(L"a\0b", 3),
  };
  for (const std::wstring& wide : samples) {
    SCOPED_TRACE(P::WideToUtf8(wide));
    const std::string utf8 = P::WideToUtf8(wide);
    const P::Utf16String utf16 = P::WideToUtf16(wide);
    EXPECT_EQ(P::Utf8ToWide(utf8), wide);
    EXPECT_EQ(P::Utf16ToWide(utf16), wide);
    EXPECT_EQ(P::Utf8ToUtf16(utf8), utf16);
    EXPECT_EQ(P::Utf16ToUtf8(utf16), utf8);
    EXPECT_EQ(P::NarrowToWide(utf8, "UTF-8"), wide);
    EXPECT_EQ(P::WideToNarrow(wide, "utf8"), utf8);
  }
}

TEST(Convert, InvalidUtf8IsRefused) {
  const std::string bad[] = {
      "\xC0\x80",          // overlong NUL
      "\xE0\x80\xAF",      // overlong '/'
      "\xF0\x80\x80\xAF",  // overlong '/' in four bytes
      "\xED\xA0\x80",      // an encoded surrogate
      "\xF4\x90\x80\x80",  // above U+10FFFF
      "\xF5\x80\x80\x80",  // lead byte that never occurs
      "ok\x80",            // stray continuation byte
      "\xE2\x82",          // cut short by the end
      "\xE2\x82x",         // continuation missing in the middle
      "\xFF",
  };
  for (const std::string& text : bad) {
    SCOPED_TRACE(testing::PrintToString(text));
    EXPECT_EQ(CodeOf([&] { P::Utf8ToWide(text); }), kNoTranslation);
    EXPECT_EQ(CodeOf([&] { P::Utf8ToUtf16(text); }), kNoTranslation);
    EXPECT_EQ(CodeOf([&] { P::NarrowToWide(text, "UTF-8"); }), kNoTranslation);
  }
}

TEST(Convert, UnpairedSurrogatesAndOutOfRangeWideValuesAreRefused) {
  const P::Utf16String bad16[] = {
      U16({0xD83D}),                  // high surrogate at the end
      U16({0xD83D, 0x0041}),          // high surrogate followed by a plain character
      U16({0xDE00, 0xD83D}),          // pair in the wrong order
      U16({0x0041, 0xDE00, 0x0042}),  // lone low surrogate
  };
  for (const P::Utf16String& text : bad16) {
    EXPECT_EQ(CodeOf([&] { P::Utf16ToWide(text); }), kNoTranslation);
    EXPECT_EQ(CodeOf([&] { P::Utf16ToUtf8(text); }), kNoTranslation);
  }
  const std::wstring bad32[] = {std::wstring(1, static_cast<wchar_t>(0xD800)),
                                std::wstring(1, static_cast<wchar_t>(0x110000)),
                                std::wstring(1, static_cast<wchar_t>(-1))};
  for (const std::wstring& text : bad32) {
    EXPECT_EQ(CodeOf([&] { P::WideToUtf16(text); }), kNoTranslation);
    EXPECT_EQ(CodeOf([&] { P::WideToNarrow(text, "UTF-8"); }), kNoTranslation);
  }
}

TEST(Convert, OtherCodeSetsGoThroughIconv) {
  // "Привет" in CP1251 and in KOI8-R.
  const std::string cp1251 = "\xCF\xF0\xE8\xE2\xE5\xF2";
  const std::string koi8 = "\xF0\xD2\xC9\xD7\xC5\xD4";
  EXPECT_EQ(P::NarrowToWide(cp1251, "CP1251"), L"Привет");
  EXPECT_EQ(P::WideToNarrow(L"Привет", "CP1251"), cp1251);
  EXPECT_EQ(P::NarrowToWide(koi8, "KOI8-R"), L"Привет");
  EXPECT_EQ(P::WideToNarrow(L"Привет", "KOI8-R"), koi8);

  // Output three times the input's size: the conversion buffer has to grow.
  const std::string euros(10000, '\x88');
  EXPECT_EQ(P::NarrowToWide(euros, "CP1251"), std::wstring(10000, L'€'));
}

TEST(Convert, CodeSetFailuresAreRefusedNotReplaced) {
  // A character the code set cannot hold, and a byte the code set does not define.
  EXPECT_EQ(CodeOf([] { P::WideToNarrow(L"a\U0001F600", "CP1251"); }), kNoTranslation);
  EXPECT_EQ(CodeOf([] { P::WideToNarrow(L"Ж", "ISO-8859-1"); }), kNoTranslation);
  EXPECT_EQ(CodeOf([] { P::NarrowToWide("\x98", "CP1251"); }), kNoTranslation);
  EXPECT_EQ(CodeOf([] { P::NarrowToWide("abc", "NO-SUCH-CODE-SET"); }), P::E_INVALIDARG);
}

TEST(Convert, PlainAsciiCodeSetIsReadAsUtf8) {
  // The "C" locale of a program that never called setlocale.
  EXPECT_EQ(P::NarrowToWide("\xD0\x96", "ANSI_X3.4-1968"), L"Ж");
  EXPECT_EQ(P::WideToNarrow(L"Ж", "ANSI_X3.4-1968"), "\xD0\x96");
  // The thread's code set is the one used by the short forms.
  EXPECT_EQ(P::NarrowToWide("tsa"), P::NarrowToWide("tsa", P::CurrentCodeSet()));
  EXPECT_EQ(P::Utf16ToNarrow(P::NarrowToUtf16("tsa")), "tsa");
}

TEST(Convert, NulTerminatedUtf16) {
  const P::WCHAR16 text[] = {0x0416, 0x0041, 0};
  EXPECT_EQ(P::Utf16Length(text), 2u);
  EXPECT_EQ(P::Utf16Length(nullptr), 0u);
  EXPECT_EQ(P::Utf16ToWide(P::Utf16ViewOf(text)), L"ЖA");
  EXPECT_TRUE(P::Utf16ViewOf(nullptr).empty());
}
