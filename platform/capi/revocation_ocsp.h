// OCSP (RFC 6960) as the chain engine uses it: the request for one certificate, and the
// response judged for it.
//
//   OCSPResponse ::= SEQUENCE { responseStatus ENUMERATED,
//       responseBytes [0] EXPLICIT SEQUENCE { responseType OID, response OCTET STRING } OPTIONAL }
//   BasicOCSPResponse ::= SEQUENCE { tbsResponseData ResponseData, signatureAlgorithm,
//       signature BIT STRING, certs [0] EXPLICIT SEQUENCE OF Certificate OPTIONAL }
#pragma once

#include <openssl/ocsp.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/base/free_with.h"
#include "platform/capi/revocation_answer.h"
#include "platform/capi/weak_algorithms.h"

namespace Velmora::Platform::Capi {

// The DER OCSPRequest for `subject` issued by `issuer`: one CertID with SHA-1, a random nonce only
// when `nonce` asks for one, not signed. Throws CAtlException (CRYPT_E_ASN1_ERROR) for
// certificates OpenSSL refuses.
std::vector<std::uint8_t> BuildOcspRequest(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer,
                                           bool nonce = false);

// The key under which answers for `subject` are cached: the SHA-1 hash of the issuer's public key
// and the subject's serial number, in hexadecimal.
std::string OcspCacheKey(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer);

class OcspData {
 public:
  // Decodes a DER OCSPResponse (the whole input). Throws CAtlException: CRYPT_E_ASN1_LARGE above
  // the size limit, CRYPT_E_ASN1_ERROR for bytes that do not decode or a response type other than
  // id-pkix-ocsp-basic, CRYPT_E_REVOCATION_OFFLINE for a responseStatus other than successful.
  static std::shared_ptr<const OcspData> Decode(std::span<const std::uint8_t> der);

  // What the response says of `subject` at `at`, asked in this order: NoAnswer with
  // CRYPT_E_NOT_IN_REVOCATION_DATABASE when it holds no status for the certificate, or "unknown";
  // TRUST_E_CERT_SIGNATURE when its signer is neither `issuer` nor a responder that `issuer`
  // issued with id-kp-OCSPSigning, or its signature does not verify; CERT_E_EXPIRED when not
  // fresh (see Fresh; no nextUpdate: one hour after thisUpdate); TRUST_E_CERT_SIGNATURE when a
  // delegated responder is not valid at the time of checking; CRYPT_E_SECURITY_SETTINGS when its
  // signature is too weak under `weak` at its producedAt. Else Good, or Revoked with date and
  // reason.
  RevocationAnswer judge(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer, const CheckTime& at,
                         const WeakAlgorithmRule& weak) const;

  const std::vector<std::uint8_t>& der() const noexcept { return m_der; }
  // Whether the response answers the DER request as to its nonce: the same nonce when the request
  // has one (a response replayed from before is refused), anything otherwise.
  bool echoes(std::span<const std::uint8_t> requestDer) const;

 private:
  // What the response says of one certificate, whatever the time.
  struct Lookup {
    HRESULT error = 0;             // TRUST_E_CERT_SIGNATURE, CRYPT_E_NOT_IN_REVOCATION_DATABASE
    std::uint64_t signerFrom = 0;  // a delegated responder's validity; all time for the issuer
    std::uint64_t signerUntil = ~std::uint64_t{0};
    int status = -1;  // V_OCSP_CERTSTATUS_*
    LONG reason = REVOCATION_REASON_NONE;
    std::uint64_t revocationDate = 0;
    std::uint64_t thisUpdate = 0;
    std::uint64_t nextUpdate = 0;
    std::string signatureHash;  // the hash its signature was made with, by the signer's key
    int signerRsaBits = 0;      // of size (0: not RSA), at producedAt
    std::uint64_t producedAt = 0;
  };
  OcspData() = default;
  Lookup lookUp(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer) const;

  std::unique_ptr<OCSP_BASICRESP, FreeWith<OCSP_BASICRESP_free>> m_basic;
  std::vector<std::uint8_t> m_der;
  mutable std::mutex m_mutex;
  mutable std::vector<std::pair<std::string, Lookup>> m_lookups;  // by the two certificates'
                                                                  // encodings
};

}  // namespace Velmora::Platform::Capi
