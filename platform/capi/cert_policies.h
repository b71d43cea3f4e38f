// Certificate policies of a path, processed as certificate path validation does it (RFC 5280,
// 6.1.2 to 6.1.5) with anyPolicy as the initial policy set and no explicit policy asked by the
// caller, in the form time-stamping chains need:
//   - the valid policies are kept as a set (the policy tree's leaves, by the policy the next
//     certificate is expected to assert) and whether anyPolicy is among them; qualifiers are
//     not kept;
//   - a certificate's policies narrow the set; its anyPolicy counts unless inhibitAnyPolicy (or a
//     CA's policy constraints) inhibited it for it; a certificate without certificatePolicies
//     empties the set;
//   - policyMappings map an issuer-domain policy to subject-domain policies, or delete it once
//     inhibitPolicyMapping took effect;
//   - requireExplicitPolicy and inhibitPolicyMapping count certificates as the RFC says, so that
//     0 acts on the next certificate; self-issued CAs do not count;
//   - the trust anchor at the top of the path is not processed.
// Only the requirement matters for time-stamping: a path whose valid set is empty where an
// explicit policy is required gets CERT_TRUST_NO_ISSUANCE_CHAIN_POLICY on that certificate; a
// policy extension that does not decode, an empty policyConstraints or a mapping to or from
// anyPolicy gets CERT_TRUST_INVALID_POLICY_CONSTRAINTS on its certificate.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/capi/wincrypt.h"

namespace Velmora::Platform::Capi {

inline constexpr const char* kOidAnyPolicy = "2.5.29.32.0";

// certificatePolicies ::= SEQUENCE SIZE (1..MAX) OF PolicyInformation
// PolicyInformation ::= SEQUENCE { policyIdentifier OID, policyQualifiers SEQUENCE OPTIONAL }
// The identifiers, in order. Each decoder throws the codec's exception when malformed.
std::vector<std::string> DecodeCertificatePolicies(std::span<const std::uint8_t> der);
// policyMappings ::= SEQUENCE SIZE (1..MAX) OF SEQUENCE { issuerDomainPolicy OID,
//                                                         subjectDomainPolicy OID }
std::vector<std::pair<std::string, std::string>> DecodePolicyMappings(
    std::span<const std::uint8_t> der);
// policyConstraints ::= SEQUENCE { requireExplicitPolicy [0] SkipCerts OPTIONAL,
//                                  inhibitPolicyMapping  [1] SkipCerts OPTIONAL }
struct PolicyConstraints {
  std::optional<std::uint64_t> requireExplicitPolicy;
  std::optional<std::uint64_t> inhibitPolicyMapping;
};
PolicyConstraints DecodePolicyConstraints(std::span<const std::uint8_t> der);
// inhibitAnyPolicy ::= SkipCerts (INTEGER (0..MAX))
std::uint64_t DecodeInhibitAnyPolicy(std::span<const std::uint8_t> der);

// One certificate's policy extensions as read; `invalid` when one does not decode or breaks the
// rules (a mapping to or from anyPolicy, an empty policyConstraints).
struct CertPolicyInfo {
  std::optional<std::vector<std::string>> policies;
  std::vector<std::pair<std::string, std::string>> mappings;
  PolicyConstraints constraints;
  std::optional<std::uint64_t> inhibitAny;
  bool invalid = false;
};
CertPolicyInfo ReadPolicyInfo(const CERT_INFO& info);

// Judges the policies of a path (subject first; `topIsAnchor`: its last certificate is the
// trust anchor): ORs the CERT_TRUST_* bits of certificate i into errors[i].
void JudgePolicies(std::span<const PCCERT_CONTEXT> path, bool topIsAnchor, std::span<DWORD> errors);

}  // namespace Velmora::Platform::Capi
