// The HTTP exchange with a time-stamping authority: one POST of a body to the TSA's URL through
// an optional proxy, answering the server's and the proxy's authentication challenges, and the
// reply body and HTTP status back.
//
//   Velmora::PKI::CHttpSettings http;
//   http.url = L"https://tsa.example/tsp";
//   CBlob reply = Velmora::PKI::SendRequest(http, L"Content-type: application/timestamp-query",
//                                           encodedRequest, false);
//   if (http.httpStatus != 200) ...
#pragma once

#include <string>

#include "codec/corekit/blob.h"
#include "platform/base/types.h"
#include "platform/http/winhttp.h"

namespace Velmora::PKI {

using Platform::DWORD;

// The user agent both callers give: the time-stamp request and the Authenticode request.
inline constexpr const wchar_t* kHorodexUserAgent = L"Velmora horodex.dll";

// CHttpSession: owns the HTTP client session of a settings object. It is closed when its owner
// is destroyed; a copy starts without one, and assigning to an owner closes the session it had.
class CHttpSession {
 public:
  CHttpSession() = default;
  ~CHttpSession();
  CHttpSession(const CHttpSession&) noexcept {}
  CHttpSession& operator=(const CHttpSession& other) noexcept;

  Platform::HINTERNET get() const noexcept { return m_handle; }
  explicit operator bool() const noexcept { return m_handle != nullptr; }
  void reset(Platform::HINTERNET handle = nullptr) noexcept;

 private:
  Platform::HINTERNET m_handle = nullptr;
};

// Time-outs of an exchange, in milliseconds (0 waits without limit). The defaults are WinHTTP's;
// see platform/http/winhttp.h for what each one bounds.
struct CHttpTimeouts {
  int connectMs = 60000;
  int sendMs = 30000;
  int receiveMs = 30000;

  // Time-outs that bound one exchange to `overallMs` in all (the exchange is cut at their sum):
  // a quarter to connect, a quarter to send, the rest to receive, where a TSA's signing waits.
  // 0 gives WinHTTP's defaults.
  static CHttpTimeouts Within(unsigned long overallMs) {
    if (overallMs == 0) {
      return {};
    }
    const int overall = overallMs > 0x7FFFFFFFul ? 0x7FFFFFFF : static_cast<int>(overallMs);
    const int quarter = overall / 4 > 0 ? overall / 4 : 1;  // never 0, which waits without limit
    return {quarter, quarter, overall - 2 * quarter > 0 ? overall - 2 * quarter : 1};
  }
};

// CHttpSettings: the connection settings and session of one requester. A new object has empty
// texts, zero numbers, no client certificate, the proxy-set flag false and no session.
struct CHttpSettings {
  std::wstring url;            // the TSA's URL, "http://" or "https://", may carry user:password@
  DWORD serverAuthScheme = 0;  // 0 none, 1 Basic, 2 NTLM, 8 Digest, 16 Negotiate
  std::wstring serverUserName;
  std::wstring serverPassword;
  // Not owned; its key provider information names its private key file.
  Platform::PCCERT_CONTEXT clientCert = nullptr;
  std::wstring proxy;         // explicit proxy URL "http://[user[:password]@]host[:port]", or empty
  bool proxySet = false;      // the proxy was set explicitly, even to empty: no discovery
  std::wstring proxyBypass;   // filled by discovery only
  DWORD proxyAuthScheme = 0;  // as serverAuthScheme, for the proxy
  std::wstring proxyUserName;
  std::wstring proxyPassword;
  DWORD httpStatus = 0;  // output: the status of the last exchange, 0 until one was read
  CHttpSession session;  // opened by the first exchange, reused by the later ones

  // Linux additions, applied to the session at every exchange.
  CHttpTimeouts timeouts;
  // A PEM file of CA certificates trusted for TLS servers in addition to the system's trust
  // store (a private TSA's root, a test CA). Empty: the system's store only.
  std::wstring extraCaFile;
};

// SendRequest: POSTs `body` with the extra `headers` (CR LF between lines, or null) to
// settings.url and returns the reply body when the final status is 200 to 299, an empty blob
// otherwise. settings.httpStatus is set to 0 first and then to each status read; the session is
// opened on the first call and kept in `settings`. `noAutoProxy` forbids proxy discovery from
// the environment. A failure below HTTP (URL, name resolution, connection, TLS, time-out, a
// reply over 64 MiB) throws CAtlException with the WinHTTP error as HRESULT (0x80072EE2 for a
// time-out, 12002); a refused authentication is not a failure but a 401 or 407 status.
CBlob SendRequest(CHttpSettings& settings, const wchar_t* headers, const CBlob& body,
                  bool noAutoProxy, const wchar_t* userAgent = kHorodexUserAgent);

}  // namespace Velmora::PKI
