// CryptHashCertificate and CryptHashCertificate2 over OpenSSL's digests. The algorithm is looked
// up in the OID registry (by ALG_ID, or by CNG name, whose names here are OpenSSL's digest
// names), so both functions hash exactly what the registry lists. The hashes of the last few
// encodings are kept with a copy of their bytes: a stamp's verification hashes its TSA
// certificate to find it, and a program that verifies many stamps of one TSA meets the same
// certificate every time.
#include <openssl/evp.h>

#include <array>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/capi/capi_util.h"
#include "platform/capi/wincrypt_chain.h"
#include "platform/capi/wincrypt_oid.h"
#include "platform/crypto/gost_module.h"
#include "platform/text/convert.h"

namespace Velmora::Platform {

namespace {

// The digest of an OpenSSL name, fetched once and kept for the process (never freed: a hash made
// while the process exits must still run); null when OpenSSL has no such digest.
const EVP_MD* DigestNamed(const std::string& name) {
  static std::mutex mutex;
  static auto* fetched = new std::map<std::string, const EVP_MD*>();
  std::lock_guard lock(mutex);
  auto [at, added] = fetched->try_emplace(name, nullptr);
  if (added) {
    at->second = FetchDigest(name.c_str());
  }
  return at->second;
}

// The hashes made lately, by digest and the whole of the hashed bytes (compared in full, so a
// different encoding never meets another's hash). Digests live for the process, so their
// pointers name them.
class RecentHashes {
 public:
  bool find(const EVP_MD* md, const BYTE* data, DWORD length, BYTE* out, unsigned int& written) {
    std::lock_guard lock(m_mutex);
    for (const Entry& entry : m_entries) {
      if (entry.md == md && entry.bytes.size() == length &&
          std::memcmp(entry.bytes.data(), data, length) == 0) {
        std::memcpy(out, entry.hash.data(), entry.hash.size());
        written = static_cast<unsigned int>(entry.hash.size());
        return true;
      }
    }
    return false;
  }

  void keep(const EVP_MD* md, const BYTE* data, DWORD length, const BYTE* hash,
            unsigned int written) {
    if (length > kMaxBytes) {
      return;
    }
    std::lock_guard lock(m_mutex);
    Entry& entry = m_entries[m_next];
    m_next = (m_next + 1) % m_entries.size();
    entry.md = md;
    entry.bytes.assign(data, data + length);
    entry.hash.assign(hash, hash + written);
  }

 private:
  static constexpr DWORD kMaxBytes = 16 * 1024;  // certificates; larger data is hashed each time
  struct Entry {
    const EVP_MD* md = nullptr;
    std::vector<BYTE> bytes;
    std::vector<BYTE> hash;
  };
  std::mutex m_mutex;
  std::array<Entry, 8> m_entries;
  std::size_t m_next = 0;
};

RecentHashes& Recent() {
  static auto* recent = new RecentHashes();  // never destroyed, as the digests are not
  return *recent;
}

BOOL HashInto(const EVP_MD* md, const BYTE* pbEncoded, DWORD cbEncoded, BYTE* pbComputedHash,
              DWORD* pcbComputedHash) {
  if (pcbComputedHash == nullptr || (pbEncoded == nullptr && cbEncoded != 0)) {
    return Capi::Fail(E_INVALIDARG, FALSE);
  }
  const int size = EVP_MD_get_size(md);
  if (size <= 0) {
    return Capi::Fail(NTE_BAD_ALGID, FALSE);
  }
  const DWORD needed = static_cast<DWORD>(size);
  if (pbComputedHash == nullptr) {
    *pcbComputedHash = needed;
    return TRUE;
  }
  if (*pcbComputedHash < needed) {
    *pcbComputedHash = needed;
    return Capi::FailWin32(ERROR_MORE_DATA, FALSE);
  }
  static const BYTE kNothing = 0;
  const BYTE* data = cbEncoded != 0 ? pbEncoded : &kNothing;
  unsigned int written = 0;
  if (!Recent().find(md, data, cbEncoded, pbComputedHash, written)) {
    if (EVP_Digest(data, cbEncoded, pbComputedHash, &written, md, nullptr) != 1) {
      return Capi::Fail(NTE_FAIL, FALSE);
    }
    Recent().keep(md, data, cbEncoded, pbComputedHash, written);
  }
  *pcbComputedHash = written;
  return TRUE;
}

}  // namespace

BOOL CryptHashCertificate(HCRYPTPROV_LEGACY, ALG_ID Algid, DWORD, const BYTE* pbEncoded,
                          DWORD cbEncoded, BYTE* pbComputedHash, DWORD* pcbComputedHash) {
  return Capi::Guard(FALSE, [&]() -> BOOL {
    const ALG_ID algid = Algid == 0 ? CALG_SHA1 : Algid;
    const CRYPT_OID_INFO* info =
        algid == CALG_OID_INFO_CNG_ONLY || algid == CALG_OID_INFO_PARAMETERS
            ? nullptr
            : CryptFindOIDInfo(CRYPT_OID_INFO_ALGID_KEY, &algid, CRYPT_HASH_ALG_OID_GROUP_ID);
    const EVP_MD* md = info != nullptr && info->pwszCNGAlgid != nullptr
                           ? DigestNamed(WideToUtf8(info->pwszCNGAlgid))
                           : nullptr;
    if (md == nullptr) {
      return Capi::Fail(NTE_BAD_ALGID, FALSE);
    }
    return HashInto(md, pbEncoded, cbEncoded, pbComputedHash, pcbComputedHash);
  });
}

BOOL CryptHashCertificate2(LPCWSTR pwszCNGHashAlgid, DWORD dwFlags, void* pvReserved,
                           const BYTE* pbEncoded, DWORD cbEncoded, BYTE* pbComputedHash,
                           DWORD* pcbComputedHash) {
  if (pwszCNGHashAlgid == nullptr || dwFlags != 0 || pvReserved != nullptr) {
    return Capi::Fail(E_INVALIDARG, FALSE);
  }
  return Capi::Guard(FALSE, [&]() -> BOOL {
    const CRYPT_OID_INFO* info = CryptFindOIDInfo(CRYPT_OID_INFO_CNG_ALGID_KEY, pwszCNGHashAlgid,
                                                  CRYPT_HASH_ALG_OID_GROUP_ID);
    const EVP_MD* md = info != nullptr ? DigestNamed(WideToUtf8(info->pwszCNGAlgid)) : nullptr;
    if (md == nullptr) {
      return Capi::Fail(NTE_NOT_SUPPORTED, FALSE);
    }
    return HashInto(md, pbEncoded, cbEncoded, pbComputedHash, pcbComputedHash);
  });
}

}  // namespace Velmora::Platform
