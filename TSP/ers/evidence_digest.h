// The hashing of evidence records: one algorithm's digests of data, of a node's children sorted in
// binary ascending order and concatenated, and of the values joined for hash-tree renewal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <openssl/evp.h>

#include "codec/corekit/blob.h"
#include "platform/base/free_with.h"

namespace Velmora::PKI::ERS {

using Bytes = std::span<const std::uint8_t>;

class CDigest {
 public:
  // The digest of the dotted OID; NTE_BAD_ALGID when the platform cannot compute it.
  explicit CDigest(const std::string& oid);
  // Whether the platform can compute the digest of the dotted OID.
  static bool Known(const std::string& oid) noexcept;

  const std::string& oid() const noexcept { return m_oid; }
  std::size_t size() const noexcept { return m_size; }

  // H(data) into `out` (size() bytes).
  void hash(Bytes data, std::uint8_t* out) const;
  CBlob hash(Bytes data) const;
  // H(a || b) with the two in binary ascending order, into `out`.
  void hashPair(Bytes a, Bytes b, std::uint8_t* out) const;
  // H of the values sorted in binary ascending order and concatenated.
  CBlob hashSorted(std::vector<Bytes> values) const;
  // H(first || second) in the order given (hash-tree renewal joins a data hash and the hash of
  // the sequence so).
  CBlob hashJoined(Bytes first, Bytes second) const;

 private:
  void run(std::span<const Bytes> parts, std::uint8_t* out) const;

  std::string m_oid;
  std::unique_ptr<EVP_MD, Platform::FreeWith<EVP_MD_free>> m_md;
  std::unique_ptr<EVP_MD_CTX, Platform::FreeWith<EVP_MD_CTX_free>> m_ctx;
  std::size_t m_size = 0;
};

}  // namespace Velmora::PKI::ERS
