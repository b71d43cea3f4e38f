// What the chain engine reads of a certificate once: its ChainFacts.
#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/capi/cert_chain_internal.h"
#include "platform/capi/cert_internal.h"
#include "platform/errors/atl_exception.h"

namespace Velmora::Platform::Capi {

namespace {

void ReadPublicationPoints(const CERT_INFO& info, ChainFacts& facts) {
  const CERT_EXTENSION* points = FindExtension(info, kOidCrlDistributionPoints);
  const CERT_EXTENSION* freshest = FindExtension(info, kOidFreshestCrl);
  facts.hasDistributionPoints = points != nullptr;
  try {
    if (points != nullptr) {
      facts.distributionPoints =
          ReadDistributionPoints({points->Value.pbData, points->Value.cbData});
    }
    if (freshest != nullptr) {
      facts.freshest = ReadDistributionPoints({freshest->Value.pbData, freshest->Value.cbData});
    }
  } catch (const CAtlException&) {
    // No CRL can be matched to a certificate whose points cannot be read: its status stays
    // unknown.
    facts.distributionPointsMalformed = true;
  }
}

}  // namespace

const ChainFacts& CertData::chainFacts() const {
  std::call_once(m_chainFactsOnce, [this] {
    auto facts = std::make_shared<ChainFacts>();
    facts->basicConstraints = ReadBasicConstraints(m_info, facts->basicConstraintsMalformed);
    facts->keyCertSign = KeyUsageAllows(m_info, 5);
    facts->crlSign = KeyUsageAllows(m_info, 6);
    facts->selfIssued = subjectKey() == issuerKey();
    for (DWORD e = 0; e < m_info.cExtension; ++e) {
      const CERT_EXTENSION& extension = m_info.rgExtension[e];
      facts->unsupportedCritical |=
          extension.fCritical && !IsUnderstoodCriticalExtension(extension.pszObjId);
    }
    facts->authorityKeyId = ReadAuthorityKeyId(m_info);
    if (const CERT_EXTENSION* eku = FindExtension(m_info, kOidExtKeyUsage)) {
      facts->hasUsage = true;
      facts->usageCritical = eku->fCritical != FALSE;
      if (auto purposes = ReadKeyPurposes(eku->Value)) {
        facts->purposes = std::move(*purposes);
      }
    }
    if (const CERT_EXTENSION* policies = FindExtension(m_info, kOidApplicationPolicies)) {
      // Application policies narrow the extended key usage, or stand for it; a value that does
      // not decode allows no purpose at all.
      std::vector<std::string> allowed;
      try {
        allowed = DecodeCertificatePolicies(
            std::span<const std::uint8_t>(policies->Value.pbData, policies->Value.cbData));
      } catch (const CAtlException&) {
        allowed.clear();
      }
      if (facts->hasUsage) {
        std::erase_if(facts->purposes, [&](const std::string& oid) {
          return std::find(allowed.begin(), allowed.end(), oid) == allowed.end();
        });
      } else {
        facts->hasUsage = true;
        facts->purposes = std::move(allowed);
      }
    }
    if (facts->hasUsage) {
      for (std::string& oid : facts->purposes) {
        facts->purposePointers.push_back(oid.data());
      }
      facts->usage.cUsageIdentifier = static_cast<DWORD>(facts->purposePointers.size());
      facts->usage.rgpszUsageIdentifier =
          facts->purposePointers.empty() ? nullptr : facts->purposePointers.data();
    }
    facts->policy = ReadPolicyInfo(m_info);
    ReadPublicationPoints(m_info, *facts);
    const std::span<const BYTE> spki = certificate().get_subjectPublicKeyInfo();
    facts->keyLacksParameters = DsaKeyLacksParameters(spki);
    facts->rsaBits = RsaBitsOfKey(spki);
    const ASN1::CAlgorithmIdentifier& algorithm = certificate().get_signatureAlgorithm();
    const CBlob& parameters = algorithm.get_parameters();
    facts->signatureHash = SignatureHashOf(
        algorithm.get_algorithm(),
        std::span<const std::uint8_t>(parameters.pbData(), parameters.cbData()), "");
    m_chainFacts = std::move(facts);
  });
  return *m_chainFacts;
}

const ChainFacts& FactsOf(PCCERT_CONTEXT c) {
  return ImplOf(c)->data->chainFacts();
}

}  // namespace Velmora::Platform::Capi
