// Where the trace settings come from, in this order:
//
//   1. the machine hive's key "SOFTWARE\Velmora\Trace": the string value "libhorodex.so.1" (the
//      module setting), the string value "libhorodex.so.1.logfile" and the REG_DWORD value
//      "ProcessFlags";
//   2. for whatever the key does not give: section [Trace] of Velmora/Trace.ini in the common
//      folder ($VELMORA_ROOT/etc/velmora/Trace.ini), then in the user's folder
//      ($XDG_CONFIG_HOME/velmora/Trace.ini); an empty INI value counts as missing.
//
// The module setting: "0" to "4" is the module's level (status enabled); any other text is the
// path of a settings file of the outside trace tool (see ReadTraceSettingsFile); an empty
// registry string is level 3; no setting at all disables the module. The log file, read only
// when a module setting exists: a name without '/' goes to $VELMORA_ROOT/var/log/velmora (made
// when missing), or when that cannot be written to $XDG_STATE_HOME/velmora/LogFiles
// ($XDG_STATE_HOME defaults to ~/.local/state); a name with '/' is a path. ProcessFlags: bit 0
// adds the category name to every line, bit 1 the location.
//
// A machine hive that cannot be read counts as a missing key (and is named in a trace line
// once the trace is set up); an INI or settings file that cannot be read or does not parse is
// ignored. Nothing here stops the library from loading.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/errors/winerror.h"
#include "platform/file/ini_file.h"
#include "platform/registry/registry.h"
#include "platform/text/convert.h"
#include "support/trace.h"
#include "support/trace_internal.h"

namespace Velmora::Support {
namespace {

using Platform::DWORD;
using Platform::HKEY;
using Platform::IniFile;

constexpr const char* kIniSection = "Trace";

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

// An XDG base folder: the variable when it holds an absolute path, else HOME + `fallback`.
std::string XdgFolder(const char* variable, const char* fallback) {
  std::string folder = EnvironmentValue(variable);
  if (!folder.empty() && folder.front() == '/') {
    return folder;
  }
  const std::string home = EnvironmentValue("HOME");
  return home.empty() ? std::string() : home + fallback;
}

// The two Trace.ini files, common first; either may be missing.
struct IniFiles {
  std::optional<IniFile> common;
  std::optional<IniFile> user;

  // The first non-empty value of `key` in section [Trace].
  std::optional<std::string> get(const std::string& key) const {
    for (const std::optional<IniFile>* file : {&common, &user}) {
      if (*file) {
        std::optional<std::string> value = (*file)->get(kIniSection, key);
        if (value && !value->empty()) {
          return value;
        }
      }
    }
    return std::nullopt;
  }
};

// The string value `name` of `key` (REG_SZ or REG_EXPAND_SZ) as UTF-8, up to its first NUL.
std::optional<std::string> RegistryString(HKEY key, const std::string& name) {
  if (key == nullptr) {
    return std::nullopt;
  }
  const std::wstring wideName = Platform::Utf8ToWide(name);
  DWORD type = 0;
  DWORD size = 0;
  if (Platform::RegQueryValueExW(key, wideName.c_str(), nullptr, &type, nullptr, &size) !=
          Platform::ERROR_SUCCESS ||
      (type != Platform::REG_SZ && type != Platform::REG_EXPAND_SZ)) {
    return std::nullopt;
  }
  std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
  DWORD got = size;
  if (Platform::RegQueryValueExW(key, wideName.c_str(), nullptr, &type,
                                 reinterpret_cast<Platform::BYTE*>(text.data()),
                                 &got) != Platform::ERROR_SUCCESS ||
      (type != Platform::REG_SZ && type != Platform::REG_EXPAND_SZ)) {
    return std::nullopt;
  }
  try {
    return Platform::WideToUtf8(std::wstring_view(text.data()));
  } catch (...) {
    return std::nullopt;  // not text
  }
}

std::optional<DWORD> RegistryNumber(HKEY key, const char* name) {
  if (key == nullptr) {
    return std::nullopt;
  }
  DWORD type = 0;
  DWORD number = 0;
  DWORD size = sizeof number;
  const std::wstring wideName = Platform::Utf8ToWide(name);
  if (Platform::RegQueryValueExW(key, wideName.c_str(), nullptr, &type,
                                 reinterpret_cast<Platform::BYTE*>(&number),
                                 &size) != Platform::ERROR_SUCCESS ||
      type != Platform::REG_DWORD || size != sizeof number) {
    return std::nullopt;
  }
  return number;
}

// Makes `folder` and its parents; true when it exists afterwards.
bool MakeFolders(const std::string& folder) {
  for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string part = folder.substr(0, slash);
    if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
      return false;
    }
    if (slash == std::string::npos) {
      break;
    }
  }
  struct stat info {};
  return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

int OpenLog(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

// Opens the log file named by the setting; -1 when none can be opened.
int OpenLogFile(const std::string& name, std::string& path) {
  if (name.find('/') != std::string::npos) {
    path = name;
    return OpenLog(path);
  }
  const std::string common = EnvironmentValue("VELMORA_ROOT") + "/var/log/velmora";
  if (MakeFolders(common)) {
    path = common + "/" + name;
    if (const int fd = OpenLog(path); fd >= 0) {
      return fd;
    }
  }
  const std::string state = XdgFolder("XDG_STATE_HOME", "/.local/state");
  if (!state.empty() && MakeFolders(state + "/velmora/LogFiles")) {
    path = state + "/velmora/LogFiles/" + name;
    if (const int fd = OpenLog(path); fd >= 0) {
      return fd;
    }
  }
  path.clear();
  return -1;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) {
      return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
    };
    if (lower(a[i]) != lower(b[i])) {
      return false;
    }
  }
  return true;
}

bool NamesThisModule(const std::string& name, const std::string& modulePath) {
  if (name.find('/') == std::string::npos) {
    const std::size_t slash = modulePath.rfind('/');
    return EqualIgnoringCase(
               name, slash == std::string::npos ? modulePath : modulePath.substr(slash + 1)) ||
           EqualIgnoringCase(name, kTraceModuleName);
  }
  return EqualIgnoringCase(name, modulePath);
}

unsigned StatusOf(unsigned number) {
  return number == kTraceInherit || number == kTraceEnabled ? number : kTraceDisabled;
}

}  // namespace

std::optional<TraceSettingsFile> ReadTraceSettingsFile(const std::string& path,
                                                       const std::string& modulePath) noexcept try {
  const std::optional<IniFile> ini = IniFile::Load(path);
  if (!ini) {
    return std::nullopt;
  }
  TraceSettingsFile settings;
  const std::optional<std::string> info = ini->get("Process", "Info");
  unsigned moduleCount = 0;
  char enabled = 0;
  char names = 0;
  char location = 0;
  if (!info ||
      std::sscanf(info->c_str(),
                  "ModuleCount:%u, Level:%u, Enabled:%c, FuncAndCategoryNames:%c, "
                  "FileNameAndLineNo:%c",
                  &moduleCount, &settings.processLevel, &enabled, &names, &location) != 5) {
    return std::nullopt;
  }
  settings.processEnabled = enabled != 'f';
  settings.funcAndCategoryNames = names != 'f';
  settings.fileNameAndLineNo = location != 'f';
  // Counts are bounded by the keys the file really has: a missing key ends the file's validity.
  for (unsigned m = 1; m <= moduleCount; ++m) {
    const std::optional<std::string> section = ini->get("Process", "Module" + std::to_string(m));
    if (!section) {
      return std::nullopt;
    }
    const std::optional<std::string> name = ini->get(*section, "Name");
    if (!name || !NamesThisModule(*name, modulePath)) {
      continue;  // another module of the process
    }
    const std::optional<std::string> moduleSettings = ini->get(*section, "Settings");
    unsigned categoryCount = 0;
    TraceSettingsFile::Module module;
    if (!moduleSettings ||
        std::sscanf(moduleSettings->c_str(), "CategoryCount:%u, Level:%u, Status:%u",
                    &categoryCount, &module.level, &module.status) != 3) {
      return std::nullopt;
    }
    module.status = StatusOf(module.status);
    for (unsigned c = 1; c <= categoryCount; ++c) {
      const std::optional<std::string> line = ini->get(*section, "Category" + std::to_string(c));
      TraceSettingsFile::Category category;
      char categoryName[64] = {};
      if (!line || std::sscanf(line->c_str(), "Level:%u, Status:%u, Name:%63s", &category.level,
                               &category.status, categoryName) != 3) {
        return std::nullopt;
      }
      category.status = StatusOf(category.status);
      category.name = categoryName;
      module.categories.push_back(std::move(category));
    }
    settings.module = std::move(module);
  }
  return settings;
} catch (...) {
  return std::nullopt;
}

TraceConfiguration ReadTraceConfiguration(std::string (*modulePath)()) noexcept {
  TraceConfiguration config;
  try {
    HKEY opened = nullptr;
    const Platform::LSTATUS status =
        Platform::RegOpenKeyExW(Platform::HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velmora\\Trace", 0,
                                Platform::KEY_QUERY_VALUE, &opened);
    const Platform::UniqueHKey key(status == Platform::ERROR_SUCCESS ? opened : nullptr);
    if (status != Platform::ERROR_SUCCESS && status != Platform::ERROR_FILE_NOT_FOUND) {
      const std::string where = Platform::RegistryHiveProblem(Platform::HKEY_LOCAL_MACHINE);
      config.problem = "the machine hive cannot be read (error " + std::to_string(status) +
                       (where.empty() ? std::string(")") : "): " + where);
    }
    IniFiles ini;
    ini.common = IniFile::Load(EnvironmentValue("VELMORA_ROOT") + "/etc/velmora/Trace.ini");
    const std::string userConfig = XdgFolder("XDG_CONFIG_HOME", "/.config");
    if (!userConfig.empty()) {
      ini.user = IniFile::Load(userConfig + "/velmora/Trace.ini");
    }

    const std::string moduleName = kTraceModuleName;
    std::optional<std::string> setting = RegistryString(key.get(), moduleName);
    if (!setting) {
      setting = ini.get(moduleName);
    }

    if (setting) {
      std::optional<std::string> logName = RegistryString(key.get(), moduleName + ".logfile");
      if (!logName) {
        logName = ini.get(moduleName + ".logfile");
      }
      if (logName && !logName->empty()) {
        config.logFile.reset(OpenLogFile(*logName, config.logFilePath));
      }
    }

    std::optional<DWORD> flags = RegistryNumber(key.get(), "ProcessFlags");
    if (!flags) {
      unsigned parsed = 0;
      const std::optional<std::string> text = ini.get("ProcessFlags");
      flags = text && std::sscanf(text->c_str(), "%u", &parsed) == 1 ? parsed : 0u;
    }
    config.funcAndCategoryNames = (*flags & 1u) != 0;
    config.fileNameAndLineNo = (*flags & 2u) != 0;

    if (!setting) {
      config.moduleLevel = 0;
      config.moduleStatus = kTraceDisabled;
    } else if (setting->empty()) {
      config.moduleLevel = 3;
      config.moduleStatus = kTraceEnabled;
    } else if (setting->size() == 1 && (*setting)[0] >= '0' && (*setting)[0] <= '4') {
      config.moduleLevel = static_cast<unsigned>((*setting)[0] - '0');
      config.moduleStatus = kTraceEnabled;
    } else {
      config.moduleLevel = 0;  // as registered, unless the settings file says otherwise
      config.moduleStatus = kTraceInherit;
      config.settingsFile = ReadTraceSettingsFile(*setting, modulePath());
    }
  } catch (...) {
    // Settings half read change nothing: the records stay as registration made them.
    TraceConfiguration unchanged;
    unchanged.moduleStatus = kTraceInherit;
    return unchanged;
  }
  return config;
}

}  // namespace Velmora::Support
