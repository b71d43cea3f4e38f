// What a set of CRLs says together of one certificate, as path validation reads CRLs: only a CRL
// whose scope covers the certificate (issuer or indirect issuer, distribution point, kinds of
// certificates, reasons) and whose signer is a certificate of the CRL issuer allowed to sign CRLs
// that chains to the same trust anchor speaks for it; a delta CRL is read with the complete CRL it
// updates; "good" needs every reason covered; a "revoked" from any of them wins.
#pragma once

#include <functional>
#include <memory>
#include <span>

#include "platform/capi/revocation_answer.h"
#include "platform/capi/revocation_crl.h"

namespace Velmora::Platform::Capi {

struct SourcedCrl {
  std::shared_ptr<const CrlData> crl;
  DWORD source;  // REVOCATION_SOURCE_*
};

// Whether a CRL is authentic: found by the chain engine among the certificates that may have
// signed it.
struct CrlSignerVerdict {
  bool authentic = false;
  // Why not: TRUST_E_CERT_SIGNATURE (no certificate of its issuer allowed to sign CRLs signed it,
  // or none of them chains), CRYPT_E_REVOKED (the only ones that did are revoked: then `reason`
  // and `revocationDate` are the signer's).
  HRESULT error = 0;
  LONG reason = REVOCATION_REASON_NONE;
  std::uint64_t revocationDate = 0;
};
using CrlSignerCheck = std::function<CrlSignerVerdict(const CrlData&)>;

struct CrlStatus {
  RevocationAnswer answer;  // Good, Revoked, or NoAnswer with the first failure met
  DWORD source = REVOCATION_SOURCE_NONE;
};

// The status of `subject` from `crls` (complete and delta CRLs, any order, any issuer) at `at`.
// A stale CRL's revocation still counts (a revocation is never taken back), except a hold; a hold
// is lifted by a newer CRL of that scope that no longer lists it, or by a delta's removeFromCRL.
// When no CRL can say "good" because its signer is revoked, the certificate is reported revoked
// with the signer's reason and date: the authority that vouches for it no longer may.
CrlStatus JudgeByCrls(PCCERT_CONTEXT subject, std::span<const SourcedCrl> crls, const CheckTime& at,
                      const CrlSignerCheck& authentic);

}  // namespace Velmora::Platform::Capi
