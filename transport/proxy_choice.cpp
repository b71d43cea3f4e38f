// Which proxy an exchange goes through: the explicit one after its checks, else the one found in
// the user's configuration (the proxy environment variables, the desktop's settings, a proxy
// script), else none. Every discovery leaves a trace line saying where its answer came from.
#include <memory>

#include "platform/http/proxy_report.h"
#include "support/errors.h"
#include "support/trace.h"
#include "transport/send_request_parts.h"

namespace Velmora::PKI::Transport {

using namespace Platform;

namespace {

constexpr const char* kFunction = "DiscoverProxy";

// One line: where the configuration came from, the script and its answer, what went wrong.
void TraceDiscovery(const char* outcome, DWORD error) {
  const ProxyDiscoveryReport& report = LastProxyDiscovery();
  std::string notes;
  for (const std::string& note : report.notes) {
    notes += "; " + note;
  }
  HORODEX_TRACE(VelmoraTraceGeneral, 2, kFunction,
                "proxy discovery %s (error %u): source %s, script \"%s\", answer \"%s\"%s\n",
                outcome, error, report.source.c_str(), report.scriptUrl.c_str(),
                report.scriptAnswer.c_str(), notes.c_str());
}

struct GlobalFreer {
  void operator()(wchar_t* text) const noexcept { GlobalFree(text); }
};
using PlatformText = std::unique_ptr<wchar_t, GlobalFreer>;

std::wstring TextOf(const PlatformText& text) {
  return text ? std::wstring(text.get()) : std::wstring();
}

// An explicit proxy must be a URL with a scheme and nothing after its host and port; its user
// name and password fill empty proxy credentials, and it is rebuilt without them.
void CheckExplicitProxy(CHttpSettings& work) {
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  if (!WinHttpCrackUrl(work.proxy.c_str(), static_cast<DWORD>(work.proxy.size()), 0, &parts)) {
    Support::ThrowLastError();
  }
  const wchar_t* const end = work.proxy.c_str() + work.proxy.size();
  if (parts.dwUrlPathLength > 0 || parts.dwExtraInfoLength > 0 || parts.lpszUrlPath != end) {
    Support::ThrowWin32Error(ERROR_WINHTTP_INVALID_URL);
  }
  if (parts.dwUserNameLength > 0 && work.proxyUserName.empty()) {
    work.proxyUserName.assign(parts.lpszUserName, parts.dwUserNameLength);
    if (parts.lpszPassword != nullptr) {
      work.proxyPassword.assign(parts.lpszPassword, parts.dwPasswordLength);
    }
  }
  // Host and port as written: from the host (with an IPv6 literal's bracket) to the path.
  const wchar_t* hostStart = parts.lpszHostName;
  if (hostStart > work.proxy.c_str() && hostStart[-1] == L'[') {
    --hostStart;
  }
  work.proxy = std::wstring(parts.lpszScheme, parts.dwSchemeLength) + L"://" +
               std::wstring(hostStart, parts.lpszUrlPath);
}

void DiscoverProxy(CHttpSettings& work, HINTERNET session, const TargetUrl& target) {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
  if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) {
    const DWORD error = GetLastError();
    TraceDiscovery(error == ERROR_FILE_NOT_FOUND ? "found no configuration" : "failed", error);
    if (error == ERROR_FILE_NOT_FOUND) {
      return;
    }
    Support::ThrowWin32Error(error);
  }
  const PlatformText scriptUrl(config.lpszAutoConfigUrl);
  const PlatformText proxy(config.lpszProxy);
  const PlatformText bypass(config.lpszProxyBypass);
  work.proxyBypass = TextOf(bypass);
  work.proxy = TextOf(proxy);
  if (!work.proxy.empty()) {
    TraceDiscovery("found a static proxy", 0);
    return;
  }
  if (!config.fAutoDetect && !scriptUrl) {
    return;
  }
  WINHTTP_AUTOPROXY_OPTIONS options{};
  if (config.fAutoDetect) {
    options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  } else {
    options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = scriptUrl.get();
  }
  options.dwFlags |= WINHTTP_AUTOPROXY_RUN_INPROCESS;
  options.fAutoLogonIfChallenged = TRUE;
  const std::wstring url = target.schemeText + L"://" + target.host;
  WINHTTP_PROXY_INFO_RESULT found{};
  if (!WinHttpGetProxyForUrl(session, url.c_str(), &options, &found)) {
    const DWORD error = GetLastError();
    const bool none = error == ERROR_WINHTTP_AUTODETECTION_FAILED || error == ERROR_NOT_FOUND;
    TraceDiscovery(none ? "found no proxy" : "failed", error);
    if (none) {
      return;
    }
    Support::ThrowWin32Error(error);
  }
  TraceDiscovery("succeeded", 0);
  const PlatformText foundProxy(found.lpszProxy);
  const PlatformText foundBypass(found.lpszProxyBypass);
  work.proxy = TextOf(foundProxy);
  work.proxyBypass = TextOf(foundBypass);
}

}  // namespace

void ChooseProxy(CHttpSettings& work, HINTERNET session, const TargetUrl& target,
                 bool noAutoProxy) {
  if (!work.proxy.empty()) {
    CheckExplicitProxy(work);
  } else if (!work.proxySet && !noAutoProxy) {
    DiscoverProxy(work, session, target);
  }
  if (work.proxy.empty()) {
    return;  // a proxy set by an earlier exchange on this session stays in force
  }
  const WINHTTP_PROXY_INFO info{WINHTTP_ACCESS_TYPE_NAMED_PROXY, work.proxy.c_str(),
                                work.proxyBypass.empty() ? nullptr : work.proxyBypass.c_str()};
  if (!WinHttpSetOption(session, WINHTTP_OPTION_PROXY, &info, sizeof info)) {
    Support::ThrowLastError();
  }
}

}  // namespace Velmora::PKI::Transport
