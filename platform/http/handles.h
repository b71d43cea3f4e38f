// The objects behind the HTTP client's handles. A session owns the libcurl easy handle; the
// connections and requests opened under it share the session's state, so any of them may be
// closed first.
#pragma once

#include <curl/curl.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/errors/guard.h"
#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"
#include "platform/http/curl_util.h"
#include "platform/http/winhttp.h"

namespace Velmora::Platform {

// Failures inside the client travel as this and become the thread's last error at the
// boundary of each exported function.
struct HttpFailure {
  DWORD code;
};

[[noreturn]] inline void FailWith(DWORD code) {
  throw HttpFailure{code};
}

// One entry of a proxy list: which request schemes it serves, and the proxy URL for libcurl.
struct ProxyEntry {
  int forScheme = 0;  // 0 every scheme, else INTERNET_SCHEME_HTTP or INTERNET_SCHEME_HTTPS
  std::string url;    // "http://host:port" or "https://host:port"
};

struct ProxySetting {
  std::vector<ProxyEntry> entries;
  std::vector<std::string> bypass;  // lower-case host patterns
};

// Time-outs in milliseconds; 0 waits without limit.
struct Timeouts {
  long connectMs = 60000;
  long sendMs = 30000;
  long receiveMs = 30000;
};

struct AutoProxyCache;  // the session's proxy script (autoproxy.cpp)

struct SessionState {
  // Declared before the easy handle, so that it outlives the connections that point at it.
  TransferFacts facts;
  CurlEasy easy;
  std::array<char, CURL_ERROR_SIZE> errorBuffer{};
  std::string userAgent;
  std::optional<ProxySetting> proxy;  // none: direct connections
  Timeouts timeouts;
  std::string extraCaPem;  // the contents of WINHTTP_OPTION_EXTRA_CA_FILE, or empty
  std::shared_ptr<AutoProxyCache> autoProxy;  // made by the first WinHttpGetProxyForUrl
};

struct ClientCertificate {
  std::vector<unsigned char> der;
  std::string keyFile;
  std::string keyType;  // "PEM" or "DER"
};

struct Credentials {
  DWORD scheme = 0;  // 0: none set
  std::string user;
  std::string password;
};

// What the last send of a request brought back.
struct Reply {
  long status = 0;
  std::vector<std::string> headers;  // of the final header block, without line ends
  std::vector<unsigned char> body;
  std::size_t readOffset = 0;
};

enum class HttpObjectKind { session, connection, request };

struct HttpObject {
  explicit HttpObject(HttpObjectKind k) : kind(k) {}
  virtual ~HttpObject() = default;
  HttpObject(const HttpObject&) = delete;
  HttpObject& operator=(const HttpObject&) = delete;

  const HttpObjectKind kind;
};

struct SessionObject final : HttpObject {
  SessionObject() : HttpObject(HttpObjectKind::session) {}
  std::shared_ptr<SessionState> state;
};

struct ConnectionObject final : HttpObject {
  ConnectionObject() : HttpObject(HttpObjectKind::connection) {}
  std::shared_ptr<SessionState> session;
  std::string host;  // as given; an IPv6 literal without brackets
  INTERNET_PORT port = 0;
};

struct RequestObject final : HttpObject {
  RequestObject() : HttpObject(HttpObjectKind::request) {}
  std::shared_ptr<SessionState> session;
  std::string host;
  INTERNET_PORT port = 0;
  bool secure = false;
  bool post = true;
  std::string target;  // the request target, starting with "/"
  DWORD autologon = WINHTTP_AUTOLOGON_SECURITY_LEVEL_MEDIUM;
  std::optional<ClientCertificate> clientCert;
  Credentials server;
  Credentials proxy;
  std::optional<Reply> reply;
  DWORD sendError = 0;  // why the last send brought no reply; 0 before the first send
  // A reply to this request challenged with Negotiate: 401 from the server, 407 from the proxy.
  bool serverAskedNegotiate = false;
  bool proxyAskedNegotiate = false;
};

// The object behind a handle, of the kind asked for; a null handle fails with
// ERROR_INVALID_HANDLE, one of another kind with ERROR_WINHTTP_INCORRECT_HANDLE_TYPE.
template <typename T, HttpObjectKind Kind>
T& ObjectOf(HINTERNET handle) {
  if (handle == nullptr) {
    FailWith(ERROR_INVALID_HANDLE);
  }
  if (handle->kind != Kind) {
    FailWith(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE);
  }
  return static_cast<T&>(*handle);
}

// Runs `body` and turns an HttpFailure or an allocation failure into the thread's last error;
// returns `failed` then.
template <typename R, typename F>
R Guarded(R failed, F&& body) noexcept {
  try {
    return body();
  } catch (const HttpFailure& failure) {
    SetLastError(failure.code);
  } catch (...) {
    SetLastError(Win32OfCurrentException(ERROR_WINHTTP_INTERNAL_ERROR));
  }
  return failed;
}

// Narrow (UTF-8) text of a wide text; null gives empty. Text that cannot be converted fails with
// `code`.
std::string Utf8Of(const wchar_t* text, std::size_t length, DWORD code);

// Proxy lists and bypass lists of WINHTTP_OPTION_PROXY (see winhttp.h).
ProxySetting ParseProxySetting(const std::string& proxyList, const std::string& bypassList);
// The proxy URL for a request to `host` with `scheme`, or empty for a direct connection.
std::string ProxyFor(const ProxySetting& setting, int scheme, const std::string& host);

// The schemes that a 401 or 407 reply offers in its challenge headers, the first of them in
// *first; 0 for a reply of another status or without a scheme we know (request.cpp).
DWORD OfferedSchemes(const Reply& reply, DWORD* first);

// The exchange itself (exchange.cpp).
void PerformRequest(RequestObject& request, const std::string& headers, const unsigned char* body,
                    std::size_t bodyLength);

}  // namespace Velmora::Platform
