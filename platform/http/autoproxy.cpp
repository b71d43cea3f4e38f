// WinHttpGetProxyForUrl: the proxy of a URL from a proxy auto-configuration script, named by the
// configuration or found by WPAD (http://wpad.<domain>/wpad.dat for the host's domain and its
// parents down to the second level). The script runs in horodex-proxy-helper; the session keeps
// it running, loaded, until it expires (the server's max-age, else 24 hours).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cwchar>
#include <fstream>
#include <memory>
#include <sstream>
#include <string_view>

#include "platform/http/handles.h"
#include "platform/http/pac_answer.h"
#include "platform/http/pac_download.h"
#include "platform/http/proxy_helper_process.h"
#include "platform/http/proxy_report.h"
#include "platform/text/convert.h"

namespace Velmora::Platform {

using Clock = std::chrono::steady_clock;

// What a session keeps between calls: the loaded script, and when detection last found none.
struct AutoProxyCache {
  std::string scriptUrl;
  std::unique_ptr<ProxyHelperProcess> engine;
  Clock::time_point expires;
  Clock::time_point noWpadUntil;
};

namespace {

constexpr auto kDefaultScriptLifetime = std::chrono::hours(24);
constexpr auto kNoWpadLifetime = std::chrono::minutes(5);
constexpr long kMaxAnswerMs = 10000;
constexpr long kMaxProbeMs = 3000;
constexpr std::size_t kMaxAnswerBytes = 64u << 10;

[[noreturn]] void Fail(DWORD code, const std::string& note) {
  LastProxyDiscovery().notes.push_back(note);
  FailWith(code);
}

// How long the script may take for one answer: the session's receive time-out, at most 10 s.
long AnswerTimeoutMs(const SessionState& session) {
  const long receive = session.timeouts.receiveMs;
  return receive > 0 && receive < kMaxAnswerMs ? receive : kMaxAnswerMs;
}

bool Resolves(const std::string& host) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0) {
    return false;
  }
  freeaddrinfo(list);
  return true;
}

// The host's DNS domain: from its own name, else the resolver's "domain" or first "search".
std::string HostDomain() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) == 0) {
    const std::string_view own(name);
    if (const std::size_t dot = own.find('.'); dot != std::string_view::npos) {
      return std::string(own.substr(dot + 1));
    }
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME;
    addrinfo* list = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &list) == 0) {
      const std::string canonical = list->ai_canonname != nullptr ? list->ai_canonname : "";
      freeaddrinfo(list);
      if (const std::size_t dot = canonical.find('.'); dot != std::string::npos) {
        return canonical.substr(dot + 1);
      }
    }
  }
  std::ifstream resolver("/etc/resolv.conf");
  std::string line;
  while (std::getline(resolver, line)) {
    std::istringstream words(line);
    std::string keyword;
    std::string domain;
    if (words >> keyword >> domain && (keyword == "domain" || keyword == "search")) {
      return domain;
    }
  }
  return {};
}

// WPAD by DNS: the first wpad.<domain> that resolves and serves wpad.dat.
std::pair<std::string, DownloadedScript> DetectWpad(const SessionState& session) {
  std::string domain = HostDomain();
  if (domain.empty()) {
    Fail(ERROR_WINHTTP_AUTODETECTION_FAILED, "WPAD: the host has no DNS domain");
  }
  while (domain.find('.') != std::string::npos) {
    const std::string host = "wpad." + domain;
    if (Resolves(host)) {
      const std::string url = "http://" + host + "/wpad.dat";
      try {
        return {url, DownloadPacScript(url, session)};
      } catch (const HttpFailure&) {
        // noted by the download; the next parent domain may answer
      }
    } else {
      LastProxyDiscovery().notes.push_back("WPAD: " + host + " does not resolve");
    }
    domain.erase(0, domain.find('.') + 1);
  }
  Fail(ERROR_WINHTTP_AUTODETECTION_FAILED, "WPAD: no wpad.dat found");
}

void LoadScript(AutoProxyCache& cache, const std::string& url, DownloadedScript script,
                const SessionState& session) {
  cache.engine.reset();
  cache.scriptUrl.clear();
  auto engine = std::make_unique<ProxyHelperProcess>("pac");
  if (!engine->Send(script.bytes)) {
    Fail(ERROR_WINHTTP_AUTO_PROXY_SERVICE_ERROR, "the script engine could not be started");
  }
  const std::optional<std::string> loaded = engine->Receive(AnswerTimeoutMs(session), 4096);
  if (!loaded && !engine->TimedOut()) {
    Fail(ERROR_WINHTTP_AUTO_PROXY_SERVICE_ERROR,
         "the script engine could not run (horodex-proxy-helper or libduktape missing)");
  }
  if (!loaded) {
    Fail(ERROR_WINHTTP_SCRIPT_EXECUTION_ERROR, "script " + url + " did not load within " +
                                                   std::to_string(AnswerTimeoutMs(session)) +
                                                   " ms and was stopped");
  }
  if (loaded->rfind("SYNTAX ", 0) == 0) {
    Fail(ERROR_WINHTTP_BAD_AUTO_PROXY_SCRIPT, "script " + url + ": " + loaded->substr(7));
  }
  if (*loaded == "NOFUNC") {
    Fail(ERROR_WINHTTP_BAD_AUTO_PROXY_SCRIPT, "script " + url + " has no FindProxyForURL");
  }
  if (*loaded != "OK") {
    Fail(ERROR_WINHTTP_SCRIPT_EXECUTION_ERROR, "script " + url + ": " + *loaded);
  }
  cache.engine = std::move(engine);
  cache.scriptUrl = url;
  cache.expires =
      Clock::now() + (script.maxAgeSeconds >= 0 ? std::chrono::seconds(script.maxAgeSeconds)
                                                : std::chrono::seconds(kDefaultScriptLifetime));
}

std::string Ask(AutoProxyCache& cache, const std::string& url, const std::string& host,
                const SessionState& session) {
  const long timeout = AnswerTimeoutMs(session);
  std::optional<std::string> reply;
  if (cache.engine->Send(url + "\n" + host)) {
    reply = cache.engine->Receive(timeout, kMaxAnswerBytes);
  }
  if (!reply) {
    cache.engine.reset();  // stopped; the next call loads the script afresh
    cache.scriptUrl.clear();
    Fail(ERROR_WINHTTP_SCRIPT_EXECUTION_ERROR, "FindProxyForURL did not answer within " +
                                                   std::to_string(timeout) + " ms and was stopped");
  }
  if (reply->rfind("ANSWER ", 0) == 0) {
    LastProxyDiscovery().scriptAnswer = reply->substr(7);
    return reply->substr(7);
  }
  if (reply->rfind("TYPE ", 0) == 0) {
    Fail(ERROR_WINHTTP_SCRIPT_EXECUTION_ERROR,
         "FindProxyForURL returned a " + reply->substr(5) + ", not a string");
  }
  Fail(ERROR_WINHTTP_SCRIPT_EXECUTION_ERROR, "FindProxyForURL failed: " + reply->substr(6));
}

// Whether something accepts a TCP connection at the candidate within the time.
bool Reachable(const PacProxy& candidate, long timeoutMs) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(candidate.host.c_str(), candidate.port.c_str(), &hints, &list) != 0) {
    return false;
  }
  bool reached = false;
  for (const addrinfo* entry = list; entry != nullptr && !reached; entry = entry->ai_next) {
    const int fd = socket(entry->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      continue;
    }
    if (connect(fd, entry->ai_addr, entry->ai_addrlen) == 0) {
      reached = true;
    } else if (errno == EINPROGRESS) {
      pollfd wait{fd, POLLOUT, 0};
      int error = 0;
      socklen_t length = sizeof error;
      reached = poll(&wait, 1, static_cast<int>(timeoutMs)) == 1 &&
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    }
    close(fd);
  }
  freeaddrinfo(list);
  return reached;
}

// The proxy list for the answer: with several choices, the first proxy that accepts a
// connection, else DIRECT when the answer offers it, else the whole list.
std::string ProxyListOf(const std::string& answer, const SessionState& session) {
  bool direct = false;
  const std::vector<PacProxy> candidates = ParsePacAnswer(answer, direct);
  if (candidates.empty()) {
    return {};
  }
  if (candidates.size() > 1 || direct) {
    const long timeout = session.timeouts.connectMs > 0 && session.timeouts.connectMs < kMaxProbeMs
                             ? session.timeouts.connectMs
                             : kMaxProbeMs;
    for (const PacProxy& candidate : candidates) {
      if (Reachable(candidate, timeout)) {
        return candidate.url;
      }
      LastProxyDiscovery().notes.push_back("proxy " + candidate.url + " does not answer");
    }
    if (direct) {
      return {};
    }
  }
  std::string list;
  for (const PacProxy& candidate : candidates) {
    list += (list.empty() ? "" : ";") + candidate.url;
  }
  return list;
}

wchar_t* CopyOut(const std::string& text) {
  const std::wstring wide = NarrowToWide(text);
  auto* out = static_cast<wchar_t*>(std::malloc((wide.size() + 1) * sizeof(wchar_t)));
  if (out == nullptr) {
    FailWith(ERROR_NOT_ENOUGH_MEMORY);
  }
  std::wmemcpy(out, wide.c_str(), wide.size() + 1);
  return out;
}

}  // namespace

BOOL WinHttpGetProxyForUrl(HINTERNET session, const wchar_t* url,
                           const WINHTTP_AUTOPROXY_OPTIONS* options,
                           WINHTTP_PROXY_INFO_RESULT* proxyInfo) {
  return Guarded(FALSE, [&]() -> BOOL {
    SessionState& state = *ObjectOf<SessionObject, HttpObjectKind::session>(session).state;
    if (url == nullptr || options == nullptr || proxyInfo == nullptr ||
        (options->dwFlags & (WINHTTP_AUTOPROXY_AUTO_DETECT | WINHTTP_AUTOPROXY_CONFIG_URL)) == 0 ||
        ((options->dwFlags & WINHTTP_AUTOPROXY_CONFIG_URL) != 0 &&
         options->lpszAutoConfigUrl == nullptr)) {
      FailWith(ERROR_INVALID_PARAMETER);
    }
    const std::string target = Utf8Of(url, std::wcslen(url), ERROR_WINHTTP_INVALID_URL);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    if (!WinHttpCrackUrl(url, 0, 0, &parts)) {
      FailWith(GetLastError());
    }
    const std::string host =
        Utf8Of(parts.lpszHostName, parts.dwHostNameLength, ERROR_WINHTTP_INVALID_URL);
    if (!state.autoProxy) {
      state.autoProxy = std::make_shared<AutoProxyCache>();
    }
    AutoProxyCache& cache = *state.autoProxy;
    ProxyDiscoveryReport& report = LastProxyDiscovery();
    std::string scriptUrl;
    if ((options->dwFlags & WINHTTP_AUTOPROXY_AUTO_DETECT) != 0) {
      // A script found earlier is used while it lasts; a detection that found none is not
      // repeated for a while.
      if (cache.engine && Clock::now() < cache.expires &&
          cache.scriptUrl.find("/wpad.dat") != std::string::npos) {
        scriptUrl = cache.scriptUrl;
      } else if (Clock::now() < cache.noWpadUntil) {
        Fail(ERROR_WINHTTP_AUTODETECTION_FAILED, "WPAD: found nothing a short while ago");
      } else {
        try {
          auto [found, script] = DetectWpad(state);
          scriptUrl = found;
          report.scriptUrl = scriptUrl;
          LoadScript(cache, scriptUrl, std::move(script), state);
        } catch (const HttpFailure& failure) {
          if (failure.code == ERROR_WINHTTP_AUTODETECTION_FAILED) {
            cache.noWpadUntil = Clock::now() + kNoWpadLifetime;
          }
          throw;
        }
      }
    } else {
      scriptUrl = Utf8Of(options->lpszAutoConfigUrl, std::wcslen(options->lpszAutoConfigUrl),
                         ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT);
    }
    report.scriptUrl = scriptUrl;
    if (!cache.engine || cache.scriptUrl != scriptUrl || Clock::now() >= cache.expires) {
      LoadScript(cache, scriptUrl, DownloadPacScript(scriptUrl, state), state);
    }
    const std::string list = ProxyListOf(Ask(cache, target, host, state), state);
    WINHTTP_PROXY_INFO_RESULT result{};
    result.dwAccessType =
        list.empty() ? WINHTTP_ACCESS_TYPE_NO_PROXY : WINHTTP_ACCESS_TYPE_NAMED_PROXY;
    if (!list.empty()) {
      result.lpszProxy = CopyOut(list);
    }
    *proxyInfo = result;
    return TRUE;
  });
}

}  // namespace Velmora::Platform
