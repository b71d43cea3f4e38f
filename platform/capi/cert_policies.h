// Certificate policies of a path, processed as certificate path validation does it (RFC 5280,
// 6.1.2 to 6.1.5), by default with anyPolicy as the initial policy set and no explicit policy
// asked by the caller:
//   - the valid policies are kept as the policy tree's leaves, each by the policy the next
//     certificate is expected to assert and the policy it descends from in the trust anchor's
//     domain (what the caller's initial policy set is matched with), and whether an anyPolicy
//     leaf is among them; qualifiers are not kept;
//   - a certificate's policies narrow the set; its anyPolicy counts unless inhibitAnyPolicy (or a
//     CA's policy constraints) inhibited it for it; a certificate without certificatePolicies
//     empties the set;
//   - policyMappings map an issuer-domain policy to subject-domain policies, or delete it once
//     inhibitPolicyMapping took effect;
//   - requireExplicitPolicy and inhibitPolicyMapping count certificates as the RFC says, so that
//     0 acts on the next certificate; self-issued CAs do not count;
//   - the trust anchor at the top of the path is not processed.
// A path whose valid policies are none where an explicit policy is required (by a certificate or
// by the caller) gets CERT_TRUST_NO_ISSUANCE_CHAIN_POLICY on that certificate; a path that holds
// none of the policies the caller asked for, CERT_TRUST_IS_NOT_VALID_FOR_USAGE on the subject; a
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

// What the caller asks of a path's policies: the initial policy set (empty, or anyPolicy among
// them: any policy) and whether an explicit policy is required, policy mapping inhibited and
// anyPolicy inhibited from the first certificate on.
struct PolicySettings {
  std::vector<std::string> initial;
  bool requireExplicit = false;
  bool inhibitMapping = false;
  bool inhibitAny = false;
};

// Judges the policies of a path (subject first; `topIsAnchor`: its last certificate is the
// trust anchor): ORs the CERT_TRUST_* bits of certificate i into errors[i].
void JudgePolicies(std::span<const PCCERT_CONTEXT> path, bool topIsAnchor,
                   const PolicySettings& settings, std::span<DWORD> errors);

}  // namespace Velmora::Platform::Capi
