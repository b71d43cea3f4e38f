// Fetching a proxy auto-configuration script over http, https or from a file: URL, with the
// session's time-outs and its extra trusted certificates, never through a proxy, logging on
// automatically (Negotiate with the user's own credentials) when the server asks.
#pragma once

#include <string>

namespace Velmora::Platform {

struct SessionState;

inline constexpr std::size_t kMaxPacScriptBytes = std::size_t{1} << 20;

struct DownloadedScript {
  std::string bytes;
  long maxAgeSeconds = -1;  // from Cache-Control; -1 when the server said nothing
};

// Throws HttpFailure: ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT when it cannot be had (bad URL,
// no connection, a status other than 200), ERROR_WINHTTP_BAD_AUTO_PROXY_SCRIPT when it is
// larger than kMaxPacScriptBytes, ERROR_WINHTTP_UNHANDLED_SCRIPT_TYPE when its content type or
// its bytes say it is not a script.
DownloadedScript DownloadPacScript(const std::string& url, const SessionState& session);

}  // namespace Velmora::Platform
