// The policy readers over real hive files: machine before user, defaults, the types each reader
// accepts, the list switches, and the trace lines they write.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "horodex/GroupPolicies.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/winerror.h"
#include "support/trace_internal.h"
#include "tests/common/der_build.h"
#include "tests/common/hive_env.h"

namespace P = Velmora::Platform;
using Velmora::PKI::CGPBool;
using Velmora::PKI::CGPKeyPair;
using Velmora::PKI::CGPLong;
using Velmora::PKI::CGPString;
using Velmora::PKI::CGPStrings;
using Velmora::Testing::ConfigEnvironment;
using Velmora::Testing::StderrCapture;
using Velmora::Testing::DerBuild::CodeOf;

namespace {

constexpr P::HRESULT kInvalidData = P::MakeHResult(0x8007000D);
constexpr P::HRESULT kMoreData = P::MakeHResult(0x800700EA);

class GroupPolicies : public ::testing::Test {
 protected:
  // Writes both hives: the lines go under the policy key of each root.
  void Hives(const std::string& machine, const std::string& user) {
    m_env.MachinePolicies(machine);
    m_env.UserPolicies(user);
    ASSERT_EQ(m_keys.Open(), P::ERROR_SUCCESS);
  }

  ConfigEnvironment m_env;
  CGPKeyPair m_keys;
};

}  // namespace

TEST_F(GroupPolicies, MachineValueWinsUserValueFillsInDefaultStays) {
  Hives(
      "\"RequireNonce\"=dword:5\n"
      "\"NonceLength\"=dword:ffffffff\n"
      "\"DefaultTSPURL\"=\"\"\n"
      "\"DefaultProxy\"=hex(2):25,00,50,00,25,00,00,00\n",
      "\"RequireNonce\"=dword:0\n"
      "\"DisableNonce\"=dword:1\n"
      "\"DefaultTSPURL\"=\"http://user.example/tsa\"\n"
      "\"DefaultPolicyID\"=\"1.2.3.4\"\n");
  CGPBool flag;
  flag.Load(m_keys.machine(), m_keys.user(), L"RequireNonce", false);
  EXPECT_TRUE(flag);
  flag.Load(m_keys.machine(), m_keys.user(), L"DisableNonce", false);
  EXPECT_TRUE(flag);
  flag.Load(m_keys.machine(), m_keys.user(), L"UseNonceByDefault", true);
  EXPECT_TRUE(flag);

  CGPLong number;
  number.Load(m_keys.machine(), m_keys.user(), L"NonceLength", 8);
  EXPECT_EQ(static_cast<P::DWORD>(number), 0xFFFFFFFFu);
  number.Load(nullptr, nullptr, L"NonceLength", 8);
  EXPECT_EQ(static_cast<P::DWORD>(number), 8u);

  // An empty machine text overrides the user's; an REG_EXPAND_SZ is taken as it is written; an
  // absent text keeps what the caller put in.
  CGPString text(L"default");
  text.Load(m_keys.machine(), m_keys.user(), L"DefaultTSPURL");
  EXPECT_EQ(text.str(), L"");
  text.Load(m_keys.machine(), m_keys.user(), L"DefaultProxy");
  EXPECT_EQ(text.str(), L"%P%");
  text.Load(m_keys.machine(), m_keys.user(), L"DefaultPolicyID");
  EXPECT_EQ(text.str(), L"1.2.3.4");
  text = std::wstring(L"kept");
  text.Load(m_keys.machine(), m_keys.user(), L"DefaultHashAlg");
  EXPECT_EQ(text.str(), L"kept");
}

TEST_F(GroupPolicies, ValuesOfTheWrongShapeFailWithoutAskingTheUser) {
  Hives(
      "\"TextFlag\"=\"1\"\n"
      "\"Quad\"=hex(b):01,00,00,00,00,00,00,00\n"
      "\"Bytes\"=hex:01,00,00,00\n"
      "\"Stub\"=hex(4):01,00\n"
      "\"NumberText\"=dword:1\n"
      "\"OddText\"=hex(1):41,00,42\n"
      "\"Unended\"=hex(1):41,00\n"
      "\"Empty\"=hex(1):\n"
      "\"List\"=hex(7):61,00,00,00,00,00\n",
      "\"TextFlag\"=dword:1\n");
  CGPBool flag;
  EXPECT_EQ(CodeOf([&] { flag.Load(m_keys.machine(), m_keys.user(), L"TextFlag", false); }),
            kInvalidData);
  CGPLong number;
  EXPECT_EQ(CodeOf([&] { number.Load(m_keys.machine(), m_keys.user(), L"Quad", 0); }), kMoreData);
  EXPECT_EQ(CodeOf([&] { number.Load(m_keys.machine(), m_keys.user(), L"Bytes", 0); }),
            kInvalidData);
  EXPECT_EQ(CodeOf([&] { number.Load(m_keys.machine(), m_keys.user(), L"Stub", 0); }),
            kInvalidData);

  CGPString text;
  for (const wchar_t* name : {L"NumberText", L"OddText", L"Unended", L"List"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(name)));
    EXPECT_EQ(CodeOf([&] { text.Load(m_keys.machine(), m_keys.user(), name); }), kInvalidData);
  }
  text = std::wstring(L"before");
  text.Load(m_keys.machine(), m_keys.user(), L"Empty");
  EXPECT_EQ(text.str(), L"");
}

TEST_F(GroupPolicies, ListSwitchesPickOneRootAndItsEntries) {
  Hives(
      "\"OffSetted\"=dword:0\n"
      "\"TextSetted\"=\"1\"\n"
      "\"MachineSetted\"=dword:2\n"
      "\"EmptySetted\"=dword:1\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Policies\\Velmora\\TSP\\Machine]\n"
      "\"1\"=\"a\"\n"
      "\"2\"=\"b\"\n"
      "\"3\"=\"a\"\n"
      "\"4\"=hex(2):63,00,00,00\n"
      "\"5\"=dword:1\n"
      "\"6\"=hex(1):64,00,00,00,65,00,00,00\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Policies\\Velmora\\TSP\\Off]\n"
      "\"1\"=\"machine\"\n",
      "\"OffSetted\"=dword:1\n"
      "\"TextSetted\"=dword:1\n"
      "\"MachineSetted\"=dword:1\n"
      "[HKEY_CURRENT_USER\\Software\\Policies\\Velmora\\TSP\\Off]\n"
      "\"1\"=\"user\"\n"
      "[HKEY_CURRENT_USER\\Software\\Policies\\Velmora\\TSP\\Text]\n"
      "\"1\"=\"from the user\"\n"
      "[HKEY_CURRENT_USER\\Software\\Policies\\Velmora\\TSP\\Machine]\n"
      "\"1\"=\"never merged\"\n");
  CGPStrings list;
  list.Load(m_keys.machine(), m_keys.user(), L"Machine", L"MachineSetted");
  EXPECT_TRUE(list.IsSet());
  // REG_SZ only, up to the first NUL, duplicates once.
  EXPECT_EQ(list.entries(), (CGPStrings::Entries{L"a", L"b", L"d"}));

  list.Load(m_keys.machine(), m_keys.user(), L"Off", L"OffSetted");
  EXPECT_FALSE(list.IsSet());
  EXPECT_TRUE(list.entries().empty());

  list.Load(m_keys.machine(), m_keys.user(), L"Text", L"TextSetted");  // machine switch unusable
  EXPECT_TRUE(list.IsSet());
  EXPECT_EQ(list.entries(), (CGPStrings::Entries{L"from the user"}));

  list.Load(m_keys.machine(), m_keys.user(), L"Empty", L"EmptySetted");  // in force, no subkey
  EXPECT_TRUE(list.IsSet());
  EXPECT_TRUE(list.entries().empty());

  list.Load(m_keys.machine(), m_keys.user(), L"Missing", L"MissingSetted");
  EXPECT_FALSE(list.IsSet());
}

TEST_F(GroupPolicies, ListEntriesBeyondTheStackBuffersAndInUtf16Order) {
  const std::string longName(1500, 'n');
  const std::string longText(3000, 'x');  // 12004 bytes as wide text
  Hives(
      "\"BigSetted\"=dword:1\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Policies\\Velmora\\TSP\\Big]\n"
      "\"" +
          longName + "\"=\"" + longText +
          "\"\n"
          "\"2\"=\"\xEF\xBF\xBD\"\n"       // U+FFFD
          "\"3\"=\"\xF0\x9F\x98\x80\"\n",  // U+1F600, a surrogate pair in UTF-16
      "");
  CGPStrings list;
  list.Load(m_keys.machine(), m_keys.user(), L"Big", L"BigSetted");
  ASSERT_EQ(list.entries().size(), 3u);
  auto it = list.entries().begin();
  EXPECT_EQ(*it++, std::wstring(3000, L'x'));
  EXPECT_EQ(*it++, L"\U0001F600");  // D83D DE00 sorts before FFFD
  EXPECT_EQ(*it++, L"\uFFFD");
  EXPECT_TRUE(list.contains(L"\uFFFD"));
}

TEST_F(GroupPolicies, TraceLinesOfEveryReader) {
  ConfigEnvironment::Write(m_env.commonIni(), "[Trace]\nlibhorodex.so.1=4\n");
  Hives(
      "\"RequireNonce\"=dword:5\n"
      "\"Bad\"=\"1\"\n"
      "\"ListSetted\"=dword:1\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Policies\\Velmora\\TSP\\List]\n"
      "\"1\"=\"Текст\"\n",
      "\"NonceLength\"=dword:10\n"
      "\"DefaultTSPURL\"=\"http://tsa\"\n");
  std::string lines;
  {
    const StderrCapture capture;
    Velmora::Support::ReloadTraceConfiguration();
    CGPBool flag;
    flag.Load(m_keys.machine(), m_keys.user(), L"RequireNonce", false);
    CGPLong number;
    number.Load(m_keys.machine(), m_keys.user(), L"NonceLength", 8);
    CGPString text;
    text.Load(m_keys.machine(), nullptr, L"DefaultTSPURL");
    CGPStrings list;
    list.Load(m_keys.machine(), m_keys.user(), L"List", L"ListSetted");
    EXPECT_NE(CodeOf([&] { flag.Load(m_keys.machine(), m_keys.user(), L"Bad", false); }), P::S_OK);
    lines = capture.text();
  }
  std::filesystem::remove(m_env.commonIni());
  Velmora::Support::ReloadTraceConfiguration();
  EXPECT_EQ(lines,
            "libhorodex.so.1: Loading policy \"RequireNonce\" (LM)...\n"
            "libhorodex.so.1: Loading policy \"RequireNonce\" succeeded (true).\n"
            "libhorodex.so.1: Loading policy \"NonceLength\" (LM)...\n"
            "libhorodex.so.1: Loading policy \"NonceLength\" (CU)...\n"
            "libhorodex.so.1: Loading policy \"NonceLength\" succeeded (16).\n"
            "libhorodex.so.1: Loading policy \"DefaultTSPURL\" (LM)...\n"
            "libhorodex.so.1: Loading policy \"DefaultTSPURL\" succeeded ().\n"
            "libhorodex.so.1: Loading policy \"List\" (LM)...\n"
            "libhorodex.so.1: Loading policy value succeeded (Текст).\n"
            "libhorodex.so.1: Loading policy \"Bad\" (LM)...\n"
            "libhorodex.so.1: Loading policy \"Bad\" failed (0x0000000D).\n");
}
