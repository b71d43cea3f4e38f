// The user's defaults for horodex, read from its settings file.
#include "tools/horodex/user_settings.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/file/ini_file.h"
#include "tools/horodex/command_options.h"
#include "tools/horodex/file_hash.h"

namespace Horodex {
namespace {

namespace fs = std::filesystem;
using Velmora::Platform::IniFile;

constexpr std::string_view kSection = "defaults";

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::optional<bool> YesNo(std::string_view value) {
  for (const char* yes : {"yes", "true", "1", "on"}) {
    if (value == yes) {
      return true;
    }
  }
  for (const char* no : {"no", "false", "0", "off"}) {
    if (value == no) {
      return false;
    }
  }
  return std::nullopt;
}

// "~/x" under HOME, a relative path under the settings file's folder.
std::string ResolvePath(std::string_view value, const fs::path& folder) {
  if (value.starts_with("~/") && !Environment("HOME").empty()) {
    return (fs::path(Environment("HOME")) / value.substr(2)).string();
  }
  const fs::path path(value);
  return path.is_absolute() ? path.string() : (folder / path).string();
}

// Section and key names ignore ASCII case, as the INI reader's do.
std::string Lower(std::string_view name) {
  std::string lower;
  for (const char c : name) {
    lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return lower;
}

// Takes one line into `settings`; false when its key or value is not one the tool takes.
bool Take(const IniFile::Line& line, const fs::path& folder, UserSettings& settings) {
  const std::string key = Lower(line.key);
  const std::string value(line.value);
  if (key == "tsa" && UsableTsaUrl(value)) {
    settings.tsas.push_back(value);
  } else if (key == "hash" && !HashOid(value).empty()) {
    settings.hash = value;
  } else if (key == "cert-req" && YesNo(Lower(value))) {
    settings.certReq = YesNo(Lower(value));
  } else if (key == "ca" && !value.empty()) {
    settings.caFiles.push_back(ResolvePath(value, folder));
  } else if (key == "timeout" && TimeoutMs(value)) {
    settings.timeoutMs = TimeoutMs(value);
  } else {
    return false;
  }
  return true;
}

}  // namespace

std::string UserSettingsPath() {
  std::string base = Environment("XDG_CONFIG_HOME");
  if (base.empty() || base.front() != '/') {
    const std::string home = Environment("HOME");
    if (home.empty()) {
      return {};
    }
    base = home + "/.config";
  }
  return base + "/velmora/horodex.conf";
}

std::optional<UserSettings> LoadUserSettings(const std::string& command, std::ostream& err) {
  UserSettings settings;
  const std::string path = UserSettingsPath();
  std::error_code ec;
  if (path.empty() || !fs::exists(path, ec)) {
    return settings;
  }
  const std::string where = "horodex " + command + ": " + path;
  std::ifstream in(path, std::ios::binary);
  std::string bytes;
  if (in && fs::is_regular_file(path, ec)) {
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (!in || !fs::is_regular_file(path, ec) || in.bad()) {
    err << where << ": cannot be read\n";
    return std::nullopt;
  }
  std::size_t badLine = 0;
  const std::optional<IniFile> file = IniFile::ParseStrict(bytes, badLine);
  if (!file) {
    if (badLine == 0) {
      err << where << ": not a text file\n";
    } else {
      err << where << ":" << badLine << ": not a [section] or key = value line\n";
    }
    return std::nullopt;
  }
  const fs::path folder = fs::path(path).parent_path();
  for (const IniFile::Line& line : file->lines()) {
    if (Lower(line.section) != kSection) {
      err << where << ":" << line.number << ": unknown section [" << line.section
          << "] (the settings go under [" << kSection << "])\n";
      return std::nullopt;
    }
    if (!Take(line, folder, settings)) {
      err << where << ":" << line.number << ": '" << line.key << " = " << line.value
          << "' is not a setting horodex takes (tsa, hash, cert-req, ca, timeout)\n";
      return std::nullopt;
    }
  }
  return settings;
}

}  // namespace Horodex
