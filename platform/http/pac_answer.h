// A proxy script's answer ("PROXY host:port; HTTPS host:port; SOCKS host:port; DIRECT") as the
// proxies to try in order.
#pragma once

#include <string>
#include <vector>

namespace Velmora::Platform {

struct PacProxy {
  std::string url;  // "http://host:port" or "https://host:port"
  std::string host;
  std::string port;
};

// The proxies before the first DIRECT (`direct` tells whether there is one); SOCKS entries are
// skipped. An empty answer, an unknown keyword, or a proxy without a host and a port from 1 to
// 65535 throws HttpFailure with ERROR_WINHTTP_SCRIPT_EXECUTION_ERROR.
std::vector<PacProxy> ParsePacAnswer(const std::string& answer, bool& direct);

}  // namespace Velmora::Platform
