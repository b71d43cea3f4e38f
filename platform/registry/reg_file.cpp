#include "platform/registry/reg_file.h"

#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/registry/registry.h"

namespace Velmora::Platform::RegFile {
namespace {

constexpr std::wstring_view kHeaderVersion5 = L"Windows Registry Editor Version 5.00";
constexpr std::wstring_view kHeaderVersion4 = L"REGEDIT4";
constexpr std::wstring_view kKnownRoots[] = {L"HKEY_LOCAL_MACHINE", L"HKEY_CURRENT_USER",
                                             L"HKEY_CLASSES_ROOT", L"HKEY_USERS",
                                             L"HKEY_CURRENT_CONFIG"};
constexpr std::size_t kQuotedInProblem = 40;  // characters of a name quoted in a problem text

// The C.UTF-8 locale, for case mapping that does not depend on the caller's locale; null when the
// system has none, and then only ASCII letters are folded. Made on the first letter outside ASCII:
// a process whose names are all ASCII (the usual case) never loads a locale for them.
locale_t CaseLocale() {
  static const locale_t locale = [] {
    locale_t made = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (made == static_cast<locale_t>(nullptr)) {
      made = newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(nullptr));
    }
    return made;
  }();
  return locale;
}

wchar_t FoldChar(wchar_t c) {
  if (c < 0x80) {
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
  }
  const locale_t locale = CaseLocale();
  if (locale == static_cast<locale_t>(nullptr)) {
    return c;
  }
  return static_cast<wchar_t>(towupper_l(static_cast<wint_t>(c), locale));
}

bool IsBlank(wchar_t c) {
  return c == L' ' || c == L'\t';
}

std::wstring_view TrimLeft(std::wstring_view text) {
  while (!text.empty() && IsBlank(text.front())) {
    text.remove_prefix(1);
  }
  return text;
}

std::wstring_view TrimRight(std::wstring_view text) {
  while (!text.empty() && IsBlank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

bool StartsWithIgnoringCase(std::wstring_view text, std::wstring_view prefix) {
  if (text.size() < prefix.size()) {
    return false;
  }
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (FoldChar(text[i]) != FoldChar(prefix[i])) {
      return false;
    }
  }
  return true;
}

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') {
    return c - L'0';
  }
  if (c >= L'a' && c <= L'f') {
    return c - L'a' + 10;
  }
  if (c >= L'A' && c <= L'F') {
    return c - L'A' + 10;
  }
  return -1;
}

// UTF-8 of text that came from a decoded file (so it holds only valid characters), cut to
// `limit` characters for a problem description.
std::string Quote(std::wstring_view text, std::size_t limit = kQuotedInProblem) {
  std::string out = "\"";
  const bool cut = text.size() > limit;
  for (const wchar_t c : text.substr(0, limit)) {
    const auto cp = static_cast<char32_t>(c);
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  out += cut ? "...\"" : "\"";
  return out;
}

void AppendWide(std::vector<BYTE>& out, wchar_t c) {
  const std::size_t at = out.size();
  out.resize(at + sizeof(wchar_t));
  std::memcpy(out.data() + at, &c, sizeof(wchar_t));
}

// ---- Decoding the file into lines of characters ----

struct Failure {
  std::size_t line = 0;
  std::string problem;
};

// Decodes strict UTF-8 (no overlong forms, surrogates or values above U+10FFFF).
std::optional<Failure> DecodeUtf8(std::span<const unsigned char> bytes, std::wstring& text,
                                  bool allowNul = false) {
  std::size_t line = 1;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const unsigned char lead = bytes[i];
    char32_t cp = 0;
    std::size_t length = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
      cp = lead;
      length = 1;
    } else if ((lead & 0xE0) == 0xC0) {
      cp = lead & 0x1F;
      length = 2;
      minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      cp = lead & 0x0F;
      length = 3;
      minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      cp = lead & 0x07;
      length = 4;
      minimum = 0x10000;
    } else {
      return Failure{line, "invalid UTF-8"};
    }
    if (bytes.size() - i < length) {
      return Failure{line, "invalid UTF-8"};
    }
    for (std::size_t k = 1; k < length; ++k) {
      const unsigned char next = bytes[i + k];
      if ((next & 0xC0) != 0x80) {
        return Failure{line, "invalid UTF-8"};
      }
      cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      return Failure{line, "invalid UTF-8"};
    }
    if (cp == 0 && !allowNul) {
      return Failure{line, "a NUL character"};
    }
    if (cp == U'\n') {
      ++line;
    }
    text += static_cast<wchar_t>(cp);
    i += length;
  }
  return std::nullopt;
}

// Calls `each(codePoint, unpaired)` for the code points of the UTF-16LE units of `bytes` (an odd
// last byte is the caller's): surrogate pairs combine, an unpaired surrogate comes as itself with
// `unpaired` set. Stops at the first `each` that returns false; true when none did.
template <typename Each>
bool ForEachUtf16Le(std::span<const unsigned char> bytes, Each&& each) {
  const std::size_t units = bytes.size() / 2;
  const auto unit = [&](std::size_t k) {
    return static_cast<char32_t>(bytes[2 * k] | (bytes[2 * k + 1] << 8));
  };
  for (std::size_t k = 0; k < units; ++k) {
    char32_t cp = unit(k);
    const bool high = cp >= 0xD800 && cp <= 0xDBFF;
    if (high && k + 1 < units && unit(k + 1) >= 0xDC00 && unit(k + 1) <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(k + 1) - 0xDC00);
      ++k;
    }
    if (!each(cp, cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
  }
  return true;
}

std::optional<Failure> DecodeUtf16Le(std::span<const unsigned char> bytes, std::wstring& text) {
  std::size_t line = 1;
  std::optional<Failure> failure;
  ForEachUtf16Le(bytes, [&](char32_t cp, bool unpaired) {
    if (unpaired) {
      failure = Failure{line, "invalid UTF-16 (an unpaired surrogate)"};
    } else if (cp == 0) {
      failure = Failure{line, "a NUL character"};
    }
    if (cp == U'\n') {
      ++line;
    }
    text += static_cast<wchar_t>(cp);
    return !failure;
  });
  if (!failure && bytes.size() % 2 != 0) {
    failure = Failure{line, "a UTF-16 file of an odd number of bytes"};
  }
  return failure;
}

std::vector<std::wstring_view> SplitLines(std::wstring_view text) {
  std::vector<std::wstring_view> lines;
  while (true) {
    const std::size_t end = text.find(L'\n');
    std::wstring_view line = text.substr(0, end);
    if (!line.empty() && line.back() == L'\r') {
      line.remove_suffix(1);
    }
    lines.push_back(line);
    if (end == std::wstring_view::npos || end + 1 == text.size()) {
      break;  // the line feed that ends the last line opens no new one
    }
    text.remove_prefix(end + 1);
  }
  return lines;
}

// ---- The parser of the decoded lines ----

class Parser {
 public:
  Parser(std::vector<std::wstring_view> lines, std::wstring_view rootName)
      : m_lines(std::move(lines)), m_rootName(rootName) {
    m_hive.keys.emplace(std::wstring(), Key{});
  }

  ParseResult run() {
    ParseResult result;
    if (!parse()) {
      result.line = m_failure.line;
      result.problem = std::move(m_failure.problem);
      return result;
    }
    finish();
    result.ok = true;
    result.hive = std::move(m_hive);
    return result;
  }

 private:
  bool fail(std::string problem) {
    m_failure = Failure{m_index + 1, std::move(problem)};
    return false;
  }

  bool parse() {
    const std::wstring_view header = TrimRight(m_lines.front());
    if (header == kHeaderVersion5) {
      m_version4 = false;
    } else if (header == kHeaderVersion4) {
      m_version4 = true;
    } else {
      return fail("the first line is not \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\"");
    }
    for (m_index = 1; m_index < m_lines.size(); ++m_index) {
      const std::wstring_view line = TrimRight(TrimLeft(m_lines[m_index]));
      if (line.empty() || line.front() == L';') {
        continue;
      }
      const bool ok = line.front() == L'['                             ? keyLine(line)
                      : (line.front() == L'"' || line.front() == L'@') ? valueLine(line)
                                                                       : fail("unexpected text");
      if (!ok) {
        return false;
      }
    }
    return true;
  }

  // [ROOT\part\part] or [-ROOT\part\part]
  bool keyLine(std::wstring_view line) {
    if (line.back() != L']') {
      return fail("a key line that does not end in ']'");
    }
    std::wstring_view path = line.substr(1, line.size() - 2);
    const bool deletion = !path.empty() && path.front() == L'-';
    if (deletion) {
      path.remove_prefix(1);
    }
    std::vector<std::wstring_view> parts;
    while (true) {
      const std::size_t end = path.find(L'\\');
      parts.push_back(path.substr(0, end));
      if (end == std::wstring_view::npos) {
        break;
      }
      path.remove_prefix(end + 1);
    }
    if (FoldName(parts.front()) != FoldName(m_rootName)) {
      const bool known = std::any_of(
          std::begin(kKnownRoots), std::end(kKnownRoots),
          [&](std::wstring_view root) { return FoldName(root) == FoldName(parts.front()); });
      return fail(known
                      ? "a key of " + Quote(parts.front()) + " in the hive of " + Quote(m_rootName)
                      : "an unknown root " + Quote(parts.front()));
    }
    parts.erase(parts.begin());
    std::wstring folded;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      if (parts[i].empty()) {
        return fail("an empty part in a key path");
      }
      if (parts[i].size() > kMaxKeyNameLength) {
        return fail("a key name longer than 255 characters");
      }
      if (i > 0) {
        folded += L'\\';
      }
      AppendFoldedName(folded, parts[i]);
      if (!deletion) {
        Key& key = m_hive.keys[folded];  // each parent exists with its child
        if (key.name.empty()) {
          key.name = parts[i];
        }
      }
    }
    if (deletion) {
      if (parts.empty()) {
        return fail("the root of a hive cannot be deleted");
      }
      m_hive.keys.erase(folded);
      const std::wstring below = folded + L'\\';
      auto last = m_hive.keys.lower_bound(below);
      const auto first = last;
      while (last != m_hive.keys.end() && last->first.starts_with(below)) {
        ++last;
      }
      m_hive.keys.erase(first, last);
      m_current = nullptr;
    } else {
      m_current = &m_hive.keys[folded];
    }
    m_inKey = true;
    return true;
  }

  // Reads a quoted string starting at text[pos] == '"'; pos ends after the closing quote.
  bool quoted(std::wstring_view text, std::size_t& pos, std::wstring& out) {
    ++pos;
    while (pos < text.size()) {
      const wchar_t c = text[pos++];
      if (c == L'"') {
        return true;
      }
      if (c == L'\\') {
        if (pos == text.size()) {
          break;
        }
        const wchar_t escaped = text[pos++];
        if (escaped != L'\\' && escaped != L'"') {
          return fail("an unknown escape \\" + Quote(std::wstring(1, escaped), 1) +
                      " in a quoted string (write a backslash as \\\\)");
        }
        out += escaped;
      } else {
        out += c;
      }
    }
    return fail("a quoted string without its closing quote");
  }

  bool valueLine(std::wstring_view line) {
    Value value;
    std::size_t pos = 0;
    if (line.front() == L'@') {
      pos = 1;
    } else if (!quoted(line, pos, value.name)) {
      return false;
    }
    if (value.name.size() > kMaxValueNameLength) {
      return fail("a value name longer than 16383 characters");
    }
    while (pos < line.size() && IsBlank(line[pos])) {
      ++pos;
    }
    if (pos == line.size() || line[pos] != L'=') {
      return fail("a value name not followed by '='");
    }
    const std::wstring_view data = TrimLeft(line.substr(pos + 1));
    if (!m_inKey) {
      return fail("a value before the first key");
    }
    if (data == L"-") {
      if (m_current != nullptr) {
        removeValue(*m_current, value.name);
      }
      return true;
    }
    if (!dataOf(data, value)) {
      return false;
    }
    if (m_current != nullptr) {
      setValue(*m_current, std::move(value));
    }
    return true;
  }

  bool dataOf(std::wstring_view data, Value& value) {
    if (!data.empty() && data.front() == L'"') {
      std::wstring text;
      std::size_t pos = 0;
      if (!quoted(data, pos, text)) {
        return false;
      }
      if (!TrimLeft(data.substr(pos)).empty()) {
        return fail("text after the closing quote");
      }
      value.type = REG_SZ;
      for (const wchar_t c : text) {
        AppendWide(value.data, c);
      }
      AppendWide(value.data, L'\0');
      return true;
    }
    if (StartsWithIgnoringCase(data, L"dword:")) {
      const std::wstring_view digits = data.substr(6);
      if (digits.empty() || digits.size() > 8) {
        return fail("a dword that is not 1 to 8 hex digits");
      }
      DWORD number = 0;
      for (const wchar_t c : digits) {
        const int digit = HexDigit(c);
        if (digit < 0) {
          return fail("a dword that is not 1 to 8 hex digits");
        }
        number = (number << 4) | static_cast<DWORD>(digit);
      }
      value.type = REG_DWORD;
      value.data.resize(sizeof number);
      std::memcpy(value.data.data(), &number, sizeof number);
      return true;
    }
    if (StartsWithIgnoringCase(data, L"hex:")) {
      value.type = REG_BINARY;
      return bytesOf(data.substr(4), value);
    }
    if (StartsWithIgnoringCase(data, L"hex(")) {
      const std::size_t close = data.find(L')');
      if (close == std::wstring_view::npos || close == 4 || close > 12 ||
          close + 1 >= data.size() || data[close + 1] != L':') {
        return fail("a hex(n): type that is not 1 to 8 hex digits in parentheses and a colon");
      }
      DWORD type = 0;
      for (const wchar_t c : data.substr(4, close - 4)) {
        const int digit = HexDigit(c);
        if (digit < 0) {
          return fail("a hex(n): type that is not 1 to 8 hex digits in parentheses and a colon");
        }
        type = (type << 4) | static_cast<DWORD>(digit);
      }
      value.type = type;
      return bytesOf(data.substr(close + 2), value);
    }
    return fail("an unknown kind of data (expected \"text\", dword:, hex: or hex(n):)");
  }

  // Bytes "01,02,\" with continuation lines; the current line index moves past them.
  bool bytesOf(std::wstring_view segment, Value& value) {
    std::vector<BYTE> bytes;
    bool wantByte = false;  // after a comma
    while (true) {
      segment = TrimRight(segment);
      const bool continued = !segment.empty() && segment.back() == L'\\';
      if (continued) {
        segment = TrimRight(segment.substr(0, segment.size() - 1));
      }
      std::size_t pos = 0;
      while (true) {
        while (pos < segment.size() && IsBlank(segment[pos])) {
          ++pos;
        }
        if (pos == segment.size()) {
          break;
        }
        std::size_t end = pos;
        while (end < segment.size() && HexDigit(segment[end]) >= 0) {
          ++end;
        }
        if (end == pos || end - pos > 2) {
          return fail("a byte that is not one or two hex digits");
        }
        if (!bytes.empty() && !wantByte) {
          return fail("bytes not separated by a comma");
        }
        int byte = 0;
        for (std::size_t k = pos; k < end; ++k) {
          byte = byte * 16 + HexDigit(segment[k]);
        }
        bytes.push_back(static_cast<BYTE>(byte));
        wantByte = false;
        pos = end;
        while (pos < segment.size() && IsBlank(segment[pos])) {
          ++pos;
        }
        if (pos < segment.size()) {
          if (segment[pos] != L',') {
            return fail("a byte that is not one or two hex digits");
          }
          ++pos;
          wantByte = true;
        }
      }
      if (!continued) {
        break;
      }
      if (m_index + 1 >= m_lines.size()) {
        return fail("the file ends in a line continued with a backslash");
      }
      ++m_index;
      segment = TrimLeft(m_lines[m_index]);
    }
    if (wantByte) {
      return fail("a comma with no byte after it");
    }
    return storeBytes(bytes, value);
  }

  bool storeBytes(const std::vector<BYTE>& bytes, Value& value) {
    const bool text =
        value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ;
    if (!text) {
      value.data = bytes;
      return true;
    }
    if (m_version4) {
      std::wstring decoded;
      if (DecodeUtf8(bytes, decoded, /*allowNul=*/true)) {  // narrow text, NULs included
        return fail("string data that is not UTF-8");
      }
      for (const wchar_t c : decoded) {
        AppendWide(value.data, c);
      }
      return true;
    }
    // UTF-16LE units: pairs combine, an unpaired surrogate is kept as it is, an odd last byte
    // stays a byte, so that the readers see the same defects as in the stored data.
    ForEachUtf16Le(bytes, [&](char32_t cp, bool) {
      AppendWide(value.data, static_cast<wchar_t>(cp));
      return true;
    });
    if (bytes.size() % 2 != 0) {
      value.data.push_back(bytes.back());
    }
    return true;
  }

  static void setValue(Key& key, Value value) {
    std::wstring folded = FoldName(value.name);
    const auto found = key.valueIndex.find(folded);
    if (found != key.valueIndex.end()) {
      key.values[found->second].type = value.type;
      key.values[found->second].data = std::move(value.data);
      return;
    }
    key.valueIndex.emplace(std::move(folded), key.values.size());
    key.values.push_back(std::move(value));
  }

  static void removeValue(Key& key, const std::wstring& name) {
    const auto found = key.valueIndex.find(FoldName(name));
    if (found == key.valueIndex.end()) {
      return;
    }
    key.values.erase(key.values.begin() + static_cast<std::ptrdiff_t>(found->second));
    key.valueIndex.clear();
    for (std::size_t i = 0; i < key.values.size(); ++i) {
      key.valueIndex.emplace(FoldName(key.values[i].name), i);
    }
  }

  // Counts of subkeys and the longest names and data, for RegQueryInfoKeyW.
  void finish() {
    for (auto& [path, key] : m_hive.keys) {
      for (const Value& value : key.values) {
        key.maxValueNameLength =
            std::max(key.maxValueNameLength, static_cast<DWORD>(value.name.size()));
        key.maxValueDataSize =
            std::max(key.maxValueDataSize, static_cast<DWORD>(value.data.size()));
      }
      if (path.empty()) {
        continue;
      }
      const std::size_t slash = path.rfind(L'\\');
      const std::wstring parentPath =
          slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
      Key& parent = m_hive.keys[parentPath];
      ++parent.subKeyCount;
      parent.maxSubKeyNameLength =
          std::max(parent.maxSubKeyNameLength, static_cast<DWORD>(key.name.size()));
    }
  }

  std::vector<std::wstring_view> m_lines;
  std::wstring_view m_rootName;
  Hive m_hive;
  Key* m_current = nullptr;  // null while the lines belong to a key being deleted
  bool m_inKey = false;
  bool m_version4 = false;
  std::size_t m_index = 0;
  Failure m_failure;
};

}  // namespace

const Value* Key::find(std::wstring_view valueName) const {
  const auto found = valueIndex.find(FoldName(valueName));
  return found == valueIndex.end() ? nullptr : &values[found->second];
}

const Key* Hive::find(const std::wstring& foldedPath) const {
  const auto found = keys.find(foldedPath);
  return found == keys.end() ? nullptr : &found->second;
}

std::wstring FoldName(std::wstring_view name) {
  std::wstring folded;
  AppendFoldedName(folded, name);
  return folded;
}

void AppendFoldedName(std::wstring& to, std::wstring_view name) {
  const std::size_t at = to.size();
  to.append(name);
  for (std::size_t i = at; i < to.size(); ++i) {
    to[i] = FoldChar(to[i]);
  }
}

ParseResult Parse(std::span<const unsigned char> bytes, std::wstring_view rootName) {
  ParseResult result;
  if (bytes.size() > kMaxHiveFileBytes) {
    result.problem = "the file is larger than 16 MiB";
    return result;
  }
  std::wstring text;
  std::optional<Failure> failure;
  if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    failure = DecodeUtf16Le(bytes.subspan(2), text);
  } else if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
    failure = Failure{1, "a UTF-16 big-endian file (save it as UTF-16LE or UTF-8)"};
  } else if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    failure = DecodeUtf8(bytes.subspan(3), text);
  } else {
    failure = DecodeUtf8(bytes, text);
  }
  if (failure) {
    result.line = failure->line;
    result.problem = std::move(failure->problem);
    return result;
  }
  return Parser(SplitLines(text), rootName).run();
}

}  // namespace Velmora::Platform::RegFile
