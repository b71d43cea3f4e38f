// Provider types, providers, their contexts and algorithm listings, and random numbers.
#include "platform/capi/crypt_provider.h"

#include <openssl/evp.h>
#include <sys/random.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <cwchar>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>

#include "platform/capi/crypt_provider_internal.h"
#include "platform/capi/wincrypt_oid.h"
#include "platform/crypto/gost_module.h"

namespace Velmora::Platform {
namespace Providers {
namespace {

// The highest provider type number the platform accepts.
constexpr DWORD kMaxProviderType = 999;

// Every hash algorithm a provider here can list. GOST rows are taken only when the OID registry
// gives them their ALG_ID.
struct AlgorithmRow {
  ALG_ID algid;
  const char* digest;
  const char* name;
  const char* longName;
  bool gost;
  DWORD gostBits;  // a GOST digest's size, known without fetching it
};
constexpr AlgorithmRow kAlgorithmRows[] = {
    {CALG_MD5, "MD5", "MD5", "Message Digest 5 (MD5)", false, 0},
    {CALG_SHA1, "SHA1", "SHA-1", "Secure Hash Algorithm (SHA-1)", false, 0},
    {CALG_SHA_256, "SHA256", "SHA-256", "Secure Hash Algorithm (SHA-256)", false, 0},
    {CALG_SHA_384, "SHA384", "SHA-384", "Secure Hash Algorithm (SHA-384)", false, 0},
    {CALG_SHA_512, "SHA512", "SHA-512", "Secure Hash Algorithm (SHA-512)", false, 0},
    {CALG_SHA_224, "SHA224", "SHA-224", "Secure Hash Algorithm (SHA-224)", false, 0},
    {CALG_SHA_512_224, "SHA512-224", "SHA-512/224", "Secure Hash Algorithm (SHA-512/224)", false,
     0},
    {CALG_SHA_512_256, "SHA512-256", "SHA-512/256", "Secure Hash Algorithm (SHA-512/256)", false,
     0},
    {CALG_SHA3_224, "SHA3-224", "SHA3-224", "Secure Hash Algorithm 3 (SHA3-224)", false, 0},
    {CALG_SHA3_256, "SHA3-256", "SHA3-256", "Secure Hash Algorithm 3 (SHA3-256)", false, 0},
    {CALG_SHA3_384, "SHA3-384", "SHA3-384", "Secure Hash Algorithm 3 (SHA3-384)", false, 0},
    {CALG_SHA3_512, "SHA3-512", "SHA3-512", "Secure Hash Algorithm 3 (SHA3-512)", false, 0},
    {CALG_GR3411, "md_gost94", "GR 34.11-94", "GOST R 34.11-94", true, 256},
    {CALG_GR3411_2012_256, "md_gost12_256", "GR 34.11-2012 256", "GOST R 34.11-2012 256 bits", true,
     256},
    {CALG_GR3411_2012_512, "md_gost12_512", "GR 34.11-2012 512", "GOST R 34.11-2012 512 bits", true,
     512},
};

// The providers, in the case-insensitive order of their names. A provider with `needs` set is
// installed only when that algorithm is available.
struct ProviderRow {
  DWORD type;
  const wchar_t* typeName;
  const wchar_t* name;
  const char* narrowName;
  ALG_ID algorithms[13];  // up to the first 0
  ALG_ID needs;
};
constexpr ProviderRow kProviderRows[] = {
    {PROV_GOST_2001_DH,
     L"GOST R 34.10-2001 Signature with Diffie-Hellman Key Exchange",
     L"Velmora OpenSSL GOST R 34.10-2001 Provider",
     "Velmora OpenSSL GOST R 34.10-2001 Provider",
     {CALG_GR3411},
     CALG_GR3411},
    {PROV_GOST_2012_256,
     L"GOST R 34.10-2012 (256) Signature with Diffie-Hellman Key Exchange",
     L"Velmora OpenSSL GOST R 34.10-2012 Provider",
     "Velmora OpenSSL GOST R 34.10-2012 Provider",
     {CALG_GR3411, CALG_GR3411_2012_256},
     CALG_GR3411_2012_256},
    {PROV_GOST_2012_512,
     L"GOST R 34.10-2012 (512) Signature with Diffie-Hellman Key Exchange",
     L"Velmora OpenSSL GOST R 34.10-2012 Strong Provider",
     "Velmora OpenSSL GOST R 34.10-2012 Strong Provider",
     {CALG_GR3411, CALG_GR3411_2012_256, CALG_GR3411_2012_512},
     CALG_GR3411_2012_512},
    {PROV_RSA_AES,
     L"RSA Full and AES",
     L"Velmora OpenSSL RSA and AES Provider",
     "Velmora OpenSSL RSA and AES Provider",
     {CALG_MD5, CALG_SHA1, CALG_SHA_256, CALG_SHA_384, CALG_SHA_512, CALG_SHA_224, CALG_SHA_512_224,
      CALG_SHA_512_256, CALG_SHA3_224, CALG_SHA3_256, CALG_SHA3_384, CALG_SHA3_512},
     0},
    {PROV_RSA_FULL,
     L"RSA Full (Signature and Key Exchange)",
     L"Velmora OpenSSL RSA Full Provider",
     "Velmora OpenSSL RSA Full Provider",
     {CALG_MD5, CALG_SHA1},
     0},
};

// The digest, or null when it cannot be fetched (GOST digests come from the GOST module).
const EVP_MD* Fetch(const char* name) {
  return FetchDigest(name);
}

// Whether the OID registry gives the algorithm its ALG_ID (for GOST: a provider with the digest
// is loaded). The lookup's last error is not the caller's business and is put back.
bool RegistryKnows(ALG_ID algid) {
  const DWORD saved = GetLastError();
  const bool known =
      CryptFindOIDInfo(CRYPT_OID_INFO_ALGID_KEY, &algid, CRYPT_HASH_ALG_OID_GROUP_ID) != nullptr;
  SetLastError(saved);
  return known;
}

// Built once and never destroyed, like everything the handles lead to: a call made while the
// process exits (from another static destructor) still finds it.
const std::vector<HashAlgorithm>& Algorithms() {
  static const auto* const algorithms = [] {
    auto available = std::make_unique<std::vector<HashAlgorithm>>();
    available->reserve(std::size(kAlgorithmRows));  // no push_back below can throw
    for (const AlgorithmRow& row : kAlgorithmRows) {
      if (row.gost) {
        // Listed where the module is installed; fetched (and the module loaded) when hashed with.
        if (RegistryKnows(row.algid)) {
          available->push_back(
              {row.algid, row.digest, row.name, row.longName, nullptr, row.gostBits});
        }
        continue;
      }
      const EVP_MD* md = Fetch(row.digest);
      if (md == nullptr) {
        continue;
      }
      available->push_back({row.algid, row.digest, row.name, row.longName, md,
                            static_cast<DWORD>(EVP_MD_get_size(md)) * 8});
    }
    return available.release();
  }();
  return *algorithms;
}

const HashAlgorithm* FindAlgorithm(ALG_ID algid) {
  for (const HashAlgorithm& a : Algorithms()) {
    if (a.algid == algid) {
      return &a;
    }
  }
  return nullptr;
}

wchar_t FoldAscii(wchar_t c) noexcept {
  return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + (L'a' - L'A')) : c;
}

bool SameName(const wchar_t* a, const wchar_t* b) noexcept {
  for (; *a != L'\0' && *b != L'\0'; ++a, ++b) {
    if (FoldAscii(*a) != FoldAscii(*b)) {
      return false;
    }
  }
  return *a == *b;
}

DWORD WideBytes(const wchar_t* text) noexcept {
  return static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(wchar_t));
}

// The entry at `index` of the type or provider enumeration.
BOOL EnumEntry(bool types, DWORD dwIndex, DWORD* pdwReserved, DWORD dwFlags, DWORD* pdwProvType,
               LPWSTR szName, DWORD* pcbName) {
  if (pdwReserved != nullptr || pdwProvType == nullptr || pcbName == nullptr) {
    return FailWin32(ERROR_INVALID_PARAMETER);
  }
  if (dwFlags != 0) {
    return Fail(NTE_BAD_FLAGS);
  }
  const Catalogue& installed = Installed();
  const std::size_t count = types ? installed.byType.size() : installed.byName.size();
  if (dwIndex >= count) {
    return FailWin32(ERROR_NO_MORE_ITEMS);
  }
  const ProviderInfo& entry = types ? *installed.byType[dwIndex] : installed.byName[dwIndex];
  *pdwProvType = entry.type;
  const wchar_t* name = types ? entry.typeName : entry.name;
  return CopyOut(name, WideBytes(name), reinterpret_cast<BYTE*>(szName), pcbName);
}

void FillName(char* out, std::size_t room, const char* text, DWORD* length) noexcept {
  const std::size_t n = std::min(std::strlen(text), room - 1);
  std::memcpy(out, text, n);
  out[n] = '\0';
  *length = static_cast<DWORD>(n + 1);
}

BOOL EnumAlgorithms(ProviderContext& context, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                    DWORD dwFlags) {
  if ((dwFlags & ~(CRYPT_FIRST | CRYPT_NEXT)) != 0) {
    return Fail(NTE_BAD_FLAGS);
  }
  const std::lock_guard guard(context.lock);
  const std::size_t index = (dwFlags & CRYPT_FIRST) != 0 ? 0 : context.nextAlgorithm;
  const std::vector<const HashAlgorithm*>& algorithms = context.provider.algorithms;
  if (index >= algorithms.size()) {
    return FailWin32(ERROR_NO_MORE_ITEMS);
  }
  const HashAlgorithm& a = *algorithms[index];
  BOOL copied;
  if (dwParam == PP_ENUMALGS) {
    PROV_ENUMALGS entry{};
    entry.aiAlgid = a.algid;
    entry.dwBitLen = a.bits;
    FillName(entry.szName, sizeof entry.szName, a.name, &entry.dwNameLen);
    copied = CopyOut(&entry, sizeof entry, pbData, pdwDataLen);
  } else {
    PROV_ENUMALGS_EX entry{};
    entry.aiAlgid = a.algid;
    entry.dwDefaultLen = entry.dwMinLen = entry.dwMaxLen = a.bits;
    entry.dwProtocols = CRYPT_FLAG_SIGNING;
    FillName(entry.szName, sizeof entry.szName, a.name, &entry.dwNameLen);
    FillName(entry.szLongName, sizeof entry.szLongName, a.longName, &entry.dwLongNameLen);
    copied = CopyOut(&entry, sizeof entry, pbData, pdwDataLen);
  }
  if (copied != FALSE && pbData != nullptr) {
    context.nextAlgorithm = index + 1;
  }
  return copied;
}

std::atomic<ULONG_PTR> g_nextHandle{0x10000};

}  // namespace

const EVP_MD* DigestOf(const HashAlgorithm& algorithm) {
  if (algorithm.md != nullptr) {
    return algorithm.md;
  }
  static std::mutex mutex;
  static auto* fetched = new std::map<ALG_ID, const EVP_MD*>();  // never freed, as Algorithms()
  std::lock_guard lock(mutex);
  auto [at, added] = fetched->try_emplace(algorithm.algid, nullptr);
  if (added) {
    at->second = Fetch(algorithm.digest);
  }
  return at->second;
}

const Catalogue& Installed() {
  static const auto* const catalogue = [] {  // never destroyed, as Algorithms()
    auto built = std::make_unique<Catalogue>();
    for (const ProviderRow& row : kProviderRows) {
      if (row.needs != 0 && FindAlgorithm(row.needs) == nullptr) {
        continue;
      }
      ProviderInfo info{row.type, row.typeName, row.name, row.narrowName, {}};
      for (const ALG_ID algid : row.algorithms) {
        if (const HashAlgorithm* a = algid != 0 ? FindAlgorithm(algid) : nullptr; a != nullptr) {
          info.algorithms.push_back(a);
        }
      }
      built->byName.push_back(std::move(info));
    }
    for (const ProviderInfo& info : built->byName) {
      built->byType.push_back(&info);
    }
    std::sort(built->byType.begin(), built->byType.end(),
              [](const ProviderInfo* a, const ProviderInfo* b) { return a->type < b->type; });
    return built.release();
  }();
  return *catalogue;
}

ULONG_PTR NewHandle() noexcept {
  return g_nextHandle.fetch_add(1, std::memory_order_relaxed);
}

HandleTable<ProviderContext>& Contexts() {
  // Never destroyed: a context still held when the process exits stays valid to the end.
  static auto* const contexts = new HandleTable<ProviderContext>;
  return *contexts;
}

BOOL CopyOut(const void* value, DWORD size, BYTE* pbData, DWORD* pcbData) noexcept {
  if (pcbData == nullptr) {
    return FailWin32(ERROR_INVALID_PARAMETER);
  }
  if (pbData == nullptr) {
    *pcbData = size;
    return TRUE;
  }
  if (*pcbData < size) {
    *pcbData = size;
    return FailWin32(ERROR_MORE_DATA);
  }
  std::memcpy(pbData, value, size);
  *pcbData = size;
  return TRUE;
}

}  // namespace Providers

using namespace Providers;

BOOL CryptEnumProviderTypesW(DWORD dwIndex, DWORD* pdwReserved, DWORD dwFlags, DWORD* pdwProvType,
                             LPWSTR szTypeName, DWORD* pcbTypeName) {
  return Guarded([&] {
    return EnumEntry(true, dwIndex, pdwReserved, dwFlags, pdwProvType, szTypeName, pcbTypeName);
  });
}

BOOL CryptEnumProvidersW(DWORD dwIndex, DWORD* pdwReserved, DWORD dwFlags, DWORD* pdwProvType,
                         LPWSTR szProvName, DWORD* pcbProvName) {
  return Guarded([&] {
    return EnumEntry(false, dwIndex, pdwReserved, dwFlags, pdwProvType, szProvName, pcbProvName);
  });
}

BOOL CryptAcquireContextW(HCRYPTPROV* phProv, LPCWSTR szContainer, LPCWSTR szProvider,
                          DWORD dwProvType, DWORD dwFlags) {
  return Guarded([&]() -> BOOL {
    if (phProv == nullptr) {
      return FailWin32(ERROR_INVALID_PARAMETER);
    }
    if (dwProvType == 0 || dwProvType > kMaxProviderType) {
      return Fail(NTE_BAD_PROV_TYPE);
    }
    const Catalogue& installed = Installed();
    const ProviderInfo* provider = nullptr;
    if (szProvider == nullptr || *szProvider == L'\0') {
      for (const ProviderInfo* p : installed.byType) {
        if (p->type == dwProvType) {
          provider = p;
          break;
        }
      }
      if (provider == nullptr) {
        return Fail(NTE_PROV_TYPE_NOT_DEF);
      }
    } else {
      for (const ProviderInfo& p : installed.byName) {
        if (SameName(p.name, szProvider)) {
          provider = &p;
          break;
        }
      }
      if (provider == nullptr) {
        return Fail(NTE_KEYSET_NOT_DEF);
      }
      if (provider->type != dwProvType) {
        return Fail(NTE_PROV_TYPE_NO_MATCH);
      }
    }

    constexpr DWORD kKnownFlags = CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET |
                                  CRYPT_MACHINE_KEYSET | CRYPT_SILENT |
                                  CRYPT_DEFAULT_CONTAINER_OPTIONAL;
    const DWORD verify = dwFlags & CRYPT_VERIFYCONTEXT;
    if ((dwFlags & ~kKnownFlags) != 0 || (verify != 0 && verify != CRYPT_VERIFYCONTEXT)) {
      return Fail(NTE_BAD_FLAGS);
    }
    if (verify == 0) {
      return Fail(NTE_BAD_KEYSET);
    }
    if ((szContainer != nullptr && *szContainer != L'\0') ||
        (dwFlags & (CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET)) != 0) {
      return Fail(NTE_BAD_FLAGS);
    }
    *phProv = Contexts().add(std::make_shared<ProviderContext>(*provider));
    return TRUE;
  });
}

BOOL CryptContextAddRef(HCRYPTPROV hProv, DWORD* pdwReserved, DWORD dwFlags) {
  return Guarded([&]() -> BOOL {
    if (pdwReserved != nullptr || dwFlags != 0) {
      return FailWin32(ERROR_INVALID_PARAMETER);
    }
    return Contexts().addRef(hProv) ? TRUE : Fail(NTE_BAD_UID);
  });
}

BOOL CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags) {
  return Guarded([&]() -> BOOL {
    if (!Contexts().contains(hProv)) {
      return Fail(NTE_BAD_UID);
    }
    if (dwFlags != 0) {
      return Fail(NTE_BAD_FLAGS);
    }
    return Contexts().release(hProv) ? TRUE : Fail(NTE_BAD_UID);
  });
}

BOOL CryptGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                       DWORD dwFlags) {
  return Guarded([&]() -> BOOL {
    const std::shared_ptr<ProviderContext> context = Contexts().find(hProv);
    if (context == nullptr) {
      return Fail(NTE_BAD_UID);
    }
    if (pdwDataLen == nullptr) {
      return FailWin32(ERROR_INVALID_PARAMETER);
    }
    switch (dwParam) {
      case PP_ENUMALGS:
      case PP_ENUMALGS_EX:
        return EnumAlgorithms(*context, dwParam, pbData, pdwDataLen, dwFlags);
      case PP_NAME: {
        if (dwFlags != 0) {
          return Fail(NTE_BAD_FLAGS);
        }
        const char* name = context->provider.narrowName;
        return CopyOut(name, static_cast<DWORD>(std::strlen(name) + 1), pbData, pdwDataLen);
      }
      case PP_PROVTYPE: {
        if (dwFlags != 0) {
          return Fail(NTE_BAD_FLAGS);
        }
        const DWORD type = context->provider.type;
        return CopyOut(&type, sizeof type, pbData, pdwDataLen);
      }
      default:
        return Fail(NTE_BAD_TYPE);
    }
  });
}

BOOL CryptGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer) {
  return Guarded([&]() -> BOOL {
    if (!Contexts().contains(hProv)) {
      return Fail(NTE_BAD_UID);
    }
    if (pbBuffer == nullptr && dwLen != 0) {
      return FailWin32(ERROR_INVALID_PARAMETER);
    }
    // The kernel's generator, which also seeds OpenSSL's: a process that draws one nonce does
    // not pay for setting up a DRBG of its own (a quarter of a query's instructions). Without
    // GRND_NONBLOCK it waits, once after boot, until the kernel's pool is seeded. A read may
    // return fewer bytes than asked (over 2 GiB, or a signal), or be cut by a signal before any.
    for (DWORD done = 0; done < dwLen;) {
      const ssize_t got = getrandom(pbBuffer + done, dwLen - done, 0);
      if (got < 0) {
        if (errno == EINTR) {
          continue;
        }
        return Fail(NTE_FAIL);
      }
      done += static_cast<DWORD>(got);
    }
    return TRUE;
  });
}

}  // namespace Velmora::Platform
