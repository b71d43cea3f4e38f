// GNOME's proxy settings (org.gnome.system.proxy) read through GSettings, so that whatever
// backend the user's session uses (dconf, or the keyfile backend GSETTINGS_BACKEND names)
// answers, as for every GNOME program.
#pragma once

#include <cstdio>

namespace Horodex::ProxyHelper {

// Prints "key=value" lines: mode, autoconfig-url, ignore-hosts (joined by ";"), http-host,
// http-port, https-host, https-port, socks-host, socks-port. Values never hold a line feed.
// Returns 0, or 4 when the schema is not installed.
int PrintGnomeSettings(std::FILE* out);

}  // namespace Horodex::ProxyHelper
