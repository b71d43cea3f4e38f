// The records of the trace facility, the filter, the line format and the output.
//
// The records (process, this library's module, its two categories) live inside the library. A
// change of settings happens under one lock and ends by deriving each category's threshold, the
// highest level it writes; TraceMessage reads only that threshold before deciding, so a message
// that is filtered out costs a load and a compare.
#include "support/trace.h"

#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <shared_mutex>

#include "platform/errors/atl_exception.h"
#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"
#include "platform/text/convert.h"
#include "support/trace_internal.h"

namespace Velmora::Support {

TraceCategory VelmoraTraceGeneral{"VelmoraTraceGeneral"};
TraceCategory VelmoraTraceSnapin{"VelmoraTraceSnapin"};

namespace {

constexpr std::size_t kLineSize = 1024;     // a line is at most 1023 characters
constexpr std::size_t kLocationSize = 260;  // the location text, at most 259 characters
constexpr std::size_t kFileLineSize = 24 + 2 * kLineSize;  // date, and CR before every LF

struct ProcessRecord {
  std::atomic<unsigned> level{0};
  std::atomic<bool> enabled{true};
  std::atomic<bool> funcAndCategoryNames{false};
  std::atomic<bool> fileNameAndLineNo{false};
};

struct ModuleRecord {
  std::string fullPath;  // empty until asked for
  std::string fileName;
  unsigned level = 0;
  unsigned status = kTraceInherit;
};

// The facility's state. Set-up and settings take `configLock`; writing a line takes `sinkLock`
// shared, so that a log file is never closed under a writer.
struct Facility {
  ProcessRecord process;
  std::mutex configLock;
  ModuleRecord module;
  TraceCategory* categories[2] = {&VelmoraTraceGeneral, &VelmoraTraceSnapin};
  std::shared_mutex sinkLock;
  UniqueFd logFile;
  std::string logFilePath;
};

Facility& TheFacility() {
  static Facility* const facility = new Facility;  // kept to the very end of the process
  return *facility;
}

// Keeps errno and the thread's last-error code across a call.
class CallerStateGuard {
 public:
  CallerStateGuard() noexcept : m_errno(errno), m_lastError(Platform::GetLastError()) {}
  ~CallerStateGuard() {
    Platform::SetLastError(m_lastError);
    errno = m_errno;
  }
  CallerStateGuard(const CallerStateGuard&) = delete;
  CallerStateGuard& operator=(const CallerStateGuard&) = delete;

 private:
  int m_errno;
  Platform::DWORD m_lastError;
};

Platform::HRESULT FormatFailure(int error) {
  switch (error) {
    case ENOMEM:
      return Platform::E_OUTOFMEMORY;
    case EINVAL:
    case EILSEQ:
      return Platform::E_INVALIDARG;
    default:
      return Platform::E_FAIL;
  }
}

// A line being formatted into a fixed buffer; every piece is cut to what fits.
class Line {
 public:
  void vappend(const char* format, va_list args) {
    if (m_error != 0) {
      return;
    }
    const std::size_t room = kLineSize - m_length;
    errno = 0;
    const int wrote = std::vsnprintf(m_text + m_length, room, format, args);
    if (wrote < 0) {
      m_error = errno != 0 ? errno : EINVAL;
      m_text[m_length] = '\0';
      return;
    }
    if (static_cast<std::size_t>(wrote) >= room) {
      m_cut = true;
      m_length = kLineSize - 1;
    } else {
      m_length += static_cast<std::size_t>(wrote);
    }
  }
  void append(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    va_list args;
    va_start(args, format);
    vappend(format, args);
    va_end(args);
  }

  char* text() { return m_text; }
  std::size_t length() const { return m_length; }
  bool cut() const { return m_cut; }
  int error() const { return m_error; }

 private:
  char m_text[kLineSize] = {};
  std::size_t m_length = 0;
  bool m_cut = false;
  int m_error = 0;
};

// The base (highest address) of the calling thread's stack, found once per thread.
const void* StackBase() {
  thread_local const void* base = [] {
    const void* top = nullptr;
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
      void* low = nullptr;
      std::size_t size = 0;
      if (pthread_attr_getstack(&attributes, &low, &size) == 0) {
        top = static_cast<const char*>(low) + size;
      }
      pthread_attr_destroy(&attributes);
    }
    return top;
  }();
  return base;
}

const char* BaseName(const char* path) {
  const char* base = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') {
      base = p + 1;
    }
  }
  return base;
}

void WriteAll(int fd, const char* data, std::size_t length) {
  while (true) {
    const ssize_t wrote = ::write(fd, data, length);
    if (wrote < 0 && errno == EINTR) {
      continue;  // nothing was written
    }
    return;  // a line is written by one call or, when the disk is full, not at all
  }
}

// Writes a finished line to the log file (dated, CR LF) or to standard error.
void Output(const char* line, std::size_t length) {
  Facility& facility = TheFacility();
  const std::shared_lock lock(facility.sinkLock);
  if (facility.logFile.get() < 0) {
    WriteAll(STDERR_FILENO, line, length);
    return;
  }
  char out[kFileLineSize];
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  int dated =
      std::snprintf(out, sizeof out, "%04d/%02d/%02d %02d:%02d:%02d : ", local.tm_year + 1900,
                    local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  std::size_t at = dated > 0 ? static_cast<std::size_t>(dated) : 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (line[i] == '\n') {
      out[at++] = '\r';
    }
    out[at++] = line[i];
  }
  WriteAll(facility.logFile.get(), out, at);
}

// The filter's answer for every category, from the records (configLock held).
void DeriveThresholds(Facility& facility) {
  const ProcessRecord& process = facility.process;
  const ModuleRecord& module = facility.module;
  const auto bounded = [](unsigned level) {
    return static_cast<int>(std::min<unsigned>(level, INT_MAX));
  };
  for (TraceCategory* category : facility.categories) {
    const unsigned status = category->status.load();
    int threshold = -1;
    if (process.enabled.load() && module.status == kTraceInherit) {
      if (status == kTraceInherit) {
        threshold = bounded(process.level.load());
      } else if (status == kTraceEnabled) {
        threshold = bounded(category->level.load());
      }
    } else if (module.status == kTraceEnabled && status == kTraceInherit) {
      threshold = bounded(module.level);
    } else if (status == kTraceEnabled) {
      threshold = bounded(category->level.load());
    }
    category->threshold.store(threshold, std::memory_order_relaxed);
  }
}

// Back to the records as registration makes them (configLock held).
void ResetRecords(Facility& facility) {
  facility.process.level = 0;
  facility.process.enabled = true;
  facility.process.funcAndCategoryNames = false;
  facility.process.fileNameAndLineNo = false;
  facility.module.level = 0;
  facility.module.status = kTraceInherit;
  for (TraceCategory* category : facility.categories) {
    category->level = 0;
    category->status = kTraceInherit;
  }
}

void Apply(Facility& facility, TraceConfiguration& config) {
  {
    const std::lock_guard lock(facility.configLock);
    ResetRecords(facility);
    facility.process.enabled = true;
    facility.process.funcAndCategoryNames = config.funcAndCategoryNames;
    facility.process.fileNameAndLineNo = config.fileNameAndLineNo;
    facility.module.level = config.moduleLevel;
    facility.module.status = config.moduleStatus;
    if (config.settingsFile) {
      const TraceSettingsFile& file = *config.settingsFile;
      facility.process.level = file.processLevel;
      facility.process.enabled = file.processEnabled;
      facility.process.funcAndCategoryNames = file.funcAndCategoryNames;
      facility.process.fileNameAndLineNo = file.fileNameAndLineNo;
      if (file.module) {
        facility.module.level = file.module->level;
        facility.module.status = file.module->status;
        for (const TraceSettingsFile::Category& setting : file.module->categories) {
          for (TraceCategory* category : facility.categories) {
            if (setting.name == category->name) {
              category->level = setting.level;
              category->status = setting.status;
            }
          }
        }
      }
    }
    {
      const std::unique_lock sink(facility.sinkLock);
      facility.logFile = std::move(config.logFile);  // the file in use before is closed
      facility.logFilePath = config.logFilePath;
    }
    DeriveThresholds(facility);
  }
  if (!config.problem.empty()) {
    HORODEX_TRACE(VelmoraTraceGeneral, 1, "Velmora::Support::ConfigureTrace",
                  "Trace settings not read: %s\n", config.problem.c_str());
  }
}

// The library's own path, from the loader.
std::string OwnPath() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<const void*>(&TraceModulePath), &info) == 0 ||
      info.dli_fname == nullptr) {
    return kTraceModuleName;
  }
  char* resolved = ::realpath(info.dli_fname, nullptr);
  std::string path = resolved != nullptr ? resolved : info.dli_fname;
  std::free(resolved);
  return path;
}

void Configure() noexcept {
  try {
    TraceConfiguration config = ReadTraceConfiguration(&TraceModulePath);
    Apply(TheFacility(), config);
  } catch (...) {
    // The trace keeps the records it had; the library loads all the same.
  }
}

// Registration of the module and its categories, then the settings, when the library is loaded.
struct LoadTimeSetup {
  LoadTimeSetup() noexcept {
    try {
      Facility& facility = TheFacility();
      {
        const std::lock_guard lock(facility.configLock);
        facility.module.fileName = kTraceModuleName;
        ResetRecords(facility);
        DeriveThresholds(facility);
      }
      Configure();
    } catch (...) {
      // Without records nothing is written; loading goes on.
    }
  }
};
const LoadTimeSetup g_loadTimeSetup;

}  // namespace

void TraceMessage(const TracePoint& point, const TraceCategory& category, unsigned level,
                  const char* format, ...) {
  if (!TraceIsEnabled(category, level)) {
    return;
  }
  const CallerStateGuard keep;
  const ProcessRecord& process = TheFacility().process;
  Line line;
  line.append("%s: ", kTraceModuleName);
  if (process.fileNameAndLineNo.load(std::memory_order_relaxed)) {
    char location[kLocationSize];
    const int made =
        std::snprintf(location, sizeof location, "{%d:%p} /%s/ %s", static_cast<int>(::gettid()),
                      StackBase(), point.function != nullptr ? point.function : "",
                      BaseName(point.file != nullptr ? point.file : ""));
    if (made < 0) {
      Platform::AtlThrow(FormatFailure(errno));
    }
    line.append("%s(%d) : ", location, point.line);
  }
  if (process.funcAndCategoryNames.load(std::memory_order_relaxed)) {
    line.append("%s: ", category.name);
  }
  va_list args;
  va_start(args, format);
  line.vappend(format, args);
  va_end(args);
  if (line.error() != 0) {
    Platform::AtlThrow(FormatFailure(line.error()));
  }
  // A cut line still ends where its message ended, so that it does not run into the next one.
  const std::size_t formatLength = std::strlen(format);
  if (line.cut() && formatLength != 0 && format[formatLength - 1] == '\n') {
    line.text()[line.length() - 1] = '\n';
  }
  Output(line.text(), line.length());
}

std::string TraceText(std::wstring_view text) noexcept {
  try {
    return Platform::WideToNarrow(text);
  } catch (...) {
  }
  try {
    std::string out;
    for (const wchar_t c : text) {
      const auto cp = static_cast<char32_t>(c);
      if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        char escaped[16];
        std::snprintf(escaped, sizeof escaped, "\\x{%X}", static_cast<unsigned>(cp));
        out += escaped;
      } else {
        out += Platform::WideToUtf8(std::wstring_view(&c, 1));
      }
    }
    return out;
  } catch (...) {
    return {};
  }
}

void ReloadTraceConfiguration() noexcept {
  Configure();
}

std::string TraceModulePath() {
  Facility& facility = TheFacility();
  const std::lock_guard lock(facility.configLock);
  if (facility.module.fullPath.empty()) {
    facility.module.fullPath = OwnPath();  // the loader's path resolved (links followed)
  }
  return facility.module.fullPath;
}

std::string TraceLogFilePath() {
  Facility& facility = TheFacility();
  const std::shared_lock lock(facility.sinkLock);
  return facility.logFilePath;
}

}  // namespace Velmora::Support
