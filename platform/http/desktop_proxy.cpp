#include "platform/http/desktop_proxy.h"

#include <sys/stat.h>

#include <cctype>

#include <cstdlib>
#include <map>
#include <string_view>
#include <vector>

#include "platform/file/ini_file.h"
#include "platform/http/handles.h"
#include "platform/http/proxy_helper_process.h"
#include "platform/http/proxy_report.h"

namespace Velmora::Platform {

namespace {

constexpr long kSettingsTimeoutMs = 5000;
constexpr std::size_t kMaxSettingsBytes = 256u << 10;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

bool Exists(const std::string& path) {
  struct stat facts {};
  return stat(path.c_str(), &facts) == 0;
}

std::vector<std::string> SplitList(std::string_view text, std::string_view separators) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of(separators, start);
    end = end == std::string_view::npos ? text.size() : end;
    std::string_view piece = text.substr(start, end - start);
    while (!piece.empty() && (piece.front() == ' ' || piece.front() == '\t')) {
      piece.remove_prefix(1);
    }
    while (!piece.empty() && (piece.back() == ' ' || piece.back() == '\t')) {
      piece.remove_suffix(1);
    }
    if (!piece.empty()) {
      out.emplace_back(piece);
    }
    start = end + 1;
  }
  return out;
}

std::string Joined(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) {
    out += (out.empty() ? "" : ";") + item;
  }
  return out;
}

[[noreturn]] void Invalid(const std::string& what) {
  LastProxyDiscovery().notes.push_back(what);
  FailWith(ERROR_WINHTTP_INVALID_URL);
}

// "host:port" from a host and a port as the desktops store them; a host of a proxy URL may carry
// its scheme ("http://proxy"), which stays.
std::string HostAndPort(const std::string& setting, std::string host, long port) {
  std::string scheme;
  if (const std::size_t sep = host.find("://"); sep != std::string::npos) {
    scheme = host.substr(0, sep + 3);
    if (scheme != "http://" && scheme != "https://") {
      Invalid(setting + ": proxy scheme of \"" + host + "\" is not http or https");
    }
    host.erase(0, sep + 3);
  }
  if (!host.empty() && host.back() == '/') {
    host.pop_back();
  }
  bool valid = !host.empty() && host.size() <= 255;
  for (const char c : host) {
    const bool bracketed = c == '[' || c == ']' || c == ':';
    valid = valid && (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' ||
                      c == '_' || bracketed);
  }
  if (!valid) {
    Invalid(setting + ": invalid proxy host \"" + host + "\"");
  }
  if (port < 1 || port > 65535) {
    Invalid(setting + ": invalid proxy port " + std::to_string(port) + " for " + host);
  }
  return scheme + host + ":" + std::to_string(port);
}

long PortOf(const std::string& text) {
  if (text.empty() || text.size() > 6 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return -1;
  }
  return std::strtol(text.c_str(), nullptr, 10);
}

bool GnomeSchemasInstalled() {
  std::vector<std::string> dirs;
  if (const std::string chosen = Env("GSETTINGS_SCHEMA_DIR"); !chosen.empty()) {
    dirs.push_back(chosen);
  }
  const std::string home = Env("HOME");
  const std::string dataHome =
      !Env("XDG_DATA_HOME").empty() ? Env("XDG_DATA_HOME") : home + "/.local/share";
  dirs.push_back(dataHome + "/glib-2.0/schemas");
  const std::string dataDirs =
      !Env("XDG_DATA_DIRS").empty() ? Env("XDG_DATA_DIRS") : "/usr/local/share:/usr/share";
  for (const std::string& dir : SplitList(dataDirs, ":")) {
    dirs.push_back(dir + "/glib-2.0/schemas");
  }
  for (const std::string& dir : dirs) {
    if (Exists(dir + "/gschemas.compiled")) {
      return true;
    }
  }
  return false;
}

std::optional<DesktopProxy> ReadGnome() {
  if (!GnomeSchemasInstalled()) {
    return std::nullopt;
  }
  ProxyHelperProcess helper("gnome");
  int status = -1;
  const std::optional<std::string> printed =
      helper.ReadToEnd(kSettingsTimeoutMs, kMaxSettingsBytes, status);
  if (!printed || status != 0) {
    LastProxyDiscovery().notes.push_back(
        !printed      ? "GNOME settings: the settings reader did not answer in time"
        : status == 4 ? "GNOME settings: the org.gnome.system.proxy schema is not installed"
                      : "GNOME settings: the settings reader failed");
    return std::nullopt;
  }
  std::map<std::string, std::string> values;
  for (const std::string& line : SplitList(*printed, "\n")) {
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) {
      values[line.substr(0, equals)] = line.substr(equals + 1);
    }
  }
  DesktopProxy found;
  found.source = "GNOME settings";
  const std::string& mode = values["mode"];
  if (mode == "auto") {
    found.scriptUrl = values["autoconfig-url"];
    found.autoDetect = found.scriptUrl.empty();
  } else if (mode == "manual") {
    const auto entry = [&](const char* which) {
      const std::string& host = values[std::string(which) + "-host"];
      return host.empty() ? std::string()
                          : HostAndPort(std::string("GNOME ") + which, host,
                                        PortOf(values[std::string(which) + "-port"]));
    };
    const std::string http = entry("http");
    const std::string https = entry("https");
    // Without an https proxy, https requests go through the http proxy too, as GNOME does.
    if (!http.empty() && !https.empty()) {
      found.proxy = "http=" + http + ";https=" + https;
    } else {
      found.proxy = !http.empty() ? http : (!https.empty() ? "https=" + https : "");
    }
    if (found.proxy.empty() && !values["socks-host"].empty()) {
      LastProxyDiscovery().notes.push_back("GNOME settings: only a SOCKS proxy, which is not used");
    }
  }
  found.bypass = values["ignore-hosts"];
  return found;
}

// KDE keeps "http://proxy 8080" (host and port apart by a space) or "http://proxy:8080".
std::string KdeProxy(const std::string& setting, const std::string& value) {
  std::string host = value;
  long port = -1;
  const std::size_t space = host.find_last_of(" \t");
  const std::size_t scheme = host.find("://");
  const std::size_t colon = host.rfind(':');
  if (space != std::string::npos) {
    port = PortOf(host.substr(space + 1));
    host.erase(space);
  } else if (colon != std::string::npos && (scheme == std::string::npos || colon > scheme + 2)) {
    port = PortOf(host.substr(colon + 1));
    host.erase(colon);
  }
  return HostAndPort(setting, host, port);
}

std::optional<DesktopProxy> ReadKde() {
  const std::string configHome =
      !Env("XDG_CONFIG_HOME").empty() ? Env("XDG_CONFIG_HOME") : Env("HOME") + "/.config";
  const std::string path = configHome + "/kioslaverc";
  const std::optional<IniFile> file = IniFile::Load(path);
  if (!file) {
    return std::nullopt;
  }
  constexpr std::string_view kSection = "Proxy Settings";
  const auto value = [&](std::string_view key) { return file->get(kSection, key).value_or(""); };
  DesktopProxy found;
  found.source = "KDE settings " + path;
  const std::string type = value("ProxyType");
  if (type == "1") {
    const std::string http = value("httpProxy");
    const std::string https = value("httpsProxy");
    if (!http.empty()) {
      found.proxy = "http=" + KdeProxy("KDE httpProxy", http);
    }
    if (!https.empty()) {
      found.proxy +=
          (found.proxy.empty() ? "https=" : ";https=") + KdeProxy("KDE httpsProxy", https);
    }
    if (value("ReversedException") == "true") {
      // The list names the only hosts that use the proxy, which a bypass list cannot say: the
      // proxy serves every host then.
      LastProxyDiscovery().notes.push_back(
          "KDE settings: ReversedException is set; NoProxyFor is not used as a bypass list");
    } else {
      found.bypass = Joined(SplitList(value("NoProxyFor"), ", "));
    }
  } else if (type == "2") {
    found.scriptUrl = value("Proxy Config Script");
  } else if (type == "3") {
    found.autoDetect = true;
  }
  return found;
}

bool Names(const std::string& desktops, std::string_view name) {
  for (const std::string& desktop : SplitList(desktops, ":")) {
    if (desktop == name || desktop == "X-" + std::string(name)) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::optional<DesktopProxy> ReadDesktopProxy() {
  const std::string desktops = Env("XDG_CURRENT_DESKTOP");
  const bool gnome = Names(desktops, "GNOME") || Names(desktops, "Unity") ||
                     Names(desktops, "Cinnamon") || Names(desktops, "Budgie") ||
                     Names(desktops, "Pantheon");
  const bool kde = Names(desktops, "KDE");
  std::optional<DesktopProxy> found;
  if (gnome || !kde) {
    found = ReadGnome();
  }
  if ((kde || !gnome) && !(found && found->Set())) {
    found = ReadKde();
  }
  if (!found || !found->Set()) {
    return std::nullopt;
  }
  return found;
}

}  // namespace Velmora::Platform
