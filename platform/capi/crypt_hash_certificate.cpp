// CryptHashCertificate and CryptHashCertificate2 over OpenSSL's digests. The algorithm is looked
// up in the OID registry (by ALG_ID, or by CNG name, whose names here are OpenSSL's digest
// names), so both functions hash exactly what the registry lists.
#include <openssl/evp.h>

#include <map>
#include <mutex>
#include <string>

#include "platform/capi/capi_util.h"
#include "platform/capi/gost_module.h"
#include "platform/capi/wincrypt_chain.h"
#include "platform/capi/wincrypt_oid.h"
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
  unsigned int written = 0;
  if (EVP_Digest(cbEncoded != 0 ? pbEncoded : &kNothing, cbEncoded, pbComputedHash, &written, md,
                 nullptr) != 1) {
    return Capi::Fail(NTE_FAIL, FALSE);
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
