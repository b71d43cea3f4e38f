// The revocation status of one certificate of a path, from the sources wincrypt_revocation.h
// lists, and the rule by which the time-stamping policy judges it at the stamp's time.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/capi/cert_chain_internal.h"
#include "platform/capi/wincrypt_revocation.h"

namespace Velmora::Platform::Capi {

// Asks the sources in turn about `subject`, issued by `issuer`, and fills `info` (cbSize set,
// every member written). `storeCrls` are the CRLs of the chain's additional store. `network`
// allows fetching. Returns the trust status bits to add:
// CERT_TRUST_IS_REVOKED, or CERT_TRUST_REVOCATION_STATUS_UNKNOWN (with
// CERT_TRUST_IS_OFFLINE_REVOCATION when a source was there but gave no usable answer), or 0.
DWORD CheckRevocation(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer, const TrustMaterial& trust,
                      const std::vector<std::shared_ptr<const CrlData>>& storeCrls, bool network,
                      CERT_REVOCATION_INFO& info);

// RFC 3161's rule for a time-stamping authority's certificates: a certificate revoked at or before
// `at` is refused; one revoked after it is refused when the reason is keyCompromise,
// cACompromise, aACompromise, privilegeWithdrawn, certificateHold, unspecified or none, and
// stands for affiliationChanged, superseded and cessationOfOperation (the key was not
// compromised, so what it signed before stays good). Without details (another engine's chain),
// every revoked certificate is refused.
bool RevocationRefusedAt(const CERT_CHAIN_ELEMENT& element, std::uint64_t at) noexcept;

}  // namespace Velmora::Platform::Capi
