// How the chain engine reaches the network for revocation data. The HTTP client lies in a layer
// above this one (platform/http), so it puts its fetcher in place here when the library loads;
// without one, every fetch fails with ERROR_NOT_SUPPORTED.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/base/types.h"

namespace Velmora::Platform::Capi {

struct FetchResult {
  DWORD error = 0;  // 0, or a WinHTTP number (12002 time-out, 12029 cannot connect ...)
  std::vector<std::uint8_t> body;
};

// GET `url` (an http URL) when `ocspRequest` is empty, else POST it as an OCSP request. Must not
// throw, follow redirects, take more than kMaxRevocationDataBytes, or run past its time-out.
using RevocationFetcher = FetchResult (*)(const std::string& url,
                                          std::span<const std::uint8_t> ocspRequest);

// Seconds one fetch may take in all.
inline constexpr long kRevocationFetchTimeoutSeconds = 10;

void SetRevocationFetcher(RevocationFetcher fetcher) noexcept;
FetchResult FetchRevocationData(const std::string& url, std::span<const std::uint8_t> ocspRequest);

}  // namespace Velmora::Platform::Capi
