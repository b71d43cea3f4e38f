// Cryptographic provider contexts of the platform layer: the provider types and providers that
// can be enumerated and acquired, the listing of their algorithms, and random numbers. Hash
// objects made in these contexts are in crypt_hash.h. Everything runs on OpenSSL: digests through
// EVP; random numbers come from the kernel's generator (getrandom), which also seeds OpenSSL's.
//
// The providers installed here. Each provider type has exactly one provider, which is therefore
// the type's default; an algorithm is listed only when OpenSSL can fetch its digest.
//
//   type                      provider name                                       hashes
//   1  PROV_RSA_FULL          "Velmora OpenSSL RSA Full Provider"                 MD5, SHA-1
//   24 PROV_RSA_AES           "Velmora OpenSSL RSA and AES Provider"              MD5, SHA-1,
//                                                                                 SHA-256/384/512
//   75 PROV_GOST_2001_DH      "Velmora OpenSSL GOST R 34.10-2001 Provider"        GR 34.11-94
//   80 PROV_GOST_2012_256     "Velmora OpenSSL GOST R 34.10-2012 Provider"        + 2012 256 bits
//   81 PROV_GOST_2012_512     "Velmora OpenSSL GOST R 34.10-2012 Strong Provider" + 2012 512 bits
//
// The GOST types exist only when the OID registry (wincrypt_oid.h) gives the GOST R 34.11 hashes
// their ALG_IDs, that is when an OpenSSL provider with the GOST digests is loaded; type 75 needs
// GOST R 34.11-94, type 80 GOST R 34.11-2012 256, type 81 GOST R 34.11-2012 512. The split of
// MD5 and SHA-1 into type 1 and of the SHA-2 family into type 24 is the platform's own: code
// written for it that hashes SHA-1 in a PROV_RSA_FULL context runs unchanged.
//
// Types are enumerated in ascending order (1, 24, 75, 80, 81) and providers in the order of
// their names, letter case aside (the GOST ones first), as the platform lists its registry keys. So
// the search for a hash provider by type, default provider first, finds:
//   MD5, SHA-1                    type 1, "Velmora OpenSSL RSA Full Provider"
//   SHA-256, SHA-384, SHA-512     type 24, "Velmora OpenSSL RSA and AES Provider"
//   GOST R 34.11-94               type 75; 2012 256 bits: type 80; 2012 512 bits: type 81
//   anything else (MD2, MD4, 0)   nothing: every enumeration ends with ERROR_NO_MORE_ITEMS
// Random numbers come from a context of any type.
//
// Conventions every operation here keeps:
//   - A failure returns FALSE and sets the calling thread's last error: a CryptoAPI HRESULT
//     (NTE_BAD_UID ...) kept as its 32-bit value, or a Win32 number (ERROR_MORE_DATA,
//     ERROR_NO_MORE_ITEMS, ERROR_INVALID_PARAMETER). Success leaves the last error alone.
//   - Handles are opaque numbers, never pointers, and never reused within a process. A handle
//     that is not a live context of this layer (0, released, a hash handle, any other number)
//     fails with NTE_BAD_UID; it is never dereferenced. Contexts are counted by reference:
//     CryptAcquireContextW and each CryptContextAddRef are matched by one CryptReleaseContext.
//   - A context may be used by several threads at once. The algorithm listing keeps one cursor
//     per context, as the platform does, so threads that list through a shared context see each
//     other's steps.
//   - Variable-size results follow the size-query protocol: a null buffer asks for the size,
//     which is stored in *pcbData, and succeeds; a buffer smaller than *pcbData fails with
//     ERROR_MORE_DATA after *pcbData was set to the size needed.
//   - Key containers do not exist here: only contexts without a key container
//     (CRYPT_VERIFYCONTEXT) can be acquired. Keys do not exist either.
#pragma once

#include <cstdint>

#include "platform/base/types.h"

namespace Velmora::Platform {

using LPCWSTR = const wchar_t*;
using LPWSTR = wchar_t*;
using ULONG_PTR = std::uintptr_t;
using HCRYPTPROV = ULONG_PTR;
using HCRYPTKEY = ULONG_PTR;
using HCRYPTHASH = ULONG_PTR;

// Provider types.
inline constexpr DWORD PROV_RSA_FULL = 1;
inline constexpr DWORD PROV_RSA_AES = 24;
inline constexpr DWORD PROV_GOST_2001_DH = 75;
inline constexpr DWORD PROV_GOST_2012_256 = 80;
inline constexpr DWORD PROV_GOST_2012_512 = 81;

// Flags of CryptAcquireContextW.
inline constexpr DWORD CRYPT_VERIFYCONTEXT = 0xF0000000;
inline constexpr DWORD CRYPT_NEWKEYSET = 0x00000008;
inline constexpr DWORD CRYPT_DELETEKEYSET = 0x00000010;
inline constexpr DWORD CRYPT_MACHINE_KEYSET = 0x00000020;
inline constexpr DWORD CRYPT_SILENT = 0x00000040;
inline constexpr DWORD CRYPT_DEFAULT_CONTAINER_OPTIONAL = 0x00000080;

// Parameters and flags of CryptGetProvParam.
inline constexpr DWORD PP_ENUMALGS = 1;
inline constexpr DWORD PP_NAME = 4;
inline constexpr DWORD PP_PROVTYPE = 16;
inline constexpr DWORD PP_ENUMALGS_EX = 22;
inline constexpr DWORD CRYPT_FIRST = 1;
inline constexpr DWORD CRYPT_NEXT = 2;

// Protocol bits of PROV_ENUMALGS_EX: every hash here can be used for signing.
inline constexpr DWORD CRYPT_FLAG_SIGNING = 0x00000020;

// One algorithm of a provider, as PP_ENUMALGS gives it. szName is NUL-terminated and dwNameLen
// counts its NUL.
struct PROV_ENUMALGS {
  ALG_ID aiAlgid;
  DWORD dwBitLen;
  DWORD dwNameLen;
  char szName[20];
};

// One algorithm of a provider, as PP_ENUMALGS_EX gives it: key or digest lengths in bits,
// protocol bits, short and long names (NUL-terminated, lengths counting the NUL).
struct PROV_ENUMALGS_EX {
  ALG_ID aiAlgid;
  DWORD dwDefaultLen;
  DWORD dwMinLen;
  DWORD dwMaxLen;
  DWORD dwProtocols;
  DWORD dwNameLen;
  char szName[20];
  DWORD dwLongNameLen;
  char szLongName[40];
};

// The provider type at `dwIndex` (0 is the first) in *pdwProvType and its name in szTypeName.
// The name is wide text; *pcbTypeName is its size in bytes, terminating NUL included, and follows
// the size-query protocol (*pdwProvType is set by a size query too). An index past the last type
// fails with ERROR_NO_MORE_ITEMS. pdwReserved must be null and pdwProvType and pcbTypeName
// given (else ERROR_INVALID_PARAMETER); dwFlags must be 0 (else NTE_BAD_FLAGS).
BOOL CryptEnumProviderTypesW(DWORD dwIndex, DWORD* pdwReserved, DWORD dwFlags, DWORD* pdwProvType,
                             LPWSTR szTypeName, DWORD* pcbTypeName);

// The provider at `dwIndex` with its type, by the same rules as CryptEnumProviderTypesW.
BOOL CryptEnumProvidersW(DWORD dwIndex, DWORD* pdwReserved, DWORD dwFlags, DWORD* pdwProvType,
                         LPWSTR szProvName, DWORD* pcbProvName);

// Acquires a context of the provider named szProvider (compared without regard to the case of
// ASCII letters), or of the default provider of dwProvType when szProvider is null or empty.
// dwFlags must hold CRYPT_VERIFYCONTEXT, may add CRYPT_SILENT, CRYPT_MACHINE_KEYSET and
// CRYPT_DEFAULT_CONTAINER_OPTIONAL, and szContainer must then be null or empty.
// Failures: null phProv ERROR_INVALID_PARAMETER; dwProvType 0 or above 999 NTE_BAD_PROV_TYPE;
// a flag outside those named, a container with CRYPT_VERIFYCONTEXT, or CRYPT_VERIFYCONTEXT with
// CRYPT_NEWKEYSET or CRYPT_DELETEKEYSET NTE_BAD_FLAGS; no CRYPT_VERIFYCONTEXT (a key container
// asked for; none exists here) NTE_BAD_KEYSET; a type without provider here
// NTE_PROV_TYPE_NOT_DEF; an unknown provider name NTE_KEYSET_NOT_DEF; a provider of another type
// NTE_PROV_TYPE_NO_MATCH. *phProv is set only on success.
BOOL CryptAcquireContextW(HCRYPTPROV* phProv, LPCWSTR szContainer, LPCWSTR szProvider,
                          DWORD dwProvType, DWORD dwFlags);

// Takes one more reference to a context. pdwReserved must be null and dwFlags 0 (else
// ERROR_INVALID_PARAMETER); an unknown handle fails with NTE_BAD_UID.
BOOL CryptContextAddRef(HCRYPTPROV hProv, DWORD* pdwReserved, DWORD dwFlags);

// Drops one reference; the last one ends the context and its handle. Hash objects made in the
// context stay usable until they are destroyed. dwFlags must be 0 (else NTE_BAD_FLAGS, and the
// reference is kept); an unknown handle fails with NTE_BAD_UID.
BOOL CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags);

// A parameter of the context:
//   PP_ENUMALGS, PP_ENUMALGS_EX  the next algorithm of the provider as a PROV_ENUMALGS or
//                                PROV_ENUMALGS_EX; CRYPT_FIRST restarts at the first. A fresh
//                                context starts at the first too. After the last algorithm the
//                                call fails with ERROR_NO_MORE_ITEMS. The cursor, shared by both
//                                parameters, moves only when a structure was copied out, so a
//                                size query or a buffer too small leaves it where it was.
//   PP_NAME                      the provider's name, narrow NUL-terminated text
//   PP_PROVTYPE                  the provider's type, a DWORD
// An unknown parameter fails with NTE_BAD_TYPE; a flag other than CRYPT_FIRST, or CRYPT_FIRST
// with PP_NAME or PP_PROVTYPE, with NTE_BAD_FLAGS; a null pdwDataLen with
// ERROR_INVALID_PARAMETER.
BOOL CryptGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                       DWORD dwFlags);

// Fills dwLen bytes at pbBuffer with random bytes from the kernel's generator (getrandom, which
// waits only while the kernel's pool is not yet seeded after boot). Length 0 succeeds and touches
// nothing. A null buffer with a non-zero length fails with ERROR_INVALID_PARAMETER, an unknown
// context with NTE_BAD_UID, a failing generator with NTE_FAIL (the buffer's content is then
// unspecified).
BOOL CryptGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer);

}  // namespace Velmora::Platform
