#include "TSP/ers/evidence_digest.h"

#include <algorithm>

#include "platform/crypto/gost_module.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/winerror.h"

namespace Velmora::PKI::ERS {

namespace {
bool Less(Bytes a, Bytes b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}
}  // namespace

CDigest::CDigest(const std::string& oid)
    : m_oid(oid), m_md(Platform::FetchDigest(oid.c_str())), m_ctx(EVP_MD_CTX_new()) {
  if (!m_md) {
    Platform::AtlThrow(Platform::NTE_BAD_ALGID);
  }
  if (!m_ctx) {
    Platform::AtlThrow(Platform::E_OUTOFMEMORY);
  }
  m_size = static_cast<std::size_t>(EVP_MD_get_size(m_md.get()));
}

bool CDigest::Known(const std::string& oid) noexcept {
  std::unique_ptr<EVP_MD, Platform::FreeWith<EVP_MD_free>> md(Platform::FetchDigest(oid.c_str()));
  return md != nullptr;
}

void CDigest::run(std::span<const Bytes> parts, std::uint8_t* out) const {
  bool ok = EVP_DigestInit_ex(m_ctx.get(), m_md.get(), nullptr) == 1;
  for (const Bytes part : parts) {
    ok = ok && EVP_DigestUpdate(m_ctx.get(), part.data(), part.size()) == 1;
  }
  unsigned int length = 0;
  if (!ok || EVP_DigestFinal_ex(m_ctx.get(), out, &length) != 1 || length != m_size) {
    Platform::AtlThrow(Platform::NTE_BAD_HASH);
  }
}

void CDigest::hash(Bytes data, std::uint8_t* out) const {
  run(std::span<const Bytes>(&data, 1), out);
}

CBlob CDigest::hash(Bytes data) const {
  CBlob out(static_cast<unsigned long>(m_size));
  hash(data, out.pbData());
  return out;
}

void CDigest::hashPair(Bytes a, Bytes b, std::uint8_t* out) const {
  const Bytes parts[2] = {Less(b, a) ? b : a, Less(b, a) ? a : b};
  run(parts, out);
}

CBlob CDigest::hashSorted(std::vector<Bytes> values) const {
  std::sort(values.begin(), values.end(), Less);
  CBlob out(static_cast<unsigned long>(m_size));
  run(values, out.pbData());
  return out;
}

CBlob CDigest::hashJoined(Bytes first, Bytes second) const {
  const Bytes parts[2] = {first, second};
  CBlob out(static_cast<unsigned long>(m_size));
  run(parts, out.pbData());
  return out;
}

}  // namespace Velmora::PKI::ERS
