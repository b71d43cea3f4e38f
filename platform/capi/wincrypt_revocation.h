// Revocation as the chain engine reports it: the revocation details of each chain element
// (CERT_CHAIN_ELEMENT::pRevocationInfo), the trust status bits and the flags that steer it.
//
// For each certificate below the root of a trusted path, when a CERT_CHAIN_REVOCATION_CHECK_*
// flag asks for it, the engine asks these sources in turn and stops at the first that answers
// for the certificate (revocation_check.h says how each answer is judged):
//   1. the CRLs and OCSP responses given with the chain (CERT_CHAIN_PARA::pRevocationData: those
//      a signed message carries, such as a time-stamp token's);
//   2. the CRLs of the additional store the chain is built with (the caller's stores,
//      CertAddEncodedCRLToStore);
//   3. the CRLs of the "Root" and "CA" store folders;
//   4. the disk cache under $XDG_CACHE_HOME/velmora/revocation/ (~/.cache when unset);
//   5. the network, unless CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY is given: the OCSP responders
//      of the certificate's authorityInfoAccess, then the http URLs of its cRLDistributionPoints.
// A certificate that is listed gets CERT_TRUST_IS_REVOKED whatever the date and reason; the
// details below let a policy apply its own rule at its own time (the time-stamping policy applies
// RFC 3161's). When no source answers, CERT_TRUST_REVOCATION_STATUS_UNKNOWN, with
// CERT_TRUST_IS_OFFLINE_REVOCATION when some source was there but could not be used.
#pragma once

#include "platform/capi/wincrypt.h"
#include "platform/capi/wincrypt_chain.h"

namespace Velmora::Platform {

inline constexpr DWORD CERT_TRUST_IS_OFFLINE_REVOCATION = 0x01000000;

// Time-stamping policy flag (CERT_CHAIN_POLICY_PARA::dwFlags, with TSP_CHAIN_POLICY_TIME_FLAG):
// an element whose revocation status is unknown fails the chain with its dwRevocationResult
// (CRYPT_E_REVOCATION_OFFLINE or CRYPT_E_NO_REVOCATION_CHECK). Without it, only revoked ones fail.
inline constexpr DWORD TSP_CHAIN_POLICY_REQUIRE_REVOCATION_FLAG = 0x00040000;

// Where an element's revocation answer came from (our own member of CERT_REVOCATION_INFO).
enum : DWORD {
  REVOCATION_SOURCE_NONE = 0,
  REVOCATION_SOURCE_CALL = 1,         // data given with the chain (a token's own)
  REVOCATION_SOURCE_STORE = 2,        // a CRL of the store folders
  REVOCATION_SOURCE_CACHE = 3,        // the disk cache
  REVOCATION_SOURCE_NETWORK = 4,      // fetched now
  REVOCATION_SOURCE_CHAIN_STORE = 5,  // a CRL of the chain's additional store
};
// What kind of revocation data answered.
enum : DWORD { REVOCATION_KIND_NONE = 0, REVOCATION_KIND_CRL = 1, REVOCATION_KIND_OCSP = 2 };

// CRL reason codes (RFC 5280 section 5.3.1; OpenSSL has the same values as CRL_REASON_*);
// REVOCATION_REASON_NONE when the entry gives none.
enum : LONG {
  REVOCATION_REASON_NONE = -1,
  REVOCATION_REASON_UNSPECIFIED = 0,
  REVOCATION_REASON_KEY_COMPROMISE = 1,
  REVOCATION_REASON_CA_COMPROMISE = 2,
  REVOCATION_REASON_AFFILIATION_CHANGED = 3,
  REVOCATION_REASON_SUPERSEDED = 4,
  REVOCATION_REASON_CESSATION_OF_OPERATION = 5,
  REVOCATION_REASON_CERTIFICATE_HOLD = 6,
  REVOCATION_REASON_REMOVE_FROM_CRL = 8,
  REVOCATION_REASON_PRIVILEGE_WITHDRAWN = 9,
  REVOCATION_REASON_AA_COMPROMISE = 10,
};

// The platform's members first (pszRevocationOid, pvOidSpecificInfo and pCrlInfo always null
// here), then ours. Owned by the chain.
struct CERT_REVOCATION_INFO {
  DWORD cbSize;
  // S_OK (not revoked), CRYPT_E_REVOKED, CRYPT_E_REVOCATION_OFFLINE (sources were there, none
  // could be used) or CRYPT_E_NO_REVOCATION_CHECK (the certificate names no source and none had
  // data for it).
  DWORD dwRevocationResult;
  LPCSTR pszRevocationOid;
  void* pvOidSpecificInfo;
  BOOL fHasFreshnessTime;
  DWORD dwFreshnessTime;  // seconds since thisUpdate of the data used
  void* pCrlInfo;
  // Ours:
  DWORD dwSource;  // REVOCATION_SOURCE_*
  DWORD dwKind;    // REVOCATION_KIND_*
  LONG lReason;    // REVOCATION_REASON_* of a revoked certificate
  FILETIME RevocationDate;
  FILETIME ThisUpdate;
  FILETIME NextUpdate;  // zero when the data gives none
  // The first failure met on the way (a source that answered badly or not at all): a WinHTTP
  // number, CRYPT_E_ASN1_*, TRUST_E_CERT_SIGNATURE, CRYPT_E_NOT_IN_REVOCATION_DATABASE ...; 0
  // when none.
  DWORD dwFirstSourceError;
};

// Revocation data given with one chain (CERT_CHAIN_PARA::pRevocationData), on top of the sources
// above: DER CRLs and DER OCSP responses (OCSPResponse), and the time of checking. What does not
// decode is ignored. A chain built for a program's "offline" switch takes
// CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY.
struct REVOCATION_DATA_BLOBS {
  DWORD cCrl;
  const CRYPT_DATA_BLOB* rgCrl;
  DWORD cOcspResponse;
  const CRYPT_DATA_BLOB* rgOcspResponse;
  // Null: the data of every source must be fresh now (nextUpdate not passed). Else the time it
  // must still be fresh at (a stamp's genTime plus a grace period), at which a delegated OCSP
  // responder must also be valid; thisUpdate must never be after now.
  const FILETIME* pCheckTime;
  // REVOCATION_DATA_OCSP_NONCE: OCSP requests sent carry a nonce, and an answer that does not
  // echo it is refused (NTE_BAD_DATA). Without it, requests carry none.
  DWORD dwFlags;
};
inline constexpr DWORD REVOCATION_DATA_OCSP_NONCE = 0x1;

}  // namespace Velmora::Platform
