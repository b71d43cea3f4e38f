#include "tests/common/process_stats.h"

#include <filesystem>
#include <fstream>
#include <string>

namespace Velmora::Testing {

namespace {

std::size_t StatusKiB(const std::string& field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(field + ":", 0) == 0) {
      return std::stoul(line.substr(field.size() + 1));
    }
  }
  return 0;
}

}  // namespace

std::size_t ResidentKiB() {
  return StatusKiB("VmRSS");
}

std::size_t PeakResidentKiB() {
  return StatusKiB("VmHWM");
}

std::size_t OpenDescriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count - 1;
}

}  // namespace Velmora::Testing
