// The proxy configuration of the user's desktop: GNOME's org.gnome.system.proxy settings and
// KDE's kioslaverc, in the four fields of the browser proxy configuration.
#pragma once

#include <optional>
#include <string>

namespace Velmora::Platform {

struct DesktopProxy {
  std::string source;
  bool autoDetect = false;
  std::string scriptUrl;
  std::string proxy;   // WinHTTP's list form
  std::string bypass;  // ";"-separated
  bool Set() const { return autoDetect || !scriptUrl.empty() || !proxy.empty(); }
};

// The desktop named by XDG_CURRENT_DESKTOP, or, when it names neither GNOME nor KDE, the first
// of the two that holds a setting other than none; nothing when no desktop has one. A setting
// with an invalid host or port throws HttpFailure with ERROR_WINHTTP_INVALID_URL (and is noted
// in the discovery report).
std::optional<DesktopProxy> ReadDesktopProxy();

}  // namespace Velmora::Platform
