// The hive files: the forms of the registry editor's export format, as real files under a
// temporary VELMORA_ROOT and XDG_CONFIG_HOME, read through the registry operations.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/errors/winerror.h"
#include "platform/file/path_watch.h"
#include "platform/registry/registry.h"
#include "tests/common/hive_env.h"

namespace P = Velmora::Platform;
using Velmora::Testing::ConfigEnvironment;
using Velmora::Testing::RegeditBytes;

namespace {

struct Value {
  P::LSTATUS status = -1;
  P::DWORD type = 0;
  std::vector<P::BYTE> data;
};

// Opens `path` under `root` and reads `name` of it.
Value Read(P::HKEY root, const wchar_t* path, const wchar_t* name) {
  Value value;
  P::HKEY key = nullptr;
  value.status = P::RegOpenKeyExW(root, path, 0, P::KEY_READ, &key);
  if (value.status != P::ERROR_SUCCESS) {
    return value;
  }
  const P::UniqueHKey owner(key);
  P::DWORD size = 0;
  value.status = P::RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size);
  if (value.status == P::ERROR_SUCCESS) {
    value.data.resize(size);
    value.status = P::RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size);
  }
  return value;
}

// The data of a string type as wide text, NULs included.
std::wstring Wide(const std::vector<P::BYTE>& data) {
  std::wstring text(data.size() / sizeof(wchar_t), L'\0');
  std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
  return text;
}

std::vector<P::BYTE> Bytes(std::initializer_list<int> bytes) {
  std::vector<P::BYTE> out;
  for (const int b : bytes) {
    out.push_back(static_cast<P::BYTE>(b));
  }
  return out;
}

constexpr const wchar_t* kKey = L"Software\\Velmora\\Test";
// A machine hive holding the test key, to which a test appends its values.
const std::string kTestKeyHive =
    "Windows Registry Editor Version 5.00\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Velmora\\Test]\n";

}  // namespace

TEST(RegistryFile, RegeditUtf16FileWithEveryKindOfData) {
  ConfigEnvironment env;
  ConfigEnvironment::WriteBytes(env.machineHive(),
                                RegeditBytes(R"(Windows Registry Editor Version 5.00

; exported by the registry editor
[HKEY_LOCAL_MACHINE\Software\Velmora\Test]
@="default value"
"Path"="C:\\Temp\\\"quoted\""
"Число"="значение"
"Number"=dword:0000002a
"Short"=dword:7
"Big"=hex(b):00,00,00,00,01,00,00,00
"Expand"=hex(2):25,00,54,00,4d,00,50,00,25,00,00,00
"Multi"=hex(7):61,00,00,00,62,00,00,00,00,00
"Blob"=hex:01,02,03,\
  04,05,\
  ff
"Nothing"=hex(0):
"Emoji"=hex(1):3d,d8,00,de,00,00
"OddText"=hex(1):41,00,42
)"));

  const auto text = [](const std::wstring& wide) {
    std::vector<P::BYTE> bytes(wide.size() * sizeof(wchar_t));
    std::memcpy(bytes.data(), wide.data(), bytes.size());
    return bytes;
  };
  const struct {
    const wchar_t* name;
    P::DWORD type;
    std::vector<P::BYTE> data;
  } expected[] = {
      {nullptr, P::REG_SZ, text({L"default value\0", 14})},
      {L"", P::REG_SZ, text({L"default value\0", 14})},
      {L"Path", P::REG_SZ, text({L"C:\\Temp\\\"quoted\"\0", 17})},
      {L"число", P::REG_SZ, text({L"значение\0", 9})},  // names ignore the letters' case
      {L"Number", P::REG_DWORD, Bytes({0x2a, 0, 0, 0})},
      {L"Short", P::REG_DWORD, Bytes({7, 0, 0, 0})},
      {L"Big", P::REG_QWORD, Bytes({0, 0, 0, 0, 1, 0, 0, 0})},
      {L"Expand", P::REG_EXPAND_SZ, text({L"%TMP%\0", 6})},
      {L"Multi", P::REG_MULTI_SZ, text({L"a\0b\0\0", 5})},
      {L"Blob", P::REG_BINARY, Bytes({1, 2, 3, 4, 5, 0xff})},
      {L"Nothing", P::REG_NONE, {}},
      {L"Emoji", P::REG_SZ, text({L"\U0001F600\0", 2})},  // a surrogate pair is one character
  };
  for (const auto& e : expected) {
    const Value value = Read(P::HKEY_LOCAL_MACHINE, kKey, e.name);
    EXPECT_EQ(value.status, P::ERROR_SUCCESS);
    EXPECT_EQ(value.type, e.type);
    EXPECT_EQ(value.data, e.data);
  }
  // Odd UTF-16 data keeps its odd size.
  const Value odd = Read(P::HKEY_LOCAL_MACHINE, kKey, L"OddText");
  EXPECT_EQ(odd.data.size(), sizeof(wchar_t) + 1);  // 'A', then the lone byte
}

TEST(RegistryFile, Regedit4FileHoldsNarrowStringData) {
  ConfigEnvironment env;
  ConfigEnvironment::Write(env.userHive(),
                           "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Velmora\\Test]\n"
                           "\"Expand\"=hex(2):25,54,4d,50,25,00\n"
                           "\"Plain\"=\"text\"\n");
  const Value expand = Read(P::HKEY_CURRENT_USER, kKey, L"Expand");
  EXPECT_EQ(expand.type, P::REG_EXPAND_SZ);
  EXPECT_EQ(Wide(expand.data), std::wstring(L"%TMP%\0", 6));
  EXPECT_EQ(Wide(Read(P::HKEY_CURRENT_USER, kKey, L"Plain").data), std::wstring(L"text\0", 5));
}

TEST(RegistryFile, LinesApplyInOrderWithDeletionsAndNamesIgnoringCase) {
  ConfigEnvironment env;
  ConfigEnvironment::Write(env.machineHive(),
                           "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n"
                           "[HKEY_LOCAL_MACHINE\\Software\\Old\\Child]\n"
                           "\"A\"=dword:1\n"
                           "[hkey_local_machine\\SOFTWARE\\velmora\\test]\n"
                           "\"Kept\"=\"first\"\n"
                           "\"Gone\"=\"soon\"\n"
                           "\"KEPT\"=\"second\"\n"
                           "\"gone\"=-\n"
                           "[-HKEY_LOCAL_MACHINE\\Software\\Old]\n"
                           "\"Dropped\"=dword:1\n"
                           "[HKEY_LOCAL_MACHINE\\Software\\Old\\Again]\n");
  const Value kept = Read(P::HKEY_LOCAL_MACHINE, kKey, L"kept");
  EXPECT_EQ(Wide(kept.data), std::wstring(L"second\0", 7));
  EXPECT_EQ(Read(P::HKEY_LOCAL_MACHINE, kKey, L"Gone").status, P::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Read(P::HKEY_LOCAL_MACHINE, L"Software\\Old\\Child", L"A").status,
            P::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Read(P::HKEY_LOCAL_MACHINE, L"Software\\Old", L"Dropped").status,
            P::ERROR_FILE_NOT_FOUND);
  // Recreated after the deletion, without what the deleted key held.
  P::HKEY old = nullptr;
  ASSERT_EQ(P::RegOpenKeyExW(P::HKEY_LOCAL_MACHINE, L"Software\\Old", 0, P::KEY_READ, &old),
            P::ERROR_SUCCESS);
  const P::UniqueHKey owner(old);
  P::DWORD subKeys = 0;
  P::DWORD values = 0;
  ASSERT_EQ(P::RegQueryInfoKeyW(old, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values,
                                nullptr, nullptr, nullptr, nullptr),
            P::ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 1u);
  EXPECT_EQ(values, 0u);
  // The user hive holds nothing: its file is missing.
  EXPECT_EQ(Read(P::HKEY_CURRENT_USER, kKey, L"Kept").status, P::ERROR_FILE_NOT_FOUND);
}

// A file that does not parse makes its whole hive fail with ERROR_BADDB and says where.
TEST(RegistryFile, BrokenFileFailsEveryOpeningAndNamesTheLine) {
  struct Case {
    std::string text;
    std::size_t line;
    const char* problem;
  };
  const std::string header = "Windows Registry Editor Version 5.00\n";
  const std::string key = "[HKEY_LOCAL_MACHINE\\Software\\Velmora\\Test]\n";
  const std::vector<Case> cases = {
      {"REGEDIT5\n" + key, 1, "first line"},
      {header + key + "\"A\"=string:x\n", 3, "unknown kind of data"},
      {header + key + "\"A\"=\"C:\\Temp\"\n", 3, "unknown escape"},
      {header + key + "\"A\"=\"open\n", 3, "closing quote"},
      {header + key + "\"A\"=\"x\" trailing\n", 3, "after the closing quote"},
      {header + key + "\"A\"=hex:01,234\n", 3, "one or two hex digits"},
      {header + key + "\"A\"=hex:01,02,\n\"B\"=dword:1\n", 3, "comma with no byte"},
      {header + key + "\"A\"=hex:01,\\\n  02,zz\n", 4, "one or two hex digits"},
      {header + key + "\"A\"=hex:01,\\\n", 3, "ends in a line continued"},
      {header + key + "\"A\"=dword:123456789\n", 3, "1 to 8 hex digits"},
      {header + key + "\"A\"=hex(xyz):00\n", 3, "hex(n)"},
      {header + "\"A\"=dword:1\n", 2, "before the first key"},
      {header + "[HKEY_CURRENT_USER\\Software]\n", 2, "HKEY_CURRENT_USER"},
      {header + "[HKEY_NOWHERE\\Software]\n", 2, "unknown root"},
      {header + "[HKEY_LOCAL_MACHINE\\Software\\\\Test]\n", 2, "empty part"},
      {header + "[HKEY_LOCAL_MACHINE\\Software\n", 2, "does not end in ']'"},
      {header + "[-HKEY_LOCAL_MACHINE]\n", 2, "cannot be deleted"},
      {header + key + "A=dword:1\n", 3, "unexpected text"},
      {header + key + "\"A\" dword:1\n", 3, "not followed by '='"},
      {header + key + "\n\"A\"=\"\xC3\x28\"\n", 4, "invalid UTF-8"},
      {header + key + std::string("\"A\"=\"nul\0here\"\n", 15), 3, "NUL"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ConfigEnvironment env;
    ConfigEnvironment::Write(env.machineHive(), c.text);
    P::HKEY opened = nullptr;
    EXPECT_EQ(P::RegOpenKeyExW(P::HKEY_LOCAL_MACHINE, L"Software", 0, P::KEY_READ, &opened),
              P::ERROR_BADDB);
    EXPECT_EQ(opened, nullptr);
    const std::string problem = P::RegistryHiveProblem(P::HKEY_LOCAL_MACHINE);
    EXPECT_NE(problem.find(env.machineHive().string() + ", line " + std::to_string(c.line) + ": "),
              std::string::npos)
        << problem;
    EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
    // The other hive is not affected.
    EXPECT_EQ(P::RegOpenKeyExW(P::HKEY_CURRENT_USER, L"Software", 0, P::KEY_READ, &opened),
              P::ERROR_FILE_NOT_FOUND);
  }
}

TEST(RegistryFile, BrokenEncodingsAndUnreadableFiles) {
  ConfigEnvironment env;
  // UTF-16 with an unpaired surrogate on line 2, then a file of odd length.
  std::vector<unsigned char> bytes = RegeditBytes("Windows Registry Editor Version 5.00\n[");
  bytes.insert(bytes.end(), {0x00, 0xD8});
  ConfigEnvironment::WriteBytes(env.userHive(), bytes);
  P::HKEY opened = nullptr;
  EXPECT_EQ(P::RegOpenKeyExW(P::HKEY_CURRENT_USER, L"Software", 0, P::KEY_READ, &opened),
            P::ERROR_BADDB);
  EXPECT_NE(P::RegistryHiveProblem(P::HKEY_CURRENT_USER).find("line 2: invalid UTF-16"),
            std::string::npos);
  bytes.push_back(0x41);
  ConfigEnvironment::WriteBytes(env.userHive(), bytes);
  EXPECT_EQ(P::RegOpenKeyExW(P::HKEY_CURRENT_USER, L"Software", 0, P::KEY_READ, &opened),
            P::ERROR_BADDB);

  // A folder where the file should be is not an empty hive either.
  std::filesystem::remove(env.userHive());
  std::filesystem::create_directories(env.userHive());
  const P::LSTATUS status =
      P::RegOpenKeyExW(P::HKEY_CURRENT_USER, L"Software", 0, P::KEY_READ, &opened);
  EXPECT_NE(status, P::ERROR_SUCCESS);
  EXPECT_NE(status, P::ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(P::RegistryHiveProblem(P::HKEY_CURRENT_USER).empty());
}

TEST(RegistryFile, HiveReadOftenStillSeesEachChange) {
  // A file older than the clock's granularity, looked at often enough to be watched, not stat-ed.
  ConfigEnvironment env;
  ConfigEnvironment::Write(env.machineHive(), kTestKeyHive + "\"N\"=dword:1\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  // Each round is one call's scope: the first look in it sees the change made before it.
  const auto readOften = [&](unsigned char expected) {
    const P::PathWatch::Scope call;
    for (int i = 0; i < 6; ++i) {
      ASSERT_EQ(Read(P::HKEY_LOCAL_MACHINE, kKey, L"N").data, Bytes({expected, 0, 0, 0})) << i;
    }
  };
  readOften(1);
  ConfigEnvironment::Write(env.machineHive(), kTestKeyHive + "\"N\"=dword:2\n");
  readOften(2);
  std::filesystem::remove(env.machineHive());
  for (int i = 0; i < 6; ++i) {
    ASSERT_EQ(Read(P::HKEY_LOCAL_MACHINE, kKey, L"N").status, P::ERROR_FILE_NOT_FOUND) << i;
  }
  ConfigEnvironment::Write(env.machineHive(), kTestKeyHive + "\"N\"=dword:3\n");
  readOften(3);
}
