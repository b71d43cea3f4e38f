#include "platform/capi/cert_policies.h"

#include <algorithm>
#include <set>

#include "codec/der/der_reader.h"
#include "platform/capi/cert_chain_internal.h"
#include "platform/capi/cert_internal.h"
#include "platform/errors/winerror.h"

namespace Velmora::Platform::Capi {

namespace {

namespace Der = ASN1::Der;

constexpr const char* kOidCertificatePolicies = "2.5.29.32";
constexpr const char* kOidPolicyMappings = "2.5.29.33";
constexpr const char* kOidPolicyConstraints = "2.5.29.36";
constexpr const char* kOidInhibitAnyPolicy = "2.5.29.54";

Der::Reader MembersOf(std::span<const std::uint8_t> der) {
  const Der::Element sequence = Der::ReadSingle(der);
  if (sequence.tag != Der::Tags::Sequence || sequence.content.empty()) {
    Der::Fail(CRYPT_E_ASN1_ERROR);  // not a SEQUENCE, or one that must not be empty is
  }
  return sequence.children();
}

std::uint64_t SkipCerts(Der::Element e) {
  e.tag = Der::Tags::Integer;
  return Der::ReadSmallUnsigned(e, ~0ull);
}

// The valid policy tree's leaves: each by the policy it expects next and the policy of its
// ancestor just below the anyPolicy nodes (the trust anchor's domain), and whether an anyPolicy
// leaf is among them. Both empty: the tree is NULL.
struct ValidPolicies {
  std::set<std::pair<std::string, std::string>> leaves;  // {expected, origin}
  bool any = true;

  bool null() const { return !any && leaves.empty(); }
  bool expects(const std::string& oid) const {
    const auto at = leaves.lower_bound({oid, std::string()});
    return at != leaves.end() && at->first == oid;
  }
  // Whether the tree still holds a policy of `initial`: an anyPolicy leaf stands for each.
  bool holdsAnyOf(const std::vector<std::string>& initial) const {
    return any || std::any_of(leaves.begin(), leaves.end(), [&](const auto& leaf) {
             return std::find(initial.begin(), initial.end(), leaf.second) != initial.end();
           });
  }
};

// The tree after a certificate that asserts `policies` (anyPolicy counting when `anyCounts`).
ValidPolicies Narrow(const ValidPolicies& valid, const std::vector<std::string>& policies,
                     bool anyCounts) {
  ValidPolicies next{{}, false};
  bool assertsAny = false;
  for (const std::string& oid : policies) {
    if (oid == kOidAnyPolicy) {
      assertsAny = true;
      continue;
    }
    bool matched = false;
    for (auto it = valid.leaves.lower_bound({oid, std::string()});
         it != valid.leaves.end() && it->first == oid; ++it) {
      next.leaves.insert(*it);
      matched = true;
    }
    if (!matched && valid.any) {
      next.leaves.insert({oid, oid});
    }
  }
  if (assertsAny && anyCounts) {
    // Every expectation not met yet is met by anyPolicy.
    next.leaves.insert(valid.leaves.begin(), valid.leaves.end());
    next.any = valid.any;
  }
  return next;
}

// The tree after a CA's policyMappings: an issuer-domain policy is expected next under its
// subject-domain names, or, once mapping is inhibited, no more.
void Map(ValidPolicies& valid, const std::vector<std::pair<std::string, std::string>>& mappings,
         bool mappingAllowed) {
  std::set<std::pair<std::string, std::string>> next;
  for (const auto& leaf : valid.leaves) {
    const bool mapped = std::any_of(mappings.begin(), mappings.end(),
                                    [&](const auto& m) { return m.first == leaf.first; });
    if (!mapped) {
      next.insert(leaf);
    }
  }
  if (mappingAllowed) {
    for (const auto& [issuer, subject] : mappings) {
      if (valid.expects(issuer)) {
        for (auto it = valid.leaves.lower_bound({issuer, std::string()});
             it != valid.leaves.end() && it->first == issuer; ++it) {
          next.insert({subject, it->second});
        }
      } else if (valid.any) {
        next.insert({subject, issuer});
      }
    }
  }
  valid.leaves = std::move(next);
}

void Lower(std::uint64_t& counter, std::optional<std::uint64_t> to) {
  if (to && *to < counter) {
    counter = *to;
  }
}

}  // namespace

std::vector<std::string> DecodeCertificatePolicies(std::span<const std::uint8_t> der) {
  std::vector<std::string> policies;
  for (Der::Reader members = MembersOf(der); !members.empty();) {
    Der::Reader information = members.expect(Der::Tags::Sequence).children();
    policies.push_back(Der::ReadOid(information.expect(Der::Tags::Oid)));
    information.optional(Der::Tags::Sequence);  // qualifiers: not used
    information.finish();
  }
  return policies;
}

std::vector<std::pair<std::string, std::string>> DecodePolicyMappings(
    std::span<const std::uint8_t> der) {
  std::vector<std::pair<std::string, std::string>> mappings;
  for (Der::Reader members = MembersOf(der); !members.empty();) {
    Der::Reader mapping = members.expect(Der::Tags::Sequence).children();
    std::string issuer = Der::ReadOid(mapping.expect(Der::Tags::Oid));
    std::string subject = Der::ReadOid(mapping.expect(Der::Tags::Oid));
    mapping.finish();
    mappings.emplace_back(std::move(issuer), std::move(subject));
  }
  return mappings;
}

PolicyConstraints DecodePolicyConstraints(std::span<const std::uint8_t> der) {
  const Der::Element sequence = Der::ReadSingle(der);
  if (sequence.tag != Der::Tags::Sequence) {
    Der::Fail(CRYPT_E_ASN1_BADTAG);
  }
  PolicyConstraints result;
  Der::Reader members = sequence.children();
  if (auto require = members.optional(Der::ContextTag(0, false))) {
    result.requireExplicitPolicy = SkipCerts(*require);
  }
  if (auto inhibit = members.optional(Der::ContextTag(1, false))) {
    result.inhibitPolicyMapping = SkipCerts(*inhibit);
  }
  members.finish();
  return result;
}

std::uint64_t DecodeInhibitAnyPolicy(std::span<const std::uint8_t> der) {
  return Der::ReadSmallUnsigned(Der::ReadSingle(der), ~0ull);
}

CertPolicyInfo ReadPolicyInfo(const CERT_INFO& info) {
  CertPolicyInfo result;
  const auto value = [&](const char* oid) -> std::optional<std::span<const std::uint8_t>> {
    const CERT_EXTENSION* extension = FindExtension(info, oid);
    if (extension == nullptr) {
      return std::nullopt;
    }
    return std::span<const std::uint8_t>(extension->Value.pbData, extension->Value.cbData);
  };
  try {
    if (const auto der = value(kOidCertificatePolicies)) {
      result.policies = DecodeCertificatePolicies(*der);
    }
    if (const auto der = value(kOidPolicyMappings)) {
      result.mappings = DecodePolicyMappings(*der);
      for (const auto& [issuer, subject] : result.mappings) {
        result.invalid |= issuer == kOidAnyPolicy || subject == kOidAnyPolicy;
      }
    }
    if (const auto der = value(kOidPolicyConstraints)) {
      result.constraints = DecodePolicyConstraints(*der);
      result.invalid |=
          !result.constraints.requireExplicitPolicy && !result.constraints.inhibitPolicyMapping;
    }
    if (const auto der = value(kOidInhibitAnyPolicy)) {
      result.inhibitAny = DecodeInhibitAnyPolicy(*der);
    }
  } catch (...) {
    result.invalid = true;
  }
  return result;
}

void JudgePolicies(std::span<const PCCERT_CONTEXT> path, bool topIsAnchor,
                   const PolicySettings& settings, std::span<DWORD> errors) {
  const std::size_t n = path.size() - (topIsAnchor && !path.empty() ? 1 : 0);
  std::uint64_t explicitPolicy = settings.requireExplicit ? 0 : n + 1;
  std::uint64_t inhibitAny = settings.inhibitAny ? 0 : n + 1;
  std::uint64_t policyMapping = settings.inhibitMapping ? 0 : n + 1;
  ValidPolicies valid;
  // Certificate k (1 = the one below the anchor, n = the subject) is path[n - k].
  for (std::size_t k = 1; k <= n; ++k) {
    const std::size_t index = n - k;
    const ChainFacts& facts = FactsOf(path[index]);
    const bool selfIssued = facts.selfIssued;
    const CertPolicyInfo& policy = facts.policy;
    if (policy.invalid) {
      errors[index] |= CERT_TRUST_INVALID_POLICY_CONSTRAINTS;
    }
    if (policy.policies && !valid.null()) {
      valid = Narrow(valid, *policy.policies, inhibitAny > 0 || (k < n && selfIssued));
    } else {
      valid = ValidPolicies{{}, false};
    }
    if (k == n) {
      if (explicitPolicy > 0) {
        --explicitPolicy;
      }
      if (policy.constraints.requireExplicitPolicy == 0u) {
        explicitPolicy = 0;
      }
      // The caller's initial policy set is matched with what is left of the tree.
      const std::vector<std::string>& initial = settings.initial;
      const bool anyAsked = initial.empty() || std::find(initial.begin(), initial.end(),
                                                         kOidAnyPolicy) != initial.end();
      if (!anyAsked && !valid.holdsAnyOf(initial)) {
        valid = ValidPolicies{{}, false};
        if (explicitPolicy > 0) {
          errors[index] |= CERT_TRUST_IS_NOT_VALID_FOR_USAGE;
        }
      }
    }
    if (explicitPolicy == 0 && valid.null()) {
      errors[index] |= CERT_TRUST_NO_ISSUANCE_CHAIN_POLICY;
      return;
    }
    if (k == n) {
      return;
    }
    if (!policy.mappings.empty()) {
      Map(valid, policy.mappings, policyMapping > 0);
    }
    if (!selfIssued) {
      for (std::uint64_t* counter : {&explicitPolicy, &policyMapping, &inhibitAny}) {
        if (*counter > 0) {
          --*counter;
        }
      }
    }
    Lower(explicitPolicy, policy.constraints.requireExplicitPolicy);
    Lower(policyMapping, policy.constraints.inhibitPolicyMapping);
    Lower(inhibitAny, policy.inhibitAny);
  }
}

}  // namespace Velmora::Platform::Capi
