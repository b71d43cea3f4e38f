// The chain engine's revocation fetcher on libcurl: http only, never a redirect, at most
// kMaxRevocationDataBytes, the whole exchange within kRevocationFetchTimeoutSeconds, proxies from
// the environment as for every libcurl transfer. OCSP requests go by POST with the content types
// of RFC 6960; a reply other than 200 fails with ERROR_WINHTTP_INVALID_SERVER_RESPONSE (a 3xx
// with ERROR_WINHTTP_REDIRECT_FAILED).
#include <algorithm>
#include <string>

#include "platform/capi/revocation_crl.h"
#include "platform/capi/revocation_fetch.h"
#include "platform/http/curl_util.h"
#include "platform/http/handles.h"

namespace Velmora::Platform {

namespace {

using Capi::FetchResult;

struct Transfer {
  std::vector<std::uint8_t> body;
  TransferFacts facts;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const std::size_t bytes = size * count;
  if (transfer->body.size() + bytes > Capi::kMaxRevocationDataBytes) {
    transfer->facts.bodyTooLarge = true;
    return 0;
  }
  transfer->body.insert(transfer->body.end(), data, data + bytes);
  return bytes;
}

FetchResult Fetch(const std::string& url, std::span<const std::uint8_t> ocspRequest) {
  FetchResult result;
  try {
    std::string lower(url.substr(0, 7));
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower != "http://") {
      result.error = ERROR_WINHTTP_UNRECOGNIZED_SCHEME;
      return result;
    }
    EnsureCurlInitialised();
    CurlEasy easy(curl_easy_init());
    if (!easy) {
      result.error = ERROR_NOT_ENOUGH_MEMORY;
      return result;
    }
    CURL* handle = easy.get();
    Transfer transfer;
    CurlSlist headers;
    SetUpTransfer(handle, {url.c_str(), "http", 0L, "libhorodex revocation"});
    SetOpt(handle, CURLOPT_CONNECTTIMEOUT, Capi::kRevocationFetchTimeoutSeconds);
    SetOpt(handle, CURLOPT_TIMEOUT, Capi::kRevocationFetchTimeoutSeconds);
    SetOpt(handle, CURLOPT_MAXFILESIZE_LARGE,
           static_cast<curl_off_t>(Capi::kMaxRevocationDataBytes));
    SetOpt(handle, CURLOPT_WRITEFUNCTION, OnBody);
    SetOpt(handle, CURLOPT_WRITEDATA, &transfer);
    if (!ocspRequest.empty()) {
      headers.reset(curl_slist_append(nullptr, "Content-Type: application/ocsp-request"));
      headers.reset(curl_slist_append(headers.release(), "Accept: application/ocsp-response"));
      SetOpt(handle, CURLOPT_HTTPHEADER, headers.get());
      SetOpt(handle, CURLOPT_POSTFIELDS, ocspRequest.data());
      SetOpt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(ocspRequest.size()));
    }
    const CURLcode code = curl_easy_perform(handle);
    if (code == CURLE_FILESIZE_EXCEEDED) {
      transfer.facts.bodyTooLarge = true;
    }
    if (code != CURLE_OK || transfer.facts.bodyTooLarge) {
      result.error = transfer.facts.bodyTooLarge ? ERROR_WINHTTP_RESPONSE_DRAIN_OVERFLOW
                                                 : WinHttpErrorOf(code, transfer.facts);
      return result;
    }
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200) {
      result.error = status >= 300 && status < 400 ? ERROR_WINHTTP_REDIRECT_FAILED
                                                   : ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
      return result;
    }
    result.body = std::move(transfer.body);
  } catch (const HttpFailure& failure) {
    result.error = failure.code;
  } catch (...) {  // no answer fetched: the revocation status stays unknown
    result.error = Win32OfCurrentException(ERROR_WINHTTP_INTERNAL_ERROR);
  }
  return result;
}

// Put in place when the library is loaded; only a pointer is stored (libcurl is initialised on
// the first fetch).
[[maybe_unused]] const bool g_registered = (Capi::SetRevocationFetcher(&Fetch), true);

}  // namespace

}  // namespace Velmora::Platform
