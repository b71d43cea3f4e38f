// The built-in OID registry and its two lookups.
#include <openssl/evp.h>

#include <cstring>
#include <cwchar>
#include <vector>

#include "platform/capi/wincrypt_oid.h"
#include "platform/crypto/gost_module.h"
#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"
#include "platform/text/language.h"

namespace Velmora::Platform {
namespace {

// ExtraInfo contents, shared by the entries that carry them.
constexpr DWORD kRsaSign[] = {CALG_RSA_SIGN, 0};
constexpr DWORD kDsaSign[] = {
    CALG_DSA_SIGN, CRYPT_OID_INHIBIT_SIGNATURE_FORMAT_FLAG | CRYPT_OID_NO_NULL_ALGORITHM_PARA_FLAG};
constexpr DWORD kEcdsaSign[] = {CALG_ECDSA, CRYPT_OID_NO_NULL_ALGORITHM_PARA_FLAG};
constexpr DWORD kCngOnlySign[] = {CALG_OID_INFO_CNG_ONLY, CRYPT_OID_NO_NULL_ALGORITHM_PARA_FLAG};
constexpr DWORD kGost2001Sign[] = {CALG_GR3410EL, CRYPT_OID_NO_NULL_ALGORITHM_PARA_FLAG};
constexpr DWORD kGost2012_256Sign[] = {CALG_GR3410_12_256, CRYPT_OID_NO_NULL_ALGORITHM_PARA_FLAG};
constexpr DWORD kGost2012_512Sign[] = {CALG_GR3410_12_512, CRYPT_OID_NO_NULL_ALGORITHM_PARA_FLAG};
constexpr DWORD kPubKeyPlain[] = {0};
constexpr DWORD kPubKeySignOnly[] = {CRYPT_OID_PUBKEY_SIGN_ONLY_FLAG};
constexpr DWORD kPubKeyDsa[] = {CRYPT_OID_PUBKEY_SIGN_ONLY_FLAG |
                                CRYPT_OID_NO_NULL_ALGORITHM_PARA_FLAG |
                                CRYPT_OID_USE_PUBKEY_PARA_FOR_PKCS7_FLAG};
constexpr DWORD kPubKeyNoNull[] = {CRYPT_OID_NO_NULL_ALGORITHM_PARA_FLAG};

struct Extra {
  const DWORD* words = nullptr;
  DWORD count = 0;
};
template <std::size_t N>
constexpr Extra X(const DWORD (&words)[N]) {
  return {words, static_cast<DWORD>(N)};
}

// One row of the table. `gostDigest`, when set, names the OpenSSL digest that must be fetchable
// for the entry to carry its ALG_ID; without it the entry is CNG-only.
struct Row {
  const char* oid;
  const wchar_t* name;
  DWORD group;
  ALG_ID algid;
  Extra extra;
  const wchar_t* cng;
  const wchar_t* cngExtra;
  const char* gostDigest;
};

constexpr DWORD kHash = CRYPT_HASH_ALG_OID_GROUP_ID;
constexpr DWORD kPubKey = CRYPT_PUBKEY_ALG_OID_GROUP_ID;
constexpr DWORD kSign = CRYPT_SIGN_ALG_OID_GROUP_ID;
constexpr DWORD kRdn = CRYPT_RDN_ATTR_OID_GROUP_ID;
constexpr DWORD kExtAttr = CRYPT_EXT_OR_ATTR_OID_GROUP_ID;
constexpr DWORD kEku = CRYPT_ENHKEY_USAGE_OID_GROUP_ID;
constexpr DWORD kPolicy = CRYPT_POLICY_OID_GROUP_ID;
constexpr ALG_ID kCngOnly = CALG_OID_INFO_CNG_ONLY;
constexpr ALG_ID kParams = CALG_OID_INFO_PARAMETERS;

// The registry's order is this table's order.
constexpr Row kRows[] = {
    // Hash algorithms. SHA-1 first under its usual name, then its alias.
    {"1.3.14.3.2.26", L"sha1", kHash, CALG_SHA1, {}, L"SHA1", L"", nullptr},
    {"1.2.840.113549.2.5", L"md5", kHash, CALG_MD5, {}, L"MD5", L"", nullptr},
    {"1.2.840.113549.2.4", L"md4", kHash, CALG_MD4, {}, L"MD4", L"", nullptr},
    {"1.2.840.113549.2.2", L"md2", kHash, CALG_MD2, {}, L"MD2", L"", nullptr},
    {"1.3.14.3.2.26", L"sha", kHash, CALG_SHA1, {}, L"SHA1", L"", nullptr},
    {"2.16.840.1.101.3.4.2.1", L"sha256", kHash, CALG_SHA_256, {}, L"SHA256", L"", nullptr},
    {"2.16.840.1.101.3.4.2.2", L"sha384", kHash, CALG_SHA_384, {}, L"SHA384", L"", nullptr},
    {"2.16.840.1.101.3.4.2.3", L"sha512", kHash, CALG_SHA_512, {}, L"SHA512", L"", nullptr},
    {"2.16.840.1.101.3.4.2.4", L"sha224", kHash, CALG_SHA_224, {}, L"SHA224", L"", nullptr},
    {"2.16.840.1.101.3.4.2.5",
     L"sha512-224",
     kHash,
     CALG_SHA_512_224,
     {},
     L"SHA512-224",
     L"",
     nullptr},
    {"2.16.840.1.101.3.4.2.6",
     L"sha512-256",
     kHash,
     CALG_SHA_512_256,
     {},
     L"SHA512-256",
     L"",
     nullptr},
    {"2.16.840.1.101.3.4.2.7", L"sha3-224", kHash, CALG_SHA3_224, {}, L"SHA3-224", L"", nullptr},
    {"2.16.840.1.101.3.4.2.8", L"sha3-256", kHash, CALG_SHA3_256, {}, L"SHA3-256", L"", nullptr},
    {"2.16.840.1.101.3.4.2.9", L"sha3-384", kHash, CALG_SHA3_384, {}, L"SHA3-384", L"", nullptr},
    {"2.16.840.1.101.3.4.2.10", L"sha3-512", kHash, CALG_SHA3_512, {}, L"SHA3-512", L"", nullptr},
    {"1.2.643.2.2.9", L"ГОСТ Р 34.11-94", kHash, CALG_GR3411, {}, L"md_gost94", L"", "md_gost94"},
    {"1.2.643.7.1.1.2.2",
     L"ГОСТ Р 34.11-2012 256 бит",
     kHash,
     CALG_GR3411_2012_256,
     {},
     L"md_gost12_256",
     L"",
     "md_gost12_256"},
    {"1.2.643.7.1.1.2.3",
     L"ГОСТ Р 34.11-2012 512 бит",
     kHash,
     CALG_GR3411_2012_512,
     {},
     L"md_gost12_512",
     L"",
     "md_gost12_512"},

    // Public-key algorithms.
    {"1.2.840.113549.1.1.1", L"RSA", kPubKey, CALG_RSA_KEYX, X(kPubKeyPlain), L"RSA", L"", nullptr},
    {"1.2.840.113549.1.1.1", L"RSA", kPubKey, CALG_RSA_SIGN, X(kPubKeyPlain), L"RSA", L"", nullptr},
    {"1.2.840.113549.1.1.10", L"RSASSA-PSS", kPubKey, CALG_RSA_SIGN, X(kPubKeySignOnly), L"RSA",
     L"", nullptr},
    {"1.2.840.10040.4.1", L"DSA", kPubKey, CALG_DSA_SIGN, X(kPubKeyDsa), L"DSA", L"", nullptr},
    {"1.3.14.3.2.12", L"DSA", kPubKey, CALG_DSA_SIGN, X(kPubKeyDsa), L"DSA", L"", nullptr},
    {"1.2.840.10045.2.1", L"ECC", kPubKey, kParams, X(kPubKeyNoNull), L"ECC", L"", nullptr},
    {"1.3.101.112", L"Ed25519", kPubKey, kCngOnly, X(kPubKeySignOnly), L"ED25519", L"", nullptr},
    {"1.3.101.113", L"Ed448", kPubKey, kCngOnly, X(kPubKeySignOnly), L"ED448", L"", nullptr},
    {"1.2.643.2.2.19", L"ГОСТ Р 34.10-2001", kPubKey, CALG_GR3410EL, X(kPubKeyNoNull), L"gost2001",
     L"", "md_gost94"},
    {"1.2.643.7.1.1.1.1", L"ГОСТ Р 34.10-2012 256 бит", kPubKey, CALG_GR3410_12_256,
     X(kPubKeyNoNull), L"gost2012_256", L"", "md_gost12_256"},
    {"1.2.643.7.1.1.1.2", L"ГОСТ Р 34.10-2012 512 бит", kPubKey, CALG_GR3410_12_512,
     X(kPubKeyNoNull), L"gost2012_512", L"", "md_gost12_512"},

    // Signature algorithms: Algid is the hash, ExtraInfo starts with the public-key ALG_ID.
    {"1.2.840.113549.1.1.5", L"sha1RSA", kSign, CALG_SHA1, X(kRsaSign), L"SHA1", L"RSA", nullptr},
    {"1.2.840.113549.1.1.4", L"md5RSA", kSign, CALG_MD5, X(kRsaSign), L"MD5", L"RSA", nullptr},
    {"1.2.840.113549.1.1.3", L"md4RSA", kSign, CALG_MD4, X(kRsaSign), L"MD4", L"RSA", nullptr},
    {"1.2.840.113549.1.1.2", L"md2RSA", kSign, CALG_MD2, X(kRsaSign), L"MD2", L"RSA", nullptr},
    {"1.3.14.3.2.29", L"sha1RSA", kSign, CALG_SHA1, X(kRsaSign), L"SHA1", L"RSA", nullptr},
    {"1.2.840.113549.1.1.11", L"sha256RSA", kSign, CALG_SHA_256, X(kRsaSign), L"SHA256", L"RSA",
     nullptr},
    {"1.2.840.113549.1.1.12", L"sha384RSA", kSign, CALG_SHA_384, X(kRsaSign), L"SHA384", L"RSA",
     nullptr},
    {"1.2.840.113549.1.1.13", L"sha512RSA", kSign, CALG_SHA_512, X(kRsaSign), L"SHA512", L"RSA",
     nullptr},
    {"1.2.840.113549.1.1.14", L"sha224RSA", kSign, CALG_SHA_224, X(kRsaSign), L"SHA224", L"RSA",
     nullptr},
    {"1.2.840.113549.1.1.15", L"sha512-224RSA", kSign, CALG_SHA_512_224, X(kRsaSign), L"SHA512-224",
     L"RSA", nullptr},
    {"1.2.840.113549.1.1.16", L"sha512-256RSA", kSign, CALG_SHA_512_256, X(kRsaSign), L"SHA512-256",
     L"RSA", nullptr},
    {"2.16.840.1.101.3.4.3.13", L"sha3-224RSA", kSign, CALG_SHA3_224, X(kRsaSign), L"SHA3-224",
     L"RSA", nullptr},
    {"2.16.840.1.101.3.4.3.14", L"sha3-256RSA", kSign, CALG_SHA3_256, X(kRsaSign), L"SHA3-256",
     L"RSA", nullptr},
    {"2.16.840.1.101.3.4.3.15", L"sha3-384RSA", kSign, CALG_SHA3_384, X(kRsaSign), L"SHA3-384",
     L"RSA", nullptr},
    {"2.16.840.1.101.3.4.3.16", L"sha3-512RSA", kSign, CALG_SHA3_512, X(kRsaSign), L"SHA3-512",
     L"RSA", nullptr},
    {"1.2.840.113549.1.1.10", L"RSASSA-PSS", kSign, kParams, X(kRsaSign), L"", L"RSA", nullptr},
    {"1.2.840.10040.4.3", L"sha1DSA", kSign, CALG_SHA1, X(kDsaSign), L"SHA1", L"DSA", nullptr},
    {"1.3.14.3.2.27", L"dsaSHA1", kSign, CALG_SHA1, X(kDsaSign), L"SHA1", L"DSA", nullptr},
    {"2.16.840.1.101.3.4.3.1", L"sha224DSA", kSign, CALG_SHA_224, X(kDsaSign), L"SHA224", L"DSA",
     nullptr},
    {"2.16.840.1.101.3.4.3.2", L"sha256DSA", kSign, CALG_SHA_256, X(kDsaSign), L"SHA256", L"DSA",
     nullptr},
    {"1.2.840.10045.4.1", L"sha1ECDSA", kSign, CALG_SHA1, X(kEcdsaSign), L"SHA1", L"ECDSA",
     nullptr},
    {"1.2.840.10045.4.3.1", L"sha224ECDSA", kSign, CALG_SHA_224, X(kEcdsaSign), L"SHA224", L"ECDSA",
     nullptr},
    {"1.2.840.10045.4.3.2", L"sha256ECDSA", kSign, CALG_SHA_256, X(kEcdsaSign), L"SHA256", L"ECDSA",
     nullptr},
    {"1.2.840.10045.4.3.3", L"sha384ECDSA", kSign, CALG_SHA_384, X(kEcdsaSign), L"SHA384", L"ECDSA",
     nullptr},
    {"1.2.840.10045.4.3.4", L"sha512ECDSA", kSign, CALG_SHA_512, X(kEcdsaSign), L"SHA512", L"ECDSA",
     nullptr},
    {"1.2.840.10045.4.3", L"specifiedECDSA", kSign, kParams, X(kEcdsaSign), L"", L"ECDSA", nullptr},
    {"2.16.840.1.101.3.4.3.9", L"sha3-224ECDSA", kSign, CALG_SHA3_224, X(kEcdsaSign), L"SHA3-224",
     L"ECDSA", nullptr},
    {"2.16.840.1.101.3.4.3.10", L"sha3-256ECDSA", kSign, CALG_SHA3_256, X(kEcdsaSign), L"SHA3-256",
     L"ECDSA", nullptr},
    {"2.16.840.1.101.3.4.3.11", L"sha3-384ECDSA", kSign, CALG_SHA3_384, X(kEcdsaSign), L"SHA3-384",
     L"ECDSA", nullptr},
    {"2.16.840.1.101.3.4.3.12", L"sha3-512ECDSA", kSign, CALG_SHA3_512, X(kEcdsaSign), L"SHA3-512",
     L"ECDSA", nullptr},
    {"1.3.101.112", L"Ed25519", kSign, kCngOnly, X(kCngOnlySign), L"", L"ED25519", nullptr},
    {"1.3.101.113", L"Ed448", kSign, kCngOnly, X(kCngOnlySign), L"", L"ED448", nullptr},
    {"1.2.643.2.2.3", L"ГОСТ Р 34.11/34.10-2001", kSign, CALG_GR3411, X(kGost2001Sign),
     L"md_gost94", L"gost2001", "md_gost94"},
    {"1.2.643.7.1.1.3.2", L"ГОСТ Р 34.11-2012/34.10-2012 256 бит", kSign, CALG_GR3411_2012_256,
     X(kGost2012_256Sign), L"md_gost12_256", L"gost2012_256", "md_gost12_256"},
    {"1.2.643.7.1.1.3.3", L"ГОСТ Р 34.11-2012/34.10-2012 512 бит", kSign, CALG_GR3411_2012_512,
     X(kGost2012_512Sign), L"md_gost12_512", L"gost2012_512", "md_gost12_512"},

    // RDN attributes of names.
    {"2.5.4.3", L"CN", kRdn, 0, {}, L"", L"", nullptr},
    {"2.5.4.4", L"SN", kRdn, 0, {}, L"", L"", nullptr},
    {"2.5.4.5", L"SERIALNUMBER", kRdn, 0, {}, L"", L"", nullptr},
    {"2.5.4.6", L"C", kRdn, 0, {}, L"", L"", nullptr},
    {"2.5.4.7", L"L", kRdn, 0, {}, L"", L"", nullptr},
    {"2.5.4.8", L"S", kRdn, 0, {}, L"", L"", nullptr},
    {"2.5.4.8", L"ST", kRdn, 0, {}, L"", L"", nullptr},
    {"2.5.4.9", L"STREET", kRdn, 0, {}, L"", L"", nullptr},
    {"2.5.4.10", L"O", kRdn, 0, {}, L"", L"", nullptr},
    {"2.5.4.11", L"OU", kRdn, 0, {}, L"", L"", nullptr},
    {"2.5.4.12", L"T", kRdn, 0, {}, L"", L"", nullptr},
    {"2.5.4.12", L"Title", kRdn, 0, {}, L"", L"", nullptr},
    {"2.5.4.42", L"G", kRdn, 0, {}, L"", L"", nullptr},
    {"2.5.4.42", L"GivenName", kRdn, 0, {}, L"", L"", nullptr},
    {"2.5.4.43", L"I", kRdn, 0, {}, L"", L"", nullptr},
    {"2.5.4.13", L"Description", kRdn, 0, {}, L"", L"", nullptr},
    {"2.5.4.17", L"PostalCode", kRdn, 0, {}, L"", L"", nullptr},
    {"2.5.4.97", L"OrganizationIdentifier", kRdn, 0, {}, L"", L"", nullptr},
    {"1.2.840.113549.1.9.1", L"E", kRdn, 0, {}, L"", L"", nullptr},
    {"1.2.840.113549.1.9.1", L"Email", kRdn, 0, {}, L"", L"", nullptr},
    {"0.9.2342.19200300.100.1.25", L"DC", kRdn, 0, {}, L"", L"", nullptr},
    {"0.9.2342.19200300.100.1.1", L"UID", kRdn, 0, {}, L"", L"", nullptr},
    {"1.2.643.100.1", L"ОГРН", kRdn, 0, {}, L"", L"", nullptr},
    {"1.2.643.100.5", L"ОГРНИП", kRdn, 0, {}, L"", L"", nullptr},
    {"1.2.643.100.3", L"СНИЛС", kRdn, 0, {}, L"", L"", nullptr},
    {"1.2.643.3.131.1.1", L"ИНН", kRdn, 0, {}, L"", L"", nullptr},
    {"1.2.643.100.4", L"ИНН ЮЛ", kRdn, 0, {}, L"", L"", nullptr},

    // Extensions and attributes.
    {"2.5.29.15", L"Key Usage", kExtAttr, 0, {}, L"", L"", nullptr},
    {"2.5.29.37", L"Enhanced Key Usage", kExtAttr, 0, {}, L"", L"", nullptr},
    {"2.5.29.19", L"Basic Constraints", kExtAttr, 0, {}, L"", L"", nullptr},
    {"2.5.29.10", L"Basic Constraints", kExtAttr, 0, {}, L"", L"", nullptr},
    {"2.5.29.14", L"Subject Key Identifier", kExtAttr, 0, {}, L"", L"", nullptr},
    {"2.5.29.35", L"Authority Key Identifier", kExtAttr, 0, {}, L"", L"", nullptr},
    {"2.5.29.1", L"Authority Key Identifier", kExtAttr, 0, {}, L"", L"", nullptr},
    {"2.5.29.31", L"CRL Distribution Points", kExtAttr, 0, {}, L"", L"", nullptr},
    {"2.5.29.46", L"Freshest CRL", kExtAttr, 0, {}, L"", L"", nullptr},
    {"1.3.6.1.5.5.7.1.1", L"Authority Information Access", kExtAttr, 0, {}, L"", L"", nullptr},
    {"1.3.6.1.5.5.7.1.11", L"Subject Information Access", kExtAttr, 0, {}, L"", L"", nullptr},
    {"2.5.29.32", L"Certificate Policies", kExtAttr, 0, {}, L"", L"", nullptr},
    {"2.5.29.33", L"Policy Mappings", kExtAttr, 0, {}, L"", L"", nullptr},
    {"2.5.29.36", L"Policy Constraints", kExtAttr, 0, {}, L"", L"", nullptr},
    {"2.5.29.17", L"Subject Alternative Name", kExtAttr, 0, {}, L"", L"", nullptr},
    {"2.5.29.18", L"Issuer Alternative Name", kExtAttr, 0, {}, L"", L"", nullptr},
    {"2.5.29.30", L"Name Constraints", kExtAttr, 0, {}, L"", L"", nullptr},
    {"2.5.29.16", L"Private Key Usage Period", kExtAttr, 0, {}, L"", L"", nullptr},
    {"2.5.29.20", L"CRL Number", kExtAttr, 0, {}, L"", L"", nullptr},
    {"2.5.29.21", L"CRL Reason Code", kExtAttr, 0, {}, L"", L"", nullptr},
    {"1.3.6.1.5.5.7.1.3", L"Qualified Certificate Statements", kExtAttr, 0, {}, L"", L"", nullptr},
    {"1.3.6.1.5.5.7.48.1.2", L"Nonce", kExtAttr, 0, {}, L"", L"", nullptr},
    {"1.3.6.1.5.5.7.48.1.5", L"OCSP No Revocation Checking", kExtAttr, 0, {}, L"", L"", nullptr},
    {"1.3.6.1.4.1.311.21.10", L"Application Policies", kExtAttr, 0, {}, L"", L"", nullptr},
    {"1.3.6.1.4.1.311.21.7",
     L"Certificate Template Information",
     kExtAttr,
     0,
     {},
     L"",
     L"",
     nullptr},
    {"1.3.6.1.4.1.311.20.2", L"Certificate Template Name", kExtAttr, 0, {}, L"", L"", nullptr},
    {"1.3.6.1.4.1.311.21.1", L"CA Version", kExtAttr, 0, {}, L"", L"", nullptr},
    {"1.2.643.100.111",
     L"Средство электронной подписи владельца",
     kExtAttr,
     0,
     {},
     L"",
     L"",
     nullptr},
    {"1.2.643.100.112",
     L"Средства электронной подписи и УЦ издателя",
     kExtAttr,
     0,
     {},
     L"",
     L"",
     nullptr},
    {"1.2.840.113549.1.9.3", L"Content Type", kExtAttr, 0, {}, L"", L"", nullptr},
    {"1.2.840.113549.1.9.4", L"Message Digest", kExtAttr, 0, {}, L"", L"", nullptr},
    {"1.2.840.113549.1.9.5", L"Signing Time", kExtAttr, 0, {}, L"", L"", nullptr},
    {"1.2.840.113549.1.9.6", L"Counter Sign", kExtAttr, 0, {}, L"", L"", nullptr},
    {"1.2.840.113549.1.9.16.2.12", L"Signing Certificate", kExtAttr, 0, {}, L"", L"", nullptr},
    {"1.2.840.113549.1.9.16.2.47", L"Signing Certificate V2", kExtAttr, 0, {}, L"", L"", nullptr},
    {"1.2.840.113549.1.9.16.2.19",
     L"Other Signing Certificate",
     kExtAttr,
     0,
     {},
     L"",
     L"",
     nullptr},
    {"1.2.840.113549.1.9.16.2.23", L"Certificate Values", kExtAttr, 0, {}, L"", L"", nullptr},
    {"1.2.840.113549.1.9.16.2.14", L"Time Stamp Token", kExtAttr, 0, {}, L"", L"", nullptr},
    {"1.2.840.113549.1.9.16.1.4", L"Time Stamp Info", kExtAttr, 0, {}, L"", L"", nullptr},
    {"1.2.840.113549.1.7.1", L"PKCS 7 Data", kExtAttr, 0, {}, L"", L"", nullptr},
    {"1.2.840.113549.1.7.2", L"PKCS 7 Signed", kExtAttr, 0, {}, L"", L"", nullptr},
    {"1.3.6.1.4.1.311.3.3.1", L"Timestamping", kExtAttr, 0, {}, L"", L"", nullptr},
    {"1.3.6.1.4.1.311.3.2.1", L"Timestamp Request", kExtAttr, 0, {}, L"", L"", nullptr},

    // Enhanced key usages.
    {"1.3.6.1.5.5.7.3.1", L"Server Authentication", kEku, 0, {}, L"", L"", nullptr},
    {"1.3.6.1.5.5.7.3.2", L"Client Authentication", kEku, 0, {}, L"", L"", nullptr},
    {"1.3.6.1.5.5.7.3.3", L"Code Signing", kEku, 0, {}, L"", L"", nullptr},
    {"1.3.6.1.5.5.7.3.4", L"Secure Email", kEku, 0, {}, L"", L"", nullptr},
    {"1.3.6.1.5.5.7.3.5", L"IP security end system", kEku, 0, {}, L"", L"", nullptr},
    {"1.3.6.1.5.5.7.3.6", L"IP security tunnel termination", kEku, 0, {}, L"", L"", nullptr},
    {"1.3.6.1.5.5.7.3.7", L"IP security user", kEku, 0, {}, L"", L"", nullptr},
    {"1.3.6.1.5.5.7.3.8", L"Time Stamping", kEku, 0, {}, L"", L"", nullptr},
    {"1.3.6.1.5.5.7.3.9", L"OCSP Signing", kEku, 0, {}, L"", L"", nullptr},
    {"1.3.6.1.4.1.311.10.3.2", L"Microsoft Time Stamping", kEku, 0, {}, L"", L"", nullptr},
    {"1.3.6.1.4.1.311.10.3.4", L"Encrypting File System", kEku, 0, {}, L"", L"", nullptr},
    {"1.3.6.1.4.1.311.10.3.12", L"Document Signing", kEku, 0, {}, L"", L"", nullptr},
    {"1.3.6.1.4.1.311.20.2.2", L"Smart Card Logon", kEku, 0, {}, L"", L"", nullptr},
    {"2.5.29.37.0", L"Any Purpose", kEku, 0, {}, L"", L"", nullptr},

    // Certificate policies.
    {"2.5.29.32.0", L"All issuance policies", kPolicy, 0, {}, L"", L"", nullptr},
};

// The English names of the entries named in Russian that the user may read in English: the GOST
// algorithms. The registry gives the name in the user's language; a lookup by name takes both.
struct EnglishName {
  const wchar_t* russian;
  const wchar_t* english;
};
constexpr EnglishName kEnglishNames[] = {
    {L"ГОСТ Р 34.11-94", L"GOST R 34.11-94"},
    {L"ГОСТ Р 34.11-2012 256 бит", L"GOST R 34.11-2012 256 bit"},
    {L"ГОСТ Р 34.11-2012 512 бит", L"GOST R 34.11-2012 512 bit"},
    {L"ГОСТ Р 34.10-2001", L"GOST R 34.10-2001"},
    {L"ГОСТ Р 34.10-2012 256 бит", L"GOST R 34.10-2012 256 bit"},
    {L"ГОСТ Р 34.10-2012 512 бит", L"GOST R 34.10-2012 512 bit"},
    {L"ГОСТ Р 34.11/34.10-2001", L"GOST R 34.11/34.10-2001"},
    {L"ГОСТ Р 34.11-2012/34.10-2012 256 бит", L"GOST R 34.11-2012/34.10-2012 256 bit"},
    {L"ГОСТ Р 34.11-2012/34.10-2012 512 бит", L"GOST R 34.11-2012/34.10-2012 512 bit"},
};

const EnglishName* BothNamesOf(const wchar_t* russian) {
  for (const EnglishName& pair : kEnglishNames) {
    if (std::wcscmp(pair.russian, russian) == 0) {
      return &pair;
    }
  }
  return nullptr;
}

// True when the named digest can be had: OpenSSL's default context has it, or it is a GOST digest
// and the GOST module is installed (it is loaded when the digest is first fetched, so naming the
// algorithms costs nothing to a process that never hashes with GOST).
bool DigestAvailable(const char* name) {
  if (GostModuleInstalled()) {
    return true;
  }
  EVP_MD* md = FetchDigest(name);
  EVP_MD_free(md);
  return md != nullptr;
}

const std::vector<CRYPT_OID_INFO>& Registry() {
  static const std::vector<CRYPT_OID_INFO> entries = [] {
    std::vector<CRYPT_OID_INFO> built;
    built.reserve(std::size(kRows));
    for (const Row& row : kRows) {
      CRYPT_OID_INFO info{};
      info.cbSize = sizeof(CRYPT_OID_INFO);
      info.pszOID = row.oid;
      const EnglishName* both = BothNamesOf(row.name);
      info.pwszName = both != nullptr ? InUserLanguage(both->russian, both->english) : row.name;
      info.dwGroupId = row.group;
      info.Algid = row.gostDigest != nullptr && !DigestAvailable(row.gostDigest)
                       ? CALG_OID_INFO_CNG_ONLY
                       : row.algid;
      // The table's words are constant; the platform's type spells the pointer without const.
      info.ExtraInfo.cbData = row.extra.count * static_cast<DWORD>(sizeof(DWORD));
      info.ExtraInfo.pbData =
          row.extra.count == 0 ? nullptr
                               : const_cast<BYTE*>(reinterpret_cast<const BYTE*>(row.extra.words));
      info.pwszCNGAlgid = row.cng;
      info.pwszCNGExtraAlgid = row.cngExtra;
      built.push_back(info);
    }
    return built;
  }();
  return entries;
}

// Case folding for name comparison: Latin and Cyrillic letters (the registry's names).
wchar_t Fold(wchar_t c) {
  if ((c >= L'A' && c <= L'Z') || (c >= L'\u0410' && c <= L'\u042F')) {
    return static_cast<wchar_t>(c + 0x20);
  }
  if (c >= L'\u0400' && c <= L'\u040F') {
    return static_cast<wchar_t>(c + 0x50);
  }
  return c;
}

bool EqualNoCase(const wchar_t* a, const wchar_t* b) {
  if (a == nullptr || b == nullptr) {
    return false;
  }
  for (; *a != L'\0' && *b != L'\0'; ++a, ++b) {
    if (Fold(*a) != Fold(*b)) {
      return false;
    }
  }
  return *a == *b;
}

// The name in the other language of an entry named in both (its name is one of the pair's
// pointers), else null.
const wchar_t* OtherName(const wchar_t* name) {
  for (const EnglishName& pair : kEnglishNames) {
    if (pair.russian == name) {
      return pair.english;
    }
    if (pair.english == name) {
      return pair.russian;
    }
  }
  return nullptr;
}

bool FirstWordIs(const CRYPT_DATA_BLOB& blob, DWORD value) {
  if (blob.cbData < sizeof(DWORD) || blob.pbData == nullptr) {
    return false;
  }
  DWORD first = 0;
  std::memcpy(&first, blob.pbData, sizeof first);
  return first == value;
}

bool Matches(const CRYPT_OID_INFO& info, DWORD keyType, const void* key) {
  switch (keyType) {
    case CRYPT_OID_INFO_OID_KEY:
      return std::strcmp(info.pszOID, static_cast<const char*>(key)) == 0;
    case CRYPT_OID_INFO_NAME_KEY:
      return EqualNoCase(info.pwszName, static_cast<const wchar_t*>(key)) ||
             EqualNoCase(OtherName(info.pwszName), static_cast<const wchar_t*>(key));
    case CRYPT_OID_INFO_ALGID_KEY:
      return info.Algid == *static_cast<const ALG_ID*>(key);
    case CRYPT_OID_INFO_SIGN_KEY: {
      const auto* algs = static_cast<const ALG_ID*>(key);
      return info.Algid == algs[0] && FirstWordIs(info.ExtraInfo, algs[1]);
    }
    case CRYPT_OID_INFO_CNG_ALGID_KEY:
      return info.pwszCNGAlgid[0] != L'\0' &&
             EqualNoCase(info.pwszCNGAlgid, static_cast<const wchar_t*>(key));
    case CRYPT_OID_INFO_CNG_SIGN_KEY: {
      const auto* names = static_cast<const wchar_t* const*>(key);
      return EqualNoCase(info.pwszCNGAlgid, names[0]) &&
             EqualNoCase(info.pwszCNGExtraAlgid, names[1]);
    }
    default:
      return false;
  }
}

}  // namespace

BOOL CryptEnumOIDInfo(DWORD dwGroupId, DWORD /*dwFlags*/, void* pvArg,
                      PFN_CRYPT_ENUM_OID_INFO pfnEnumOIDInfo) {
  if (pfnEnumOIDInfo == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  for (const CRYPT_OID_INFO& info : Registry()) {
    if (dwGroupId != 0 && info.dwGroupId != dwGroupId) {
      continue;
    }
    if (!pfnEnumOIDInfo(&info, pvArg)) {
      return FALSE;
    }
  }
  return TRUE;
}

PCCRYPT_OID_INFO CryptFindOIDInfo(DWORD dwKeyType, const void* pvKey, DWORD dwGroupId) {
  const DWORD keyType = dwKeyType & ~CRYPT_OID_INFO_OID_KEY_FLAGS_MASK;
  if (pvKey == nullptr || keyType < CRYPT_OID_INFO_OID_KEY ||
      keyType > CRYPT_OID_INFO_CNG_SIGN_KEY) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const DWORD group = dwGroupId & 0xFFFF;
  const bool preferCng = (dwKeyType & CRYPT_OID_PREFER_CNG_ALGID_FLAG) != 0;
  PCCRYPT_OID_INFO first = nullptr;
  for (const CRYPT_OID_INFO& info : Registry()) {
    if ((group != 0 && info.dwGroupId != group) || !Matches(info, keyType, pvKey)) {
      continue;
    }
    if (!preferCng || info.pwszCNGAlgid[0] != L'\0') {
      return &info;
    }
    if (first == nullptr) {
      first = &info;
    }
  }
  if (first == nullptr) {
    SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
  }
  return first;
}

}  // namespace Velmora::Platform
