// The platform's error numbers that the library raises or passes on: Win32 codes, generic
// HRESULTs, CryptoAPI, ASN.1 and certificate-trust codes. Values are the platform's own and
// never change.
#pragma once

#include "platform/text/types.h"

namespace Velmora::Platform {

// Win32 error numbers (GetLastError values).
inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_BAD_FORMAT = 11;
inline constexpr DWORD ERROR_INVALID_DATA = 13;
inline constexpr DWORD ERROR_OUTOFMEMORY = 14;
inline constexpr DWORD ERROR_NOT_SUPPORTED = 50;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
inline constexpr DWORD ERROR_BAD_ARGUMENTS = 160;
inline constexpr DWORD ERROR_MORE_DATA = 234;
inline constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
inline constexpr DWORD ERROR_ACCESS_DISABLED_BY_POLICY = 1260;
inline constexpr DWORD ERROR_INVALID_STATE = 5023;

// Generic HRESULTs.
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001);
inline constexpr HRESULT E_POINTER = MakeHResult(0x80004003);
inline constexpr HRESULT E_FAIL = MakeHResult(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFF);
inline constexpr HRESULT E_ACCESSDENIED = MakeHResult(0x80070005);
inline constexpr HRESULT E_HANDLE = MakeHResult(0x80070006);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057);

// CryptoAPI provider codes.
inline constexpr HRESULT NTE_BAD_DATA = MakeHResult(0x80090005);
inline constexpr HRESULT NTE_BAD_SIGNATURE = MakeHResult(0x80090006);
inline constexpr HRESULT NTE_BAD_ALGID = MakeHResult(0x80090008);
inline constexpr HRESULT NTE_BAD_FLAGS = MakeHResult(0x80090009);
inline constexpr HRESULT NTE_BAD_TYPE = MakeHResult(0x8009000A);
inline constexpr HRESULT NTE_NO_MEMORY = MakeHResult(0x8009000E);
inline constexpr HRESULT NTE_PROV_TYPE_NOT_DEF = MakeHResult(0x80090017);
inline constexpr HRESULT NTE_NOT_SUPPORTED = MakeHResult(0x80090029);

// CryptoAPI message and object codes.
inline constexpr HRESULT CRYPT_E_MSG_ERROR = MakeHResult(0x80091001);
inline constexpr HRESULT CRYPT_E_UNKNOWN_ALGO = MakeHResult(0x80091002);
inline constexpr HRESULT CRYPT_E_OID_FORMAT = MakeHResult(0x80091003);
inline constexpr HRESULT CRYPT_E_INVALID_MSG_TYPE = MakeHResult(0x80091004);
inline constexpr HRESULT CRYPT_E_UNEXPECTED_ENCODING = MakeHResult(0x80091005);
inline constexpr HRESULT CRYPT_E_AUTH_ATTR_MISSING = MakeHResult(0x80091006);
inline constexpr HRESULT CRYPT_E_HASH_VALUE = MakeHResult(0x80091007);
inline constexpr HRESULT CRYPT_E_INVALID_INDEX = MakeHResult(0x80091008);
inline constexpr HRESULT CRYPT_E_NOT_FOUND = MakeHResult(0x80092004);
inline constexpr HRESULT CRYPT_E_EXISTS = MakeHResult(0x80092005);
inline constexpr HRESULT CRYPT_E_SELF_SIGNED = MakeHResult(0x80092007);
inline constexpr HRESULT CRYPT_E_NO_SIGNER = MakeHResult(0x8009200E);
inline constexpr HRESULT CRYPT_E_REVOKED = MakeHResult(0x80092010);
inline constexpr HRESULT CRYPT_E_NO_REVOCATION_CHECK = MakeHResult(0x80092012);
inline constexpr HRESULT CRYPT_E_REVOCATION_OFFLINE = MakeHResult(0x80092013);

// ASN.1 encode and decode codes.
inline constexpr HRESULT CRYPT_E_ASN1_ERROR = MakeHResult(0x80093100);     // corrupt encoding
inline constexpr HRESULT CRYPT_E_ASN1_INTERNAL = MakeHResult(0x80093101);  // internal error
inline constexpr HRESULT CRYPT_E_ASN1_EOD = MakeHResult(0x80093102);       // data ends too soon
inline constexpr HRESULT CRYPT_E_ASN1_CORRUPT = MakeHResult(0x80093103);
inline constexpr HRESULT CRYPT_E_ASN1_LARGE =
    MakeHResult(0x80093104);  // value or nesting too large
inline constexpr HRESULT CRYPT_E_ASN1_CONSTRAINT = MakeHResult(0x80093105);
inline constexpr HRESULT CRYPT_E_ASN1_MEMORY = MakeHResult(0x80093106);
inline constexpr HRESULT CRYPT_E_ASN1_OVERFLOW = MakeHResult(0x80093107);
inline constexpr HRESULT CRYPT_E_ASN1_BADPDU = MakeHResult(0x80093108);
inline constexpr HRESULT CRYPT_E_ASN1_BADARGS = MakeHResult(0x80093109);
inline constexpr HRESULT CRYPT_E_ASN1_BADREAL = MakeHResult(0x8009310A);
inline constexpr HRESULT CRYPT_E_ASN1_BADTAG = MakeHResult(0x8009310B);
inline constexpr HRESULT CRYPT_E_ASN1_CHOICE = MakeHResult(0x8009310C);
inline constexpr HRESULT CRYPT_E_ASN1_RULE = MakeHResult(0x8009310D);
inline constexpr HRESULT CRYPT_E_ASN1_UTF8 = MakeHResult(0x8009310E);
inline constexpr HRESULT CRYPT_E_ASN1_PDU_TYPE = MakeHResult(0x80093133);
inline constexpr HRESULT CRYPT_E_ASN1_NYI = MakeHResult(0x80093134);
inline constexpr HRESULT CRYPT_E_ASN1_EXTENDED = MakeHResult(0x80093201);
inline constexpr HRESULT CRYPT_E_ASN1_NOEOD = MakeHResult(0x80093202);

// Certificate trust codes.
inline constexpr HRESULT TRUST_E_NOSIGNATURE = MakeHResult(0x800B0100);
inline constexpr HRESULT CERT_E_EXPIRED = MakeHResult(0x800B0101);
inline constexpr HRESULT CERT_E_VALIDITYPERIODNESTING = MakeHResult(0x800B0102);
inline constexpr HRESULT CERT_E_ROLE = MakeHResult(0x800B0103);
inline constexpr HRESULT CERT_E_PATHLENCONST = MakeHResult(0x800B0104);
inline constexpr HRESULT CERT_E_CRITICAL = MakeHResult(0x800B0105);
inline constexpr HRESULT CERT_E_PURPOSE = MakeHResult(0x800B0106);
inline constexpr HRESULT CERT_E_ISSUERCHAINING = MakeHResult(0x800B0107);
inline constexpr HRESULT CERT_E_MALFORMED = MakeHResult(0x800B0108);
inline constexpr HRESULT CERT_E_UNTRUSTEDROOT = MakeHResult(0x800B0109);
inline constexpr HRESULT CERT_E_CHAINING = MakeHResult(0x800B010A);
inline constexpr HRESULT TRUST_E_FAIL = MakeHResult(0x800B010B);
inline constexpr HRESULT CERT_E_REVOKED = MakeHResult(0x800B010C);
inline constexpr HRESULT CERT_E_UNTRUSTEDTESTROOT = MakeHResult(0x800B010D);
inline constexpr HRESULT CERT_E_REVOCATION_FAILURE = MakeHResult(0x800B010E);
inline constexpr HRESULT CERT_E_CN_NO_MATCH = MakeHResult(0x800B010F);
inline constexpr HRESULT CERT_E_WRONG_USAGE = MakeHResult(0x800B0110);
inline constexpr HRESULT TRUST_E_EXPLICIT_DISTRUST = MakeHResult(0x800B0111);
inline constexpr HRESULT CERT_E_UNTRUSTEDCA = MakeHResult(0x800B0112);
inline constexpr HRESULT TRUST_E_CERT_SIGNATURE = MakeHResult(0x80096004);

// The fixed CSP text code of the error lookup.
inline constexpr HRESULT SCARD_E_INVALID_CHV_NAME_FORMAT = MakeHResult(0x8010001C);

}  // namespace Velmora::Platform
