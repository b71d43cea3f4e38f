// A reader of INI files as the platform's profile functions read them: "[Section]" lines,
// "Key=Value" lines, ";" comments. Section and key names compare ignoring ASCII case; blanks
// around names and values are dropped, and so is one pair of matching quotes around a value. The
// first section of a name is the one searched, and in it the first key of a name counts. Lines
// that are none of these are skipped, as the platform does.
//
// The file is UTF-8 (a byte-order mark is skipped) or UTF-16LE with its byte-order mark, and
// values come out as UTF-8. A file that is not valid text of either kind, holds a NUL character,
// or is larger than kMaxIniFileBytes is not read at all: Load reports it as unusable.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Velmora::Platform {

class IniFile {
 public:
  static constexpr std::size_t kMaxIniFileBytes = 1u << 20;

  // The file at `path`, or nothing when it is missing, unreadable or not usable text.
  static std::optional<IniFile> Load(const std::string& path);
  // The same from the bytes of a file.
  static std::optional<IniFile> Parse(std::string_view bytes);

  // The value of `key` in `section`, or nothing when either is missing.
  std::optional<std::string> get(std::string_view section, std::string_view key) const;

 private:
  struct Entry {
    std::string key;
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  std::vector<Section> m_sections;
};

}  // namespace Velmora::Platform
