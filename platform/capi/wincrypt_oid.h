// The OID registry of the platform layer: CRYPT_OID_INFO entries, the CryptoAPI algorithm
// identifiers (ALG_ID) they name, and the two lookups CryptEnumOIDInfo and CryptFindOIDInfo.
//
// The registry is a built-in table in a fixed order: hash algorithms first, then public-key
// algorithms, signature algorithms, RDN attributes, extensions and attributes, enhanced key
// usages and certificate policies. Within a group, an entry that must win a lookup comes before
// the aliases that share its OID, name or ALG_ID. Entries live as long as the process and never
// change once built.
//
// ALG_ID CALG_OID_INFO_CNG_ONLY marks an algorithm with no CryptoAPI identifier that only the
// CNG path can run (pwszCNGAlgid names it; in this layer CNG names are OpenSSL digest and key
// names); CALG_OID_INFO_PARAMETERS marks an entry whose algorithm is given by its parameters.
// The GOST R 34.11 hashes carry their ALG_IDs only when OpenSSL can fetch the digest (a GOST
// provider is loaded); otherwise their entries are CNG-only.
#pragma once

#include "platform/base/types.h"

namespace Velmora::Platform {

// CryptoAPI algorithm identifiers.
inline constexpr ALG_ID CALG_MD2 = 0x8001;
inline constexpr ALG_ID CALG_MD4 = 0x8002;
inline constexpr ALG_ID CALG_MD5 = 0x8003;
inline constexpr ALG_ID CALG_SHA = 0x8004;
inline constexpr ALG_ID CALG_SHA1 = 0x8004;
inline constexpr ALG_ID CALG_SHA_256 = 0x800C;
inline constexpr ALG_ID CALG_SHA_384 = 0x800D;
inline constexpr ALG_ID CALG_SHA_512 = 0x800E;
// The SHA-2 and SHA-3 digests the platform names only through CNG have ALG_IDs of this layer's
// own, so that requests, imprints and signer digests in them go the same way as SHA-256: ALG_SIDs
// 0xE0 to 0xE6 of the hash class, where the platform never assigned one (its own hash SIDs end at
// 14 with SHA-512, the GOST providers' at 0x25). Programs written for the platform never see them
// unless they meet such a digest.
inline constexpr ALG_ID CALG_SHA_224 = 0x80E0;
inline constexpr ALG_ID CALG_SHA_512_224 = 0x80E1;
inline constexpr ALG_ID CALG_SHA_512_256 = 0x80E2;
inline constexpr ALG_ID CALG_SHA3_224 = 0x80E3;
inline constexpr ALG_ID CALG_SHA3_256 = 0x80E4;
inline constexpr ALG_ID CALG_SHA3_384 = 0x80E5;
inline constexpr ALG_ID CALG_SHA3_512 = 0x80E6;
inline constexpr ALG_ID CALG_GR3411 = 0x801E;           // GOST R 34.11-94
inline constexpr ALG_ID CALG_GR3411_2012_256 = 0x8021;  // GOST R 34.11-2012, 256 bits
inline constexpr ALG_ID CALG_GR3411_2012_512 = 0x8022;  // GOST R 34.11-2012, 512 bits
inline constexpr ALG_ID CALG_RSA_SIGN = 0x2400;
inline constexpr ALG_ID CALG_RSA_KEYX = 0xA400;
inline constexpr ALG_ID CALG_DSA_SIGN = 0x2200;
inline constexpr ALG_ID CALG_ECDSA = 0x2203;
inline constexpr ALG_ID CALG_GR3410EL = 0x2E23;       // GOST R 34.10-2001
inline constexpr ALG_ID CALG_GR3410_12_256 = 0x2E49;  // GOST R 34.10-2012, 256 bits
inline constexpr ALG_ID CALG_GR3410_12_512 = 0x2E3D;  // GOST R 34.10-2012, 512 bits
inline constexpr ALG_ID CALG_OID_INFO_CNG_ONLY = 0xFFFFFFFF;
inline constexpr ALG_ID CALG_OID_INFO_PARAMETERS = 0xFFFFFFFE;

// Groups of the registry; 0 in a lookup means every group.
inline constexpr DWORD CRYPT_HASH_ALG_OID_GROUP_ID = 1;
inline constexpr DWORD CRYPT_ENCRYPT_ALG_OID_GROUP_ID = 2;
inline constexpr DWORD CRYPT_PUBKEY_ALG_OID_GROUP_ID = 3;
inline constexpr DWORD CRYPT_SIGN_ALG_OID_GROUP_ID = 4;
inline constexpr DWORD CRYPT_RDN_ATTR_OID_GROUP_ID = 5;
inline constexpr DWORD CRYPT_EXT_OR_ATTR_OID_GROUP_ID = 6;
inline constexpr DWORD CRYPT_ENHKEY_USAGE_OID_GROUP_ID = 7;
inline constexpr DWORD CRYPT_POLICY_OID_GROUP_ID = 8;
inline constexpr DWORD CRYPT_TEMPLATE_OID_GROUP_ID = 9;
inline constexpr DWORD CRYPT_KDF_OID_GROUP_ID = 10;
inline constexpr DWORD CRYPT_LAST_OID_GROUP_ID = 10;
inline constexpr DWORD CRYPT_FIRST_ALG_OID_GROUP_ID = CRYPT_HASH_ALG_OID_GROUP_ID;
inline constexpr DWORD CRYPT_LAST_ALG_OID_GROUP_ID = CRYPT_SIGN_ALG_OID_GROUP_ID;
// Bits a caller may add to a group id of CryptFindOIDInfo: a key length (ignored here) and the
// directory-search switch (there is no directory here).
inline constexpr DWORD CRYPT_OID_INFO_OID_GROUP_BIT_LEN_MASK = 0x0FFF0000;
inline constexpr DWORD CRYPT_OID_INFO_OID_GROUP_BIT_LEN_SHIFT = 16;
inline constexpr DWORD CRYPT_OID_DISABLE_SEARCH_DS_FLAG = 0x80000000;

// Key types of CryptFindOIDInfo, and what the key points to.
inline constexpr DWORD CRYPT_OID_INFO_OID_KEY = 1;        // const char*: dotted OID text
inline constexpr DWORD CRYPT_OID_INFO_NAME_KEY = 2;       // const wchar_t*: display name
inline constexpr DWORD CRYPT_OID_INFO_ALGID_KEY = 3;      // const ALG_ID*
inline constexpr DWORD CRYPT_OID_INFO_SIGN_KEY = 4;       // const ALG_ID[2]: hash, public key
inline constexpr DWORD CRYPT_OID_INFO_CNG_ALGID_KEY = 5;  // const wchar_t*: CNG algorithm
inline constexpr DWORD CRYPT_OID_INFO_CNG_SIGN_KEY = 6;   // const wchar_t*[2]: hash, public key
inline constexpr DWORD CRYPT_OID_INFO_OID_KEY_FLAGS_MASK = 0xFFFF0000;
// Among the entries that match, take the first that names a CNG algorithm.
inline constexpr DWORD CRYPT_OID_PREFER_CNG_ALGID_FLAG = 0x40000000;

// Flags in the ExtraInfo of signature entries (second DWORD) and public-key entries (first).
inline constexpr DWORD CRYPT_OID_INHIBIT_SIGNATURE_FORMAT_FLAG = 0x00000001;
inline constexpr DWORD CRYPT_OID_USE_PUBKEY_PARA_FOR_PKCS7_FLAG = 0x00000002;
inline constexpr DWORD CRYPT_OID_NO_NULL_ALGORITHM_PARA_FLAG = 0x00000004;
inline constexpr DWORD CRYPT_OID_PUBKEY_SIGN_ONLY_FLAG = 0x80000000;
inline constexpr DWORD CRYPT_OID_PUBKEY_ENCRYPT_ONLY_FLAG = 0x40000000;

// One registry entry. For signature entries Algid is the hash's ALG_ID and ExtraInfo holds
// DWORDs {public-key ALG_ID, flags}; for public-key entries ExtraInfo holds {flags}; other
// entries have no ExtraInfo. pwszCNGAlgid and pwszCNGExtraAlgid are the CNG names of the
// (hash) algorithm and of the signature's public-key algorithm, or empty text.
struct CRYPT_OID_INFO {
  DWORD cbSize;
  const char* pszOID;
  const wchar_t* pwszName;
  DWORD dwGroupId;
  ALG_ID Algid;
  CRYPT_DATA_BLOB ExtraInfo;
  const wchar_t* pwszCNGAlgid;
  const wchar_t* pwszCNGExtraAlgid;
};
using PCCRYPT_OID_INFO = const CRYPT_OID_INFO*;

// Called once per entry by CryptEnumOIDInfo; returning FALSE stops the enumeration.
using PFN_CRYPT_ENUM_OID_INFO = BOOL (*)(PCCRYPT_OID_INFO pInfo, void* pvArg);

// CryptEnumOIDInfo calls `pfnEnumOIDInfo` with each entry of group `dwGroupId` (0: all
// groups) in the registry's order. Returns TRUE when every entry was visited, FALSE when the
// callback stopped it. `dwFlags` is reserved. A null callback returns FALSE with last error
// ERROR_INVALID_PARAMETER. The last error is otherwise left alone.
BOOL CryptEnumOIDInfo(DWORD dwGroupId, DWORD dwFlags, void* pvArg,
                      PFN_CRYPT_ENUM_OID_INFO pfnEnumOIDInfo);

// CryptFindOIDInfo returns the first entry, in the registry's order, of group
// `dwGroupId & 0xFFFF` (0: all groups) that matches `pvKey` of key type `dwKeyType & 0xFFFF`:
// equal OID text; equal display name or CNG name, ignoring the case of Latin and Cyrillic
// letters; equal ALG_ID; for a signature key, equal Algid and a first ExtraInfo DWORD equal to
// the public-key ALG_ID; for a CNG signature key, equal CNG names. Entries marked
// CALG_OID_INFO_CNG_ONLY or CALG_OID_INFO_PARAMETERS are found like any other. With
// CRYPT_OID_PREFER_CNG_ALGID_FLAG set in `dwKeyType`, the first matching entry that names a
// CNG algorithm wins over earlier ones that do not.
// Returns null with last error CRYPT_E_NOT_FOUND when nothing matches, or
// ERROR_INVALID_PARAMETER for a null key or an unknown key type; leaves the last error alone
// when an entry is found.
PCCRYPT_OID_INFO CryptFindOIDInfo(DWORD dwKeyType, const void* pvKey, DWORD dwGroupId);

}  // namespace Velmora::Platform
