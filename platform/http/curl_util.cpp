#include "platform/http/curl_util.h"

#include <mutex>

#include "platform/errors/winerror.h"
#include "platform/http/handles.h"

namespace Velmora::Platform {

void EnsureCurlInitialised() {
  static std::once_flag once;
  static CURLcode result = CURLE_OK;
  std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
  if (result != CURLE_OK) {
    FailWith(ERROR_WINHTTP_INTERNAL_ERROR);
  }
}

void CheckSetopt(CURLcode code) {
  switch (code) {
    case CURLE_OK:
      return;
    case CURLE_OUT_OF_MEMORY:
      FailWith(ERROR_NOT_ENOUGH_MEMORY);
    case CURLE_NOT_BUILT_IN:
    case CURLE_UNKNOWN_OPTION:
      FailWith(ERROR_NOT_SUPPORTED);
    default:
      FailWith(ERROR_WINHTTP_INTERNAL_ERROR);
  }
}

DWORD WinHttpErrorOf(CURLcode code, const TransferFacts& facts) noexcept {
  if (facts.bodyTooLarge || code == CURLE_FILESIZE_EXCEEDED) {
    return ERROR_WINHTTP_RESPONSE_DRAIN_OVERFLOW;
  }
  // libcurl refuses a single header line beyond its own limit as if memory ran out.
  if (facts.headersTooLarge || (code == CURLE_OUT_OF_MEMORY && facts.inHeaders)) {
    return ERROR_WINHTTP_HEADER_SIZE_OVERFLOW;
  }
  // A TLS peer that ended the session with a fatal alert refused the secure channel; TLS 1.3
  // servers send theirs after the handshake, so it may surface as a failed read. "Certificate
  // required" (116), or a handshake refused after a certificate was asked for and none given,
  // means the server wants a client certificate.
  if (code != CURLE_OK && facts.fatalAlert >= 0) {
    const bool certificateWanted =
        facts.fatalAlert == 116 ||
        (facts.clientCertRequested && (facts.fatalAlert == 40 || facts.fatalAlert == 42));
    return certificateWanted ? ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED : ERROR_WINHTTP_SECURE_FAILURE;
  }
  switch (code) {
    case CURLE_OK:
      return ERROR_SUCCESS;
    case CURLE_OPERATION_TIMEDOUT:
      return ERROR_WINHTTP_TIMEOUT;
    case CURLE_URL_MALFORMAT:
      return ERROR_WINHTTP_INVALID_URL;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return ERROR_WINHTTP_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
      return ERROR_WINHTTP_CANNOT_CONNECT;
    case CURLE_OUT_OF_MEMORY:
      return ERROR_NOT_ENOUGH_MEMORY;
    // The URLs handed to libcurl are always http or https: "unsupported protocol" during a
    // transfer is a reply that is not HTTP at all (what libcurl calls HTTP/0.9).
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_RANGE_ERROR:
      return ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_USE_SSL_FAILED:
      return facts.clientCertRequested ? ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED
                                       : ERROR_WINHTTP_SECURE_FAILURE;
    case CURLE_RECV_ERROR:
      // A chunk size that is not hexadecimal, say: the bytes came, and were not HTTP.
      if (facts.framingRefused && !facts.clientCertRequested) {
        return ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
      }
      [[fallthrough]];
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_PROXY:
      // A TLS 1.3 server that wants a certificate refuses its absence only after the
      // handshake, with an alert that arrives while the reply is awaited.
      return facts.clientCertRequested ? ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED
                                       : ERROR_WINHTTP_CONNECTION_ERROR;
    case CURLE_WRITE_ERROR:
    case CURLE_READ_ERROR:
    case CURLE_ABORTED_BY_CALLBACK:
      return ERROR_WINHTTP_OPERATION_CANCELLED;
    default:
      return ERROR_WINHTTP_INTERNAL_ERROR;
  }
}

void SetUpTransfer(CURL* handle, const TransferSetup& setup) {
  SetOpt(handle, CURLOPT_URL, setup.url);
  SetOpt(handle, CURLOPT_PROTOCOLS_STR, setup.protocols);
  SetOpt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  SetOpt(handle, CURLOPT_FOLLOWLOCATION, setup.maxRedirects > 0 ? 1L : 0L);
  if (setup.maxRedirects > 0) {
    SetOpt(handle, CURLOPT_MAXREDIRS, setup.maxRedirects);
  }
  SetOpt(handle, CURLOPT_NOSIGNAL, 1L);
  SetOpt(handle, CURLOPT_USERAGENT, setup.userAgent);
}

}  // namespace Velmora::Platform
