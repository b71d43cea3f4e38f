// The revocation status of one certificate of a path, from the sources wincrypt_revocation.h
// lists weighed together, and the rule by which the time-stamping policy judges it at the stamp's
// time.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/capi/cert_chain_internal.h"
#include "platform/capi/revocation_crl_status.h"
#include "platform/capi/revocation_ocsp.h"
#include "platform/capi/wincrypt_revocation.h"

namespace Velmora::Platform::Capi {

// The revocation data given with one chain (CERT_CHAIN_PARA::pRevocationData), decoded once for
// all its certificates.
struct CallRevocationData {
  std::vector<std::shared_ptr<const CrlData>> crls;
  std::vector<std::shared_ptr<const OcspData>> responses;
  std::uint64_t checkTime = 0;  // 0: now
  bool ocspNonce = false;

  // What does not decode is left out: it speaks for nothing. Null gives no data.
  static CallRevocationData Decode(const REVOCATION_DATA_BLOBS* data);
};

// What the chain engine gives the check of one certificate of a path.
struct RevocationRequest {
  PCCERT_CONTEXT subject;
  PCCERT_CONTEXT issuer;  // the path's issuer of `subject`
  const TrustMaterial& trust;
  // The data given with the chain, asked first.
  const CallRevocationData& call;
  // The CRLs of the chain's additional store.
  const std::vector<std::shared_ptr<const CrlData>>& storeCrls;
  bool network;  // fetching allowed
  // The rule by which an OCSP response's signature is too weak to count.
  const WeakAlgorithmRule& weak;
  // Whether a CRL is authentic: the engine finds and validates its signer.
  CrlSignerCheck crlSigner;
};

// Weighs every local source together about the subject (see revocation_crl_status.h for CRLs),
// asks the network only when they do not settle it, and fills `info` (cbSize set, every member
// written). Returns the trust status bits to add: CERT_TRUST_IS_REVOKED, or
// CERT_TRUST_REVOCATION_STATUS_UNKNOWN (with CERT_TRUST_IS_OFFLINE_REVOCATION when a source was
// there but gave no usable answer), or 0.
DWORD CheckRevocation(const RevocationRequest& request, CERT_REVOCATION_INFO& info);

// RFC 3161's rule for a time-stamping authority's certificates: a certificate revoked at or before
// `at` is refused; one revoked after it is refused when the reason is keyCompromise,
// cACompromise, aACompromise, privilegeWithdrawn, certificateHold, unspecified or none, and
// stands for affiliationChanged, superseded and cessationOfOperation (the key was not
// compromised, so what it signed before stays good). Without details (another engine's chain),
// every revoked certificate is refused.
bool RevocationRefusedAt(const CERT_CHAIN_ELEMENT& element, std::uint64_t at) noexcept;

}  // namespace Velmora::Platform::Capi
