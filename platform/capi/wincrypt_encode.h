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

// An INTEGER given as a CRYPT_INTEGER_BLOB in little-endian order, as CERT_INFO.SerialNumber
// holds it (the platform's structure type number 28); it is encoded as a DER INTEGER of those
// octets in big-endian order as two's complement, in the shortest form (needless sign bytes
// dropped, as DER requires). An empty blob is zero.
inline const LPCSTR X509_MULTI_BYTE_INTEGER = reinterpret_cast<LPCSTR>(std::uintptr_t{28});

// Encodes `pvStructInfo` as the structure `lpszStructType` by the size-query protocol.
// `dwCertEncodingType` must include X509_ASN_ENCODING (else E_INVALIDARG); a structure type
// not offered fails with ERROR_FILE_NOT_FOUND (no encoder is installed for it), as on the
// platform. Null OIDs, a null pointer with a non-zero count, and an encoding of 4 GiB or more
// fail with E_INVALIDARG; OID text that is not an OID with CRYPT_E_OID_FORMAT.
BOOL CryptEncodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType, const void* pvStructInfo,
                       BYTE* pbEncoded, DWORD* pcbEncoded);

// A CMS SignerInfo (the platform's structure type number 501), decoded by our CMS codec.
inline const LPCSTR CMS_SIGNER_INFO = reinterpret_cast<LPCSTR>(std::uintptr_t{501});

// What CMS_SIGNER_INFO decodes to. SignerId is CERT_ID_ISSUER_SERIAL_NUMBER (serial number in
// little-endian order) or CERT_ID_KEY_IDENTIFIER; the attribute values are whole DER elements.
struct CMSG_CMS_SIGNER_INFO {
  DWORD dwVersion;
  CERT_ID SignerId;
  CRYPT_ALGORITHM_IDENTIFIER HashAlgorithm;
  CRYPT_ALGORITHM_IDENTIFIER HashEncryptionAlgorithm;
  CRYPT_DATA_BLOB EncryptedHash;
  CRYPT_ATTRIBUTES AuthAttrs;
  CRYPT_ATTRIBUTES UnauthAttrs;
};
using PCMSG_CMS_SIGNER_INFO = CMSG_CMS_SIGNER_INFO*;

// Flags of CryptDecodeObject. Everything is laid out in the caller's buffer whatever the flags
// say, OID texts included; the flags are accepted for the platform's callers.
inline constexpr DWORD CRYPT_DECODE_NOCOPY_FLAG = 0x1;
inline constexpr DWORD CRYPT_DECODE_TO_BE_SIGNED_FLAG = 0x2;
inline constexpr DWORD CRYPT_DECODE_SHARE_OID_STRING_FLAG = 0x4;
inline constexpr DWORD CRYPT_DECODE_NO_SIGNATURE_BYTE_REVERSAL_FLAG = 0x8;

// Decodes `pbEncoded` as the structure `lpszStructType` into `pvStructInfo` by the size-query
// protocol (the structure first, then everything it points to, in the same buffer, which must
// be aligned for pointers). Offered: CMS_SIGNER_INFO and X509_MULTI_BYTE_INTEGER (to a
// CRYPT_INTEGER_BLOB, little-endian). `dwCertEncodingType` must include X509_ASN_ENCODING or
// PKCS_7_ASN_ENCODING (else E_INVALIDARG); another structure type fails with
// ERROR_FILE_NOT_FOUND; bytes that do not decode (trailing bytes included) with the decoder's
// CRYPT_E_ASN1_* code.
BOOL CryptDecodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType, const BYTE* pbEncoded,
                       DWORD cbEncoded, DWORD dwFlags, void* pvStructInfo, DWORD* pcbStructInfo);

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
