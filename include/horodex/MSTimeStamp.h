// GetMSStamp and FreeMSStamp: a legacy Authenticode time stamp from a server that speaks the
// Authenticode time-stamp protocol (the Base64 text of a request posted over HTTP, Base64 text
// of a PKCS #7 SignedData back).
//
//   CRYPT_DATA_BLOB content{length, bytes};               // e.g. a signature's encrypted digest
//   CRYPT_DATA_BLOB* stamp = GetMSStamp(&content, L"http://tsa.example/authenticode", nullptr);
//   if (stamp == nullptr) { DWORD code = Velmora::Platform::GetLastError(); ... }
//   ... stamp->pbData, stamp->cbData: the server's reply, Base64-decoded, not parsed ...
//   FreeMSStamp(stamp);
//
// The policies under "Software\Policies\Velmora\TSP" apply: "AllowedMSTSPs" (in force when
// "MSTSAsAllowedSetted" is on) lists the only URLs that may be used, compared exactly and case
// sensitively; "DefaultMSTSPURL" is used when `url` is null. A proxy comes from the environment
// (http_proxy ...); a proxy that asks for authentication (407) is offered Negotiate once.
#pragma once

#include "platform/base/types.h"
#include "platform/capi/wincrypt.h"

extern "C" {

// Posts an Authenticode time-stamp request for `content` (required; its bytes go into the
// request as PKCS #7 data) with the optional `attributes` to `url` (or the policy default when
// null) and returns the decoded reply in a new blob, or null on failure with the reason as the
// thread's last error (Velmora::Platform::GetLastError). It never throws.
//   ERROR_INVALID_PARAMETER (87)  `content` is null
//   ERROR_ACCESS_DISABLED_BY_POLICY (1260)  the URL is not in the allowed list; nothing is sent
//   the registry's code            a policy key cannot be opened
//   the HRESULT of a policy value that cannot be read (0x8007000D for a value of a wrong type)
//   E_FAIL (0x80004005)            a content too long for the request's Base64 text
//   the encoder's code             the request cannot be encoded (a malformed attribute)
//   the HTTP layer's HRESULT       the exchange failed below HTTP (0x80072EE5: the URL cannot
//                                  be used, 0x80072EFD: no connection, ...)
//   0xC2100100                     the final HTTP status is not 200
//   ERROR_INVALID_DATA (13)        the reply is not Base64, or decodes to no bytes at all
//   ERROR_OUTOFMEMORY (14)         the result cannot be allocated
//   E_UNEXPECTED (0x8000FFFF)      an internal failure (a fault of the library, not of the input)
// The result and its bytes are owned by the caller, who releases them with FreeMSStamp.
Velmora::Platform::CRYPT_DATA_BLOB* GetMSStamp(
    const Velmora::Platform::CRYPT_DATA_BLOB* content, const wchar_t* url,
    const Velmora::Platform::CRYPT_ATTRIBUTES* attributes);

// Linux addition: GetMSStamp with each exchange bounded to `overallMs` milliseconds in all
// (CHttpTimeouts::Within); 0 keeps WinHTTP's time-outs, as GetMSStamp does. A time-out fails with
// 0x80072EE2 (12002).
Velmora::Platform::CRYPT_DATA_BLOB* GetMSStampWithTimeout(
    const Velmora::Platform::CRYPT_DATA_BLOB* content, const wchar_t* url,
    const Velmora::Platform::CRYPT_ATTRIBUTES* attributes, Velmora::Platform::DWORD overallMs);

// Frees a result of GetMSStamp: its bytes, then the blob. Null is accepted. Always returns TRUE.
Velmora::Platform::BOOL FreeMSStamp(Velmora::Platform::CRYPT_DATA_BLOB* stamp);

}  // extern "C"
