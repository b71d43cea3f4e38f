// A settings file of the outside trace tool, as a Trace.ini module setting names it: read from
// a memory file, it gives nothing or settings whose statuses are the three known ones, whose
// category names fit their buffer, and whose categories each come from a line of the file.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "support/trace.h"
#include "support/trace_internal.h"

namespace S = Velmora::Support;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const int fd = memfd_create("trace-settings", MFD_CLOEXEC);
  static const std::string path = "/proc/self/fd/" + std::to_string(fd);
  if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) {
    __builtin_trap();
  }
  const auto settings = S::ReadTraceSettingsFile(path, "/usr/lib/x86_64-linux-gnu/libhorodex.so.1");
  if (!settings || !settings->module) {
    return 0;
  }
  const auto known = [](unsigned status) {
    return status == S::kTraceInherit || status == S::kTraceEnabled || status == S::kTraceDisabled;
  };
  const auto lines = static_cast<std::size_t>(std::count(data, data + size, '\n')) + 1;
  if (!known(settings->module->status) || settings->module->categories.size() > lines) {
    __builtin_trap();
  }
  for (const auto& category : settings->module->categories) {
    if (!known(category.status) || category.name.empty() || category.name.size() > 63) {
      __builtin_trap();
    }
  }
  return 0;
}
