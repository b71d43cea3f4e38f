// Reads any input as a hive file (.reg) for the machine root: a refusal must name a line within
// the file, and a hive that reads must hold its root and keys whose counts agree with their values.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/registry/reg_file.h"

namespace RegFile = Velmora::Platform::RegFile;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const RegFile::ParseResult result =
      RegFile::Parse(std::span<const unsigned char>(data, size), L"HKEY_LOCAL_MACHINE");
  if (!result.ok) {
    if (result.problem.empty() || result.line > size + 1) {
      __builtin_trap();
    }
    return 0;
  }
  if (result.hive.find(L"") == nullptr) {
    __builtin_trap();
  }
  for (const auto& [path, key] : result.hive.keys) {
    if (key.values.size() != key.valueIndex.size()) {
      __builtin_trap();
    }
    for (const RegFile::Value& value : key.values) {
      if (key.find(value.name) != &value || value.data.size() > key.maxValueDataSize) {
        __builtin_trap();
      }
    }
  }
  return 0;
}
