// Certificate chains, installable chain policies and certificate hashes of the platform layer,
// under the CryptoAPI's names, types and argument order. The conventions of wincrypt.h hold
// (thread's last error, size-query protocol, counted contexts).
//
// The chain engine builds paths with OpenSSL from the subject up:
//   - untrusted material: the certificates of the additional store (a token's certificates, the
//     caller's stores). They are never trust anchors, not even when self-signed;
//   - trust anchors: the machine's system trust store (OpenSSL's default file and folder), the
//     "Root" folders of the machine and of the current user (cert_system_store.cpp says where),
//     and the roots added for the process by CertAddTrustedRootsFromFile. The anchors are read
//     once and read again only when one of the "Root" folders or the system trust store changes;
//   - revocation: judged when a CERT_CHAIN_REVOCATION_CHECK_* flag asks for it (END_CERT: the
//     subject; CHAIN and CHAIN_EXCLUDE_ROOT: every certificate below the root) on a path that
//     ends in a trusted root with every signature good, from the call's data, the store folders'
//     CRLs, the disk cache and the network (wincrypt_revocation.h); each element's
//     pRevocationInfo then says what was found.
// A path is at most kMaxChainLength (32) certificates long; a loop among the certificates is
// reported as CERT_TRUST_IS_CYCLIC and a path that found no root as CERT_TRUST_IS_PARTIAL_CHAIN,
// so no set of certificates makes the engine hang. An issuer below the root must carry
// basicConstraints with cA set, and every issuer must respect its path length, else
// CERT_TRUST_INVALID_BASIC_CONSTRAINTS; a keyUsage without keyCertSign on an issuer gives
// CERT_TRUST_IS_NOT_VALID_FOR_USAGE. Issuers' name constraints (name_constraints.h) give
// CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT, CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT,
// CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT or CERT_TRUST_INVALID_NAME_CONSTRAINTS on the
// certificate that breaks them; certificate policies (cert_policies.h) give
// CERT_TRUST_NO_ISSUANCE_CHAIN_POLICY where an explicit policy is required and none is valid, and
// CERT_TRUST_INVALID_POLICY_CONSTRAINTS on a certificate whose policy extensions are malformed.
#pragma once

#include <cstdint>

#include "platform/capi/wincrypt.h"

namespace Velmora::Platform {

// ---------------------------------------------------------------------------------------------
// Chain engine

using HCERTCHAINENGINE = void*;
// The default engines: null is the current user's, as on the platform. Both are the same here.
inline const HCERTCHAINENGINE HCCE_CURRENT_USER = nullptr;
inline const HCERTCHAINENGINE HCCE_LOCAL_MACHINE = reinterpret_cast<HCERTCHAINENGINE>(1);

// Bits of CERT_TRUST_STATUS.dwErrorStatus.
inline constexpr DWORD CERT_TRUST_NO_ERROR = 0x00000000;
inline constexpr DWORD CERT_TRUST_IS_NOT_TIME_VALID = 0x00000001;
inline constexpr DWORD CERT_TRUST_IS_NOT_TIME_NESTED = 0x00000002;
inline constexpr DWORD CERT_TRUST_IS_REVOKED = 0x00000004;
inline constexpr DWORD CERT_TRUST_IS_NOT_SIGNATURE_VALID = 0x00000008;
inline constexpr DWORD CERT_TRUST_IS_NOT_VALID_FOR_USAGE = 0x00000010;
inline constexpr DWORD CERT_TRUST_IS_UNTRUSTED_ROOT = 0x00000020;
inline constexpr DWORD CERT_TRUST_REVOCATION_STATUS_UNKNOWN = 0x00000040;
inline constexpr DWORD CERT_TRUST_IS_CYCLIC = 0x00000080;
inline constexpr DWORD CERT_TRUST_INVALID_EXTENSION = 0x00000100;
inline constexpr DWORD CERT_TRUST_INVALID_POLICY_CONSTRAINTS = 0x00000200;
inline constexpr DWORD CERT_TRUST_INVALID_BASIC_CONSTRAINTS = 0x00000400;
inline constexpr DWORD CERT_TRUST_INVALID_NAME_CONSTRAINTS = 0x00000800;
inline constexpr DWORD CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT = 0x00001000;
inline constexpr DWORD CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT = 0x00004000;
inline constexpr DWORD CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT = 0x00008000;
inline constexpr DWORD CERT_TRUST_IS_PARTIAL_CHAIN = 0x00010000;
inline constexpr DWORD CERT_TRUST_NO_ISSUANCE_CHAIN_POLICY = 0x02000000;
inline constexpr DWORD CERT_TRUST_IS_EXPLICIT_DISTRUST = 0x04000000;
inline constexpr DWORD CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT = 0x08000000;
inline constexpr DWORD CERT_TRUST_HAS_WEAK_SIGNATURE = 0x00100000;

// Bits of CERT_TRUST_STATUS.dwInfoStatus.
inline constexpr DWORD CERT_TRUST_HAS_EXACT_MATCH_ISSUER = 0x00000001;
inline constexpr DWORD CERT_TRUST_HAS_KEY_MATCH_ISSUER = 0x00000002;
inline constexpr DWORD CERT_TRUST_HAS_NAME_MATCH_ISSUER = 0x00000004;
inline constexpr DWORD CERT_TRUST_IS_SELF_SIGNED = 0x00000008;
inline constexpr DWORD CERT_TRUST_IS_COMPLEX_CHAIN = 0x00010000;

struct CERT_TRUST_STATUS {
  DWORD dwErrorStatus;
  DWORD dwInfoStatus;
};
using PCERT_TRUST_STATUS = CERT_TRUST_STATUS*;

struct CERT_ENHKEY_USAGE {
  DWORD cUsageIdentifier;
  LPSTR* rgpszUsageIdentifier;
};
using PCERT_ENHKEY_USAGE = CERT_ENHKEY_USAGE*;

// Revocation details and certificate trust lists are not kept here: the members that point to
// them are always null.
struct CERT_REVOCATION_INFO;
struct CERT_TRUST_LIST_INFO;

// One certificate of a chain with its own trust status. pCertContext is a reference held by the
// chain (duplicate it to keep it longer); its CERT_INFO carries the validity period that a policy
// judges at its own time.
struct CERT_CHAIN_ELEMENT {
  DWORD cbSize;
  PCCERT_CONTEXT pCertContext;
  CERT_TRUST_STATUS TrustStatus;
  CERT_REVOCATION_INFO* pRevocationInfo;
  PCERT_ENHKEY_USAGE pIssuanceUsage;
  PCERT_ENHKEY_USAGE pApplicationUsage;  // its purposes (as RequestedUsage reads them); null: all
  LPCWSTR pwszExtendedErrorInfo;
};
using PCERT_CHAIN_ELEMENT = CERT_CHAIN_ELEMENT*;

// The elements from the subject (index 0) to the root or the last certificate found.
struct CERT_SIMPLE_CHAIN {
  DWORD cbSize;
  CERT_TRUST_STATUS TrustStatus;  // the union of the elements' errors
  DWORD cElement;
  PCERT_CHAIN_ELEMENT* rgpElement;
  CERT_TRUST_LIST_INFO* pTrustListInfo;
  BOOL fHasRevocationFreshnessTime;
  DWORD dwRevocationFreshnessTime;
};
using PCERT_SIMPLE_CHAIN = CERT_SIMPLE_CHAIN*;

struct CERT_CHAIN_CONTEXT;
using PCCERT_CHAIN_CONTEXT = const CERT_CHAIN_CONTEXT*;

struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  BYTE Data4[8];
};

// A built chain: always one simple chain here. Counted by reference like a context.
struct CERT_CHAIN_CONTEXT {
  DWORD cbSize;
  CERT_TRUST_STATUS TrustStatus;
  DWORD cChain;
  PCERT_SIMPLE_CHAIN* rgpChain;
  DWORD cLowerQualityChainContext;
  PCCERT_CHAIN_CONTEXT* rgpLowerQualityChainContext;
  BOOL fHasRevocationFreshnessTime;
  DWORD dwRevocationFreshnessTime;
  DWORD dwCreateFlags;
  GUID ChainId;
};

inline constexpr DWORD USAGE_MATCH_TYPE_AND = 0;
inline constexpr DWORD USAGE_MATCH_TYPE_OR = 1;

struct CERT_USAGE_MATCH {
  DWORD dwType;
  CERT_ENHKEY_USAGE Usage;
};

// The chain parameters. When RequestedUsage names identifiers, the path must be valid for all of
// them (AND) or one of them (OR), else CERT_TRUST_IS_NOT_VALID_FOR_USAGE on the subject: a purpose
// holds where every certificate of the path that lists purposes lists it (its extended key usage,
// narrowed to its application policies 1.3.6.1.4.1.311.21.10 where it has them).
// RequestedIssuancePolicy, read when cbSize covers it, is the initial policy set of the path's
// certificate policies: none named (or anyPolicy among them) asks for any policy; otherwise the
// path must hold one of them (AND and OR alike), else CERT_TRUST_IS_NOT_VALID_FOR_USAGE, or
// CERT_TRUST_NO_ISSUANCE_CHAIN_POLICY where an explicit policy is required.
// pStrongSignPara, read when cbSize covers it, sets the dated rule by which signatures are too
// weak (weak_algorithms.h); null, or cbSize short of it, keeps the rule's defaults (SHA-1 after
// 2017-01-01, RSA below 2048 bits after 2014-01-01, MD5 never). The fields between are the
// platform's and are not read here.
struct CERT_STRONG_SIGN_PARA;
struct REVOCATION_DATA_BLOBS;

struct CERT_CHAIN_PARA {
  DWORD cbSize;
  CERT_USAGE_MATCH RequestedUsage;
  CERT_USAGE_MATCH RequestedIssuancePolicy;
  DWORD dwUrlRetrievalTimeout;
  BOOL fCheckRevocationFreshnessTime;
  DWORD dwRevocationFreshnessTime;
  FILETIME* pftCacheResync;
  const CERT_STRONG_SIGN_PARA* pStrongSignPara;
  DWORD dwStrongSignFlags;
  // Ours: revocation data given with this chain, asked before every other source, and how it is
  // judged (wincrypt_revocation.h); null when none.
  const REVOCATION_DATA_BLOBS* pRevocationData;
};

// The strong-signing parameter. The one kind of information taken here is this layer's own dated
// rule: pvInfo points to a CERT_STRONG_SIGN_DATED_INFO when dwInfoChoice is
// CERT_STRONG_SIGN_DATED_INFO_CHOICE; any other choice keeps the defaults.
inline constexpr DWORD CERT_STRONG_SIGN_DATED_INFO_CHOICE = 0x80000001;
struct CERT_STRONG_SIGN_DATED_INFO {
  FILETIME ftSha1SignaturesAfter;  // a SHA-1 signature on an object made after it is weak
  FILETIME ftSmallRsaKeysAfter;    // so is one by an RSA key below dwMinRsaKeyBits
  DWORD dwMinRsaKeyBits;
};
struct CERT_STRONG_SIGN_PARA {
  DWORD cbSize;
  DWORD dwInfoChoice;
  void* pvInfo;
};

// Flags of CertGetCertificateChain.
inline constexpr DWORD CERT_CHAIN_CACHE_END_CERT = 0x00000001;
inline constexpr DWORD CERT_CHAIN_DISABLE_AUTH_ROOT_AUTO_UPDATE = 0x00000100;
inline constexpr DWORD CERT_CHAIN_REVOCATION_CHECK_END_CERT = 0x10000000;
inline constexpr DWORD CERT_CHAIN_REVOCATION_CHECK_CHAIN = 0x20000000;
inline constexpr DWORD CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT = 0x40000000;
// Revocation from the data given with the chain, the stores, the folders and the cache only: no
// revocation data is fetched from the network.
inline constexpr DWORD CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY = 0x80000000;
// This layer's own switches of certificate policy processing, for callers that validate paths
// with other initial settings than the defaults (any policy, nothing required or inhibited):
// an explicit policy required from the first certificate on, policy mapping inhibited, anyPolicy
// inhibited. A CRL signer's path is judged without them.
inline constexpr DWORD CERT_CHAIN_POLICY_REQUIRE_EXPLICIT = 0x00100000;
inline constexpr DWORD CERT_CHAIN_POLICY_INHIBIT_MAPPING = 0x00200000;
inline constexpr DWORD CERT_CHAIN_POLICY_INHIBIT_ANY = 0x00400000;

inline constexpr DWORD kMaxChainLength = 32;

// Builds the chain of `pCertContext` at the time `pTime` (null: now) with `hAdditionalStore`
// (may be null) as untrusted material, and returns it in *ppChainContext (free it with
// CertFreeCertificateChain). A chain that is not trusted is still a success: its TrustStatus
// says why. Fails with E_INVALIDARG for a null subject or output, or an engine other than the
// two default ones.
BOOL CertGetCertificateChain(HCERTCHAINENGINE hChainEngine, PCCERT_CONTEXT pCertContext,
                             const FILETIME* pTime, HCERTSTORE hAdditionalStore,
                             const CERT_CHAIN_PARA* pChainPara, DWORD dwFlags, void* pvReserved,
                             PCCERT_CHAIN_CONTEXT* ppChainContext);
// Drops one reference of the chain; the last one frees it with its element references. Null is
// accepted.
void CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT pChainContext);
// Takes one more reference to the chain and returns it; null gives null.
PCCERT_CHAIN_CONTEXT CertDuplicateCertificateChain(PCCERT_CHAIN_CONTEXT pChainContext);

// Makes every certificate of a PEM file (one or more CERTIFICATE blocks) or of a DER file (one
// certificate) a trusted root of the default engine for the rest of the process. S_OK, or the
// failure with nothing added: HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) for a missing file, the
// file system's error for an unreadable one, CRYPT_E_NOT_FOUND for a file without a
// certificate, the decoder's code for a certificate that does not decode, E_INVALIDARG for null.
HRESULT CertAddTrustedRootsFromFile(const char* path);

// ---------------------------------------------------------------------------------------------
// Chain policies

struct CERT_CHAIN_POLICY_PARA {
  DWORD cbSize;
  DWORD dwFlags;
  void* pvExtraPolicyPara;
};
using PCERT_CHAIN_POLICY_PARA = CERT_CHAIN_POLICY_PARA*;

struct CERT_CHAIN_POLICY_STATUS {
  DWORD cbSize;
  DWORD dwError;  // 0: accepted; otherwise the policy's code (CERT_E_* ...)
  LONG lChainIndex;
  LONG lElementIndex;  // the element that failed, -1 when the whole chain did
  void* pvExtraPolicyStatus;
};
using PCERT_CHAIN_POLICY_STATUS = CERT_CHAIN_POLICY_STATUS*;

// Judges `pChainContext` by the policy registered under `pszPolicyOID` and writes the verdict
// into *pPolicyStatus. TRUE when the policy could judge (whatever its verdict); FALSE with
// CRYPT_E_NOT_FOUND for an identifier that no policy is registered under, E_INVALIDARG for null
// arguments or a status whose cbSize is too small.
BOOL CertVerifyCertificateChainPolicy(LPCSTR pszPolicyOID, PCCERT_CHAIN_CONTEXT pChainContext,
                                      const CERT_CHAIN_POLICY_PARA* pPolicyPara,
                                      CERT_CHAIN_POLICY_STATUS* pPolicyStatus);

using PFN_CERT_DLL_VERIFY_CERTIFICATE_CHAIN_POLICY =
    BOOL (*)(LPCSTR pszPolicyOID, PCCERT_CHAIN_CONTEXT pChainContext,
             const CERT_CHAIN_POLICY_PARA* pPolicyPara, CERT_CHAIN_POLICY_STATUS* pPolicyStatus);

using HMODULE = void*;

struct CRYPT_OID_FUNC_ENTRY {
  LPCSTR pszOID;
  void* pvFuncAddr;
};

inline constexpr const char* CRYPT_OID_VERIFY_CERTIFICATE_CHAIN_POLICY_FUNC =
    "CertDllVerifyCertificateChainPolicy";
inline constexpr DWORD CRYPT_INSTALL_OID_FUNC_BEFORE_FLAG = 1;

// Registers functions by OID (here: policy identifiers) for the function set `pszFuncName`; only
// CRYPT_OID_VERIFY_CERTIFICATE_CHAIN_POLICY_FUNC exists (others fail with E_INVALIDARG).
// `hModule` is not used. A function registered under an identifier that already has one replaces
// it for every later call: the latest registration wins, so an application can put its own
// time-stamping policy in place of the library's default. A null pvFuncAddr removes the entry.
BOOL CryptInstallOIDFunctionAddress(HMODULE hModule, DWORD dwEncodingType, LPCSTR pszFuncName,
                                    DWORD cFuncEntry, const CRYPT_OID_FUNC_ENTRY rgFuncEntry[],
                                    DWORD dwFlags);

// The time-stamping chain policy of the library, registered when the layer is first used.
inline constexpr const char* TSP_CHAIN_POLICY_ID = "{AF74EE92-A059-492F-9B4B-EAD239B22A1B}";
// Policy flag: pvExtraPolicyPara points to a TSP_CHAIN_POLICY_TIME_PARA whose time every
// certificate of the chain must be valid at (without it: the current time).
inline constexpr DWORD TSP_CHAIN_POLICY_TIME_FLAG = 0x00020000;
struct TSP_CHAIN_POLICY_TIME_PARA {
  DWORD cbSize;  // sizeof (16)
  FILETIME* pftTimeStamp;
};

// The default policy itself, for an application's own policy that wants to add to it. Judges
// every certificate of the chain and reports the first failure in this order (lChainIndex 0,
// lElementIndex the first element that fails the check):
//   1. a signature in the chain does not verify                TRUST_E_CERT_SIGNATURE 0x80096004
//   1a. a signature in the chain is too weak at the certificate's notBefore (weak_algorithms.h;
//      CERT_TRUST_HAS_WEAK_SIGNATURE)                      CRYPT_E_SECURITY_SETTINGS 0x80092026
//   2. no path to a root, or a loop                             CERT_E_CHAINING       0x800B010A
//   3. the root is not trusted                                  CERT_E_UNTRUSTEDROOT  0x800B0109
//   4. an issuer that is not a CA, or beyond its path length    TRUST_E_BASIC_CONSTRAINTS
//   0x80096019
//   4a. a name outside an issuer's permitted subtrees, inside an excluded one, under a critical
//      constraint of a form not supported, or a malformed constraint  CERT_E_INVALID_NAME
//      0x800B0114
//   4b. no valid policy where a policyConstraints requires an explicit one, or malformed policy
//      extensions                                             CERT_E_INVALID_POLICY 0x800B0113
//   5. a certificate revoked at or before the policy's time, or after it for a reason that
//      does not leave its key sound (RFC 3161; revocation_check.h) CRYPT_E_REVOKED     0x80092010
//      with TSP_CHAIN_POLICY_REQUIRE_REVOCATION_FLAG: a revocation status unknown
//                                          CRYPT_E_REVOCATION_OFFLINE 0x80092013 or
//                                          CRYPT_E_NO_REVOCATION_CHECK 0x80092012
//   6. a critical extension that is not understood              CERT_E_CRITICAL       0x800B0105
//   7. a certificate not valid at the policy's time             CERT_E_EXPIRED        0x800B0101
//   8. the TSA certificate's (element 0) extended key usage is absent, not critical, or names
//      another purpose than id-kp-timeStamping (or its application policies leave none); or an
//      issuer's keyUsage forbids signing
//      certificates                                             CERT_E_WRONG_USAGE    0x800B0110
// Understood critical extensions: basicConstraints, keyUsage, extKeyUsage, subjectAltName,
// issuerAltName, nameConstraints, policyConstraints, certificatePolicies, policyMappings,
// inhibitAnyPolicy, the key identifiers and the application policies 1.3.6.1.4.1.311.21.10.
// Accepted: dwError 0, both indexes -1. A malformed time parameter fails with E_INVALIDARG.
BOOL VelmoraTimeStampChainPolicy(LPCSTR pszPolicyOID, PCCERT_CHAIN_CONTEXT pChainContext,
                                 const CERT_CHAIN_POLICY_PARA* pPolicyPara,
                                 CERT_CHAIN_POLICY_STATUS* pPolicyStatus);

// The base policy, registered under CERT_CHAIN_POLICY_BASE: the same checks in the same order
// without the TSA's usage in check 8 (any certificate may be element 0; an issuer whose keyUsage
// forbids signing certificates still fails), judged at the time of TSP_CHAIN_POLICY_TIME_FLAG as
// well, so that a signer's certificate can be judged when a time stamp proves it signed.
inline const LPCSTR CERT_CHAIN_POLICY_BASE = reinterpret_cast<LPCSTR>(1);
BOOL VelmoraBaseChainPolicy(LPCSTR pszPolicyOID, PCCERT_CHAIN_CONTEXT pChainContext,
                            const CERT_CHAIN_POLICY_PARA* pPolicyPara,
                            CERT_CHAIN_POLICY_STATUS* pPolicyStatus);

// ---------------------------------------------------------------------------------------------
// Certificate hashes

// The hash of `pbEncoded` with the CryptoAPI algorithm `Algid` (0: SHA-1), by the size-query
// protocol. `hCryptProv` and `dwFlags` are not used. An unknown algorithm: NTE_BAD_ALGID.
BOOL CryptHashCertificate(HCRYPTPROV_LEGACY hCryptProv, ALG_ID Algid, DWORD dwFlags,
                          const BYTE* pbEncoded, DWORD cbEncoded, BYTE* pbComputedHash,
                          DWORD* pcbComputedHash);
// The same by CNG algorithm name (the OID registry's pwszCNGAlgid: L"SHA256", L"SHA3-256" ...;
// case is ignored). An unknown name: NTE_NOT_SUPPORTED. `dwFlags` and `pvReserved` must be 0.
BOOL CryptHashCertificate2(LPCWSTR pwszCNGHashAlgid, DWORD dwFlags, void* pvReserved,
                           const BYTE* pbEncoded, DWORD cbEncoded, BYTE* pbComputedHash,
                           DWORD* pcbComputedHash);

}  // namespace Velmora::Platform
