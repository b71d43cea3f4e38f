// libcurl as the HTTP client uses it: one global initialisation, owners for its handles, option
// setting that cannot be ignored, and the WinHTTP error number of each libcurl failure.
#pragma once

#include <curl/curl.h>

#include <memory>

#include "platform/base/free_with.h"
#include "platform/base/types.h"

namespace Velmora::Platform {

using CurlEasy = std::unique_ptr<CURL, FreeWith<curl_easy_cleanup>>;
using CurlSlist = std::unique_ptr<curl_slist, FreeWith<curl_slist_free_all>>;

// curl_global_init, once per process, on first use (never from a static initialiser); its
// failure is remembered and reported to every caller as ERROR_WINHTTP_INTERNAL_ERROR.
void EnsureCurlInitialised();

// curl_easy_setopt whose failure throws HttpFailure: ERROR_NOT_ENOUGH_MEMORY when libcurl ran
// out of memory, ERROR_NOT_SUPPORTED for an option or value this libcurl was built without,
// ERROR_WINHTTP_INTERNAL_ERROR otherwise.
void CheckSetopt(CURLcode code);
template <typename T>
void SetOpt(CURL* handle, CURLoption option, T value) {
  CheckSetopt(curl_easy_setopt(handle, option, value));
}

// What every transfer of the library sets alike, in one place: the URL, the protocols it may speak,
// redirects (followed up to `maxRedirects`, 0 for none, and to http and https only), no signals,
// and the user agent (null: none).
struct TransferSetup {
  const char* url;
  const char* protocols;  // "http", "http,https" ...
  long maxRedirects;
  const char* userAgent;
};
void SetUpTransfer(CURL* handle, const TransferSetup& setup);

// What the transfer's libcurl failure means as a WinHTTP error number.
struct TransferFacts {
  bool bodyTooLarge = false;         // the write callback refused the body
  bool clientCertRequested = false;  // the TLS server asked for a certificate we had not got
  int fatalAlert = -1;               // the description of a fatal TLS alert from the peer
  bool headersTooLarge = false;      // the reply's header lines passed kMaxResponseHeaderBytes
  bool inHeaders = false;            // a status line came and its header block has not ended
  bool framingRefused = false;       // libcurl refused the reply's framing, no socket failed
  bool foldedFirstField = false;     // a line after a status line began with white space
};
DWORD WinHttpErrorOf(CURLcode code, const TransferFacts& facts) noexcept;

}  // namespace Velmora::Platform
