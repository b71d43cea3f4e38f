#include "platform/file/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/errors/atl_exception.h"
#include "platform/text/convert.h"

namespace Velmora::Platform {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && IsBlank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    const auto lower = [](char c) {
      return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    };
    return lower(x) == lower(y);
  });
}

// The text of the file as UTF-8, or nothing when it is not text.
std::optional<std::string> DecodeText(std::string_view bytes) {
  std::string text;
  try {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
      if (bytes.size() % 2 != 0) {
        return std::nullopt;
      }
      Platform::Utf16String units;
      for (std::size_t i = 2; i < bytes.size(); i += 2) {
        units += static_cast<Platform::WCHAR16>(static_cast<unsigned char>(bytes[i]) |
                                                (static_cast<unsigned char>(bytes[i + 1]) << 8));
      }
      text = Platform::Utf16ToUtf8(units);
    } else {
      if (bytes.starts_with("\xEF\xBB\xBF")) {
        bytes.remove_prefix(3);
      }
      static_cast<void>(Platform::Utf8ToWide(bytes));  // validates
      text = bytes;
    }
  } catch (const Platform::CAtlException&) {
    return std::nullopt;
  }
  if (text.find('\0') != std::string::npos) {
    return std::nullopt;
  }
  return text;
}

}  // namespace

std::optional<IniFile> IniFile::Load(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return std::nullopt;
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } const closer{fd};
  std::string bytes;
  bool usable = true;
  char chunk[4096];
  while (true) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      usable = got == 0;
      break;
    }
    bytes.append(chunk, static_cast<std::size_t>(got));
    if (bytes.size() > kMaxIniFileBytes) {
      usable = false;
      break;
    }
  }
  return usable ? Parse(bytes) : std::nullopt;
}

std::optional<IniFile> IniFile::Parse(std::string_view bytes) {
  std::size_t badLine = 0;
  return ParseText(bytes, false, badLine);
}

std::optional<IniFile> IniFile::ParseStrict(std::string_view bytes, std::size_t& badLine) {
  return ParseText(bytes, true, badLine);
}

std::optional<IniFile> IniFile::ParseText(std::string_view bytes, bool strict,
                                          std::size_t& badLine) {
  badLine = 0;
  if (bytes.size() > kMaxIniFileBytes) {
    return std::nullopt;
  }
  const std::optional<std::string> text = DecodeText(bytes);
  if (!text) {
    return std::nullopt;
  }
  IniFile file;
  Section* current = nullptr;
  std::string_view rest = *text;
  for (std::size_t number = 1; !rest.empty(); ++number) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = Trim(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (line.empty() || line.front() == ';' || (strict && line.front() == '#')) {
      continue;
    }
    const auto skip = [&] {
      if (strict) {
        badLine = number;
      }
      return !strict;
    };
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      if (close == std::string_view::npos || (strict && close + 1 != line.size())) {
        if (skip()) {
          continue;
        }
        return std::nullopt;
      }
      file.m_sections.push_back(Section{std::string(Trim(line.substr(1, close - 1))), {}});
      current = &file.m_sections.back();
      continue;
    }
    const std::size_t equals = line.find('=');
    if (current == nullptr || equals == std::string_view::npos ||
        (strict && Trim(line.substr(0, equals)).empty())) {
      if (skip()) {
        continue;
      }
      return std::nullopt;
    }
    std::string_view value = Trim(line.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    current->entries.push_back(
        Entry{std::string(Trim(line.substr(0, equals))), std::string(value), number});
  }
  return file;
}

std::vector<IniFile::Line> IniFile::lines() const {
  std::vector<Line> all;
  for (const Section& section : m_sections) {
    for (const Entry& entry : section.entries) {
      all.push_back(Line{section.name, entry.key, entry.value, entry.line});
    }
  }
  std::sort(all.begin(), all.end(),
            [](const Line& a, const Line& b) { return a.number < b.number; });
  return all;
}

std::optional<std::string> IniFile::get(std::string_view section, std::string_view key) const {
  const auto found = std::find_if(m_sections.begin(), m_sections.end(), [&](const Section& s) {
    return EqualIgnoringCase(s.name, section);
  });
  if (found == m_sections.end()) {
    return std::nullopt;
  }
  for (const Entry& entry : found->entries) {
    if (EqualIgnoringCase(entry.key, key)) {
      return entry.value;
    }
  }
  return std::nullopt;
}

}  // namespace Velmora::Platform
