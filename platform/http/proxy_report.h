// What the last proxy discovery on this thread found and why, for the trace and for
// "horodex proxy": where the configuration came from, the script and its answer, and what went
// wrong. WinHttpGetIEProxyConfigForCurrentUser starts a new report; WinHttpGetProxyForUrl adds
// to it.
#pragma once

#include <string>
#include <vector>

namespace Velmora::Platform {

struct ProxyDiscoveryReport {
  std::string source;        // "environment", "GNOME settings", "KDE settings <path>", or "none"
  std::string scriptUrl;     // the script asked, from the configuration or found by WPAD
  std::string scriptAnswer;  // what FindProxyForURL returned
  std::vector<std::string> notes;  // one line each: what was tried, and why something failed
};

ProxyDiscoveryReport& LastProxyDiscovery() noexcept;

// The first pattern of a bypass list (WinHTTP's form) that covers `host`, or empty.
std::string BypassRuleFor(const std::string& bypassList, const std::string& host);

}  // namespace Velmora::Platform
