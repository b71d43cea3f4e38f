// Reads any input as an INI file both ways: the strict reading names a line within the file when
// it refuses, refuses only text the lenient reading takes, and gives key lines with a key, in file
// order.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/file/ini_file.h"

using Velmora::Platform::IniFile;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::size_t badLine = 0;
  const auto strict = IniFile::ParseStrict(bytes, badLine);
  const auto lenient = IniFile::Parse(bytes);
  const std::size_t lineCount =
      1 + static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n'));
  if (!strict) {
    if (badLine > lineCount || (badLine != 0) != lenient.has_value()) {
      __builtin_trap();
    }
    return 0;
  }
  if (!lenient || badLine != 0) {
    __builtin_trap();
  }
  std::size_t previous = 0;
  for (const IniFile::Line& line : strict->lines()) {
    if (line.number <= previous || line.number > lineCount || line.key.empty()) {
      __builtin_trap();
    }
    previous = line.number;
  }
  return 0;
}
