// The disk cache of revocation data: one file per OCSP answer (keyed by the issuer's key hash and
// the serial number) and per CRL (keyed by its distribution point URL), in
// $XDG_CACHE_HOME/velmora/revocation/ (~/.cache/velmora/revocation/ when unset). Files are written
// to a temporary name and renamed into place, so a reader in any process sees a whole file or
// none. The cache only remembers bytes: whoever reads them judges them again (signature,
// freshness) as if fetched, so a stale, corrupt or forged file is never trusted; it is replaced by
// the next good answer.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace Velmora::Platform::Capi {

enum class CacheKind { Ocsp, Crl };

// The folder of the cache for the current environment: made again only when XDG_CACHE_HOME or
// HOME changed, and valid on the calling thread until its next call.
const std::filesystem::path& RevocationCacheFolder();
// The file that holds the entry for `key`.
std::filesystem::path RevocationCacheFile(CacheKind kind, const std::string& key);

// The bytes kept for `key`; nothing when absent, unreadable or larger than the data limit.
std::optional<std::vector<std::uint8_t>> ReadRevocationCache(CacheKind kind,
                                                             const std::string& key);
// Keeps `bytes` for `key`, replacing what was there. A cache that cannot be written is no
// failure: the answer is simply not remembered.
void WriteRevocationCache(CacheKind kind, const std::string& key,
                          const std::vector<std::uint8_t>& bytes) noexcept;

}  // namespace Velmora::Platform::Capi
