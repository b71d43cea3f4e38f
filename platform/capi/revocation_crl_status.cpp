#include "platform/capi/revocation_crl_status.h"

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

#include "platform/capi/cert_chain_internal.h"
#include "platform/capi/cert_internal.h"
#include "platform/capi/cert_name_match.h"
#include "platform/errors/atl_exception.h"

namespace Velmora::Platform::Capi {

namespace {

using Status = RevocationAnswer::Status;

constexpr std::uint32_t kHoldReason = 1u << 6;  // certificateHold in ReasonFlags

bool Intersect(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  return std::any_of(a.begin(), a.end(), [&](const std::string& key) {
    return std::find(b.begin(), b.end(), key) != b.end();
  });
}

std::span<const std::uint8_t> NameBytes(const CERT_NAME_BLOB& name) {
  return {name.pbData, name.cbData};
}

// The reasons `crl`, a complete CRL, covers for `subject` through the certificate's distribution
// point `point`; 0 when the certificate is outside its scope.
std::uint32_t ScopeReasons(const CrlData& crl, const DistributionPoint& point,
                           PCCERT_CONTEXT subject) {
  const IssuingDistributionPoint* scope = crl.scope();
  if (!point.crlIssuer.empty()) {
    // An indirect CRL, from the issuer the point names.
    if (scope == nullptr || !scope->indirect ||
        std::find(point.crlIssuer.begin(), point.crlIssuer.end(),
                  DirectoryNameKey(crl.issuerKey())) == point.crlIssuer.end()) {
      return 0;
    }
  } else if (crl.issuerKey() != ImplOf(subject)->data->issuerKey()) {
    return 0;
  }
  if (scope == nullptr) {
    return point.reasons;
  }
  if (scope->name.present) {
    const std::vector<std::string> names = scope->name.keys(crl.issuerName());
    if (point.name.present) {
      // A relative name in the certificate is relative to the CRL issuer it names, else to its
      // own issuer.
      const std::span<const std::uint8_t> base =
          point.crlIssuerNames.empty()
              ? NameBytes(subject->pCertInfo->Issuer)
              : std::span<const std::uint8_t>(point.crlIssuerNames.front());
      if (!Intersect(names, point.name.keys(base))) {
        return 0;
      }
    } else if (!Intersect(names, point.crlIssuer)) {
      return 0;
    }
  }
  const auto& constraints = FactsOf(subject).basicConstraints;
  const bool ca = constraints && constraints->ca;
  if ((scope->onlyUser && ca) || (scope->onlyCa && !ca) || scope->onlyAttribute) {
    return 0;
  }
  return point.reasons & scope->reasons;
}

struct Finding {
  RevocationAnswer answer;
  DWORD source;
  std::uint32_t reasons;  // what the CRL covers
};

class CrlJudge {
 public:
  CrlJudge(PCCERT_CONTEXT subject, std::span<const SourcedCrl> crls, const CheckTime& at,
           const CrlSignerCheck& authentic)
      : m_subject(subject),
        m_crls(crls),
        m_at(at),
        m_authentic(authentic),
        m_issuerKey(ImplOf(subject)->data->issuerKey()),
        m_serial(SerialKeyOf(subject)) {}

  CrlStatus run() {
    const ChainFacts& facts = FactsOf(m_subject);
    if (facts.distributionPointsMalformed) {
      note(CRYPT_E_ASN1_ERROR);
      return finish();
    }
    static const std::vector<DistributionPoint> kWholeScope{DistributionPoint{}};
    const std::vector<DistributionPoint>& points =
        facts.hasDistributionPoints ? facts.distributionPoints : kWholeScope;
    for (const DistributionPoint& point : points) {
      for (const SourcedCrl& complete : m_crls) {
        if (!complete.crl->isDelta()) {
          consider(complete, point);
        }
      }
    }
    return finish();
  }

 private:
  void note(HRESULT error) {
    if (m_firstError == 0) {
      m_firstError = error;
    }
  }

  const CrlSignerVerdict& verdictOf(const CrlData& crl) {
    auto found = m_verdicts.find(&crl);
    if (found == m_verdicts.end()) {
      found = m_verdicts.emplace(&crl, m_authentic(crl)).first;
    }
    return found->second;
  }

  // The newest authentic, fresh delta CRL that updates `complete`; null when none. A delta of the
  // same scope whose base is newer than the complete CRL means that one is out of date:
  // `outdated` is then set.
  const SourcedCrl* deltaFor(const CrlData& complete, bool& outdated) {
    const SourcedCrl* best = nullptr;
    for (const SourcedCrl& delta : m_crls) {
      const CrlData& d = *delta.crl;
      if (!d.isDelta() || !d.sameScope(complete) || complete.number().empty() ||
          !NumberLess(complete.number(), d.number()) || !verdictOf(d).authentic) {
        continue;
      }
      if (NumberLess(complete.number(), d.baseNumber())) {
        outdated = true;
        continue;
      }
      if (!Fresh(d.thisUpdate(), d.nextUpdate(), m_at)) {
        note(CERT_E_EXPIRED);
        continue;
      }
      if (best == nullptr || NumberLess(best->crl->number(), d.number())) {
        best = &delta;
      }
    }
    return best;
  }

  void consider(const SourcedCrl& complete, const DistributionPoint& point) {
    const CrlData& crl = *complete.crl;
    const std::uint32_t reasons = ScopeReasons(crl, point, m_subject);
    if (reasons == 0) {
      return;  // about other certificates: no failure of a source
    }
    const CrlSignerVerdict& verdict = verdictOf(crl);
    if (!verdict.authentic) {
      note(verdict.error == CRYPT_E_REVOKED ? TRUST_E_CERT_SIGNATURE : verdict.error);
      if (verdict.error == CRYPT_E_REVOKED && !m_revokedSigner) {
        m_revokedSigner = Finding{RevocationAnswer{}, complete.source, reasons};
        m_revokedSigner->answer.status = Status::Revoked;
        m_revokedSigner->answer.kind = REVOCATION_KIND_CRL;
        m_revokedSigner->answer.reason = verdict.reason;
        m_revokedSigner->answer.revocationDate = verdict.revocationDate;
        m_revokedSigner->answer.thisUpdate = crl.thisUpdate();
        m_revokedSigner->answer.nextUpdate = crl.nextUpdate();
      }
      return;
    }
    if (IssuedAhead(crl.thisUpdate(), m_at)) {
      note(CERT_E_EXPIRED);  // issued in the future: never counts
      return;
    }
    bool outdated = false;
    const SourcedCrl* delta = deltaFor(crl, outdated);
    RevocationAnswer answer;
    answer.kind = REVOCATION_KIND_CRL;
    answer.thisUpdate = delta != nullptr ? delta->crl->thisUpdate() : crl.thisUpdate();
    answer.nextUpdate = delta != nullptr ? delta->crl->nextUpdate() : crl.nextUpdate();
    std::optional<CrlData::Listing> listing;
    if (delta != nullptr) {
      listing = delta->crl->find(m_issuerKey, m_serial);
    }
    if (!listing) {
      listing = crl.find(m_issuerKey, m_serial);
    }
    const bool fresh = !outdated && Fresh(crl.thisUpdate(), crl.nextUpdate(), m_at);
    if (listing && listing->reason != REVOCATION_REASON_REMOVE_FROM_CRL &&
        (fresh || listing->reason != REVOCATION_REASON_CERTIFICATE_HOLD)) {
      answer.status = Status::Revoked;
      answer.reason = listing->reason;
      answer.revocationDate = listing->date;
      m_revoked.push_back({answer, delta != nullptr ? delta->source : complete.source, reasons});
      return;
    }
    if (!fresh) {
      note(CERT_E_EXPIRED);
      return;
    }
    answer.status = Status::Good;
    m_good.push_back({answer, complete.source, reasons});
  }

  CrlStatus finish() const {
    // A hold is lifted by a newer CRL that covers holds and no longer lists the certificate.
    const Finding* revoked = nullptr;
    for (const Finding& finding : m_revoked) {
      const bool lifted = finding.answer.reason == REVOCATION_REASON_CERTIFICATE_HOLD &&
                          std::any_of(m_good.begin(), m_good.end(), [&](const Finding& good) {
                            return (good.reasons & kHoldReason) != 0 &&
                                   good.answer.thisUpdate > finding.answer.thisUpdate;
                          });
      if (!lifted &&
          (revoked == nullptr || finding.answer.revocationDate < revoked->answer.revocationDate)) {
        revoked = &finding;
      }
    }
    if (revoked != nullptr) {
      return {revoked->answer, revoked->source};
    }
    std::uint32_t covered = 0;
    const Finding* freshest = nullptr;
    for (const Finding& good : m_good) {
      covered |= good.reasons;
      if (freshest == nullptr || good.answer.thisUpdate > freshest->answer.thisUpdate) {
        freshest = &good;
      }
    }
    if (freshest != nullptr && covered == kAllReasons) {
      return {freshest->answer, freshest->source};
    }
    if (m_revokedSigner) {
      return {m_revokedSigner->answer, m_revokedSigner->source};
    }
    return {RevocationAnswer::Failed(m_firstError != 0 ? m_firstError : CRYPT_E_NO_MATCH,
                                     REVOCATION_KIND_CRL),
            REVOCATION_SOURCE_NONE};
  }

  PCCERT_CONTEXT m_subject;
  std::span<const SourcedCrl> m_crls;
  const CheckTime& m_at;
  const CrlSignerCheck& m_authentic;
  const std::string& m_issuerKey;
  const std::string m_serial;
  std::map<const CrlData*, CrlSignerVerdict> m_verdicts;
  std::vector<Finding> m_revoked;
  std::vector<Finding> m_good;
  std::optional<Finding> m_revokedSigner;
  HRESULT m_firstError = 0;
};

}  // namespace

CrlStatus JudgeByCrls(PCCERT_CONTEXT subject, std::span<const SourcedCrl> crls, const CheckTime& at,
                      const CrlSignerCheck& authentic) {
  return CrlJudge(subject, crls, at, authentic).run();
}

}  // namespace Velmora::Platform::Capi
