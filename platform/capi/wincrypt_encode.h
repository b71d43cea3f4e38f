// Encoding of CryptoAPI structures (CryptEncodeObject) and the local memory functions that hand
// memory to C callers (LocalAlloc, LocalFree). Only the structure types the library encodes are
// offered; the conventions of wincrypt.h hold (last error, size-query protocol).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/capi/wincrypt.h"

namespace Velmora::Platform {

// The Authenticode time-stamp request (the platform's structure type number 18).
inline const LPCSTR PKCS_TIME_REQUEST = reinterpret_cast<LPCSTR>(std::uintptr_t{18});

// What PKCS_TIME_REQUEST encodes:
//   TimeStampRequest ::= SEQUENCE {
//     countersignatureType  OBJECT IDENTIFIER,     -- pszTimeStampAlgorithm
//     attributes            SET OF Attribute OPTIONAL,  -- written when cAttribute > 0
//     content               SEQUENCE {
//       contentType  OBJECT IDENTIFIER,            -- pszContentType
//       content      [0] EXPLICIT OCTET STRING } } -- Content
//   Attribute ::= SEQUENCE { type OBJECT IDENTIFIER, values SET OF ANY }
// Each attribute value is its whole DER element, copied as it is; both SET OFs are sorted.
struct CRYPT_TIME_STAMP_REQUEST_INFO {
  LPSTR pszTimeStampAlgorithm;
  LPSTR pszContentType;
  CRYPT_OBJID_BLOB Content;
  DWORD cAttribute;
  PCRYPT_ATTRIBUTE rgAttribute;
};
using PCRYPT_TIME_STAMP_REQUEST_INFO = CRYPT_TIME_STAMP_REQUEST_INFO*;

// Encodes `pvStructInfo` as the structure `lpszStructType` by the size-query protocol.
// `dwCertEncodingType` must include X509_ASN_ENCODING (else E_INVALIDARG); a structure type
// not offered fails with ERROR_FILE_NOT_FOUND (no encoder is installed for it), as on the
// platform. Null OIDs, a null pointer with a non-zero count, and an encoding of 4 GiB or more
// fail with E_INVALIDARG; OID text that is not an OID with CRYPT_E_OID_FORMAT.
BOOL CryptEncodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType, const void* pvStructInfo,
                       BYTE* pbEncoded, DWORD* pcbEncoded);

// Local memory: malloc and free under the platform's names. LMEM_ZEROINIT clears the block;
// every other flag is taken as LMEM_FIXED. A failed allocation returns null with
// ERROR_NOT_ENOUGH_MEMORY as last error. LocalFree(null) does nothing; it returns null.
using HLOCAL = void*;
using UINT = std::uint32_t;
inline constexpr UINT LMEM_FIXED = 0x0000;
inline constexpr UINT LMEM_ZEROINIT = 0x0040;
HLOCAL LocalAlloc(UINT uFlags, std::size_t uBytes) noexcept;
HLOCAL LocalFree(HLOCAL hMem) noexcept;

}  // namespace Velmora::Platform
