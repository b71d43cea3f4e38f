// Hash objects over OpenSSL's EVP digests.
#include "platform/capi/crypt_hash.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <mutex>

#include "platform/base/free_with.h"
#include "platform/capi/crypt_provider_internal.h"

namespace Velmora::Platform {
namespace {

using namespace Providers;

using EvpMdCtxPtr = std::unique_ptr<EVP_MD_CTX, FreeWith<EVP_MD_CTX_free>>;

struct HashObject {
  explicit HashObject(const HashAlgorithm& a) noexcept : algorithm(a) {}
  const HashAlgorithm& algorithm;
  std::mutex lock;      // guards everything below
  EvpMdCtxPtr running;  // the digest's state while running; null once finished
  unsigned char value[EVP_MAX_MD_SIZE] = {};  // once finished
};

HandleTable<HashObject>& Hashes() {
  // Never destroyed, like the contexts' table.
  static auto* const hashes = new HandleTable<HashObject>;
  return *hashes;
}

// A failure of OpenSSL itself: its error queue is emptied so that it cannot be taken for a later
// call's.
BOOL FailOpenSsl() noexcept {
  ERR_clear_error();
  return Fail(NTE_FAIL);
}

DWORD ValueSize(const HashObject& hash) noexcept {
  return hash.algorithm.bits / 8;
}

}  // namespace

BOOL CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags,
                     HCRYPTHASH* phHash) {
  return Guarded([&]() -> BOOL {
    const std::shared_ptr<ProviderContext> context = Contexts().find(hProv);
    if (context == nullptr) {
      return Fail(NTE_BAD_UID);
    }
    if (phHash == nullptr) {
      return FailWin32(ERROR_INVALID_PARAMETER);
    }
    const HashAlgorithm* algorithm = context->provider.find(Algid);
    if (algorithm == nullptr) {
      return Fail(NTE_BAD_ALGID);
    }
    if (hKey != 0) {
      return Fail(NTE_BAD_KEY);
    }
    if (dwFlags != 0) {
      return Fail(NTE_BAD_FLAGS);
    }
    auto hash = std::make_shared<HashObject>(*algorithm);
    hash->running.reset(EVP_MD_CTX_new());
    if (hash->running == nullptr) {
      ERR_clear_error();
      return Fail(NTE_NO_MEMORY);
    }
    const EVP_MD* md = Providers::DigestOf(*algorithm);
    if (md == nullptr) {
      return Fail(NTE_BAD_ALGID);
    }
    if (EVP_DigestInit_ex(hash->running.get(), md, nullptr) != 1) {
      return FailOpenSsl();
    }
    *phHash = Hashes().add(std::move(hash));
    return TRUE;
  });
}

BOOL CryptHashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags) {
  return Guarded([&]() -> BOOL {
    const std::shared_ptr<HashObject> hash = Hashes().find(hHash);
    if (hash == nullptr) {
      return Fail(NTE_BAD_HASH);
    }
    if ((dwFlags & ~CRYPT_USERDATA) != 0) {
      return Fail(NTE_BAD_FLAGS);
    }
    if (pbData == nullptr && dwDataLen != 0) {
      return FailWin32(ERROR_INVALID_PARAMETER);
    }
    const std::lock_guard guard(hash->lock);
    if (hash->running == nullptr) {
      return Fail(NTE_BAD_HASH_STATE);
    }
    if (dwDataLen != 0 && EVP_DigestUpdate(hash->running.get(), pbData, dwDataLen) != 1) {
      return FailOpenSsl();
    }
    return TRUE;
  });
}

BOOL CryptGetHashParam(HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                       DWORD dwFlags) {
  return Guarded([&]() -> BOOL {
    const std::shared_ptr<HashObject> hash = Hashes().find(hHash);
    if (hash == nullptr) {
      return Fail(NTE_BAD_HASH);
    }
    if (pdwDataLen == nullptr) {
      return FailWin32(ERROR_INVALID_PARAMETER);
    }
    if (dwFlags != 0) {
      return Fail(NTE_BAD_FLAGS);
    }
    switch (dwParam) {
      case HP_ALGID: {
        const DWORD algid = hash->algorithm.algid;
        return CopyOut(&algid, sizeof algid, pbData, pdwDataLen);
      }
      case HP_HASHSIZE: {
        const DWORD size = ValueSize(*hash);
        return CopyOut(&size, sizeof size, pbData, pdwDataLen);
      }
      case HP_HASHVAL: {
        const std::lock_guard guard(hash->lock);
        const DWORD size = ValueSize(*hash);
        // Only a read into a buffer that takes the value finishes a running hash.
        if (hash->running != nullptr && pbData != nullptr && *pdwDataLen >= size) {
          unsigned int written = 0;
          if (EVP_DigestFinal_ex(hash->running.get(), hash->value, &written) != 1 ||
              written != size) {
            return FailOpenSsl();
          }
          hash->running.reset();
        }
        return CopyOut(hash->value, size, pbData, pdwDataLen);
      }
      default:
        return Fail(NTE_BAD_TYPE);
    }
  });
}

BOOL CryptDuplicateHash(HCRYPTHASH hHash, DWORD* pdwReserved, DWORD dwFlags, HCRYPTHASH* phHash) {
  return Guarded([&]() -> BOOL {
    const std::shared_ptr<HashObject> hash = Hashes().find(hHash);
    if (hash == nullptr) {
      return Fail(NTE_BAD_HASH);
    }
    if (pdwReserved != nullptr || phHash == nullptr) {
      return FailWin32(ERROR_INVALID_PARAMETER);
    }
    if (dwFlags != 0) {
      return Fail(NTE_BAD_FLAGS);
    }
    auto copy = std::make_shared<HashObject>(hash->algorithm);
    {
      const std::lock_guard guard(hash->lock);
      if (hash->running != nullptr) {
        copy->running.reset(EVP_MD_CTX_new());
        if (copy->running == nullptr) {
          ERR_clear_error();
          return Fail(NTE_NO_MEMORY);
        }
        if (EVP_MD_CTX_copy_ex(copy->running.get(), hash->running.get()) != 1) {
          return FailOpenSsl();
        }
      } else {
        std::copy(std::begin(hash->value), std::end(hash->value), std::begin(copy->value));
      }
    }
    *phHash = Hashes().add(std::move(copy));
    return TRUE;
  });
}

BOOL CryptDestroyHash(HCRYPTHASH hHash) {
  return Guarded([&]() -> BOOL { return Hashes().release(hHash) ? TRUE : Fail(NTE_BAD_HASH); });
}

}  // namespace Velmora::Platform
