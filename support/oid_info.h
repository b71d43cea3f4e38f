// FindOIDInfo: the library's one lookup in the OID registry, by OID text, display name or
// ALG_ID. It is the platform's CryptFindOIDInfo with the rules the library relies on made fixed:
// entries without a CryptoAPI algorithm (CNG-only and parameter entries) are never found by OID
// text or name, names compare exactly, and a failed lookup always leaves an error to report.
#pragma once

#include "platform/capi/wincrypt_oid.h"

namespace Velmora::Support {

// Finds the first registry entry, in the registry's order, that matches `key` in group
// `groupId & 0xFFFF` (0: every group). `keyType` and `key`:
//   CRYPT_OID_INFO_OID_KEY (1)    const char*     dotted OID text
//   CRYPT_OID_INFO_NAME_KEY (2)   const wchar_t*  display name, compared exactly
//   CRYPT_OID_INFO_ALGID_KEY (3)  const ALG_ID*
//   CRYPT_OID_INFO_SIGN_KEY (4)   const ALG_ID[2] hash ALG_ID and public-key ALG_ID (matched
//                                                 against the first word of ExtraInfo)
// By OID text or name, entries whose ALG_ID is CALG_OID_INFO_CNG_ONLY or
// CALG_OID_INFO_PARAMETERS are skipped. A key type with CRYPT_OID_PREFER_CNG_ALGID_FLAG, and any
// key type other than 1 to 4 (the CNG keys 5 and 6), is answered by CryptFindOIDInfo as it is.
//
// Returns the entry, owned by the platform and valid for the life of the process, or null with
// the thread's last error set: ERROR_BAD_ARGUMENTS (160) for a null key, NTE_BAD_ALGID when no
// entry has the ALG_ID, CRYPT_E_NOT_FOUND when no entry has the OID, name or ALG_ID pair. The
// last error is cleared before the search, so a code left by an earlier call is never reported
// as this lookup's, and a found entry leaves it 0.
const Platform::CRYPT_OID_INFO* FindOIDInfo(Platform::DWORD keyType, const void* key,
                                            Platform::DWORD groupId);

}  // namespace Velmora::Support
