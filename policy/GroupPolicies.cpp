#include "horodex/GroupPolicies.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <cwchar>
#include <vector>

#include "platform/errors/winerror.h"
#include "support/errors.h"
#include "support/trace.h"

// A level-4 policy message; texts are converted only when it will be written.
#define POLICY_TRACE(function, ...)                                                       \
  do {                                                                                    \
    if (::Velmora::Support::TraceIsEnabled(::Velmora::Support::VelmoraTraceGeneral, 4)) { \
      HORODEX_TRACE(VelmoraTraceGeneral, 4, function, __VA_ARGS__);                       \
    }                                                                                     \
  } while (false)

namespace Velmora::PKI {
namespace {

using Platform::BYTE;
using Platform::ERROR_FILE_NOT_FOUND;
using Platform::ERROR_INVALID_DATA;
using Platform::ERROR_MORE_DATA;
using Platform::ERROR_SUCCESS;
using Support::TraceText;

constexpr const char* kBoolLoad = "Velmora::PKI::CGPBool::Load";
constexpr const char* kLongLoad = "Velmora::PKI::CGPLong::Load";
constexpr const char* kStringLoad = "Velmora::PKI::CGPString::Load";
constexpr const char* kStringsLoad = "Velmora::PKI::CGPStrings::Load";
constexpr const char* kLoadGPStrings = "Velmora::PKI::CGPStrings::LoadGPStrings";
constexpr const char* kOnValue = "Velmora::PKI::CGPStrings::CGPStringsEnum::OnValue";
constexpr const char* kOpenKeys = "Velmora::PKI::CGPKeyPair::Open";

// Buffers of list values up to these sizes live on the stack.
constexpr DWORD kStackNameCharacters = 1024;
constexpr DWORD kStackDataBytes = 4096;

bool IsString(DWORD type) {
  return type == Platform::REG_SZ || type == Platform::REG_EXPAND_SZ;
}

// The UTF-16 code units of a wide text, one by one: a character above U+FFFF gives its
// surrogate pair, which is what makes the platform's order differ from the order of wchar_t.
class Utf16Units {
 public:
  explicit Utf16Units(std::wstring_view text) noexcept : m_text(text) {}
  bool next(unsigned& unit) noexcept {
    if (m_low != 0) {
      unit = m_low;
      m_low = 0;
      return true;
    }
    if (m_at == m_text.size()) {
      return false;
    }
    const auto cp = static_cast<unsigned>(m_text[m_at++]);
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
      unit = 0xD800 + ((cp - 0x10000) >> 10);
      m_low = 0xDC00 + ((cp - 0x10000) & 0x3FF);
    } else {
      unit = cp;
    }
    return true;
  }

 private:
  std::wstring_view m_text;
  std::size_t m_at = 0;
  unsigned m_low = 0;
};

[[noreturn]] void Fail(const char* function, const wchar_t* name, DWORD code) {
  POLICY_TRACE(function, "Loading policy \"%s\" failed (0x%.8X).\n", TraceText(name).c_str(), code);
  Support::ThrowWin32Error(code);
}

// Reads a REG_DWORD. Returns ERROR_SUCCESS with the number, ERROR_FILE_NOT_FOUND, or the code of
// the failure: a value of another type is ERROR_INVALID_DATA (a text too, whatever its length),
// a number longer than 4 bytes ERROR_MORE_DATA, a shorter one ERROR_INVALID_DATA.
DWORD QueryNumber(HKEY key, const wchar_t* name, DWORD& number) {
  DWORD type = Platform::REG_NONE;
  DWORD data = 0;
  DWORD size = sizeof data;
  const Platform::LSTATUS status =
      Platform::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
  if (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
    if (type != Platform::REG_DWORD &&
        (status == ERROR_SUCCESS || IsString(type) || type == Platform::REG_MULTI_SZ)) {
      return ERROR_INVALID_DATA;
    }
    if (status == ERROR_MORE_DATA) {
      return ERROR_MORE_DATA;
    }
    if (size != sizeof data) {
      return ERROR_INVALID_DATA;  // a REG_DWORD of fewer than 4 bytes holds no number
    }
    number = data;
    return ERROR_SUCCESS;
  }
  return static_cast<DWORD>(status);
}

// Reads a REG_SZ or REG_EXPAND_SZ in two steps, type and size first.
DWORD QueryString(HKEY key, const wchar_t* name, std::wstring& text) {
  DWORD type = Platform::REG_NONE;
  DWORD size = 0;
  Platform::LSTATUS status = Platform::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
  if (status != ERROR_SUCCESS) {
    return static_cast<DWORD>(status);
  }
  if (!IsString(type)) {
    return ERROR_INVALID_DATA;
  }
  if (size == 0) {
    text.clear();
    return ERROR_SUCCESS;
  }
  const std::size_t characters = size / sizeof(wchar_t);
  std::vector<wchar_t> buffer(characters + 1, L'\0');
  DWORD got = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  status = Platform::RegQueryValueExW(key, name, nullptr, &type,
                                      reinterpret_cast<BYTE*>(buffer.data()), &got);
  if (status != ERROR_SUCCESS) {
    return static_cast<DWORD>(status);
  }
  if (got != size) {
    return ERROR_MORE_DATA;  // changed between the two queries
  }
  if (!IsString(type) || size % sizeof(wchar_t) != 0 || buffer[characters - 1] != L'\0') {
    return ERROR_INVALID_DATA;
  }
  text.assign(buffer.data());
  return ERROR_SUCCESS;
}

// The scalar rule: machine key, else user key, else keep. `query` reads one root and keeps what
// it read; a failure other than "not found" is thrown. Returns whether a value was found.
template <typename Query>
bool LoadScalar(const char* function, HKEY machineKey, HKEY userKey, const wchar_t* name,
                Query query) {
  const std::array<std::pair<HKEY, const char*>, 2> roots = {std::pair{machineKey, "LM"},
                                                             std::pair{userKey, "CU"}};
  for (const auto& [key, root] : roots) {
    if (key == nullptr) {
      continue;
    }
    POLICY_TRACE(function, "Loading policy \"%s\" (%s)...\n", TraceText(name).c_str(), root);
    const DWORD code = query(key);
    if (code == ERROR_SUCCESS) {
      return true;
    }
    if (code != ERROR_FILE_NOT_FOUND) {
      Fail(function, name, code);
    }
  }
  return false;
}

}  // namespace

CGPKeyPair::~CGPKeyPair() {
  m_user.reset();
  m_machine.reset();
}

LSTATUS CGPKeyPair::Open() {
  m_user.reset();
  m_machine.reset();
  const std::array<std::pair<HKEY, Platform::UniqueHKey*>, 2> roots = {
      std::pair{Platform::HKEY_LOCAL_MACHINE, &m_machine},
      std::pair{Platform::HKEY_CURRENT_USER, &m_user}};
  for (const auto& [root, owner] : roots) {
    HKEY opened = nullptr;
    const LSTATUS status =
        Platform::RegOpenKeyExW(root, kPolicyKeyPath, 0, Platform::KEY_QUERY_VALUE, &opened);
    if (status == ERROR_SUCCESS) {
      owner->reset(opened);
    } else if (status != static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND)) {
      const std::string problem = Platform::RegistryHiveProblem(root);
      HORODEX_TRACE(
          VelmoraTraceGeneral, 1, kOpenKeys,
          "Opening policy key %s\\Software\\Policies\\Velmora\\TSP failed (0x%.8X)%s%s\n",
          root == Platform::HKEY_LOCAL_MACHINE ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER",
          static_cast<unsigned>(status), problem.empty() ? "." : ": ", problem.c_str());
      m_user.reset();
      m_machine.reset();
      return status;
    }
  }
  return ERROR_SUCCESS;
}

void CGPBool::Load(HKEY machineKey, HKEY userKey, const wchar_t* name, bool defaultValue) {
  DWORD number = 0;
  const bool found = LoadScalar(kBoolLoad, machineKey, userKey, name,
                                [&](HKEY key) { return QueryNumber(key, name, number); });
  m_value = found ? number != 0 : defaultValue;
  POLICY_TRACE(kBoolLoad, "Loading policy \"%s\" succeeded (%s).\n", TraceText(name).c_str(),
               m_value ? "true" : "false");
}

void CGPLong::Load(HKEY machineKey, HKEY userKey, const wchar_t* name, DWORD defaultValue) {
  DWORD number = 0;
  const bool found = LoadScalar(kLongLoad, machineKey, userKey, name,
                                [&](HKEY key) { return QueryNumber(key, name, number); });
  m_value = found ? number : defaultValue;
  POLICY_TRACE(kLongLoad, "Loading policy \"%s\" succeeded (%u).\n", TraceText(name).c_str(),
               m_value);
}

void CGPString::Load(HKEY machineKey, HKEY userKey, const wchar_t* name) {
  std::wstring text;
  if (LoadScalar(kStringLoad, machineKey, userKey, name,
                 [&](HKEY key) { return QueryString(key, name, text); })) {
    m_value = std::move(text);
  }
  POLICY_TRACE(kStringLoad, "Loading policy \"%s\" succeeded (%s).\n", TraceText(name).c_str(),
               TraceText(m_value).c_str());
}

bool CGPStrings::Utf16Less::operator()(std::wstring_view a, std::wstring_view b) const noexcept {
  // Equal characters are equal units: only what follows the common prefix needs the units.
  const std::size_t common = std::min(a.size(), b.size());
  std::size_t i = 0;
  while (i < common && a[i] == b[i]) {
    ++i;
  }
  Utf16Units left{a.substr(i)};
  Utf16Units right{b.substr(i)};
  while (true) {
    unsigned x = 0;
    unsigned y = 0;
    const bool hasX = left.next(x);
    const bool hasY = right.next(y);
    if (!hasX || !hasY) {
      return !hasX && hasY;
    }
    if (x != y) {
      return x < y;
    }
  }
}

bool CGPStrings::CGPStringsEnum::OnValue(const wchar_t* /*name*/, DWORD type, const BYTE* data,
                                         DWORD size) {
  if (type != Platform::REG_SZ) {
    return true;
  }
  // The data as wide text up to its first NUL or its end (a stray last byte is no character).
  std::wstring text(size / sizeof(wchar_t), L'\0');
  if (!text.empty()) {
    std::memcpy(text.data(), data, text.size() * sizeof(wchar_t));
  }
  text.resize(std::wcslen(text.c_str()));
  POLICY_TRACE(kOnValue, "Loading policy value succeeded (%s).\n", TraceText(text).c_str());
  m_list.m_entries.insert(std::move(text));
  return true;
}

void CGPStrings::Load(HKEY machineKey, HKEY userKey, const wchar_t* name,
                      const wchar_t* switchName) {
  m_set = false;
  m_entries.clear();
  const std::array<std::pair<HKEY, const char*>, 2> roots = {std::pair{machineKey, "LM"},
                                                             std::pair{userKey, "CU"}};
  for (const auto& [key, root] : roots) {
    if (key == nullptr) {
      continue;
    }
    POLICY_TRACE(kStringsLoad, "Loading policy \"%s\" (%s)...\n", TraceText(name).c_str(), root);
    DWORD type = Platform::REG_NONE;
    DWORD number = 0;
    DWORD size = sizeof number;
    if (Platform::RegQueryValueExW(key, switchName, nullptr, &type,
                                   reinterpret_cast<BYTE*>(&number), &size) != ERROR_SUCCESS ||
        type != Platform::REG_DWORD || size != sizeof number) {
      continue;  // not set at this root
    }
    m_set = number != 0;
    if (m_set) {
      LoadGPStrings(*this, key, name);
    }
    return;
  }
}

void CGPStrings::LoadGPStrings(CGPStrings& list, HKEY root, const wchar_t* name) {
  HKEY opened = nullptr;
  const LSTATUS status = Platform::RegOpenKeyExW(
      root, name, 0, Platform::KEY_QUERY_VALUE | Platform::KEY_ENUMERATE_SUB_KEYS, &opened);
  if (status == static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND)) {
    return;
  }
  if (status != ERROR_SUCCESS) {
    Fail(kLoadGPStrings, name, static_cast<DWORD>(status));
  }
  const Platform::UniqueHKey key(opened);

  DWORD count = 0;
  DWORD longestName = 0;
  DWORD longestData = 0;
  if (const LSTATUS info =
          Platform::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, &count, &longestName, &longestData, nullptr, nullptr);
      info != ERROR_SUCCESS) {
    Fail(kLoadGPStrings, name, static_cast<DWORD>(info));
  }
  if (count == 0) {
    return;
  }

  const DWORD nameCharacters = longestName + 1;
  wchar_t stackName[kStackNameCharacters];
  alignas(wchar_t) BYTE stackData[kStackDataBytes];
  std::vector<wchar_t> heapName;
  std::vector<BYTE> heapData;
  wchar_t* nameBuffer = stackName;
  BYTE* dataBuffer = stackData;
  if (nameCharacters > kStackNameCharacters) {
    heapName.resize(nameCharacters);
    nameBuffer = heapName.data();
  }
  if (longestData > kStackDataBytes) {
    heapData.resize(longestData);
    dataBuffer = heapData.data();
  }

  CGPStringsEnum callback(list);
  for (DWORD index = 0; index < count; ++index) {
    DWORD nameLength = nameCharacters;
    DWORD type = Platform::REG_NONE;
    DWORD dataSize = longestData;
    if (const LSTATUS got = Platform::RegEnumValueW(key.get(), index, nameBuffer, &nameLength,
                                                    nullptr, &type, dataBuffer, &dataSize);
        got != ERROR_SUCCESS) {
      Fail(kLoadGPStrings, name, static_cast<DWORD>(got));
    }
    nameBuffer[nameCharacters - 1] = L'\0';
    if (!callback.OnValue(nameBuffer, type, dataBuffer, dataSize)) {
      break;
    }
  }
}

}  // namespace Velmora::PKI
