// FindOIDInfo over the real registry: what it skips, which duplicate wins, and the error it
// leaves when nothing matches.
#include <gtest/gtest.h>

#include "platform/capi/wincrypt_oid.h"
#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"
#include "support/oid_info.h"

namespace P = Velmora::Platform;
using P::ALG_ID;
using P::CRYPT_OID_INFO;
using P::DWORD;
using Velmora::Support::FindOIDInfo;

namespace {

constexpr DWORD kOid = P::CRYPT_OID_INFO_OID_KEY;
constexpr DWORD kName = P::CRYPT_OID_INFO_NAME_KEY;
constexpr DWORD kAlg = P::CRYPT_OID_INFO_ALGID_KEY;
constexpr DWORD kSign = P::CRYPT_OID_INFO_SIGN_KEY;
constexpr DWORD kHashGroup = P::CRYPT_HASH_ALG_OID_GROUP_ID;

DWORD Code(P::HRESULT hr) {
  return static_cast<DWORD>(hr);
}

}  // namespace

TEST(FindOIDInfo, TheFirstOfSeveralMatchesInTheRegistrysOrderWins) {
  const CRYPT_OID_INFO* sha1 = FindOIDInfo(kOid, "1.3.14.3.2.26", 0);
  ASSERT_NE(sha1, nullptr);
  EXPECT_STREQ(sha1->pwszName, L"sha1");  // not its alias "sha"
  const CRYPT_OID_INFO* alias = FindOIDInfo(kName, L"sha", kHashGroup);
  ASSERT_NE(alias, nullptr);
  EXPECT_NE(alias, sha1);
  EXPECT_STREQ(alias->pszOID, "1.3.14.3.2.26");

  const CRYPT_OID_INFO* sha1Rsa = FindOIDInfo(kName, L"sha1RSA", 0);
  ASSERT_NE(sha1Rsa, nullptr);
  EXPECT_STREQ(sha1Rsa->pszOID, "1.2.840.113549.1.1.5");
  const CRYPT_OID_INFO* basic = FindOIDInfo(kName, L"Basic Constraints", 0);
  ASSERT_NE(basic, nullptr);
  EXPECT_STREQ(basic->pszOID, "2.5.29.19");

  const ALG_ID rsa[2] = {P::CALG_SHA1, P::CALG_RSA_SIGN};
  EXPECT_EQ(FindOIDInfo(kSign, rsa, P::CRYPT_SIGN_ALG_OID_GROUP_ID), sha1Rsa);
  const ALG_ID dsa[2] = {P::CALG_SHA1, P::CALG_DSA_SIGN};
  const CRYPT_OID_INFO* sha1Dsa = FindOIDInfo(kSign, dsa, 0);
  ASSERT_NE(sha1Dsa, nullptr);
  EXPECT_STREQ(sha1Dsa->pszOID, "1.2.840.10040.4.3");
  const ALG_ID ecdsa[2] = {P::CALG_SHA_256, P::CALG_ECDSA};
  const CRYPT_OID_INFO* sha256Ecdsa = FindOIDInfo(kSign, ecdsa, 0);
  ASSERT_NE(sha256Ecdsa, nullptr);
  EXPECT_STREQ(sha256Ecdsa->pwszName, L"sha256ECDSA");
}

TEST(FindOIDInfo, KeysThatMatchNothing) {
  // Names compare exactly, unlike the platform's lookup.
  ASSERT_NE(P::CryptFindOIDInfo(kName, L"SHA1", 0), nullptr);
  EXPECT_EQ(FindOIDInfo(kName, L"SHA1", 0), nullptr);
  EXPECT_EQ(P::GetLastError(), Code(P::CRYPT_E_NOT_FOUND));
  EXPECT_EQ(FindOIDInfo(kOid, "1.2.3.4", 0), nullptr);
  EXPECT_EQ(P::GetLastError(), Code(P::CRYPT_E_NOT_FOUND));
  // A pair against entries that have no ExtraInfo word to compare.
  const ALG_ID pair[2] = {P::CALG_SHA1, 0};
  EXPECT_EQ(FindOIDInfo(kSign, pair, kHashGroup), nullptr);
  EXPECT_EQ(P::GetLastError(), Code(P::CRYPT_E_NOT_FOUND));

  EXPECT_EQ(FindOIDInfo(kOid, nullptr, 0), nullptr);
  EXPECT_EQ(P::GetLastError(), P::ERROR_BAD_ARGUMENTS);
  // The CNG keys, and the CNG preference before the key is looked at, go to the platform.
  EXPECT_NE(FindOIDInfo(P::CRYPT_OID_INFO_CNG_ALGID_KEY, L"SHA256", kHashGroup), nullptr);
  EXPECT_EQ(FindOIDInfo(kOid | P::CRYPT_OID_PREFER_CNG_ALGID_FLAG, nullptr, 0), nullptr);
  EXPECT_EQ(P::GetLastError(), P::ERROR_INVALID_PARAMETER);
}
