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

  // Parse for files a person writes and wants to hear about: "#" starts a comment too, and the
  // first line that is neither blank, a comment, a "[Section]" line nor a "Key=Value" line (with
  // a key) inside a section makes it return nothing, with that line's number (from 1) in
  // `badLine`; `badLine` is 0 when the bytes are not usable text at all.
  static std::optional<IniFile> ParseStrict(std::string_view bytes, std::size_t& badLine);

  // The value of `key` in `section`, or nothing when either is missing.
  std::optional<std::string> get(std::string_view section, std::string_view key) const;

  // Every "Key=Value" line in file order, with its section's name and its line number.
  struct Line {
    std::string_view section;
    std::string_view key;
    std::string_view value;
    std::size_t number;
  };
  std::vector<Line> lines() const;

 private:
  struct Entry {
    std::string key;
    std::string value;
    std::size_t line;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  std::vector<Section> m_sections;

  static std::optional<IniFile> ParseText(std::string_view bytes, bool strict,
                                          std::size_t& badLine);
};

}  // namespace Velmora::Platform
