// The registry operations' protocol: size queries, buffers too small, enumeration, key facts,
// access and handle checks.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/errors/winerror.h"
#include "platform/registry/registry.h"
#include "tests/common/hive_env.h"

namespace P = Velmora::Platform;
using Velmora::Testing::ConfigEnvironment;

namespace {

class RegistryApi : public ::testing::Test {
 protected:
  void SetUp() override {
    ConfigEnvironment::Write(m_env.userHive(),
                             "Windows Registry Editor Version 5.00\n"
                             "[HKEY_CURRENT_USER\\Software\\Velmora\\Test]\n"
                             "\"Text\"=\"abc\"\n"
                             "\"LongerName\"=dword:00000005\n"
                             "@=hex:01,02,03,04,05,06,07,08,09,0a\n"
                             "[HKEY_CURRENT_USER\\Software\\Velmora\\Test\\Sub]\n"
                             "[HKEY_CURRENT_USER\\Software\\Velmora\\Test\\"
                             "AnotherSub]\n");
    ASSERT_EQ(P::RegOpenKeyExW(P::HKEY_CURRENT_USER, L"software\\velmora\\TEST\\", 0,
                               P::KEY_QUERY_VALUE, &m_key),
              P::ERROR_SUCCESS);
  }
  void TearDown() override { P::RegCloseKey(m_key); }

  ConfigEnvironment m_env;
  P::HKEY m_key = nullptr;
};

}  // namespace

TEST_F(RegistryApi, SizeQueryThenReadAndTooSmallBuffers) {
  P::DWORD type = 0;
  P::DWORD size = 0;
  ASSERT_EQ(P::RegQueryValueExW(m_key, L"Text", nullptr, &type, nullptr, &size), P::ERROR_SUCCESS);
  EXPECT_EQ(type, P::REG_SZ);
  EXPECT_EQ(size, 4 * sizeof(wchar_t));  // "abc" and its NUL

  wchar_t text[4] = {L'x', L'x', L'x', L'x'};
  size = 3 * sizeof(wchar_t);
  type = 0;
  EXPECT_EQ(
      P::RegQueryValueExW(m_key, L"Text", nullptr, &type, reinterpret_cast<P::BYTE*>(text), &size),
      P::ERROR_MORE_DATA);
  EXPECT_EQ(size, 4 * sizeof(wchar_t));
  EXPECT_EQ(type, P::REG_SZ);
  EXPECT_EQ(text[0], L'x');  // nothing copied

  ASSERT_EQ(P::RegQueryValueExW(m_key, L"Text", nullptr, nullptr, reinterpret_cast<P::BYTE*>(text),
                                &size),
            P::ERROR_SUCCESS);
  EXPECT_STREQ(text, L"abc");

  // A number read into a 4-byte buffer, and a 10-byte value that does not fit one.
  P::DWORD number = 0;
  size = sizeof number;
  EXPECT_EQ(P::RegQueryValueExW(m_key, L"longername", nullptr, &type,
                                reinterpret_cast<P::BYTE*>(&number), &size),
            P::ERROR_SUCCESS);
  EXPECT_EQ(number, 5u);
  size = sizeof number;
  EXPECT_EQ(P::RegQueryValueExW(m_key, nullptr, nullptr, &type, reinterpret_cast<P::BYTE*>(&number),
                                &size),
            P::ERROR_MORE_DATA);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(type, P::REG_BINARY);

  EXPECT_EQ(P::RegQueryValueExW(m_key, L"Missing", nullptr, &type, nullptr, &size),
            P::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(P::RegQueryValueExW(m_key, L"Text", nullptr, &type, reinterpret_cast<P::BYTE*>(text),
                                nullptr),
            P::ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryApi, KeyFactsAndEnumerationInFileOrder) {
  P::DWORD subKeys = 0;
  P::DWORD longestSubKey = 0;
  P::DWORD values = 0;
  P::DWORD longestName = 0;
  P::DWORD longestData = 0;
  P::FILETIME written{};
  wchar_t className[4] = {L'x'};
  P::DWORD classLength = 4;
  ASSERT_EQ(P::RegQueryInfoKeyW(m_key, className, &classLength, nullptr, &subKeys, &longestSubKey,
                                nullptr, &values, &longestName, &longestData, nullptr, &written),
            P::ERROR_SUCCESS);
  EXPECT_EQ(classLength, 0u);
  EXPECT_EQ(className[0], L'\0');
  EXPECT_EQ(subKeys, 2u);
  EXPECT_EQ(longestSubKey, 10u);  // "AnotherSub"
  EXPECT_EQ(values, 3u);
  EXPECT_EQ(longestName, 10u);                  // "LongerName"
  EXPECT_EQ(longestData, 4 * sizeof(wchar_t));  // "abc" and its NUL
  EXPECT_NE(written.dwHighDateTime, 0u);

  const std::vector<std::pair<std::wstring, P::DWORD>> expected = {
      {L"Text", P::REG_SZ}, {L"LongerName", P::REG_DWORD}, {L"", P::REG_BINARY}};
  for (P::DWORD index = 0; index < expected.size(); ++index) {
    wchar_t name[11];
    P::DWORD nameLength = 11;
    P::DWORD type = 0;
    P::BYTE data[16];
    P::DWORD size = sizeof data;
    ASSERT_EQ(P::RegEnumValueW(m_key, index, name, &nameLength, nullptr, &type, data, &size),
              P::ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(name, nameLength), expected[index].first);
    EXPECT_EQ(name[nameLength], L'\0');
    EXPECT_EQ(type, expected[index].second);
  }
  wchar_t name[11];
  P::DWORD nameLength = 11;
  EXPECT_EQ(P::RegEnumValueW(m_key, 3, name, &nameLength, nullptr, nullptr, nullptr, nullptr),
            P::ERROR_NO_MORE_ITEMS);

  // "LongerName" needs 11 characters with its terminator; its data 4 bytes.
  nameLength = 10;
  EXPECT_EQ(P::RegEnumValueW(m_key, 1, name, &nameLength, nullptr, nullptr, nullptr, nullptr),
            P::ERROR_MORE_DATA);
  nameLength = 11;
  P::BYTE small[2];
  P::DWORD size = sizeof small;
  EXPECT_EQ(P::RegEnumValueW(m_key, 1, name, &nameLength, nullptr, nullptr, small, &size),
            P::ERROR_MORE_DATA);
  EXPECT_EQ(size, 4u);
}

TEST_F(RegistryApi, OpeningIsReadOnlyAndHandlesAreChecked) {
  P::HKEY sub = nullptr;
  EXPECT_EQ(P::RegOpenKeyExW(m_key, L"Sub", 0, P::KEY_READ, &sub), P::ERROR_SUCCESS);
  EXPECT_EQ(P::RegCloseKey(sub), P::ERROR_SUCCESS);
  EXPECT_EQ(P::RegCloseKey(sub), P::ERROR_INVALID_HANDLE);  // closed already
  EXPECT_EQ(P::RegQueryValueExW(sub, L"Text", nullptr, nullptr, nullptr, nullptr),
            P::ERROR_INVALID_HANDLE);

  EXPECT_EQ(P::RegOpenKeyExW(m_key, L"Missing", 0, P::KEY_READ, &sub), P::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(sub, nullptr);
  EXPECT_EQ(P::RegOpenKeyExW(m_key, L"Sub", 0, P::KEY_WRITE, &sub), P::ERROR_ACCESS_DENIED);
  EXPECT_EQ(P::RegOpenKeyExW(m_key, L"Sub", 0, P::KEY_READ, nullptr), P::ERROR_INVALID_PARAMETER);
  EXPECT_EQ(P::RegOpenKeyExW(m_key, L"\\Sub", 0, P::KEY_READ, &sub), P::ERROR_BAD_PATHNAME);
  EXPECT_EQ(P::RegCloseKey(P::HKEY_CURRENT_USER), P::ERROR_SUCCESS);
}
