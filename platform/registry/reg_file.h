// The reader of one hive file in the registry editor's export format (".reg"):
//
//   Windows Registry Editor Version 5.00          (or REGEDIT4)
//
//   ; a comment
//   [HKEY_LOCAL_MACHINE\Software\Policies\Velmora\TSP]
//   "DefaultTSPURL"="http://tsa.example/tsp"       REG_SZ; escapes \\ and \" only
//   @="the default value"                          the key's unnamed value
//   "NonceLength"=dword:00000010                   REG_DWORD, 1 to 8 hex digits
//   "Big"=hex(b):00,00,00,00,01,00,00,00           REG_QWORD (any hex(n): keeps type n)
//   "Path"=hex(2):25,00,41,00,00,00                REG_EXPAND_SZ, UTF-16LE bytes
//   "Blob"=hex:01,02,03,\                          REG_BINARY; a line ending in a backslash
//     04,05                                         goes on on the next line
//   "Gone"=-                                       deletes the value named earlier
//   [-HKEY_LOCAL_MACHINE\Software\Old]             deletes the key and everything below it
//
// The file is UTF-8 (a UTF-8 byte-order mark is skipped), or UTF-16LE when it starts with the
// UTF-16LE byte-order mark, as the registry editor saves it; lines end in LF or CR LF. In a
// "REGEDIT4" file the bytes of hex(1), hex(2) and hex(7) values are narrow text (UTF-8 here);
// in a version 5 file they are UTF-16LE.
//
// Keys and values are applied in file order: a key named twice is one key, a value named twice
// keeps the later data, and a deletion removes what the lines before it made. Values under a
// key that is being deleted ("[-...]") are read but dropped, as the editor does. Key and value
// names compare ignoring case.
//
// Anything else is refused with the line number and a description: a missing header, a key of
// another root than the hive's, a value outside a key, an unknown data form, a bad escape, a
// byte that is not two hex digits, text after the data, an empty key name part, names longer
// than the platform allows, invalid UTF-8 or UTF-16, a NUL character, a continuation at the end
// of the file, and files larger than kMaxHiveFileBytes.
#pragma once

#include <cstddef>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/base/types.h"

namespace Velmora::Platform::RegFile {

inline constexpr std::size_t kMaxHiveFileBytes = 16u << 20;  // 16 MiB
inline constexpr std::size_t kMaxKeyNameLength = 255;        // one part of a key path
inline constexpr std::size_t kMaxValueNameLength = 16383;

// One typed value. String types (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) hold their text as wchar_t
// units with the NULs the file gave (a quoted string gets one terminating NUL); UTF-16 data of
// odd length keeps its last byte after the converted units, so its size stays odd as well.
struct Value {
  std::wstring name;
  DWORD type = 0;
  std::vector<BYTE> data;
};

struct Key {
  std::wstring name;  // the last part of the path, as the file spells it; empty for the root
  std::vector<Value> values;                                 // in the order the file names them
  std::unordered_map<std::wstring, std::size_t> valueIndex;  // folded name -> position
  DWORD subKeyCount = 0;
  DWORD maxSubKeyNameLength = 0;
  DWORD maxValueNameLength = 0;
  DWORD maxValueDataSize = 0;

  const Value* find(std::wstring_view valueName) const;
};

// Every key of one root, by path below the root with its parts folded to upper case and joined
// by backslashes ("" is the root itself, always present).
struct Hive {
  std::map<std::wstring, Key> keys;

  const Key* find(const std::wstring& foldedPath) const;
};

struct ParseResult {
  bool ok = false;
  std::size_t line = 0;  // where the file is broken, 1-based; 0 for the file as a whole
  std::string problem;   // what is wrong there
  Hive hive;
};

// Parses a whole file for the root named `rootName` ("HKEY_LOCAL_MACHINE").
ParseResult Parse(std::span<const unsigned char> bytes, std::wstring_view rootName);

// Case folding of key and value names: upper case of each character (Unicode simple mapping).
std::wstring FoldName(std::wstring_view name);
// The same folding, appended to `to`.
void AppendFoldedName(std::wstring& to, std::wstring_view name);

}  // namespace Velmora::Platform::RegFile
