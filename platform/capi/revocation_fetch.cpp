#include "platform/capi/revocation_fetch.h"

#include <atomic>

#include "platform/errors/winerror.h"

namespace Velmora::Platform::Capi {

namespace {
std::atomic<RevocationFetcher> g_fetcher{nullptr};
}  // namespace

void SetRevocationFetcher(RevocationFetcher fetcher) noexcept {
  g_fetcher.store(fetcher);
}

FetchResult FetchRevocationData(const std::string& url, std::span<const std::uint8_t> ocspRequest) {
  const RevocationFetcher fetcher = g_fetcher.load();
  if (fetcher == nullptr) {
    return {ERROR_NOT_SUPPORTED, {}};
  }
  return fetcher(url, ocspRequest);
}

}  // namespace Velmora::Platform::Capi
