// Readers of administrator policy values: one named value read from a pair of policy keys,
// "Software\Policies\Velmora\TSP" under HKEY_LOCAL_MACHINE (machine) and HKEY_CURRENT_USER
// (user). A value set for the machine wins over the same value set for the user; a value set
// nowhere leaves the default. The readers only read.
//
//   CGPKeyPair keys;
//   if (const LSTATUS status = keys.Open(); status != ERROR_SUCCESS) ThrowWin32Error(status);
//   CGPBool requireNonce;
//   requireNonce.Load(keys.machine(), keys.user(), L"RequireNonce", false);
//
// Every failure throws CAtlException with HRESULT_FROM_WIN32 of the registry's code, after a
// trace line "Loading policy "<name>" failed (0x<code>)." : ERROR_INVALID_DATA (0x8007000D) for a
// value of the wrong type or a malformed string, ERROR_MORE_DATA (0x800700EA) for a number value
// longer than 4 bytes, ERROR_BADDB (0x800703F1) for a hive file that does not parse. A value read
// before the failure keeps what was read. Every step writes a level-4 trace line to
// VelmoraTraceGeneral.
#pragma once

#include <set>
#include <string>
#include <string_view>

#include "platform/base/types.h"
#include "platform/registry/registry.h"

namespace Velmora::PKI {

using Platform::DWORD;
using Platform::HKEY;
using Platform::LSTATUS;

// The key that holds the library's policies, under both roots.
inline constexpr const wchar_t* kPolicyKeyPath = L"Software\\Policies\\Velmora\\TSP";

// The pair of policy keys, opened for value queries. A root where the key does not exist stays
// absent (a null key); both keys are closed when the pair goes, the user key first.
class CGPKeyPair {
 public:
  CGPKeyPair() = default;
  CGPKeyPair(const CGPKeyPair&) = delete;
  CGPKeyPair& operator=(const CGPKeyPair&) = delete;
  ~CGPKeyPair();

  // Opens the machine key, then the user key. Returns ERROR_SUCCESS, or the first code other
  // than ERROR_FILE_NOT_FOUND (ERROR_BADDB for a broken hive, whose file, line and problem a
  // trace line names at level 1), and then no key is left open.
  LSTATUS Open();

  HKEY machine() const noexcept { return m_machine.get(); }
  HKEY user() const noexcept { return m_user.get(); }

 private:
  Platform::UniqueHKey m_machine;
  Platform::UniqueHKey m_user;
};

// A flag stored as REG_DWORD: any non-zero number is true.
class CGPBool {
 public:
  CGPBool() = default;
  explicit CGPBool(bool value) noexcept : m_value(value) {}
  CGPBool& operator=(bool value) noexcept {
    m_value = value;
    return *this;
  }
  operator bool() const noexcept { return m_value; }  // NOLINT: reads as the flag it holds

  // Sets the flag from the machine key, else the user key, else to `defaultValue`. Either key
  // may be null (absent).
  void Load(HKEY machineKey, HKEY userKey, const wchar_t* name, bool defaultValue);

 private:
  bool m_value = false;
};

// An unsigned 32-bit number stored as REG_DWORD.
class CGPLong {
 public:
  CGPLong() = default;
  explicit CGPLong(DWORD value) noexcept : m_value(value) {}
  CGPLong& operator=(DWORD value) noexcept {
    m_value = value;
    return *this;
  }
  operator DWORD() const noexcept { return m_value; }  // NOLINT: reads as the number it holds

  void Load(HKEY machineKey, HKEY userKey, const wchar_t* name, DWORD defaultValue);

 private:
  DWORD m_value = 0;
};

// A text stored as REG_SZ or REG_EXPAND_SZ; an REG_EXPAND_SZ is taken literally (no environment
// references are expanded). The data must be whole characters ending in a NUL; the text is what
// comes before the first NUL.
class CGPString {
 public:
  CGPString() = default;
  explicit CGPString(std::wstring value) : m_value(std::move(value)) {}
  CGPString& operator=(std::wstring value) {
    m_value = std::move(value);
    return *this;
  }
  const std::wstring& str() const noexcept { return m_value; }
  const wchar_t* c_str() const noexcept { return m_value.c_str(); }
  bool empty() const noexcept { return m_value.empty(); }
  operator const std::wstring&() const noexcept { return m_value; }  // NOLINT: reads as its text

  // Sets the text from the machine key, else the user key; with neither, the text is left as
  // it is, so the caller puts the default in before.
  void Load(HKEY machineKey, HKEY userKey, const wchar_t* name);

 private:
  std::wstring m_value;
};

// A list of texts with a switch that says whether the list is in force. The switch is a
// REG_DWORD of the policy key itself (the list's name with "Setted" appended, as a rule); the
// entries are the REG_SZ values of the policy key's subkey named after the list (value names do
// not matter, other types are skipped). The root whose switch exists supplies the switch and the
// whole list: machine before user, never merged. A list not in force is empty; a list in force
// with no entries allows nothing.
class CGPStrings {
 public:
  // Orders texts by their UTF-16 code units, the platform's plain comparison of wide texts.
  struct Utf16Less {
    bool operator()(std::wstring_view a, std::wstring_view b) const noexcept;
    using is_transparent = void;
  };
  using Entries = std::set<std::wstring, Utf16Less>;

  // Takes one value of a list subkey during the enumeration of LoadGPStrings.
  class CGPStringsEnum {
   public:
    explicit CGPStringsEnum(CGPStrings& list) noexcept : m_list(list) {}
    // Adds the text of an REG_SZ value (up to its first NUL, or the end of the data) and
    // ignores every other type. Answers whether to go on: always true.
    bool OnValue(const wchar_t* name, DWORD type, const Platform::BYTE* data, DWORD size);

   private:
    CGPStrings& m_list;
  };

  bool IsSet() const noexcept { return m_set; }
  const Entries& entries() const noexcept { return m_entries; }
  bool contains(std::wstring_view text) const { return m_entries.find(text) != m_entries.end(); }

  // Reads the switch `switchName` and, when it is on, the entries of list `name`. A switch that
  // cannot be read at a root counts as not set there.
  void Load(HKEY machineKey, HKEY userKey, const wchar_t* name, const wchar_t* switchName);

  // Adds the entries of the subkey `name` of the policy key `root`; a missing subkey adds none.
  static void LoadGPStrings(CGPStrings& list, HKEY root, const wchar_t* name);

 private:
  bool m_set = false;
  Entries m_entries;
};

}  // namespace Velmora::PKI
