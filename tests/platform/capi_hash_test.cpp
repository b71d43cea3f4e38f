// The hashing and random-number providers: what is installed and how it is listed, acquiring and
// releasing contexts, hash objects against OpenSSL's one-shot digests, and the errors of each
// call.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/capi/crypt_hash.h"
#include "platform/capi/crypt_provider.h"
#include "platform/capi/wincrypt_oid.h"
#include "platform/text/last_error.h"
#include "platform/text/winerror.h"

namespace P = Velmora::Platform;
using P::ALG_ID;
using P::BYTE;
using P::DWORD;
using P::HCRYPTHASH;
using P::HCRYPTPROV;
using Bytes = std::vector<BYTE>;

namespace {

constexpr DWORD kNoError = 0x5EED;  // put in the last error to see that success leaves it alone

DWORD Code(P::HRESULT hr) {
  return static_cast<DWORD>(hr);
}

// OpenSSL's name of each ALG_ID, written down here independently of the layer.
const std::map<ALG_ID, std::string> kDigestNames = {
    {P::CALG_MD5, "MD5"},
    {P::CALG_SHA1, "SHA1"},
    {P::CALG_SHA_256, "SHA256"},
    {P::CALG_SHA_384, "SHA384"},
    {P::CALG_SHA_512, "SHA512"},
    {P::CALG_GR3411, "md_gost94"},
    {P::CALG_GR3411_2012_256, "md_gost12_256"},
    {P::CALG_GR3411_2012_512, "md_gost12_512"},
};

Bytes Digest(ALG_ID algid, const Bytes& data) {
  EVP_MD* md = EVP_MD_fetch(nullptr, kDigestNames.at(algid).c_str(), nullptr);
  EXPECT_NE(md, nullptr);
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

// A context released at the end of the scope.
struct Context {
  Context() = default;
  explicit Context(DWORD type, const wchar_t* name = nullptr) {
    EXPECT_TRUE(P::CryptAcquireContextW(&h, nullptr, name, type, P::CRYPT_VERIFYCONTEXT))
        << std::hex << P::GetLastError();
  }
  ~Context() {
    if (h != 0) {
      EXPECT_TRUE(P::CryptReleaseContext(h, 0));
    }
  }
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;
  HCRYPTPROV h = 0;
};

struct Hash {
  Hash(HCRYPTPROV prov, ALG_ID algid) {
    EXPECT_TRUE(P::CryptCreateHash(prov, algid, 0, 0, &h)) << std::hex << P::GetLastError();
  }
  explicit Hash(HCRYPTHASH handle) : h(handle) {}
  ~Hash() { EXPECT_TRUE(P::CryptDestroyHash(h)); }
  Hash(const Hash&) = delete;
  Hash& operator=(const Hash&) = delete;

  void add(const Bytes& data) const {
    EXPECT_TRUE(P::CryptHashData(h, data.data(), static_cast<DWORD>(data.size()), 0));
  }
  Bytes value() const {
    DWORD size = 0;
    EXPECT_TRUE(P::CryptGetHashParam(h, P::HP_HASHVAL, nullptr, &size, 0));
    Bytes out(size);
    EXPECT_TRUE(P::CryptGetHashParam(h, P::HP_HASHVAL, out.data(), &size, 0));
    out.resize(size);
    return out;
  }
  DWORD word(DWORD param) const {
    DWORD value = 0;
    DWORD size = sizeof value;
    EXPECT_TRUE(P::CryptGetHashParam(h, param, reinterpret_cast<BYTE*>(&value), &size, 0));
    EXPECT_EQ(size, sizeof value);
    return value;
  }
  HCRYPTHASH h = 0;
};

struct Entry {
  DWORD type;
  std::wstring name;
};

// Walks an enumeration the way the library does: a size query, then the read.
template <typename Enum>
std::vector<Entry> EnumerateAll(Enum enumerate) {
  std::vector<Entry> entries;
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
    entries.push_back({type, name});
  }
}

std::vector<P::PROV_ENUMALGS_EX> Algorithms(HCRYPTPROV prov) {
  std::vector<P::PROV_ENUMALGS_EX> list;
  for (DWORD flags = P::CRYPT_FIRST;; flags = 0) {
    P::PROV_ENUMALGS_EX entry{};
    DWORD size = sizeof entry;
    if (!P::CryptGetProvParam(prov, P::PP_ENUMALGS_EX, reinterpret_cast<BYTE*>(&entry), &size,
                              flags)) {
      EXPECT_EQ(P::GetLastError(), P::ERROR_NO_MORE_ITEMS);
      return list;
    }
    list.push_back(entry);
  }
}

std::vector<ALG_ID> AlgIds(HCRYPTPROV prov) {
  std::vector<ALG_ID> ids;
  for (const auto& a : Algorithms(prov)) {
    ids.push_back(a.aiAlgid);
  }
  return ids;
}

std::wstring Folded(std::wstring text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
  return text;
}

}  // namespace

TEST(Providers, TypesAndProvidersAreListedInThePlatformsOrder) {
  const std::vector<Entry> types = EnumerateAll(P::CryptEnumProviderTypesW);
  std::vector<DWORD> typeNumbers;
  for (const Entry& t : types) {
    typeNumbers.push_back(t.type);
    EXPECT_FALSE(t.name.empty());
  }
  std::vector<DWORD> expected = {P::PROV_RSA_FULL, P::PROV_RSA_AES};
  if (GostInstalled()) {
    expected.push_back(P::PROV_GOST_2001_DH);
  }
  // Without GOST R 34.11-94 there is no GOST type at all; with it, the 2012 types may follow.
  ASSERT_GE(typeNumbers.size(), expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), typeNumbers.begin()));
  EXPECT_TRUE(std::is_sorted(typeNumbers.begin(), typeNumbers.end()));

  const std::vector<Entry> providers = EnumerateAll(P::CryptEnumProvidersW);
  ASSERT_EQ(providers.size(), types.size());  // one provider per type
  for (std::size_t i = 1; i < providers.size(); ++i) {
    EXPECT_LT(Folded(providers[i - 1].name), Folded(providers[i].name));
  }
  for (const Entry& p : providers) {
    // Acquired by name (in any letter case) and as its type's default: the same provider.
    Context byName(p.type, Folded(p.name).c_str());
    Context byType(p.type);
    for (const HCRYPTPROV h : {byName.h, byType.h}) {
      char name[128] = {};
      DWORD size = sizeof name;
      ASSERT_TRUE(P::CryptGetProvParam(h, P::PP_NAME, reinterpret_cast<BYTE*>(name), &size, 0));
      EXPECT_EQ(std::wstring(name, name + size - 1), p.name);
      DWORD type = 0;
      size = sizeof type;
      ASSERT_TRUE(
          P::CryptGetProvParam(h, P::PP_PROVTYPE, reinterpret_cast<BYTE*>(&type), &size, 0));
      EXPECT_EQ(type, p.type);
    }
  }
}

TEST(Providers, EnumerationKeepsTheSizeProtocol) {
  for (const auto enumerate : {P::CryptEnumProviderTypesW, P::CryptEnumProvidersW}) {
    DWORD type = 0;
    DWORD needed = 0;
    ASSERT_TRUE(enumerate(0, nullptr, 0, &type, nullptr, &needed));
    EXPECT_NE(type, 0u);
    std::wstring name(needed / sizeof(wchar_t), L'#');
    DWORD size = needed - DWORD{sizeof(wchar_t)};  // no room for the NUL
    EXPECT_FALSE(enumerate(0, nullptr, 0, &type, name.data(), &size));
    EXPECT_EQ(P::GetLastError(), P::ERROR_MORE_DATA);
    EXPECT_EQ(size, needed);
    EXPECT_EQ(name.back(), L'#');
    size = needed + 64;
    ASSERT_TRUE(enumerate(0, nullptr, 0, &type, name.data(), &size));
    EXPECT_EQ(size, needed);
    EXPECT_EQ(name.back(), L'\0');

    DWORD reserved = 0;
    EXPECT_FALSE(enumerate(0, &reserved, 0, &type, nullptr, &size));
    EXPECT_EQ(P::GetLastError(), P::ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(enumerate(0, nullptr, 0, &type, nullptr, nullptr));
    EXPECT_EQ(P::GetLastError(), P::ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(enumerate(0, nullptr, 1, &type, nullptr, &size));
    EXPECT_EQ(P::GetLastError(), Code(P::NTE_BAD_FLAGS));
    EXPECT_FALSE(enumerate(1000, nullptr, 0, &type, nullptr, &size));
    EXPECT_EQ(P::GetLastError(), P::ERROR_NO_MORE_ITEMS);
  }
}

TEST(Providers, EachTypeListsItsHashes) {
  const std::vector<std::pair<DWORD, std::vector<ALG_ID>>> expected = {
      {P::PROV_RSA_FULL, {P::CALG_MD5, P::CALG_SHA1}},
      {P::PROV_RSA_AES,
       {P::CALG_MD5, P::CALG_SHA1, P::CALG_SHA_256, P::CALG_SHA_384, P::CALG_SHA_512}},
  };
  for (const auto& [type, algids] : expected) {
    Context c(type);
    EXPECT_EQ(AlgIds(c.h), algids);
    for (const auto& a : Algorithms(c.h)) {
      const Bytes empty = Digest(a.aiAlgid, {});
      EXPECT_EQ(a.dwDefaultLen, empty.size() * 8);
      EXPECT_EQ(a.dwMinLen, a.dwDefaultLen);
      EXPECT_EQ(a.dwMaxLen, a.dwDefaultLen);
      EXPECT_EQ(a.dwNameLen, std::strlen(a.szName) + 1);
      EXPECT_EQ(a.dwLongNameLen, std::strlen(a.szLongName) + 1);
    }
  }

  // PP_ENUMALGS gives the same list; the cursor moves only when an entry is copied out.
  Context c(P::PROV_RSA_AES);
  P::PROV_ENUMALGS entry{};
  DWORD size = 0;
  ASSERT_TRUE(P::CryptGetProvParam(c.h, P::PP_ENUMALGS, nullptr, &size, P::CRYPT_FIRST));
  EXPECT_EQ(size, sizeof entry);
  size = sizeof entry - 1;
  EXPECT_FALSE(
      P::CryptGetProvParam(c.h, P::PP_ENUMALGS, reinterpret_cast<BYTE*>(&entry), &size, 0));
  EXPECT_EQ(P::GetLastError(), P::ERROR_MORE_DATA);
  EXPECT_EQ(size, sizeof entry);
  ASSERT_TRUE(P::CryptGetProvParam(c.h, P::PP_ENUMALGS, reinterpret_cast<BYTE*>(&entry), &size, 0));
  EXPECT_EQ(entry.aiAlgid, P::CALG_MD5);
  EXPECT_EQ(entry.dwBitLen, 128u);
  EXPECT_STREQ(entry.szName, "MD5");
  ASSERT_TRUE(P::CryptGetProvParam(c.h, P::PP_ENUMALGS, reinterpret_cast<BYTE*>(&entry), &size,
                                   P::CRYPT_NEXT));
  EXPECT_EQ(entry.aiAlgid, P::CALG_SHA1);
  // A full listing restarts with CRYPT_FIRST, and past its end stays at ERROR_NO_MORE_ITEMS.
  EXPECT_EQ(AlgIds(c.h).size(), 5u);
  EXPECT_FALSE(
      P::CryptGetProvParam(c.h, P::PP_ENUMALGS, reinterpret_cast<BYTE*>(&entry), &size, 0));
  EXPECT_EQ(P::GetLastError(), P::ERROR_NO_MORE_ITEMS);

  EXPECT_FALSE(P::CryptGetProvParam(c.h, 999, nullptr, &size, 0));
  EXPECT_EQ(P::GetLastError(), Code(P::NTE_BAD_TYPE));
  EXPECT_FALSE(P::CryptGetProvParam(c.h, P::PP_ENUMALGS, nullptr, &size, 4));
  EXPECT_EQ(P::GetLastError(), Code(P::NTE_BAD_FLAGS));
  EXPECT_FALSE(P::CryptGetProvParam(c.h, P::PP_NAME, nullptr, &size, P::CRYPT_FIRST));
  EXPECT_EQ(P::GetLastError(), Code(P::NTE_BAD_FLAGS));
  EXPECT_FALSE(P::CryptGetProvParam(c.h, P::PP_NAME, nullptr, nullptr, 0));
  EXPECT_EQ(P::GetLastError(), P::ERROR_INVALID_PARAMETER);
}

// The search for a hash provider by type (each type's default provider, types in order) ends
// where the header says it does.
TEST(Providers, SearchByTypeFindsTheDocumentedProvider) {
  const std::vector<Entry> types = EnumerateAll(P::CryptEnumProviderTypesW);
  const auto found = [&](ALG_ID algid) -> DWORD {
    for (const Entry& t : types) {
      Context c(t.type);
      const std::vector<ALG_ID> ids = AlgIds(c.h);
      if (std::find(ids.begin(), ids.end(), algid) != ids.end()) {
        return t.type;
      }
    }
    return 0;
  };
  EXPECT_EQ(found(P::CALG_MD5), P::PROV_RSA_FULL);
  EXPECT_EQ(found(P::CALG_SHA1), P::PROV_RSA_FULL);
  EXPECT_EQ(found(P::CALG_SHA_256), P::PROV_RSA_AES);
  EXPECT_EQ(found(P::CALG_SHA_384), P::PROV_RSA_AES);
  EXPECT_EQ(found(P::CALG_SHA_512), P::PROV_RSA_AES);
  EXPECT_EQ(found(P::CALG_GR3411), GostInstalled() ? P::PROV_GOST_2001_DH : 0u);
  EXPECT_EQ(found(P::CALG_MD2), 0u);
  EXPECT_EQ(found(0), 0u);
}

TEST(Providers, AcquireRefusesWhatCannotBeHad) {
  std::wstring aesName;
  for (const Entry& p : EnumerateAll(P::CryptEnumProvidersW)) {
    if (p.type == P::PROV_RSA_AES) {
      aesName = p.name;
    }
  }
  struct Case {
    const wchar_t* container;
    const wchar_t* provider;
    DWORD type;
    DWORD flags;
    DWORD error;
  };
  const Case cases[] = {
      {nullptr, nullptr, 0, P::CRYPT_VERIFYCONTEXT, Code(P::NTE_BAD_PROV_TYPE)},
      {nullptr, nullptr, 1000, P::CRYPT_VERIFYCONTEXT, Code(P::NTE_BAD_PROV_TYPE)},
      {nullptr, nullptr, 2, P::CRYPT_VERIFYCONTEXT, Code(P::NTE_PROV_TYPE_NOT_DEF)},
      {nullptr, L"No Such Provider", 1, P::CRYPT_VERIFYCONTEXT, Code(P::NTE_KEYSET_NOT_DEF)},
      {nullptr, aesName.c_str(), P::PROV_RSA_FULL, P::CRYPT_VERIFYCONTEXT,
       Code(P::NTE_PROV_TYPE_NO_MATCH)},
      {nullptr, nullptr, 1, 0, Code(P::NTE_BAD_KEYSET)},
      {L"keys", nullptr, 1, 0, Code(P::NTE_BAD_KEYSET)},
      {L"keys", nullptr, 1, P::CRYPT_VERIFYCONTEXT, Code(P::NTE_BAD_FLAGS)},
      {nullptr, nullptr, 1, P::CRYPT_VERIFYCONTEXT | P::CRYPT_NEWKEYSET, Code(P::NTE_BAD_FLAGS)},
      {nullptr, nullptr, 1, P::CRYPT_VERIFYCONTEXT | 0x100, Code(P::NTE_BAD_FLAGS)},
      {nullptr, nullptr, 1, 0x10000000, Code(P::NTE_BAD_FLAGS)},  // part of CRYPT_VERIFYCONTEXT
  };
  for (const Case& c : cases) {
    HCRYPTPROV h = 12345;
    EXPECT_FALSE(P::CryptAcquireContextW(&h, c.container, c.provider, c.type, c.flags));
    EXPECT_EQ(P::GetLastError(), c.error) << c.type << " " << std::hex << c.flags;
    EXPECT_EQ(h, 12345u);
  }
  EXPECT_FALSE(P::CryptAcquireContextW(nullptr, nullptr, nullptr, 1, P::CRYPT_VERIFYCONTEXT));
  EXPECT_EQ(P::GetLastError(), P::ERROR_INVALID_PARAMETER);
  if (!GostInstalled()) {
    HCRYPTPROV h = 0;
    EXPECT_FALSE(P::CryptAcquireContextW(&h, nullptr, nullptr, P::PROV_GOST_2001_DH,
                                         P::CRYPT_VERIFYCONTEXT));
    EXPECT_EQ(P::GetLastError(), Code(P::NTE_PROV_TYPE_NOT_DEF));
  }
  // Optional flags and an empty container name are accepted.
  HCRYPTPROV h = 0;
  ASSERT_TRUE(P::CryptAcquireContextW(&h, L"", L"", P::PROV_RSA_FULL,
                                      P::CRYPT_VERIFYCONTEXT | P::CRYPT_SILENT));
  EXPECT_TRUE(P::CryptReleaseContext(h, 0));
}

TEST(Providers, ContextsAreCountedAndHandlesNeverReused) {
  HCRYPTPROV h = 0;
  ASSERT_TRUE(
      P::CryptAcquireContextW(&h, nullptr, nullptr, P::PROV_RSA_AES, P::CRYPT_VERIFYCONTEXT));
  ASSERT_TRUE(P::CryptContextAddRef(h, nullptr, 0));
  DWORD reserved = 0;
  EXPECT_FALSE(P::CryptContextAddRef(h, &reserved, 0));
  EXPECT_EQ(P::GetLastError(), P::ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(P::CryptReleaseContext(h, 1));  // refused, and the reference is kept
  EXPECT_EQ(P::GetLastError(), Code(P::NTE_BAD_FLAGS));

  HCRYPTHASH hash = 0;
  ASSERT_TRUE(P::CryptCreateHash(h, P::CALG_SHA_256, 0, 0, &hash));
  EXPECT_TRUE(P::CryptReleaseContext(h, 0));
  EXPECT_TRUE(P::CryptReleaseContext(h, 0));
  for (const HCRYPTPROV gone : {h, HCRYPTPROV{0}, HCRYPTPROV{hash}}) {
    EXPECT_FALSE(P::CryptReleaseContext(gone, 0));
    EXPECT_EQ(P::GetLastError(), Code(P::NTE_BAD_UID));
    BYTE b[4];
    EXPECT_FALSE(P::CryptGenRandom(gone, sizeof b, b));
    EXPECT_EQ(P::GetLastError(), Code(P::NTE_BAD_UID));
    HCRYPTHASH other = 0;
    EXPECT_FALSE(P::CryptCreateHash(gone, P::CALG_SHA1, 0, 0, &other));
    EXPECT_EQ(P::GetLastError(), Code(P::NTE_BAD_UID));
  }
  // A hash outlives the context it was made in; a new context never gets the old handle.
  const Hash kept(hash);
  kept.add({'a', 'b', 'c'});
  EXPECT_EQ(kept.value(), Digest(P::CALG_SHA_256, {'a', 'b', 'c'}));
  Context again(P::PROV_RSA_AES);
  EXPECT_NE(again.h, h);
}

TEST(Hashing, EveryListedHashMatchesOpenSsl) {
  std::vector<std::pair<DWORD, ALG_ID>> all;
  for (const Entry& t : EnumerateAll(P::CryptEnumProviderTypesW)) {
    Context c(t.type);
    for (const ALG_ID algid : AlgIds(c.h)) {
      all.emplace_back(t.type, algid);
    }
  }
  // Lengths around the block sizes of 64 and 128 bytes and their padding limits.
  const std::size_t lengths[] = {0, 1, 55, 56, 63, 64, 65, 111, 112, 127, 128, 129, 1000, 300001};
  for (const auto& [type, algid] : all) {
    Context c(type);
    for (const std::size_t n : lengths) {
      const Bytes data = RandomBytes(n);
      const Bytes expected = Digest(algid, data);
      const Hash whole(c.h, algid);
      whole.add(data);
      EXPECT_EQ(whole.word(P::HP_ALGID), algid);
      EXPECT_EQ(whole.word(P::HP_HASHSIZE), expected.size());
      EXPECT_EQ(whole.value(), expected) << std::hex << algid << " " << std::dec << n;

      // The same data in pieces of random sizes, empty ones among them.
      const Hash pieces(c.h, algid);
      std::size_t at = 0;
      for (const BYTE cut : RandomBytes(16)) {
        const std::size_t take = std::min<std::size_t>(n - at, n * cut / 2048);
        ASSERT_TRUE(P::CryptHashData(pieces.h, data.data() + at, static_cast<DWORD>(take), 0));
        at += take;
      }
      ASSERT_TRUE(P::CryptHashData(pieces.h, data.data() + at, static_cast<DWORD>(n - at),
                                   P::CRYPT_USERDATA));
      EXPECT_EQ(pieces.value(), expected);
    }
  }
}

TEST(Hashing, DuplicateCarriesTheDataHashedSoFar) {
  Context c(P::PROV_RSA_AES);
  const Bytes head = RandomBytes(1000), left = RandomBytes(77), right = RandomBytes(5000);
  const Hash original(c.h, P::CALG_SHA_384);
  original.add(head);
  HCRYPTHASH dup = 0;
  ASSERT_TRUE(P::CryptDuplicateHash(original.h, nullptr, 0, &dup));
  const Hash copy(dup);
  original.add(left);
  copy.add(right);
  Bytes headLeft = head, headRight = head;
  headLeft.insert(headLeft.end(), left.begin(), left.end());
  headRight.insert(headRight.end(), right.begin(), right.end());
  EXPECT_EQ(original.value(), Digest(P::CALG_SHA_384, headLeft));
  EXPECT_EQ(copy.value(), Digest(P::CALG_SHA_384, headRight));

  // A finished hash duplicates into a finished hash with the same value.
  HCRYPTHASH dup2 = 0;
  ASSERT_TRUE(P::CryptDuplicateHash(original.h, nullptr, 0, &dup2));
  const Hash finished(dup2);
  EXPECT_EQ(finished.value(), Digest(P::CALG_SHA_384, headLeft));
  EXPECT_FALSE(P::CryptHashData(finished.h, head.data(), 1, 0));
  EXPECT_EQ(P::GetLastError(), Code(P::NTE_BAD_HASH_STATE));

  DWORD reserved = 0;
  EXPECT_FALSE(P::CryptDuplicateHash(original.h, &reserved, 0, &dup));
  EXPECT_EQ(P::GetLastError(), P::ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(P::CryptDuplicateHash(original.h, nullptr, 0, nullptr));
  EXPECT_EQ(P::GetLastError(), P::ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(P::CryptDuplicateHash(original.h, nullptr, 1, &dup));
  EXPECT_EQ(P::GetLastError(), Code(P::NTE_BAD_FLAGS));
}

TEST(Hashing, ReadingTheValueFinishesTheHash) {
  Context c(P::PROV_RSA_FULL);
  const Hash h(c.h, P::CALG_SHA1);
  h.add({1, 2, 3});
  // Asking the size, or offering too little room, leaves the hash running.
  DWORD size = 0;
  ASSERT_TRUE(P::CryptGetHashParam(h.h, P::HP_HASHVAL, nullptr, &size, 0));
  EXPECT_EQ(size, 20u);
  Bytes value(64, 0xAA);
  size = 19;
  EXPECT_FALSE(P::CryptGetHashParam(h.h, P::HP_HASHVAL, value.data(), &size, 0));
  EXPECT_EQ(P::GetLastError(), P::ERROR_MORE_DATA);
  EXPECT_EQ(size, 20u);
  EXPECT_EQ(value[0], 0xAA);
  h.add({4});

  size = static_cast<DWORD>(value.size());
  P::SetLastError(kNoError);
  ASSERT_TRUE(P::CryptGetHashParam(h.h, P::HP_HASHVAL, value.data(), &size, 0));
  EXPECT_EQ(P::GetLastError(), kNoError);
  EXPECT_EQ(size, 20u);
  value.resize(size);
  EXPECT_EQ(value, Digest(P::CALG_SHA1, {1, 2, 3, 4}));
  EXPECT_FALSE(P::CryptHashData(h.h, value.data(), 1, 0));
  EXPECT_EQ(P::GetLastError(), Code(P::NTE_BAD_HASH_STATE));
  EXPECT_EQ(h.value(), value);  // read again, unchanged

  EXPECT_FALSE(P::CryptGetHashParam(h.h, 3, nullptr, &size, 0));
  EXPECT_EQ(P::GetLastError(), Code(P::NTE_BAD_TYPE));
  EXPECT_FALSE(P::CryptGetHashParam(h.h, P::HP_HASHVAL, nullptr, &size, 1));
  EXPECT_EQ(P::GetLastError(), Code(P::NTE_BAD_FLAGS));
  EXPECT_FALSE(P::CryptGetHashParam(h.h, P::HP_HASHSIZE, nullptr, nullptr, 0));
  EXPECT_EQ(P::GetLastError(), P::ERROR_INVALID_PARAMETER);
  size = 3;
  EXPECT_FALSE(P::CryptGetHashParam(h.h, P::HP_ALGID, value.data(), &size, 0));
  EXPECT_EQ(P::GetLastError(), P::ERROR_MORE_DATA);
  EXPECT_EQ(size, sizeof(DWORD));
}

TEST(Hashing, RefusesBadArgumentsAndDeadHandles) {
  Context full(P::PROV_RSA_FULL);
  HCRYPTHASH h = 777;
  const std::pair<ALG_ID, DWORD> badAlgorithms[] = {
      {P::CALG_SHA_256, Code(P::NTE_BAD_ALGID)},  // listed by type 24 only
      {P::CALG_MD2, Code(P::NTE_BAD_ALGID)},
      {0, Code(P::NTE_BAD_ALGID)},
  };
  for (const auto& [algid, error] : badAlgorithms) {
    EXPECT_FALSE(P::CryptCreateHash(full.h, algid, 0, 0, &h));
    EXPECT_EQ(P::GetLastError(), error);
  }
  EXPECT_FALSE(P::CryptCreateHash(full.h, P::CALG_SHA1, 5, 0, &h));
  EXPECT_EQ(P::GetLastError(), Code(P::NTE_BAD_KEY));
  EXPECT_FALSE(P::CryptCreateHash(full.h, P::CALG_SHA1, 0, 1, &h));
  EXPECT_EQ(P::GetLastError(), Code(P::NTE_BAD_FLAGS));
  EXPECT_FALSE(P::CryptCreateHash(full.h, P::CALG_SHA1, 0, 0, nullptr));
  EXPECT_EQ(P::GetLastError(), P::ERROR_INVALID_PARAMETER);
  EXPECT_EQ(h, 777u);

  ASSERT_TRUE(P::CryptCreateHash(full.h, P::CALG_MD5, 0, 0, &h));
  EXPECT_FALSE(P::CryptHashData(h, nullptr, 1, 0));
  EXPECT_EQ(P::GetLastError(), P::ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(P::CryptHashData(h, reinterpret_cast<const BYTE*>("x"), 1, 2));
  EXPECT_EQ(P::GetLastError(), Code(P::NTE_BAD_FLAGS));
  P::SetLastError(kNoError);
  EXPECT_TRUE(P::CryptHashData(h, nullptr, 0, 0));
  EXPECT_EQ(P::GetLastError(), kNoError);
  ASSERT_TRUE(P::CryptDestroyHash(h));

  // A destroyed hash, 0, and a context handle are no hash.
  for (const HCRYPTHASH gone : {h, HCRYPTHASH{0}, HCRYPTHASH{full.h}}) {
    DWORD size = 0;
    HCRYPTHASH dup = 0;
    EXPECT_FALSE(P::CryptHashData(gone, nullptr, 0, 0));
    EXPECT_EQ(P::GetLastError(), Code(P::NTE_BAD_HASH));
    EXPECT_FALSE(P::CryptGetHashParam(gone, P::HP_HASHSIZE, nullptr, &size, 0));
    EXPECT_EQ(P::GetLastError(), Code(P::NTE_BAD_HASH));
    EXPECT_FALSE(P::CryptDuplicateHash(gone, nullptr, 0, &dup));
    EXPECT_EQ(P::GetLastError(), Code(P::NTE_BAD_HASH));
    EXPECT_FALSE(P::CryptDestroyHash(gone));
    EXPECT_EQ(P::GetLastError(), Code(P::NTE_BAD_HASH));
  }
}

TEST(Hashing, ThreadsShareAContext) {
  Context c(P::PROV_RSA_AES);
  const Bytes data = RandomBytes(100000);
  const Bytes expected = Digest(P::CALG_SHA_256, data);
  std::vector<Bytes> results(4);
  std::vector<std::thread> threads;
  for (Bytes& result : results) {
    threads.emplace_back([&] {
      for (int round = 0; round < 20; ++round) {
        const Hash h(c.h, P::CALG_SHA_256);
        h.add(data);
        result = h.value();
      }
    });
  }
  for (std::thread& t : threads) {
    t.join();
  }
  for (const Bytes& result : results) {
    EXPECT_EQ(result, expected);
  }
}

TEST(Random, FillsTheBufferAndRefusesBadArguments) {
  Context c(P::PROV_RSA_FULL);
  Bytes a(64), b(64);
  P::SetLastError(kNoError);
  ASSERT_TRUE(P::CryptGenRandom(c.h, 64, a.data()));
  ASSERT_TRUE(P::CryptGenRandom(c.h, 64, b.data()));
  EXPECT_EQ(P::GetLastError(), kNoError);
  EXPECT_NE(a, b);
  EXPECT_NE(a, Bytes(64));
  EXPECT_TRUE(P::CryptGenRandom(c.h, 0, nullptr));
  EXPECT_FALSE(P::CryptGenRandom(c.h, 1, nullptr));
  EXPECT_EQ(P::GetLastError(), P::ERROR_INVALID_PARAMETER);
}
