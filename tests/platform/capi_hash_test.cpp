// The hashing and random-number providers: what is installed and how it is listed, contexts,
// hash objects against OpenSSL's one-shot digests, and the errors of each call.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cwctype>
#include <map>
#include <string>
#include <vector>

#include "platform/capi/crypt_hash.h"
#include "platform/capi/crypt_provider.h"
#include "platform/capi/wincrypt_oid.h"
#include "platform/crypto/gost_module.h"
#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"

namespace P = Velmora::Platform;
using P::ALG_ID;
using P::BYTE;
using P::DWORD;
using P::HCRYPTHASH;
using P::HCRYPTPROV;
using Bytes = std::vector<BYTE>;

namespace {

// The call fails and leaves `code` (a Win32 number or an HRESULT) as the last error.
#define EXPECT_FAILS(call, code)                                     \
  do {                                                               \
    EXPECT_FALSE(call);                                              \
    EXPECT_EQ(P::GetLastError(), static_cast<DWORD>(code)) << #call; \
  } while (false)

Bytes Digest(ALG_ID algid, const Bytes& data) {
  // OpenSSL's names, written down here independently of the layer.
  static const std::map<ALG_ID, std::string> names = {{P::CALG_MD5, "MD5"},
                                                      {P::CALG_SHA1, "SHA1"},
                                                      {P::CALG_SHA_256, "SHA256"},
                                                      {P::CALG_SHA_384, "SHA384"},
                                                      {P::CALG_SHA_512, "SHA512"},
                                                      {P::CALG_SHA_224, "SHA224"},
                                                      {P::CALG_SHA_512_224, "SHA512-224"},
                                                      {P::CALG_SHA_512_256, "SHA512-256"},
                                                      {P::CALG_SHA3_224, "SHA3-224"},
                                                      {P::CALG_SHA3_256, "SHA3-256"},
                                                      {P::CALG_SHA3_384, "SHA3-384"},
                                                      {P::CALG_SHA3_512, "SHA3-512"},
                                                      {P::CALG_GR3411, "md_gost94"},
                                                      {P::CALG_GR3411_2012_256, "md_gost12_256"},
                                                      {P::CALG_GR3411_2012_512, "md_gost12_512"}};
  // GOST digests straight from Debian's GOST provider in the library's context (a second load of
  // gostprov in one process overwrites its globals and leaks the first load's methods).
  OSSL_LIB_CTX* const gost = Velmora::Platform::GostLibraryContext();
  const bool isGost = names.at(algid).rfind("md_gost", 0) == 0;
  EVP_MD* md = EVP_MD_fetch(isGost ? gost : nullptr, names.at(algid).c_str(), nullptr);
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned int size = 0;
  EXPECT_EQ(EVP_Digest(data.data(), data.size(), out.data(), &size, md, nullptr), 1);
  EVP_MD_free(md);
  out.resize(size);
  return out;
}

Bytes RandomBytes(std::size_t n) {
  Bytes data(n);
  EXPECT_EQ(RAND_bytes(data.data(), static_cast<int>(n)), 1);
  return data;
}

bool GostInstalled() {
  const ALG_ID algid = P::CALG_GR3411;
  return P::CryptFindOIDInfo(P::CRYPT_OID_INFO_ALGID_KEY, &algid, P::CRYPT_HASH_ALG_OID_GROUP_ID) !=
         nullptr;
}

struct Context {
  explicit Context(DWORD type, const wchar_t* name = nullptr) {
    EXPECT_TRUE(P::CryptAcquireContextW(&h, nullptr, name, type, P::CRYPT_VERIFYCONTEXT));
  }
  ~Context() { EXPECT_TRUE(P::CryptReleaseContext(h, 0)); }
  HCRYPTPROV h = 0;
};

struct Hash {
  Hash(HCRYPTPROV prov, ALG_ID algid) { EXPECT_TRUE(P::CryptCreateHash(prov, algid, 0, 0, &h)); }
  explicit Hash(HCRYPTHASH handle) : h(handle) {}
  ~Hash() { EXPECT_TRUE(P::CryptDestroyHash(h)); }
  void add(const Bytes& data) const {
    EXPECT_TRUE(P::CryptHashData(h, data.data(), static_cast<DWORD>(data.size()), 0));
  }
  // Read the way the library reads it: the size, then the bytes. `param` HP_HASHSIZE or
  // HP_ALGID gives the DWORD's bytes.
  Bytes get(DWORD param = P::HP_HASHVAL) const {
    DWORD size = 0;
    EXPECT_TRUE(P::CryptGetHashParam(h, param, nullptr, &size, 0));
    Bytes out(size);
    EXPECT_TRUE(P::CryptGetHashParam(h, param, out.data(), &size, 0));
    return out;
  }
  HCRYPTHASH h = 0;
};

Bytes Word(DWORD value) {
  const BYTE* p = reinterpret_cast<const BYTE*>(&value);
  return Bytes(p, p + sizeof value);
}

// CryptEnumProviderTypesW or CryptEnumProvidersW walked through: a size query, then the read.
template <typename Enum>
std::vector<std::pair<DWORD, std::wstring>> EnumerateAll(Enum enumerate) {
  std::vector<std::pair<DWORD, std::wstring>> entries;
  for (DWORD index = 0;; ++index) {
    DWORD type = 0;
    DWORD size = 0;
    if (!enumerate(index, nullptr, 0, &type, nullptr, &size)) {
      EXPECT_EQ(P::GetLastError(), P::ERROR_NO_MORE_ITEMS);
      return entries;
    }
    std::wstring name(size / sizeof(wchar_t), L'\0');
    EXPECT_TRUE(enumerate(index, nullptr, 0, &type, name.data(), &size));
    name.resize(size / sizeof(wchar_t) - 1);
    entries.emplace_back(type, name);
  }
}

std::vector<ALG_ID> AlgIds(HCRYPTPROV prov) {
  std::vector<ALG_ID> ids;
  P::PROV_ENUMALGS_EX entry{};
  DWORD size = sizeof entry;
  for (DWORD flags = P::CRYPT_FIRST;
       P::CryptGetProvParam(prov, P::PP_ENUMALGS_EX, reinterpret_cast<BYTE*>(&entry), &size, flags);
       flags = 0) {
    EXPECT_EQ(entry.dwDefaultLen, Digest(entry.aiAlgid, {}).size() * 8);
    ids.push_back(entry.aiAlgid);
  }
  EXPECT_EQ(P::GetLastError(), P::ERROR_NO_MORE_ITEMS);
  return ids;
}

std::wstring Folded(std::wstring text) {
  for (wchar_t& c : text) {
    c = static_cast<wchar_t>(std::towlower(c));
  }
  return text;
}

}  // namespace

TEST(Providers, AreListedInThePlatformsOrderAndCanBeAcquired) {
  std::vector<DWORD> types;
  for (const auto& [type, name] : EnumerateAll(P::CryptEnumProviderTypesW)) {
    types.push_back(type);
  }
  std::vector<DWORD> expected = {P::PROV_RSA_FULL, P::PROV_RSA_AES};
  if (GostInstalled()) {
    expected.push_back(P::PROV_GOST_2001_DH);  // the 2012 types may follow
  }
  ASSERT_GE(types.size(), expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), types.begin()));
  EXPECT_TRUE(std::is_sorted(types.begin(), types.end()));

  const auto providers = EnumerateAll(P::CryptEnumProvidersW);
  ASSERT_EQ(providers.size(), types.size());  // one provider, the default, per type
  for (std::size_t i = 0; i < providers.size(); ++i) {
    const auto& [type, name] = providers[i];
    EXPECT_TRUE(i == 0 || Folded(providers[i - 1].second) < Folded(name));
    const Context byName(type, Folded(name).c_str());  // names match in any letter case
    const Context byType(type);
    for (const HCRYPTPROV h : {byName.h, byType.h}) {
      char text[128] = {};
      DWORD size = sizeof text;
      ASSERT_TRUE(P::CryptGetProvParam(h, P::PP_NAME, reinterpret_cast<BYTE*>(text), &size, 0));
      EXPECT_EQ(std::wstring(text, text + size - 1), name);
    }
  }

  DWORD type = 0;
  DWORD needed = 0;
  ASSERT_TRUE(P::CryptEnumProvidersW(0, nullptr, 0, &type, nullptr, &needed));
  std::wstring name(needed / sizeof(wchar_t), L'#');
  DWORD size = needed - DWORD{sizeof(wchar_t)};  // no room for the NUL
  EXPECT_FAILS(P::CryptEnumProvidersW(0, nullptr, 0, &type, name.data(), &size),
               P::ERROR_MORE_DATA);
  EXPECT_EQ(size, needed);
  EXPECT_EQ(name.back(), L'#');
  DWORD reserved = 0;
  EXPECT_FAILS(P::CryptEnumProviderTypesW(0, &reserved, 0, &type, nullptr, &size),
               P::ERROR_INVALID_PARAMETER);
}

// The search for a hash provider by type (each type's default provider, types in order) ends
// where the header says.
TEST(Providers, ListTheirHashesAndTheSearchByTypeEndsWhereDocumented) {
  const Context full(P::PROV_RSA_FULL);
  const Context aes(P::PROV_RSA_AES);
  EXPECT_EQ(AlgIds(full.h), (std::vector<ALG_ID>{P::CALG_MD5, P::CALG_SHA1}));
  EXPECT_EQ(AlgIds(aes.h),
            (std::vector<ALG_ID>{P::CALG_MD5, P::CALG_SHA1, P::CALG_SHA_256, P::CALG_SHA_384,
                                 P::CALG_SHA_512, P::CALG_SHA_224, P::CALG_SHA_512_224,
                                 P::CALG_SHA_512_256, P::CALG_SHA3_224, P::CALG_SHA3_256,
                                 P::CALG_SHA3_384, P::CALG_SHA3_512}));
  const auto types = EnumerateAll(P::CryptEnumProviderTypesW);
  const auto found = [&](ALG_ID algid) -> DWORD {
    for (const auto& [type, name] : types) {
      const Context c(type);
      const std::vector<ALG_ID> ids = AlgIds(c.h);
      if (std::find(ids.begin(), ids.end(), algid) != ids.end()) {
        return type;
      }
    }
    return 0;
  };
  EXPECT_EQ(found(P::CALG_SHA1), P::PROV_RSA_FULL);
  EXPECT_EQ(found(P::CALG_SHA_256), P::PROV_RSA_AES);
  EXPECT_EQ(found(P::CALG_GR3411), GostInstalled() ? P::PROV_GOST_2001_DH : 0u);
  EXPECT_EQ(found(P::CALG_MD2), 0u);
  EXPECT_EQ(found(0), 0u);

  // The listing's cursor moves only when an entry is copied out.
  P::PROV_ENUMALGS entry{};
  BYTE* out = reinterpret_cast<BYTE*>(&entry);
  DWORD size = sizeof entry;
  ASSERT_TRUE(P::CryptGetProvParam(aes.h, P::PP_ENUMALGS, out, &size, P::CRYPT_FIRST));
  EXPECT_EQ(entry.aiAlgid, P::CALG_MD5);
  ASSERT_TRUE(P::CryptGetProvParam(aes.h, P::PP_ENUMALGS, nullptr, &size, 0));
  size = sizeof entry - 1;
  EXPECT_FAILS(P::CryptGetProvParam(aes.h, P::PP_ENUMALGS, out, &size, 0), P::ERROR_MORE_DATA);
  EXPECT_EQ(size, sizeof entry);
  ASSERT_TRUE(P::CryptGetProvParam(aes.h, P::PP_ENUMALGS, out, &size, P::CRYPT_NEXT));
  EXPECT_EQ(entry.aiAlgid, P::CALG_SHA1);
  EXPECT_STREQ(entry.szName, "SHA-1");
}

TEST(Providers, AcquireRefusesWhatCannotBeHad) {
  const DWORD verify = P::CRYPT_VERIFYCONTEXT;
  struct Case {
    const wchar_t* container;
    const wchar_t* provider;
    DWORD type;
    DWORD flags;
    P::HRESULT error;
  } const cases[] = {
      {nullptr, nullptr, 0, verify, P::NTE_BAD_PROV_TYPE},
      {nullptr, nullptr, 1000, verify, P::NTE_BAD_PROV_TYPE},
      {nullptr, nullptr, 2, verify, P::NTE_PROV_TYPE_NOT_DEF},
      {nullptr, L"No Such Provider", 1, verify, P::NTE_KEYSET_NOT_DEF},
      {nullptr, L"Velmora OpenSSL RSA and AES Provider", 1, verify, P::NTE_PROV_TYPE_NO_MATCH},
      {L"keys", nullptr, 1, 0, P::NTE_BAD_KEYSET},  // no key containers here
      {L"keys", nullptr, 1, verify, P::NTE_BAD_FLAGS},
      {nullptr, nullptr, 1, verify | P::CRYPT_NEWKEYSET, P::NTE_BAD_FLAGS},
      {nullptr, nullptr, 1, 0x10000000, P::NTE_BAD_FLAGS},  // a part of CRYPT_VERIFYCONTEXT
  };
  for (const Case& c : cases) {
    HCRYPTPROV h = 12345;
    EXPECT_FAILS(P::CryptAcquireContextW(&h, c.container, c.provider, c.type, c.flags), c.error);
    EXPECT_EQ(h, 12345u);
  }
  if (!GostInstalled()) {
    HCRYPTPROV h = 0;
    EXPECT_FAILS(P::CryptAcquireContextW(&h, nullptr, nullptr, P::PROV_GOST_2001_DH, verify),
                 P::NTE_PROV_TYPE_NOT_DEF);
  }
}

TEST(Providers, ContextsAreCountedAndDeadHandlesRefused) {
  HCRYPTPROV h = 0;
  ASSERT_TRUE(P::CryptAcquireContextW(&h, L"", L"", P::PROV_RSA_AES, P::CRYPT_VERIFYCONTEXT));
  ASSERT_TRUE(P::CryptContextAddRef(h, nullptr, 0));
  EXPECT_FAILS(P::CryptReleaseContext(h, 1), P::NTE_BAD_FLAGS);  // the reference stays
  HCRYPTHASH hash = 0;
  ASSERT_TRUE(P::CryptCreateHash(h, P::CALG_SHA_256, 0, 0, &hash));
  EXPECT_TRUE(P::CryptReleaseContext(h, 0));
  EXPECT_TRUE(P::CryptReleaseContext(h, 0));
  for (const HCRYPTPROV gone : {h, HCRYPTPROV{0}, HCRYPTPROV{hash}}) {
    BYTE b[4];
    HCRYPTHASH other = 0;
    EXPECT_FAILS(P::CryptReleaseContext(gone, 0), P::NTE_BAD_UID);
    EXPECT_FAILS(P::CryptGenRandom(gone, sizeof b, b), P::NTE_BAD_UID);
    EXPECT_FAILS(P::CryptCreateHash(gone, P::CALG_SHA1, 0, 0, &other), P::NTE_BAD_UID);
  }
  // A hash outlives its context; a new context never gets the old handle.
  const Hash kept(hash);
  kept.add({'a', 'b', 'c'});
  EXPECT_EQ(kept.get(), Digest(P::CALG_SHA_256, {'a', 'b', 'c'}));
  const Context again(P::PROV_RSA_AES);
  EXPECT_NE(again.h, h);
}

TEST(Hashing, EveryListedHashMatchesOpenSslWholeAndInPieces) {
  // Lengths around the block sizes of 64 and 128 bytes and their padding limits.
  const std::size_t lengths[] = {0, 1, 55, 56, 63, 64, 65, 111, 112, 127, 128, 129, 1000, 300001};
  for (const auto& [type, name] : EnumerateAll(P::CryptEnumProviderTypesW)) {
    const Context c(type);
    for (const ALG_ID algid : AlgIds(c.h)) {
      for (const std::size_t n : lengths) {
        const Bytes data = RandomBytes(n);
        const Bytes expected = Digest(algid, data);
        const Hash whole(c.h, algid);
        whole.add(data);
        EXPECT_EQ(whole.get(P::HP_ALGID), Word(algid));
        EXPECT_EQ(whole.get(P::HP_HASHSIZE), Word(static_cast<DWORD>(expected.size())));
        EXPECT_EQ(whole.get(), expected) << std::hex << algid << std::dec << " " << n;

        const Hash pieces(c.h, algid);  // pieces of random sizes, empty ones among them
        std::size_t at = 0;
        for (const BYTE cut : RandomBytes(16)) {
          const std::size_t take = std::min<std::size_t>(n - at, n * cut / 2048);
          ASSERT_TRUE(P::CryptHashData(pieces.h, data.data() + at, static_cast<DWORD>(take), 0));
          at += take;
        }
        ASSERT_TRUE(P::CryptHashData(pieces.h, data.data() + at, static_cast<DWORD>(n - at),
                                     P::CRYPT_USERDATA));
        EXPECT_EQ(pieces.get(), expected);
      }
    }
  }
}

TEST(Hashing, DuplicateCarriesTheDataHashedSoFar) {
  const Context c(P::PROV_RSA_AES);
  const Bytes head = RandomBytes(1000), tail = RandomBytes(77);
  const Hash original(c.h, P::CALG_SHA_384);
  original.add(head);
  HCRYPTHASH dup = 0;
  ASSERT_TRUE(P::CryptDuplicateHash(original.h, nullptr, 0, &dup));
  const Hash copy(dup);
  original.add(tail);  // the two go on separately
  Bytes whole = head;
  whole.insert(whole.end(), tail.begin(), tail.end());
  EXPECT_EQ(original.get(), Digest(P::CALG_SHA_384, whole));
  EXPECT_EQ(copy.get(), Digest(P::CALG_SHA_384, head));

  // A finished hash duplicates into a finished hash with the same value.
  ASSERT_TRUE(P::CryptDuplicateHash(original.h, nullptr, 0, &dup));
  const Hash finished(dup);
  EXPECT_EQ(finished.get(), Digest(P::CALG_SHA_384, whole));
  EXPECT_FAILS(P::CryptHashData(finished.h, head.data(), 1, 0), P::NTE_BAD_HASH_STATE);
  DWORD reserved = 0;
  EXPECT_FAILS(P::CryptDuplicateHash(original.h, &reserved, 0, &dup), P::ERROR_INVALID_PARAMETER);
}

TEST(Hashing, OnlyReadingTheValueFinishesTheHash) {
  const Context c(P::PROV_RSA_FULL);
  const Hash h(c.h, P::CALG_SHA1);
  h.add({1, 2, 3});
  DWORD size = 0;  // asking the size, or offering too little room, leaves it running
  ASSERT_TRUE(P::CryptGetHashParam(h.h, P::HP_HASHVAL, nullptr, &size, 0));
  Bytes value(64, 0xAA);
  size = 19;
  EXPECT_FAILS(P::CryptGetHashParam(h.h, P::HP_HASHVAL, value.data(), &size, 0),
               P::ERROR_MORE_DATA);
  EXPECT_EQ(size, 20u);
  EXPECT_EQ(value[0], 0xAA);
  h.add({4});

  const DWORD untouched = 0x5EED;  // success leaves the last error alone
  P::SetLastError(untouched);
  size = static_cast<DWORD>(value.size());
  ASSERT_TRUE(P::CryptGetHashParam(h.h, P::HP_HASHVAL, value.data(), &size, 0));
  EXPECT_EQ(P::GetLastError(), untouched);
  value.resize(size);
  EXPECT_EQ(value, Digest(P::CALG_SHA1, {1, 2, 3, 4}));
  EXPECT_FAILS(P::CryptHashData(h.h, value.data(), 1, 0), P::NTE_BAD_HASH_STATE);
  EXPECT_EQ(h.get(), value);  // read again, unchanged
}

TEST(Hashing, RefusesBadArgumentsAndDeadHandles) {
  const Context full(P::PROV_RSA_FULL);
  HCRYPTHASH h = 777;
  for (const ALG_ID algid : {P::CALG_SHA_256 /* type 24 only */, P::CALG_MD2, ALG_ID{0}}) {
    EXPECT_FAILS(P::CryptCreateHash(full.h, algid, 0, 0, &h), P::NTE_BAD_ALGID);
  }
  EXPECT_EQ(h, 777u);
  ASSERT_TRUE(P::CryptCreateHash(full.h, P::CALG_MD5, 0, 0, &h));
  EXPECT_FAILS(P::CryptHashData(h, nullptr, 1, 0), P::ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(P::CryptHashData(h, nullptr, 0, 0));
  ASSERT_TRUE(P::CryptDestroyHash(h));
  for (const HCRYPTHASH gone : {h, HCRYPTHASH{0}, HCRYPTHASH{full.h}}) {
    DWORD size = 0;
    EXPECT_FAILS(P::CryptHashData(gone, nullptr, 0, 0), P::NTE_BAD_HASH);
    EXPECT_FAILS(P::CryptGetHashParam(gone, P::HP_HASHSIZE, nullptr, &size, 0), P::NTE_BAD_HASH);
    EXPECT_FAILS(P::CryptDestroyHash(gone), P::NTE_BAD_HASH);
  }
}

TEST(Random, FillsTheBufferAndRefusesANullOne) {
  const Context c(P::PROV_RSA_FULL);
  Bytes a(64), b(64);
  ASSERT_TRUE(P::CryptGenRandom(c.h, 64, a.data()));
  ASSERT_TRUE(P::CryptGenRandom(c.h, 64, b.data()));
  EXPECT_NE(a, b);
  EXPECT_TRUE(P::CryptGenRandom(c.h, 0, nullptr));
  EXPECT_FAILS(P::CryptGenRandom(c.h, 1, nullptr), P::ERROR_INVALID_PARAMETER);
}
