// Inside the trace facility: the configuration as read from the settings (trace_config.cpp),
// applied to the records of the facility (trace.cpp). Not part of the library's interface; the
// tests use ReloadTraceConfiguration after changing the environment.
#pragma once

#include <unistd.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Velmora::Support {

// The name under which the library registers with the facility and reads its settings.
inline constexpr const char* kTraceModuleName = "libhorodex.so.1";

// Owns an open file descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) noexcept : m_fd(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      reset(other.release());
    }
    return *this;
  }
  ~UniqueFd() { reset(); }

  int get() const noexcept { return m_fd; }
  int release() noexcept { return std::exchange(m_fd, -1); }
  void reset(int fd = -1) noexcept {
    if (m_fd >= 0) {
      ::close(m_fd);
    }
    m_fd = fd;
  }

 private:
  int m_fd = -1;
};

// What a settings file (the format of the outside trace tool) says.
struct TraceSettingsFile {
  struct Category {
    std::string name;
    unsigned level = 0;
    unsigned status = 0;
  };
  struct Module {
    unsigned level = 0;
    unsigned status = 0;
    std::vector<Category> categories;
  };
  unsigned processLevel = 0;
  bool processEnabled = true;
  bool funcAndCategoryNames = false;
  bool fileNameAndLineNo = false;
  std::optional<Module> module;  // the section that names this library, if any
};

// Everything the configuration found, to be applied at once.
struct TraceConfiguration {
  bool funcAndCategoryNames = false;  // process flags, bit 0 of "ProcessFlags"
  bool fileNameAndLineNo = false;     // bit 1
  unsigned moduleLevel = 0;
  unsigned moduleStatus = 2;  // disabled when there is no module setting
  std::optional<TraceSettingsFile> settingsFile;
  UniqueFd logFile;         // an open log file; none for standard error
  std::string logFilePath;  // where it is
  std::string problem;      // a settings source that could not be read, for a trace line
};

// Reads every source of settings for the module whose full path `modulePath` gives (asked only
// when a settings file is named). Never throws.
TraceConfiguration ReadTraceConfiguration(std::string (*modulePath)()) noexcept;

// Parses a settings file; nothing when it is missing or does not parse (then it changes
// nothing). `modulePath` picks the module section that applies to this library: its "Name" is
// the module's full path, compared ignoring case, or, when it holds no '/', its file name.
std::optional<TraceSettingsFile> ReadTraceSettingsFile(const std::string& path,
                                                       const std::string& modulePath) noexcept;

// Puts every record back as registration left it and reads the settings again, as at load.
void ReloadTraceConfiguration() noexcept;

// The full path of the library, resolved on first use.
std::string TraceModulePath();

// The log file in use, empty for standard error.
std::string TraceLogFilePath();

}  // namespace Velmora::Support
