// The built-in OID registry: its entries agree with OpenSSL's object table, and CryptEnumOIDInfo
// and CryptFindOIDInfo behave as the platform's do.
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/capi/wincrypt_oid.h"
#include "platform/crypto/gost_module.h"
#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"

namespace P = Velmora::Platform;
using P::ALG_ID;
using P::CRYPT_OID_INFO;
using P::DWORD;

namespace {

std::vector<const CRYPT_OID_INFO*> Enumerate(DWORD group) {
  std::vector<const CRYPT_OID_INFO*> seen;
  const P::BOOL done =
      P::CryptEnumOIDInfo(group, 0, &seen, [](const CRYPT_OID_INFO* info, void* arg) -> P::BOOL {
        static_cast<std::vector<const CRYPT_OID_INFO*>*>(arg)->push_back(info);
        return P::TRUE;
      });
  EXPECT_EQ(done, P::TRUE);
  return seen;
}

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; *text != L'\0'; ++text) {
    out.push_back(static_cast<char>(*text));  // CNG names are ASCII
  }
  return out;
}

std::vector<DWORD> Words(const P::CRYPT_DATA_BLOB& blob) {
  std::vector<DWORD> words(blob.cbData / sizeof(DWORD));
  if (!words.empty()) {
    std::memcpy(words.data(), blob.pbData, words.size() * sizeof(DWORD));
  }
  return words;
}

bool IsAlgorithm(ALG_ID algid) {
  return algid != P::CALG_OID_INFO_CNG_ONLY && algid != P::CALG_OID_INFO_PARAMETERS;
}

// The digest OpenSSL knows under a CNG name of the registry, or NID_undef.
int DigestNid(const wchar_t* cngName) {
  const EVP_MD* md = EVP_get_digestbyname(Narrow(cngName).c_str());
  return md == nullptr ? NID_undef : EVP_MD_get_type(md);
}

const CRYPT_OID_INFO* FindAlg(ALG_ID algid, DWORD group) {
  return P::CryptFindOIDInfo(P::CRYPT_OID_INFO_ALGID_KEY, &algid, group);
}

}  // namespace

TEST(OidRegistry, EnumerationFollowsGroupsInAFixedOrderAndStopsOnRequest) {
  const auto all = Enumerate(0);
  ASSERT_GT(all.size(), 100u);
  EXPECT_EQ(Enumerate(0), all);
  DWORD lastGroup = 0;
  std::size_t inGroups = 0;
  for (const CRYPT_OID_INFO* info : all) {
    EXPECT_GE(info->dwGroupId, lastGroup) << info->pszOID;  // the groups come one after another
    lastGroup = info->dwGroupId;
    // OpenSSL reads the text as an OID and writes the same text back.
    char text[128] = "";
    ASN1_OBJECT* obj = OBJ_txt2obj(info->pszOID, 1);
    OBJ_obj2txt(text, sizeof text, obj, 1);
    ASN1_OBJECT_free(obj);
    EXPECT_STREQ(text, info->pszOID);
  }
  for (DWORD group = 1; group <= P::CRYPT_LAST_OID_GROUP_ID; ++group) {
    const auto members = Enumerate(group);
    for (const CRYPT_OID_INFO* info : members) {
      EXPECT_EQ(info->dwGroupId, group);
    }
    inGroups += members.size();
  }
  EXPECT_EQ(inGroups, all.size());
  EXPECT_STREQ(Enumerate(P::CRYPT_HASH_ALG_OID_GROUP_ID).front()->pszOID, "1.3.14.3.2.26");

  int calls = 0;
  EXPECT_EQ(P::CryptEnumOIDInfo(0, 0, &calls,
                                [](const CRYPT_OID_INFO*, void* arg) -> P::BOOL {
                                  ++*static_cast<int*>(arg);
                                  return P::FALSE;
                                }),
            P::FALSE);
  EXPECT_EQ(calls, 1);

  P::SetLastError(0);
  EXPECT_EQ(P::CryptEnumOIDInfo(0, 0, nullptr, nullptr), P::FALSE);
  EXPECT_EQ(P::GetLastError(), P::ERROR_INVALID_PARAMETER);
}

TEST(OidRegistry, SignatureEntriesAgreeWithOpenSslOnHashAndKey) {
  const std::map<ALG_ID, int> keys = {
      {P::CALG_RSA_SIGN, EVP_PKEY_RSA},
      {P::CALG_DSA_SIGN, EVP_PKEY_DSA},
      {P::CALG_ECDSA, EVP_PKEY_EC},
  };
  int checked = 0;
  for (const CRYPT_OID_INFO* info : Enumerate(P::CRYPT_SIGN_ALG_OID_GROUP_ID)) {
    SCOPED_TRACE(info->pszOID);
    int digestNid = NID_undef;
    int keyNid = NID_undef;
    if (info->Algid == P::CALG_OID_INFO_PARAMETERS ||
        OBJ_find_sigid_algs(OBJ_txt2nid(info->pszOID), &digestNid, &keyNid) == 0) {
      continue;  // RSASSA-PSS and GOST: the parameters or a provider say more
    }
    if (IsAlgorithm(info->Algid)) {
      const CRYPT_OID_INFO* hash = FindAlg(info->Algid, P::CRYPT_HASH_ALG_OID_GROUP_ID);
      ASSERT_NE(hash, nullptr);
      EXPECT_EQ(OBJ_txt2nid(hash->pszOID), digestNid);
    } else if (digestNid != NID_undef) {
      // OpenSSL runs every CNG-only digest here except GOST without its provider.
      const int cngNid = DigestNid(info->pwszCNGAlgid);
      if (cngNid != NID_undef || std::strncmp(info->pszOID, "1.2.643.", 8) != 0) {
        EXPECT_EQ(cngNid, digestNid);
      }
    }
    const ALG_ID keyAlg = Words(info->ExtraInfo).at(0);
    if (keys.count(keyAlg) != 0) {
      EXPECT_EQ(EVP_PKEY_type(keyNid), keys.at(keyAlg));
      ++checked;
    }
  }
  EXPECT_GE(checked, 20);
}

TEST(OidRegistry, FindMatchesEachKeyTypeAndMasksTheGroup) {
  const CRYPT_OID_INFO* sha1 = FindAlg(P::CALG_SHA1, P::CRYPT_HASH_ALG_OID_GROUP_ID);
  ASSERT_NE(sha1, nullptr);
  EXPECT_STREQ(sha1->pwszName, L"sha1");

  // CNG-only and parameter entries are found like any other here.
  const CRYPT_OID_INFO* ed25519 = P::CryptFindOIDInfo(P::CRYPT_OID_INFO_OID_KEY, "1.3.101.112", 0);
  ASSERT_NE(ed25519, nullptr);
  EXPECT_EQ(ed25519->Algid, P::CALG_OID_INFO_CNG_ONLY);

  // Names ignore the case of Latin and Cyrillic letters.
  const CRYPT_OID_INFO* byName = P::CryptFindOIDInfo(P::CRYPT_OID_INFO_NAME_KEY, L"SHA256rsa", 0);
  ASSERT_NE(byName, nullptr);
  EXPECT_STREQ(byName->pszOID, "1.2.840.113549.1.1.11");
  const CRYPT_OID_INFO* cyrillic =
      P::CryptFindOIDInfo(P::CRYPT_OID_INFO_NAME_KEY, L"гост р 34.11-2012 256 БИТ", 0);
  ASSERT_NE(cyrillic, nullptr);
  EXPECT_STREQ(cyrillic->pszOID, "1.2.643.7.1.1.2.2");

  const ALG_ID sha1Rsa[2] = {P::CALG_SHA1, P::CALG_RSA_SIGN};
  const CRYPT_OID_INFO* sign = P::CryptFindOIDInfo(P::CRYPT_OID_INFO_SIGN_KEY, sha1Rsa, 0);
  ASSERT_NE(sign, nullptr);
  EXPECT_STREQ(sign->pszOID, "1.2.840.113549.1.1.5");  // before its OIW twin 1.3.14.3.2.29

  const CRYPT_OID_INFO* cng = P::CryptFindOIDInfo(P::CRYPT_OID_INFO_CNG_ALGID_KEY, L"sha3-256",
                                                  P::CRYPT_HASH_ALG_OID_GROUP_ID);
  ASSERT_NE(cng, nullptr);
  EXPECT_STREQ(cng->pszOID, "2.16.840.1.101.3.4.2.8");
  const wchar_t* const ecdsa[2] = {L"SHA384", L"ECDSA"};
  const CRYPT_OID_INFO* cngSign = P::CryptFindOIDInfo(P::CRYPT_OID_INFO_CNG_SIGN_KEY, ecdsa, 0);
  ASSERT_NE(cngSign, nullptr);
  EXPECT_STREQ(cngSign->pszOID, "1.2.840.10045.4.3.3");

  // A key length and the directory switch in the group id do not hide entries.
  EXPECT_EQ(FindAlg(P::CALG_SHA1, P::CRYPT_OID_DISABLE_SEARCH_DS_FLAG | (160u << 16) |
                                      P::CRYPT_HASH_ALG_OID_GROUP_ID),
            sha1);

  // With the CNG preference an OID whose entries name no CNG algorithm still finds its first.
  const CRYPT_OID_INFO* eku = P::CryptFindOIDInfo(
      P::CRYPT_OID_INFO_OID_KEY | P::CRYPT_OID_PREFER_CNG_ALGID_FLAG, "1.3.6.1.5.5.7.3.8", 0);
  ASSERT_NE(eku, nullptr);
  EXPECT_STREQ(eku->pwszName, L"Time Stamping");
}

TEST(OidRegistry, FindFailuresSetTheLastErrorAndSuccessKeepsIt) {
  P::SetLastError(1234);
  EXPECT_NE(P::CryptFindOIDInfo(P::CRYPT_OID_INFO_OID_KEY, "2.5.29.15", 0), nullptr);
  EXPECT_EQ(P::GetLastError(), 1234u);

  EXPECT_EQ(P::CryptFindOIDInfo(P::CRYPT_OID_INFO_OID_KEY, "1.2.3.4", 0), nullptr);
  EXPECT_EQ(P::GetLastError(), static_cast<DWORD>(P::CRYPT_E_NOT_FOUND));
  EXPECT_EQ(FindAlg(P::CALG_SHA1, P::CRYPT_ENHKEY_USAGE_OID_GROUP_ID), nullptr);
  EXPECT_EQ(P::GetLastError(), static_cast<DWORD>(P::CRYPT_E_NOT_FOUND));
  EXPECT_EQ(P::CryptFindOIDInfo(P::CRYPT_OID_INFO_OID_KEY, nullptr, 0), nullptr);
  EXPECT_EQ(P::GetLastError(), P::ERROR_INVALID_PARAMETER);
  EXPECT_EQ(P::CryptFindOIDInfo(7, "2.5.29.15", 0), nullptr);
  EXPECT_EQ(P::GetLastError(), P::ERROR_INVALID_PARAMETER);
}
