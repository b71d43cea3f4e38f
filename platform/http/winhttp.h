// The HTTP client of the platform layer: the WinHTTP operations that the HTTP exchange calls,
// under their names, types and error conventions, on libcurl with OpenSSL.
//
// Conventions, as on the original platform:
//   - every function returns TRUE (or a handle) on success; on failure it returns FALSE (or a
//     null handle) and sets the calling thread's last-error code (GetLastError) to a Win32 or
//     WinHTTP error number (12002 time-out, 12005 invalid URL, 12006 unrecognised scheme, 12007
//     name not resolved, 12029 cannot connect, 12030 connection aborted, 12044 client
//     certificate needed, 12175 secure failure ...). No function throws.
//   - handles are HINTERNET values closed with WinHttpCloseHandle. A session owns one libcurl
//     easy handle that every request opened under it uses, one after the other, so connections
//     stay alive between exchanges; handles may be closed in any order.
//
// What differs from the original, and why:
//   - WinHttpSendRequest performs the whole exchange (the request goes out, the reply is read
//     into the request handle); WinHttpReceiveResponse then only reports the outcome and
//     WinHttpReadData hands out the stored body. A reply body larger than
//     kMaxResponseBodyBytes (64 MiB) is refused with ERROR_WINHTTP_RESPONSE_DRAIN_OVERFLOW
//     instead of growing without bound; header lines beyond kMaxResponseHeaderBytes (64 KiB, a
//     single line of 100 KiB or more included) with ERROR_WINHTTP_HEADER_SIZE_OVERFLOW. A 2xx
//     reply in a content coding (Content-Encoding other than identity), which we never ask
//     for, is refused with ERROR_WINHTTP_INVALID_SERVER_RESPONSE rather than inflated; so is
//     framing libcurl cannot read (a chunk size that is not hexadecimal). A reply whose header
//     block never ends (the peer closed after the status line) is a failure (12030).
//   - Time-outs: connect (name resolution, TCP, TLS handshake and proxy tunnel), and the send
//     and receive time-outs as "no byte moved for that long" (rounded up to whole seconds);
//     on top of them the whole exchange is bounded by their sum, so a server that trickles an
//     endless reply cannot hold the caller for ever. Defaults are WinHTTP's: connect 60 s,
//     send 30 s, receive 30 s.
//   - Redirects are never followed: a 3xx reply is a reply like any other.
//   - TLS 1.2 at least, whatever the system's OpenSSL configuration allows.
//   - TLS server certificates are always verified, host name included, against the system's
//     trust store. WINHTTP_OPTION_EXTRA_CA_FILE (our own option) adds the certificates of one
//     PEM file to that store for a session; nothing turns verification off.
//   - A client certificate's private key is the file its key provider information names.
//   - Automatic logon (the logged-on user's credentials for NTLM and Negotiate): at level LOW
//     the Negotiate scheme uses the user's Kerberos credentials (GSS-API default credential
//     cache) for the server or proxy that challenged the request with Negotiate, and for no
//     other; there are no default credentials for NTLM on Linux, so NTLM needs a user name.
//     MEDIUM (WinHTTP's intranet level) is treated as HIGH: no default credentials are sent.
//     A user name and password given for Negotiate get a ticket of their own from the KDC
//     (kerberos_logon.h); where the KDC refuses them, no token is sent, never the logged-on
//     user's in their place.
//   - Only http and https are accepted, for the server and for a proxy.
//   - A reply that is not 2xx keeps its status and challenge even when its sender closes the
//     connection before reading our body or finishing its own (proxies answering 407 do); a
//     2xx body cut short is a failure (12030), never a shorter reply.
//   - A fatal TLS alert from the peer is a secure failure (12175), or 12044 when the server
//     asked for a client certificate that was not given; after a failed send, the status
//     query reports the send's error rather than a handle-state error.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/base/types.h"
#include "platform/capi/wincrypt.h"

namespace Velmora::Platform {

struct HttpObject;  // the objects behind the handles (platform/http/handles.h)
using HINTERNET = HttpObject*;
using INTERNET_PORT = std::uint16_t;
using DWORD_PTR = std::uintptr_t;

// URL schemes and ports.
inline constexpr int INTERNET_SCHEME_HTTP = 1;
inline constexpr int INTERNET_SCHEME_HTTPS = 2;
inline constexpr INTERNET_PORT INTERNET_DEFAULT_HTTP_PORT = 80;
inline constexpr INTERNET_PORT INTERNET_DEFAULT_HTTPS_PORT = 443;
inline constexpr INTERNET_PORT INTERNET_DEFAULT_PORT = 0;

// WinHttpCrackUrl: the parts of a URL, each a pointer into the URL with its length in
// characters; an absent part is a null pointer with length 0.
struct URL_COMPONENTS {
  DWORD dwStructSize;
  const wchar_t* lpszScheme;
  DWORD dwSchemeLength;
  int nScheme;
  const wchar_t* lpszHostName;  // without the brackets of an IPv6 literal
  DWORD dwHostNameLength;
  INTERNET_PORT nPort;  // the explicit port, or the scheme's default
  const wchar_t* lpszUserName;
  DWORD dwUserNameLength;
  const wchar_t* lpszPassword;
  DWORD dwPasswordLength;
  const wchar_t* lpszUrlPath;  // from the "/" after the authority, up to "?" or "#"
  DWORD dwUrlPathLength;
  const wchar_t* lpszExtraInfo;  // the query from its "?", without any "#fragment"
  DWORD dwExtraInfoLength;
};

// WinHttpOpen access types.
inline constexpr DWORD WINHTTP_ACCESS_TYPE_DEFAULT_PROXY = 0;
inline constexpr DWORD WINHTTP_ACCESS_TYPE_NO_PROXY = 1;
inline constexpr DWORD WINHTTP_ACCESS_TYPE_NAMED_PROXY = 3;

// WinHttpOpenRequest flags.
inline constexpr DWORD WINHTTP_FLAG_SECURE = 0x00800000;

// Options of WinHttpSetOption.
inline constexpr DWORD WINHTTP_OPTION_PROXY = 38;
inline constexpr DWORD WINHTTP_OPTION_CLIENT_CERT_CONTEXT = 47;
inline constexpr DWORD WINHTTP_OPTION_AUTOLOGON_POLICY = 77;
// Our own: the path (a NUL-terminated wide text) of a PEM file whose CA certificates are
// trusted for the session's TLS servers in addition to the system's store; an empty text
// removes it. Set on a session; the file is read when the option names a new path.
inline constexpr DWORD WINHTTP_OPTION_EXTRA_CA_FILE = 0x10001;

// WINHTTP_OPTION_AUTOLOGON_POLICY values.
inline constexpr DWORD WINHTTP_AUTOLOGON_SECURITY_LEVEL_MEDIUM = 0;
inline constexpr DWORD WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW = 1;
inline constexpr DWORD WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH = 2;

// WINHTTP_OPTION_PROXY: the proxy list is WinHTTP's list form, entries separated by ";" or
// white space, each "[scheme=][http://|https://]host[:port]"; an entry "http=..." or
// "https=..." serves requests of that scheme only, an entry without "scheme=" serves both.
// The bypass list names hosts reached directly, separated by ";", "," or white space: "*"
// (every host), "<local>" (host names without a dot), "*.example.org" or ".example.org" (the
// domain's hosts), or a host name or address (itself and, for names, the hosts under it).
struct WINHTTP_PROXY_INFO {
  DWORD dwAccessType;
  const wchar_t* lpszProxy;
  const wchar_t* lpszProxyBypass;
};

// WINHTTP_OPTION_CLIENT_CERT_CONTEXT takes a certificate context (PCCERT_CONTEXT, length
// sizeof(CERT_CONTEXT)) whose key provider information (CERT_KEY_PROV_INFO_PROP_ID) names its
// private key file (PEM or DER, unencrypted) in pwszContainerName. A null pointer
// (WINHTTP_NO_CLIENT_CERT_CONTEXT) asks for no client certificate.
inline constexpr PCCERT_CONTEXT WINHTTP_NO_CLIENT_CERT_CONTEXT = nullptr;

// WinHttpQueryHeaders.
inline constexpr DWORD WINHTTP_QUERY_STATUS_CODE = 19;
inline constexpr DWORD WINHTTP_QUERY_FLAG_NUMBER = 0x20000000;

// Authentication schemes and targets.
inline constexpr DWORD WINHTTP_AUTH_SCHEME_BASIC = 0x00000001;
inline constexpr DWORD WINHTTP_AUTH_SCHEME_NTLM = 0x00000002;
inline constexpr DWORD WINHTTP_AUTH_SCHEME_PASSPORT = 0x00000004;
inline constexpr DWORD WINHTTP_AUTH_SCHEME_DIGEST = 0x00000008;
inline constexpr DWORD WINHTTP_AUTH_SCHEME_NEGOTIATE = 0x00000010;
inline constexpr DWORD WINHTTP_AUTH_TARGET_SERVER = 0;
inline constexpr DWORD WINHTTP_AUTH_TARGET_PROXY = 1;

// The browser proxy configuration of the current user; on Linux, the proxy environment
// variables (see WinHttpGetIEProxyConfigForCurrentUser). Strings are allocated by the
// function and released with GlobalFree.
struct WINHTTP_CURRENT_USER_IE_PROXY_CONFIG {
  BOOL fAutoDetect;
  wchar_t* lpszAutoConfigUrl;
  wchar_t* lpszProxy;
  wchar_t* lpszProxyBypass;
};

// WinHttpGetProxyForUrl.
inline constexpr DWORD WINHTTP_AUTOPROXY_AUTO_DETECT = 0x00000001;
inline constexpr DWORD WINHTTP_AUTOPROXY_CONFIG_URL = 0x00000002;
inline constexpr DWORD WINHTTP_AUTOPROXY_RUN_INPROCESS = 0x00010000;
inline constexpr DWORD WINHTTP_AUTO_DETECT_TYPE_DHCP = 0x00000001;
inline constexpr DWORD WINHTTP_AUTO_DETECT_TYPE_DNS_A = 0x00000002;
struct WINHTTP_AUTOPROXY_OPTIONS {
  DWORD dwFlags;
  DWORD dwAutoDetectFlags;
  const wchar_t* lpszAutoConfigUrl;
  void* lpvReserved;
  DWORD dwReserved;
  BOOL fAutoLogonIfChallenged;
};
struct WINHTTP_PROXY_INFO_RESULT {
  DWORD dwAccessType;
  wchar_t* lpszProxy;  // released with GlobalFree
  wchar_t* lpszProxyBypass;
};

// The largest reply body a request takes in.
inline constexpr std::size_t kMaxResponseBodyBytes = std::size_t{64} * 1024 * 1024;
// The most header bytes (status lines included, interim replies counted) a request takes in,
// WinHTTP's default limit.
inline constexpr std::size_t kMaxResponseHeaderBytes = std::size_t{64} * 1024;

// WinHttpCrackUrl: splits `url` (length characters, or up to its NUL when length is 0). Only
// the forms "http://" and "https://" (scheme in any letter case) are taken: another scheme, or
// none, fails with ERROR_WINHTTP_UNRECOGNIZED_SCHEME; an empty host, a port that is not a
// number from 1 to 65535, and white space or control characters anywhere fail with
// ERROR_WINHTTP_INVALID_URL. `flags` must be 0. Components are returned as pointers into
// `url`, which must outlive them.
BOOL WinHttpCrackUrl(const wchar_t* url, DWORD length, DWORD flags, URL_COMPONENTS* components);

// WinHttpOpen: a session with its user agent. Only WINHTTP_ACCESS_TYPE_NO_PROXY and
// WINHTTP_ACCESS_TYPE_NAMED_PROXY (with the proxy list and bypass list) are accepted; `flags`
// must be 0 (synchronous). The environment's proxy variables are never read here.
HINTERNET WinHttpOpen(const wchar_t* userAgent, DWORD accessType, const wchar_t* proxy,
                      const wchar_t* proxyBypass, DWORD flags);

// WinHttpConnect: the target server of later requests. Nothing goes on the network yet.
HINTERNET WinHttpConnect(HINTERNET session, const wchar_t* serverName, INTERNET_PORT port,
                         DWORD reserved);

// WinHttpOpenRequest: a request to the object name (path and query; a leading "/" is added
// when missing) of the connection's server. Only the verbs "POST" and "GET" (null means GET)
// are taken; version, referrer and accept types must be null (the defaults). WINHTTP_FLAG_SECURE
// makes it an https request; other flags are refused.
HINTERNET WinHttpOpenRequest(HINTERNET connect, const wchar_t* verb, const wchar_t* objectName,
                             const wchar_t* version, const wchar_t* referrer,
                             const wchar_t** acceptTypes, DWORD flags);

// WinHttpSetOption: WINHTTP_OPTION_PROXY and WINHTTP_OPTION_EXTRA_CA_FILE on a session;
// WINHTTP_OPTION_AUTOLOGON_POLICY (a DWORD) and WINHTTP_OPTION_CLIENT_CERT_CONTEXT on a
// request. A certificate that does not parse fails with ERROR_INVALID_DATA; one without key
// provider information, or whose key file cannot be read or does not belong to it, with
// ERROR_WINHTTP_CLIENT_CERT_NO_PRIVATE_KEY. The certificate and the key are copied: the
// context may be freed afterwards. On an http request the certificate has no use.
BOOL WinHttpSetOption(HINTERNET handle, DWORD option, const void* buffer, DWORD length);

// WinHttpSetTimeouts, in milliseconds; 0 or -1 waits without limit. The resolve time-out is
// part of the connect time-out here. Set on a session, they apply to its later requests.
BOOL WinHttpSetTimeouts(HINTERNET handle, int resolveTimeout, int connectTimeout, int sendTimeout,
                        int receiveTimeout);

// WinHttpSendRequest: sends the request and reads the reply (see the notes above). `headers`
// are extra header lines separated by CR LF (length in characters, or (DWORD)-1 up to the
// NUL); a line without ":" or with a stray CR or LF fails with ERROR_WINHTTP_INVALID_HEADER.
// The body is `optional` (optionalLength bytes); totalLength must equal optionalLength.
BOOL WinHttpSendRequest(HINTERNET request, const wchar_t* headers, DWORD headersLength,
                        const void* optional, DWORD optionalLength, DWORD totalLength,
                        DWORD_PTR context);
// WinHttpReceiveResponse: TRUE when the last send brought a reply; otherwise FALSE with the
// send's error.
BOOL WinHttpReceiveResponse(HINTERNET request, void* reserved);

// WinHttpQueryHeaders: only WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, into a DWORD.
// Without a reply it fails with the error that left it without one.
BOOL WinHttpQueryHeaders(HINTERNET request, DWORD infoLevel, const wchar_t* name, void* buffer,
                         DWORD* bufferLength, DWORD* index);

// WinHttpQueryAuthSchemes: the schemes offered by the reply's challenge (WWW-Authenticate for
// 401, Proxy-Authenticate for 407), the first offered one, and the target. A reply without a
// challenge of a known scheme fails with ERROR_INVALID_OPERATION.
BOOL WinHttpQueryAuthSchemes(HINTERNET request, DWORD* supportedSchemes, DWORD* firstScheme,
                             DWORD* target);

// WinHttpSetCredentials: the user name and password (null counts as empty) for one scheme and
// target, used by the next sends of the request.
BOOL WinHttpSetCredentials(HINTERNET request, DWORD target, DWORD scheme, const wchar_t* userName,
                           const wchar_t* password, void* params);

// WinHttpReadData: the next bytes of the reply body; 0 bytes read marks its end.
BOOL WinHttpReadData(HINTERNET request, void* buffer, DWORD bytesToRead, DWORD* bytesRead);

// WinHttpCloseHandle: closes any handle; a null or unknown handle fails with
// ERROR_INVALID_HANDLE.
BOOL WinHttpCloseHandle(HINTERNET handle);

// WinHttpGetIEProxyConfigForCurrentUser: on Linux, the proxy environment variables. lpszProxy
// lists "http=<http_proxy>" and "https=<https_proxy or HTTPS_PROXY>", and "<all_proxy or
// ALL_PROXY>" (for both schemes) when set, separated by ";"; a proxy URL's user name and
// password are left out. lpszProxyBypass is no_proxy (or NO_PROXY). When none of them is set,
// the desktop's settings (GNOME's org.gnome.system.proxy through GSettings, KDE's kioslaverc; see
// desktop_proxy.h) fill the four fields: automatic detection, the script URL, the static proxy
// list and the bypass list. With no configuration anywhere the call fails with
// ERROR_FILE_NOT_FOUND, as the original does; a desktop proxy with an invalid host or port fails
// with ERROR_WINHTTP_INVALID_URL.
BOOL WinHttpGetIEProxyConfigForCurrentUser(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG* config);

// WinHttpGetProxyForUrl: runs the proxy auto-configuration script for `url`: the one at
// lpszAutoConfigUrl (http, https or file:), or with WINHTTP_AUTOPROXY_AUTO_DETECT the first
// http://wpad.<domain>/wpad.dat of the host's DNS domain and its parents. The script runs in
// horodex-proxy-helper, at most the session's receive time-out (10 s at most) per answer, and
// stays loaded on the session until it expires (its max-age, else 24 hours). The answer
// ("PROXY h:p; HTTPS h:p; DIRECT", SOCKS entries skipped) becomes a named proxy list; with
// several choices the first proxy that accepts a connection is taken; a DIRECT first gives
// WINHTTP_ACCESS_TYPE_NO_PROXY. Failures: no WPAD found ERROR_WINHTTP_AUTODETECTION_FAILED;
// the script cannot be had ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT; a script over 1 MiB, with a
// syntax error or without FindProxyForURL ERROR_WINHTTP_BAD_AUTO_PROXY_SCRIPT; one that fails,
// overstays, returns no string or a malformed answer ERROR_WINHTTP_SCRIPT_EXECUTION_ERROR; not
// a script ERROR_WINHTTP_UNHANDLED_SCRIPT_TYPE; no helper or script engine installed
// ERROR_WINHTTP_AUTO_PROXY_SERVICE_ERROR. LastProxyDiscovery (proxy_report.h) tells why.
BOOL WinHttpGetProxyForUrl(HINTERNET session, const wchar_t* url,
                           const WINHTTP_AUTOPROXY_OPTIONS* options,
                           WINHTTP_PROXY_INFO_RESULT* proxyInfo);

// GlobalFree: releases a string returned by the two functions above; null is allowed.
void* GlobalFree(void* memory) noexcept;

}  // namespace Velmora::Platform
