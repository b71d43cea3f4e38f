// Hash objects of the platform layer: CryptCreateHash, CryptHashData, CryptGetHashParam,
// CryptDuplicateHash and CryptDestroyHash over OpenSSL's EVP digests, in the provider contexts of
// crypt_provider.h, whose conventions (last error, opaque handles, size-query protocol) hold here
// too. A hash handle that is not a live hash object of this layer fails with NTE_BAD_HASH.
//
// A hash object is running until its value is read (HP_HASHVAL into a buffer large enough); then
// it is finished: its value stays readable, and further data fails with NTE_BAD_HASH_STATE.
// Asking the value's size (HP_HASHVAL with a null buffer, or a buffer too small) does not finish
// it; HP_HASHSIZE is the usual way to ask. Calls on one object from several threads are
// serialized; the object is still meant to be fed by one thread at a time.
#pragma once

#include "platform/capi/crypt_provider.h"

namespace Velmora::Platform {

// Parameters of CryptGetHashParam.
inline constexpr DWORD HP_ALGID = 1;
inline constexpr DWORD HP_HASHVAL = 2;
inline constexpr DWORD HP_HASHSIZE = 4;

// Flag of CryptHashData: the data was typed by the user. Accepted and without effect.
inline constexpr DWORD CRYPT_USERDATA = 1;

// Makes a running hash object of algorithm Algid in the context hProv.
// Failures: an unknown context NTE_BAD_UID; a null phHash ERROR_INVALID_PARAMETER; an algorithm
// that the context's provider does not list (see crypt_provider.h) NTE_BAD_ALGID; a non-zero
// hKey (no hash here takes a key) NTE_BAD_KEY; a non-zero dwFlags NTE_BAD_FLAGS; OpenSSL
// failing to start the digest NTE_FAIL. *phHash is set only on success.
BOOL CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags,
                     HCRYPTHASH* phHash);

// Adds dwDataLen bytes at pbData to a running hash. Length 0 succeeds (pbData may then be null).
// Failures: an unknown hash NTE_BAD_HASH; a finished hash NTE_BAD_HASH_STATE; a null pbData with
// a non-zero length ERROR_INVALID_PARAMETER; a flag other than CRYPT_USERDATA NTE_BAD_FLAGS;
// OpenSSL refusing the data NTE_FAIL. A call refused for its arguments or for the hash's state
// adds nothing.
BOOL CryptHashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags);

// A parameter of the hash:
//   HP_ALGID     the ALG_ID, a DWORD
//   HP_HASHSIZE  the size of the value in bytes, a DWORD
//   HP_HASHVAL   the value; reading it finishes a running hash (see above)
// Size-query protocol for all three. Failures: an unknown hash NTE_BAD_HASH; an unknown
// parameter NTE_BAD_TYPE; a non-zero dwFlags NTE_BAD_FLAGS; a null pdwDataLen
// ERROR_INVALID_PARAMETER; OpenSSL failing to finish the digest NTE_FAIL.
BOOL CryptGetHashParam(HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                       DWORD dwFlags);

// Makes an independent copy of a hash object in its state: a running hash with the data hashed
// so far (both can be fed on separately), a finished one with its value.
// Failures: an unknown hash NTE_BAD_HASH; a non-null pdwReserved or a null phHash
// ERROR_INVALID_PARAMETER; a non-zero dwFlags NTE_BAD_FLAGS; OpenSSL failing to copy NTE_FAIL.
BOOL CryptDuplicateHash(HCRYPTHASH hHash, DWORD* pdwReserved, DWORD dwFlags, HCRYPTHASH* phHash);

// Ends a hash object and its handle. An unknown hash fails with NTE_BAD_HASH.
BOOL CryptDestroyHash(HCRYPTHASH hHash);

}  // namespace Velmora::Platform
