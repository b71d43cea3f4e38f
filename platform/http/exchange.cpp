// One exchange on the session's easy handle: every option set for this request (nothing is left
// over from the previous one), the reply's last header block and its body collected, and the
// outcome kept on the request for the status, challenge and body queries.
#include <openssl/opensslv.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>

#include "platform/http/dl_symbol.h"
#include "platform/http/handles.h"
#include "platform/http/kerberos_logon.h"

namespace Velmora::Platform {

namespace {

struct Collector {
  std::vector<std::string> headers;
  std::vector<unsigned char> body;
  TransferFacts& facts;
  std::size_t headerBytes = 0;
  bool coded = false;  // the current block names a content coding other than identity
  // With CURLOPT_HEADER, libcurl hands each line of a header block to OnBody before it stores the
  // line, then to OnHeader; `pending` counts what OnBody took since OnHeader was last called.
  std::size_t pending = 0;
  bool statusNext = true;       // the next line of a header block is a status line
  bool firstFieldNext = false;  // the next line is the first after a status line
};

bool NamesContentCoding(std::string_view line) {
  constexpr std::string_view kName = "Content-Encoding:";
  if (line.size() < kName.size() || strncasecmp(line.data(), kName.data(), kName.size()) != 0) {
    return false;
  }
  std::string_view value = line.substr(kName.size());
  const std::size_t begin = value.find_first_not_of(" \t");
  value = begin == std::string_view::npos ? std::string_view() : value.substr(begin);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
    value.remove_suffix(1);
  }
  return !value.empty() && !(value.size() == 8 && strncasecmp(value.data(), "identity", 8) == 0);
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto& collector = *static_cast<Collector*>(user);
  std::string_view line(data, size * count);
  // A line of a header block came through OnBody just before, and is taken back out of the body;
  // a trailer line did not.
  const bool ofBlock = collector.pending >= line.size() &&
                       std::memcmp(collector.body.data() + collector.body.size() - line.size(),
                                   line.data(), line.size()) == 0;
  collector.pending = 0;
  if (ofBlock) {
    collector.body.resize(collector.body.size() - line.size());
    collector.firstFieldNext = collector.statusNext;
    collector.statusNext = !line.empty() && (line[0] == '\r' || line[0] == '\n');  // block ends
  }
  collector.headerBytes += line.size();
  if (collector.headerBytes > kMaxResponseHeaderBytes) {
    collector.facts.headersTooLarge = true;
    return 0;  // libcurl stops the transfer with CURLE_WRITE_ERROR
  }
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
    line.remove_suffix(1);
  }
  // Each status line starts a new block (a proxy's answer to CONNECT, an interim 100, a first
  // leg of an authentication handshake); only the last block describes the reply.
  if (line.substr(0, 5) == "HTTP/") {
    collector.headers.clear();
    collector.coded = false;
    collector.facts.inHeaders = true;
  }
  if (line.empty()) {
    collector.facts.inHeaders = false;
  } else {
    collector.coded = collector.coded || NamesContentCoding(line);
    collector.headers.emplace_back(line);
  }
  return size * count;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto& collector = *static_cast<Collector*>(user);
  const std::size_t length = size * count;
  // libcurl 7.88 appends a line that starts with white space to the header it stored last, and
  // after the handle's first transfer, until a header of the current one is stored, that header
  // is one it has already freed. Nothing may follow a status line that way (RFC 9112, 2.2).
  if (collector.firstFieldNext && collector.pending == 0 && length > 0 &&
      (data[0] == ' ' || data[0] == '\t')) {
    collector.facts.foldedFirstField = true;
    return 0;  // libcurl stops the transfer with CURLE_WRITE_ERROR before it stores the line
  }
  if (length > kMaxResponseBodyBytes - collector.body.size()) {
    collector.facts.bodyTooLarge = true;
    return 0;  // libcurl stops the transfer with CURLE_WRITE_ERROR
  }
  collector.body.insert(collector.body.end(), data, data + length);
  collector.pending += length;
  return length;
}

#define HORODEX_SONAME_NUMBER(n) #n
#define HORODEX_SONAME(n) HORODEX_SONAME_NUMBER(n)

// libssl's functions, resolved when libcurl first hands over a TLS context. libcurl, built on
// OpenSSL, has mapped libssl by then, so dlopen only finds it; a process that never opens a TLS
// connection (shows, verifies or writes a request) never maps libssl nor binds its symbols.
struct SslFunctions {
  decltype(&SSL_CTX_get_ex_data) ctxGetExData;
  decltype(&SSL_CTX_set_ex_data) ctxSetExData;
  decltype(&SSL_get_SSL_CTX) getSslCtx;
  decltype(&SSL_CTX_set_client_cert_cb) ctxSetClientCertCb;
  decltype(&SSL_CTX_set_info_callback) ctxSetInfoCallback;
};

// Opened once and kept for the process; null when libssl or one of its functions is missing.
const SslFunctions* Ssl() noexcept {
  static const SslFunctions* const loaded = []() -> const SslFunctions* {
    void* library =
        dlopen("libssl.so." HORODEX_SONAME(OPENSSL_SHLIB_VERSION), RTLD_NOW | RTLD_LOCAL);
    static SslFunctions f{};
    const bool all = ResolveSymbol(library, "SSL_CTX_get_ex_data", f.ctxGetExData) &&
                     ResolveSymbol(library, "SSL_CTX_set_ex_data", f.ctxSetExData) &&
                     ResolveSymbol(library, "SSL_get_SSL_CTX", f.getSslCtx) &&
                     ResolveSymbol(library, "SSL_CTX_set_client_cert_cb", f.ctxSetClientCertCb) &&
                     ResolveSymbol(library, "SSL_CTX_set_info_callback", f.ctxSetInfoCallback);
    return all ? &f : nullptr;
  }();
  return loaded;
}

// The index of our slot in an SSL_CTX's extra data, where the collector's facts are found.
int FactsIndex() {
  static std::once_flag once;
  static int index = -1;
  std::call_once(once,
                 [] { index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr); });
  return index;
}

// The facts of the transfer whose TLS session this is (the callbacks below run only once
// OnSslContext found libssl).
TransferFacts* FactsOf(const SSL* ssl) {
  const SslFunctions* f = Ssl();
  return static_cast<TransferFacts*>(f->ctxGetExData(f->getSslCtx(ssl), FactsIndex()));
}

// Called by OpenSSL when the server asks for a client certificate and none was configured.
int OnClientCertRequested(SSL* ssl, X509** /*certificate*/, EVP_PKEY** /*key*/) {
  if (TransferFacts* facts = FactsOf(ssl); facts != nullptr) {
    facts->clientCertRequested = true;
  }
  return 0;  // go on without a certificate; the server decides
}

// Called by OpenSSL at points of the TLS session; a fatal alert from the peer is recorded.
void OnTlsInfo(const SSL* ssl, int where, int value) {
  if ((where & SSL_CB_READ_ALERT) == 0 || (value >> 8) != SSL3_AL_FATAL) {
    return;
  }
  if (TransferFacts* facts = FactsOf(ssl); facts != nullptr) {
    facts->fatalAlert = value & 0xFF;
  }
}

CURLcode OnSslContext(CURL* /*handle*/, void* sslContext, void* user) {
  auto* context = static_cast<SSL_CTX*>(sslContext);
  const SslFunctions* f = Ssl();
  if (f == nullptr || FactsIndex() < 0 || f->ctxSetExData(context, FactsIndex(), user) != 1) {
    return CURLE_SSL_CONNECT_ERROR;
  }
  f->ctxSetClientCertCb(context, OnClientCertRequested);
  f->ctxSetInfoCallback(context, OnTlsInfo);
  return CURLE_OK;
}

long CurlAuthOf(DWORD scheme) {
  switch (scheme) {
    case WINHTTP_AUTH_SCHEME_NTLM:
      return static_cast<long>(CURLAUTH_NTLM);
    case WINHTTP_AUTH_SCHEME_DIGEST:
      return static_cast<long>(CURLAUTH_DIGEST);
    case WINHTTP_AUTH_SCHEME_NEGOTIATE:
      return static_cast<long>(CURLAUTH_NEGOTIATE);
    default:
      return static_cast<long>(CURLAUTH_BASIC);
  }
}

// Credentials for one target: the ones set; or at the LOW automatic-logon level the user's own
// through Negotiate (GSS-API takes them from the credential cache; libcurl needs an empty user
// name to try), at once to a target that challenged this request with Negotiate before, else
// only once it asks (libcurl would send the ticket with its first request, asked or not); or
// none.
void SetAuth(CURL* easy, const Credentials& credentials, bool low, bool asked, CURLoption auth,
             CURLoption user, CURLoption password) {
  if (credentials.scheme != 0) {
    SetOpt(easy, auth, CurlAuthOf(credentials.scheme));
    SetOpt(easy, user, credentials.user.c_str());
    SetOpt(easy, password, credentials.password.c_str());
  } else if (low) {
    SetOpt(easy, auth,
           static_cast<long>(asked ? CURLAUTH_NEGOTIATE : CURLAUTH_NEGOTIATE | CURLAUTH_ONLY));
    SetOpt(easy, user, "");
    SetOpt(easy, password, "");
  } else {
    SetOpt(easy, auth, static_cast<long>(CURLAUTH_BASIC));
    SetOpt(easy, user, static_cast<const char*>(nullptr));
    SetOpt(easy, password, static_cast<const char*>(nullptr));
  }
}

// Header lines separated by CR LF; each must be "name: value" without stray line breaks.
CurlSlist HeaderList(const std::string& headers, bool* hasContentType) {
  CurlSlist list;
  const auto append = [&list](const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (grown == nullptr) {
      FailWith(ERROR_NOT_ENOUGH_MEMORY);
    }
    static_cast<void>(list.release());
    list.reset(grown);
  };
  *hasContentType = false;
  std::size_t start = 0;
  while (start < headers.size()) {
    std::size_t end = headers.find("\r\n", start);
    if (end == std::string::npos) {
      end = headers.size();
    }
    const std::string line = headers.substr(start, end - start);
    start = end + 2;
    if (line.empty()) {
      continue;
    }
    const std::size_t colon = line.find(':');
    if (colon == 0 || colon == std::string::npos ||
        line.find_first_of("\r\n") != std::string::npos ||
        line.substr(0, colon).find_first_of(" \t") != std::string::npos) {
      FailWith(ERROR_WINHTTP_INVALID_HEADER);
    }
    if (colon == 12 && strncasecmp(line.c_str(), "Content-Type", 12) == 0) {
      *hasContentType = true;
    }
    append(line);
  }
  // libcurl's own additions that WinHTTP does not make: a form content type for a POST
  // without one, "Expect: 100-continue" for large bodies, and "Accept: */*".
  if (!*hasContentType) {
    append("Content-Type:");
  }
  append("Expect:");
  append("Accept:");
  return list;
}

}  // namespace

void PerformRequest(RequestObject& request, const std::string& headers, const unsigned char* body,
                    std::size_t bodyLength) {
  SessionState& session = *request.session;
  CURL* easy = session.easy.get();
  if (request.reply) {
    DWORD first = 0;
    const bool negotiate =
        (OfferedSchemes(*request.reply, &first) & WINHTTP_AUTH_SCHEME_NEGOTIATE) != 0;
    (request.reply->status == 407 ? request.proxyAskedNegotiate : request.serverAskedNegotiate) |=
        negotiate;
  }
  request.reply.reset();
  request.sendError = 0;

  const std::string host =
      request.host.find(':') != std::string::npos ? "[" + request.host + "]" : request.host;
  const std::string url = std::string(request.secure ? "https://" : "http://") + host + ":" +
                          std::to_string(request.port) + request.target;
  bool hasContentType = false;
  const CurlSlist headerList = HeaderList(headers, &hasContentType);
  // Nothing of this call (headers, body, collector) may stay reachable from the handle once it
  // returns, whichever way it returns.
  struct Forget {
    CURL* easy;
    // Setting these pointer options to null only forgets a pointer; it has no failure to
    // report, and a destructor could not report one.
    ~Forget() {
      static_cast<void>(
          curl_easy_setopt(easy, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr)));
      static_cast<void>(
          curl_easy_setopt(easy, CURLOPT_POSTFIELDS, static_cast<const char*>(nullptr)));
      static_cast<void>(curl_easy_setopt(easy, CURLOPT_HEADERDATA, static_cast<void*>(nullptr)));
      static_cast<void>(curl_easy_setopt(easy, CURLOPT_WRITEDATA, static_cast<void*>(nullptr)));
    }
  } forget{easy};
  // The facts live in the session: the TLS contexts of kept-alive connections point at them.
  session.facts = TransferFacts{};
  Collector collector{{}, {}, session.facts};

  session.errorBuffer[0] = '\0';
  SetOpt(easy, CURLOPT_ERRORBUFFER, session.errorBuffer.data());
  SetUpTransfer(easy, {url.c_str(), "http,https", 0L,
                       session.userAgent.empty() ? nullptr : session.userAgent.c_str()});
  SetOpt(easy, CURLOPT_VERBOSE, 0L);  // its output would show authorization headers
  SetOpt(easy, CURLOPT_UNRESTRICTED_AUTH, 0L);
  SetOpt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  SetOpt(easy, CURLOPT_HTTPHEADER, headerList.get());
  SetOpt(easy, CURLOPT_ACCEPT_ENCODING, static_cast<const char*>(nullptr));
  SetOpt(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);  // never inflate what a peer sends
  if (request.post) {
    SetOpt(easy, CURLOPT_POST, 1L);
    SetOpt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(bodyLength));
    SetOpt(easy, CURLOPT_POSTFIELDS, bodyLength == 0 ? "" : reinterpret_cast<const char*>(body));
  } else {
    SetOpt(easy, CURLOPT_HTTPGET, 1L);
  }

  SetOpt(easy, CURLOPT_HEADER, 1L);  // header lines reach OnBody first, see Collector
  SetOpt(easy, CURLOPT_HEADERFUNCTION, &OnHeader);
  SetOpt(easy, CURLOPT_HEADERDATA, &collector);
  SetOpt(easy, CURLOPT_WRITEFUNCTION, &OnBody);
  SetOpt(easy, CURLOPT_WRITEDATA, &collector);
  SetOpt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxResponseBodyBytes));

  const Timeouts& limits = session.timeouts;
  const long idleMs = std::max(limits.sendMs, limits.receiveMs);
  SetOpt(easy, CURLOPT_CONNECTTIMEOUT_MS, limits.connectMs);
  SetOpt(easy, CURLOPT_LOW_SPEED_LIMIT, idleMs > 0 ? 1L : 0L);
  SetOpt(easy, CURLOPT_LOW_SPEED_TIME, idleMs > 0 ? (idleMs + 999) / 1000 : 0L);
  const bool bounded = limits.connectMs > 0 && limits.sendMs > 0 && limits.receiveMs > 0;
  SetOpt(easy, CURLOPT_TIMEOUT_MS,
         bounded ? limits.connectMs + limits.sendMs + limits.receiveMs : 0L);

  // TLS: 1.2 at least, and the peer always verified, host name included.
  SetOpt(easy, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
  SetOpt(easy, CURLOPT_PROXY_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
  SetOpt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  SetOpt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  SetOpt(easy, CURLOPT_PROXY_SSL_VERIFYPEER, 1L);
  SetOpt(easy, CURLOPT_PROXY_SSL_VERIFYHOST, 2L);
  curl_blob extraCa{session.extraCaPem.data(), session.extraCaPem.size(), CURL_BLOB_COPY};
  SetOpt(easy, CURLOPT_CAINFO_BLOB, session.extraCaPem.empty() ? nullptr : &extraCa);
  SetOpt(easy, CURLOPT_PROXY_CAINFO_BLOB, session.extraCaPem.empty() ? nullptr : &extraCa);
  if (request.clientCert) {
    curl_blob cert{request.clientCert->der.data(), request.clientCert->der.size(), CURL_BLOB_COPY};
    SetOpt(easy, CURLOPT_SSLCERT_BLOB, &cert);
    SetOpt(easy, CURLOPT_SSLCERTTYPE, "DER");
    SetOpt(easy, CURLOPT_SSLKEY, request.clientCert->keyFile.c_str());
    SetOpt(easy, CURLOPT_SSLKEYTYPE, request.clientCert->keyType.c_str());
  } else {
    SetOpt(easy, CURLOPT_SSLCERT_BLOB, static_cast<curl_blob*>(nullptr));
    SetOpt(easy, CURLOPT_SSLCERTTYPE, static_cast<const char*>(nullptr));
    SetOpt(easy, CURLOPT_SSLKEY, static_cast<const char*>(nullptr));
    SetOpt(easy, CURLOPT_SSLKEYTYPE, static_cast<const char*>(nullptr));
  }
  SetOpt(easy, CURLOPT_SSL_CTX_FUNCTION, &OnSslContext);
  SetOpt(easy, CURLOPT_SSL_CTX_DATA, &session.facts);

  // Proxy: only the session's setting counts; an empty proxy text also keeps libcurl from
  // reading the environment's proxy variables, and an empty no-proxy list from reading no_proxy.
  const std::string proxy =
      session.proxy
          ? ProxyFor(*session.proxy, request.secure ? INTERNET_SCHEME_HTTPS : INTERNET_SCHEME_HTTP,
                     request.host)
          : std::string();
  SetOpt(easy, CURLOPT_PROXY, proxy.c_str());
  SetOpt(easy, CURLOPT_NOPROXY, "");
  SetOpt(easy, CURLOPT_HTTPPROXYTUNNEL, 0L);
  SetOpt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 0L);
  SetOpt(easy, CURLOPT_PROXY_SSLCERT_BLOB, static_cast<curl_blob*>(nullptr));

  // Negotiate for a named user goes out with that user's own ticket (one user per exchange, the
  // server's first), or not at all; never with the logged-on user's in its place.
  const auto named = [](const Credentials& c) {
    return c.scheme == WINHTTP_AUTH_SCHEME_NEGOTIATE && !c.user.empty();
  };
  const Credentials* user = named(request.server)  ? &request.server
                            : named(request.proxy) ? &request.proxy
                                                   : nullptr;
  std::optional<KerberosLogon> logon;
  if (user != nullptr) {
    logon.emplace(user->user, user->password);
  }
  const auto usable = [&](const Credentials& c) {
    return !named(c) || (logon->InForce() && c.user == user->user && c.password == user->password);
  };
  const bool serverUsable = usable(request.server);
  const bool proxyUsable = usable(request.proxy);
  static const Credentials kNone{};
  const bool low = request.autologon == WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;
  SetAuth(easy, serverUsable ? request.server : kNone, low && serverUsable,
          request.serverAskedNegotiate, CURLOPT_HTTPAUTH, CURLOPT_USERNAME, CURLOPT_PASSWORD);
  SetAuth(easy, proxyUsable ? request.proxy : kNone, low && proxyUsable,
          request.proxyAskedNegotiate, CURLOPT_PROXYAUTH, CURLOPT_PROXYUSERNAME,
          CURLOPT_PROXYPASSWORD);

  const CURLcode result = curl_easy_perform(easy);

  long status = 0;
  long connectStatus = 0;
  long osErrno = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_getinfo(easy, CURLINFO_HTTP_CONNECTCODE, &connectStatus);
  curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osErrno);
  session.facts.framingRefused = result == CURLE_RECV_ERROR && osErrno == 0 && status > 0;
  const bool twoHundred = status >= 200 && status <= 299;
  const bool abortedAfterHeaders =
      (result == CURLE_RECV_ERROR || result == CURLE_SEND_ERROR || result == CURLE_PARTIAL_FILE) &&
      !session.facts.bodyTooLarge && (status < 200 || status > 299);
  if (session.facts.foldedFirstField) {
    request.sendError = ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
  } else if (result == CURLE_OK && status > 0 && session.facts.inHeaders) {
    // The peer closed before the end of its header block: nothing of the reply is whole.
    request.sendError = ERROR_WINHTTP_CONNECTION_ERROR;
  } else if (result == CURLE_OK && twoHundred && collector.coded) {
    request.sendError = ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
  } else if (result == CURLE_OK && status > 0) {
    request.reply = Reply{status, std::move(collector.headers), std::move(collector.body), 0};
  } else if (status > 0 && abortedAfterHeaders) {
    // A refusal (a proxy's 407 among them) whose sender closed the connection before reading
    // our body or before finishing its own: the status and challenge stand; its body is
    // never used, and a 2xx body cut short is never taken for a whole one.
    request.reply = Reply{status, std::move(collector.headers), {}, 0};
  } else if (status == 0 && connectStatus >= 300) {
    // The proxy refused the tunnel (407 asks for its credentials): its answer is the reply.
    request.reply = Reply{connectStatus, std::move(collector.headers), {}, 0};
  } else {
    const DWORD code =
        WinHttpErrorOf(result == CURLE_OK ? CURLE_GOT_NOTHING : result, collector.facts);
    request.sendError = code != ERROR_SUCCESS ? code : ERROR_WINHTTP_INTERNAL_ERROR;
  }
}

}  // namespace Velmora::Platform
