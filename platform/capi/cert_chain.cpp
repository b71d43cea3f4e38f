// The chain engine: CertGetCertificateChain, CertFreeCertificateChain and
// CertDuplicateCertificateChain.
//
// The path is found by a bounded depth-first walk from the subject towards a trusted root. The
// issuers of a certificate are the certificates whose subject name matches its issuer name
// (cert_name_match.h), tried in this order: those whose key verifies its signature before those
// whose key does not; among them those whose subjectKeyIdentifier is the certificate's
// authorityKeyIdentifier first, then trusted roots, then the "CA" folders' and the additional
// store's certificates; then those valid at the chain's time first. The first path that ends in a
// trusted root with every signature good is taken; otherwise the best path seen: one whose
// signatures all verify before one with a bad signature, then a trusted root before a self-signed
// root that is not trusted before a path that found no root, then fewer bad signatures. A
// certificate is never used twice in one path (a loop is reported as CERT_TRUST_IS_CYCLIC), a path
// stops at kMaxChainLength certificates, at most 16 certificates of one name are tried as an
// issuer, and the whole walk stops at 256 steps, so that no set of certificates makes it run long.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "codec/der/der_writer.h"
#include "platform/capi/capi_util.h"
#include "platform/capi/cert_chain_internal.h"
#include "platform/capi/cert_internal.h"
#include "platform/capi/cert_policies.h"
#include "platform/capi/name_constraints.h"
#include "platform/capi/revocation_check.h"
#include "platform/capi/revocation_crl.h"
#include "platform/capi/test_hooks.h"

namespace Velmora::Platform {

namespace Capi {

namespace TestHooks {
namespace {
std::atomic<ChainEngineHook> g_chainEngineHook{nullptr};
}  // namespace

void SetChainEngineHook(ChainEngineHook hook) noexcept {
  g_chainEngineHook.store(hook, std::memory_order_release);
}

void RunChainEngineHook() {
  if (const ChainEngineHook hook = g_chainEngineHook.load(std::memory_order_acquire)) {
    hook();
  }
}
}  // namespace TestHooks

namespace {

constexpr int kMaxWalkSteps = 256;
// At most this many certificates of one name are tried as the issuer of a certificate.
constexpr std::size_t kMaxCandidates = 16;

struct ChainImpl : CERT_CHAIN_CONTEXT {
  ChainImpl() : CERT_CHAIN_CONTEXT{} {}

  std::atomic<long> refs{1};
  std::vector<ContextRef> contexts;
  std::vector<CERT_CHAIN_ELEMENT> elements;
  std::vector<PCERT_CHAIN_ELEMENT> elementPointers;
  std::vector<std::unique_ptr<CERT_REVOCATION_INFO>> revocations;
  CERT_SIMPLE_CHAIN simple{};
  PCERT_SIMPLE_CHAIN simplePointer = nullptr;
};

ChainImpl* ChainOf(PCCERT_CHAIN_CONTEXT chain) {
  return static_cast<ChainImpl*>(const_cast<CERT_CHAIN_CONTEXT*>(chain));
}

bool SameEncoding(PCCERT_CONTEXT a, PCCERT_CONTEXT b) {
  return a == b || (a->cbCertEncoded == b->cbCertEncoded &&
                    std::memcmp(a->pbCertEncoded, b->pbCertEncoded, a->cbCertEncoded) == 0);
}

bool SelfIssued(PCCERT_CONTEXT c) {
  return FactsOf(c).selfIssued;
}

struct Link {
  PCCERT_CONTEXT context;
  bool anchor;
};

enum class Ending { None = 0, Partial = 1, SelfSigned = 2, Trusted = 3 };

struct Path {
  std::vector<Link> links;
  Ending ending = Ending::None;
  bool cyclic = false;
  bool tooLong = false;
  int badSignatures = 0;
};

class Builder {
 public:
  Builder(const TrustMaterial& trust, const std::vector<PCCERT_CONTEXT>& extra, std::uint64_t at)
      : m_trust(trust), m_extra(extra), m_at(at) {}

  Path build(PCCERT_CONTEXT subject) {
    std::vector<Link> links{{subject, m_trust.anchorFor(subject) != nullptr}};
    walkFrom(links, 0);
    return std::move(m_best);
  }

 private:
  struct Candidate {
    Link link;
    bool verifies;
    bool keyIdMatches;
    bool timeValid;
  };

  std::vector<Candidate> issuersOf(PCCERT_CONTEXT c) {
    const std::string& issuer = ImplOf(c)->data->issuerKey();
    const auto& authorityKeyId = FactsOf(c).authorityKeyId;
    std::vector<Candidate> found;
    auto consider = [&](PCCERT_CONTEXT candidate, bool anchor) {
      if (found.size() >= kMaxCandidates || SameEncoding(candidate, c)) {
        return;
      }
      for (const Candidate& existing : found) {
        if (SameEncoding(existing.link.context, candidate)) {
          return;
        }
      }
      // A key that inherits its parameters is checked once the path above it is known.
      found.push_back({{candidate, anchor},
                       CertSignedBy(c, candidate) || KeyLacksParameters(candidate),
                       authorityKeyId && KeyIdentifierOf(*ImplOf(candidate)) == *authorityKeyId,
                       TimeValid(*candidate->pCertInfo, m_at)});
    };
    for (PCCERT_CONTEXT anchor : m_trust.anchorsNamed(c->pCertInfo->Issuer, issuer)) {
      consider(anchor, true);
    }
    auto [ca, caEnd] = m_trust.intermediates.equal_range(issuer);
    for (auto it = ca; it != caEnd; ++it) {
      if (m_trust.anchorFor(it->second.get()) == nullptr) {
        consider(it->second.get(), false);
      }
    }
    for (PCCERT_CONTEXT extra : m_extra) {
      if (ImplOf(extra)->data->subjectKey() == issuer && m_trust.anchorFor(extra) == nullptr) {
        consider(extra, false);
      }
    }
    std::stable_sort(found.begin(), found.end(), [](const Candidate& a, const Candidate& b) {
      if (a.verifies != b.verifies) {
        return a.verifies;
      }
      if (a.keyIdMatches != b.keyIdMatches) {
        return a.keyIdMatches;
      }
      if (a.link.anchor != b.link.anchor) {
        return a.link.anchor;
      }
      return a.timeValid && !b.timeValid;
    });
    return found;
  }

  void record(const std::vector<Link>& links, Ending ending, bool cyclic, bool tooLong,
              int badSignatures) {
    std::vector<PCCERT_CONTEXT> contexts;
    for (const Link& link : links) {
      contexts.push_back(link.context);
    }
    for (std::size_t i = 0; i + 1 < links.size(); ++i) {
      if (KeyLacksParameters(contexts[i + 1]) &&
          !CertSignedBy(contexts[i], contexts[i + 1], std::span(contexts).subspan(i + 2))) {
        ++badSignatures;
      }
    }
    const auto rank = [](Ending e, int bad) { return std::tuple(bad == 0, e, -bad); };
    const bool better = m_best.ending == Ending::None ||
                        rank(ending, badSignatures) > rank(m_best.ending, m_best.badSignatures);
    if (better) {
      m_best = Path{links, ending, cyclic, tooLong, badSignatures};
    }
  }

  bool done() const {
    return (m_best.ending == Ending::Trusted && m_best.badSignatures == 0) ||
           m_steps >= kMaxWalkSteps;
  }

  // `badSoFar` counts the links below the last whose signature failed.
  void walkFrom(std::vector<Link>& links, int badSoFar) {
    ++m_steps;
    const Link current = links.back();
    if (current.anchor) {
      record(links, Ending::Trusted, false, false, badSoFar);
      return;
    }
    const bool selfIssued = SelfIssued(current.context);
    if (selfIssued && CertSignedBy(current.context, current.context)) {
      record(links, Ending::SelfSigned, false, false, badSoFar);
      return;
    }
    if (links.size() >= kMaxChainLength) {
      record(links, Ending::Partial, false, true, badSoFar);
      return;
    }
    bool cyclic = false;
    bool extended = false;
    for (const Candidate& candidate : issuersOf(current.context)) {
      const bool inPath = std::any_of(links.begin(), links.end(), [&](const Link& l) {
        return SameEncoding(l.context, candidate.link.context);
      });
      if (inPath) {
        cyclic = true;
        continue;
      }
      if (done()) {
        break;
      }
      extended = true;
      links.push_back(candidate.link);
      walkFrom(links, badSoFar + (candidate.verifies ? 0 : 1));
      links.pop_back();
    }
    if (!extended) {
      // A self-issued certificate whose own signature fails, with no other issuer: a root with
      // a bad signature. Anything else found no issuer.
      record(links, selfIssued ? Ending::SelfSigned : Ending::Partial, cyclic, false,
             badSoFar + (selfIssued ? 1 : 0));
    }
  }

  const TrustMaterial& m_trust;
  const std::vector<PCCERT_CONTEXT>& m_extra;
  std::uint64_t m_at;
  int m_steps = 0;
  Path m_best;
};

// Whether the path is valid for the usage asked: a purpose holds where every certificate of the
// path that lists purposes (extended key usage, application policies) lists it.
bool UsageMatches(std::span<const PCCERT_CONTEXT> path, const CERT_USAGE_MATCH& requested) {
  if (requested.Usage.cUsageIdentifier == 0 || requested.Usage.rgpszUsageIdentifier == nullptr) {
    return true;  // nothing asked
  }
  const auto holds = [&](const char* oid) {
    return oid != nullptr && std::all_of(path.begin(), path.end(), [&](PCCERT_CONTEXT c) {
             const ChainFacts& facts = FactsOf(c);
             return !facts.hasUsage || std::find(facts.purposes.begin(), facts.purposes.end(),
                                                 oid) != facts.purposes.end();
           });
  };
  const std::span<LPSTR> asked(requested.Usage.rgpszUsageIdentifier,
                               requested.Usage.cUsageIdentifier);
  return requested.dwType == USAGE_MATCH_TYPE_OR ? std::any_of(asked.begin(), asked.end(), holds)
                                                 : std::all_of(asked.begin(), asked.end(), holds);
}

// What judging a path needs besides the path; the same for the path of a CRL's signer judged
// inside it.
struct JudgeContext {
  const TrustMaterial& trust;
  const std::vector<PCCERT_CONTEXT>& extra;
  const std::vector<std::shared_ptr<const CrlData>>& storeCrls;
  const CallRevocationData& callData;
  std::uint64_t at;
  const CERT_CHAIN_PARA* para;
  DWORD flags;
  WeakAlgorithmRule weak;
  // The CRL signers whose paths are being judged, outermost first: one met again is a loop.
  std::vector<PCCERT_CONTEXT> signers;
};
constexpr DWORD kPolicyFlags = CERT_CHAIN_POLICY_REQUIRE_EXPLICIT |
                               CERT_CHAIN_POLICY_INHIBIT_MAPPING | CERT_CHAIN_POLICY_INHIBIT_ANY;

// The caller's initial policy settings.
PolicySettings PolicySettingsOf(const CERT_CHAIN_PARA* para, DWORD flags) {
  PolicySettings settings;
  if (para != nullptr && para->cbSize >= offsetof(CERT_CHAIN_PARA, RequestedIssuancePolicy) +
                                             sizeof(para->RequestedIssuancePolicy)) {
    const CERT_ENHKEY_USAGE& asked = para->RequestedIssuancePolicy.Usage;
    for (DWORD i = 0; i < asked.cUsageIdentifier && asked.rgpszUsageIdentifier != nullptr; ++i) {
      if (asked.rgpszUsageIdentifier[i] != nullptr) {
        settings.initial.emplace_back(asked.rgpszUsageIdentifier[i]);
      }
    }
  }
  settings.requireExplicit = (flags & CERT_CHAIN_POLICY_REQUIRE_EXPLICIT) != 0;
  settings.inhibitMapping = (flags & CERT_CHAIN_POLICY_INHIBIT_MAPPING) != 0;
  settings.inhibitAny = (flags & CERT_CHAIN_POLICY_INHIBIT_ANY) != 0;
  return settings;
}

// How deep CRL signers' paths are judged inside each other.
constexpr std::size_t kMaxCrlSignerDepth = 4;

std::unique_ptr<ChainImpl> NewChain(const Path& path) {
  auto chain = std::make_unique<ChainImpl>();
  chain->cbSize = sizeof(CERT_CHAIN_CONTEXT);
  const std::size_t n = path.links.size();
  chain->contexts.reserve(n);
  chain->elements.resize(n);
  chain->elementPointers.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    chain->contexts.emplace_back(CertDuplicateCertificateContext(path.links[i].context));
    CERT_CHAIN_ELEMENT& element = chain->elements[i];
    element.cbSize = sizeof(CERT_CHAIN_ELEMENT);
    element.pCertContext = chain->contexts.back().get();
  }
  return chain;
}

void Judge(ChainImpl& chain, const Path& path, JudgeContext& context);

// Whether `crl`, about certificate `i` of the path, is signed by a certificate of its issuer that
// may sign CRLs and chains to the path's trust anchor: the path's own certificates above it
// first (judged with the path), then trusted roots, then the other certificates at hand, whose
// own paths are judged (revocation included) as the path is.
CrlSignerVerdict FindCrlSigner(const CrlData& crl, const Path& path, std::size_t i,
                               JudgeContext& context) {
  CrlSignerVerdict verdict;
  verdict.error = TRUST_E_CERT_SIGNATURE;
  const auto signs = [&](PCCERT_CONTEXT c, std::span<const PCCERT_CONTEXT> above = {}) {
    return FactsOf(c).crlSign && ImplOf(c)->data->subjectKey() == crl.issuerKey() &&
           crl.signedBy(c, above) && !crl.signatureWeak(c, above, context.weak);
  };
  std::vector<PCCERT_CONTEXT> contexts;
  for (const Link& link : path.links) {
    contexts.push_back(link.context);
  }
  for (std::size_t j = i + 1; j < path.links.size(); ++j) {
    if (signs(contexts[j], std::span(contexts).subspan(j + 1))) {
      return {true};
    }
  }
  const CERT_NAME_BLOB name{static_cast<DWORD>(crl.issuerName().size()),
                            const_cast<BYTE*>(crl.issuerName().data())};
  for (PCCERT_CONTEXT anchor : context.trust.anchorsNamed(name, crl.issuerKey())) {
    if (signs(anchor)) {
      return {true};
    }
  }
  std::vector<PCCERT_CONTEXT> others;
  const auto [first, last] = context.trust.intermediates.equal_range(crl.issuerKey());
  for (auto it = first; it != last && others.size() < kMaxCandidates; ++it) {
    others.push_back(it->second.get());
  }
  for (PCCERT_CONTEXT extra : context.extra) {
    if (others.size() < kMaxCandidates && ImplOf(extra)->data->subjectKey() == crl.issuerKey()) {
      others.push_back(extra);
    }
  }
  for (PCCERT_CONTEXT candidate : others) {
    const bool looping =
        std::any_of(context.signers.begin(), context.signers.end(),
                    [&](PCCERT_CONTEXT signer) { return SameEncoding(signer, candidate); });
    if (!signs(candidate)) {
      continue;
    }
    if (looping && SameEncoding(context.signers.back(), candidate)) {
      // A CRL issuer covered by the CRLs it issues: the judgement of its path under way decides.
      // Signers that vouch for each other in a longer loop vouch for nothing.
      return {true};
    }
    if (looping || context.signers.size() >= kMaxCrlSignerDepth) {
      continue;
    }
    const Path signerPath = Builder(context.trust, context.extra, context.at).build(candidate);
    if (signerPath.ending != Ending::Trusted || signerPath.badSignatures != 0 ||
        !SameEncoding(signerPath.links.back().context, path.links.back().context)) {
      continue;
    }
    const std::unique_ptr<ChainImpl> signerChain = NewChain(signerPath);
    context.signers.push_back(candidate);
    const CERT_CHAIN_PARA* para = std::exchange(context.para, nullptr);
    const DWORD flags = std::exchange(context.flags, context.flags & ~kPolicyFlags);
    Judge(*signerChain, signerPath, context);
    context.para = para;
    context.flags = flags;
    context.signers.pop_back();
    const DWORD errors = signerChain->TrustStatus.dwErrorStatus;
    if (errors == 0) {
      return {true};
    }
    for (const CERT_CHAIN_ELEMENT& element : signerChain->elements) {
      const CERT_REVOCATION_INFO* info = element.pRevocationInfo;
      if ((element.TrustStatus.dwErrorStatus & CERT_TRUST_IS_REVOKED) != 0 && info != nullptr) {
        verdict.error = CRYPT_E_REVOKED;
        verdict.reason = info->lReason;
        verdict.revocationDate = FileTimeValue(info->RevocationDate);
        break;
      }
    }
  }
  return verdict;
}

// The trust status of each element of the path found.
void Judge(ChainImpl& chain, const Path& path, JudgeContext& context) {
  const DWORD flags = context.flags;
  const std::uint64_t at = context.at;
  const CERT_CHAIN_PARA* para = context.para;
  const std::size_t n = path.links.size();
  const bool checkRevocation =
      (flags & (CERT_CHAIN_REVOCATION_CHECK_END_CERT | CERT_CHAIN_REVOCATION_CHECK_CHAIN |
                CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT)) != 0;
  // Name constraints and certificate policies, judged over the whole path.
  std::vector<PCCERT_CONTEXT> certificates;
  certificates.reserve(n);
  for (const Link& link : path.links) {
    certificates.push_back(link.context);
  }
  std::vector<DWORD> pathErrors(n);
  JudgeNameConstraints(certificates, pathErrors);
  JudgePolicies(certificates, path.ending != Ending::Partial, PolicySettingsOf(para, flags),
                pathErrors);
  std::size_t intermediatesBelow = 0;  // CAs between the subject and certificate i, self-issued
                                       // ones not counted
  for (std::size_t i = 0; i < n; ++i) {
    PCCERT_CONTEXT c = path.links[i].context;
    const CERT_INFO& info = *c->pCertInfo;
    const ChainFacts& facts = FactsOf(c);
    CERT_TRUST_STATUS& status = chain.elements[i].TrustStatus;
    status.dwErrorStatus |= pathErrors[i];
    const bool last = i + 1 == n;
    if (!TimeValid(info, at)) {
      status.dwErrorStatus |= CERT_TRUST_IS_NOT_TIME_VALID;
    }
    if (!last) {
      status.dwInfoStatus |= CERT_TRUST_HAS_NAME_MATCH_ISSUER;
      const auto above = std::span(certificates).subspan(i + 2);
      if (!CertSignedBy(c, path.links[i + 1].context, above)) {
        status.dwErrorStatus |= CERT_TRUST_IS_NOT_SIGNATURE_VALID;
      } else if (CertSignatureWeak(c, path.links[i + 1].context, above, context.weak)) {
        status.dwErrorStatus |= CERT_TRUST_HAS_WEAK_SIGNATURE;
      }
    } else if (facts.selfIssued) {
      if (CertSignedBy(c, c)) {
        status.dwInfoStatus |= CERT_TRUST_IS_SELF_SIGNED | CERT_TRUST_HAS_NAME_MATCH_ISSUER;
      } else if (!path.links[i].anchor) {
        status.dwErrorStatus |= CERT_TRUST_IS_NOT_SIGNATURE_VALID;
      }
    }
    // An issuer must be a CA allowed to sign certificates, within its path length. A trusted
    // root is its name and key: it need not say that it is a CA (old roots do not).
    const auto& constraints = facts.basicConstraints;
    if (facts.basicConstraintsMalformed) {
      status.dwErrorStatus |= CERT_TRUST_INVALID_BASIC_CONSTRAINTS;
    }
    if (i > 0) {
      if (!path.links[i].anchor && (!constraints || !constraints->ca)) {
        status.dwErrorStatus |= CERT_TRUST_INVALID_BASIC_CONSTRAINTS;
      }
      if (constraints && constraints->pathLength && intermediatesBelow > *constraints->pathLength) {
        status.dwErrorStatus |= CERT_TRUST_INVALID_BASIC_CONSTRAINTS;
      }
      intermediatesBelow += facts.selfIssued ? 0 : 1;
      if (!facts.keyCertSign) {
        status.dwErrorStatus |= CERT_TRUST_IS_NOT_VALID_FOR_USAGE;
      }
    }
    if (facts.unsupportedCritical) {
      status.dwErrorStatus |= CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT;
    }
    if (checkRevocation && !last) {
      const bool wanted = (flags & (CERT_CHAIN_REVOCATION_CHECK_CHAIN |
                                    CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT)) != 0 ||
                          i == 0;
      // Only a path that holds is worth asking about: no data is fetched for a forged chain.
      if (wanted && path.ending == Ending::Trusted && path.badSignatures == 0) {
        auto& revocation = chain.revocations.emplace_back(std::make_unique<CERT_REVOCATION_INFO>());
        const RevocationRequest request{
            c,
            path.links[i + 1].context,
            context.trust,
            context.callData,
            context.storeCrls,
            (flags & CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY) == 0,
            context.weak,
            [&](const CrlData& crl) { return FindCrlSigner(crl, path, i, context); }};
        status.dwErrorStatus |= CheckRevocation(request, *revocation);
        chain.elements[i].pRevocationInfo = revocation.get();
      }
    }
    // The element's list lives in the decoded certificate, which the chain's context keeps.
    chain.elements[i].pApplicationUsage =
        facts.hasUsage ? const_cast<CERT_ENHKEY_USAGE*>(&facts.usage) : nullptr;
    if (i == 0 && para != nullptr && !UsageMatches(certificates, para->RequestedUsage)) {
      status.dwErrorStatus |= CERT_TRUST_IS_NOT_VALID_FOR_USAGE;
    }
    if (last) {
      if (path.ending == Ending::SelfSigned) {
        status.dwErrorStatus |= CERT_TRUST_IS_UNTRUSTED_ROOT;
      } else if (path.ending == Ending::Partial) {
        status.dwErrorStatus |= CERT_TRUST_IS_PARTIAL_CHAIN;
      }
      if (path.cyclic) {
        status.dwErrorStatus |= CERT_TRUST_IS_CYCLIC;
      }
    }
    chain.simple.TrustStatus.dwErrorStatus |= status.dwErrorStatus;
    chain.simple.TrustStatus.dwInfoStatus |= status.dwInfoStatus;
  }
  chain.TrustStatus = chain.simple.TrustStatus;
}

}  // namespace
}  // namespace Capi

BOOL CertGetCertificateChain(HCERTCHAINENGINE hChainEngine, PCCERT_CONTEXT pCertContext,
                             const FILETIME* pTime, HCERTSTORE hAdditionalStore,
                             const CERT_CHAIN_PARA* pChainPara, DWORD dwFlags, void*,
                             PCCERT_CHAIN_CONTEXT* ppChainContext) {
  if (ppChainContext != nullptr) {
    *ppChainContext = nullptr;
  }
  if (pCertContext == nullptr || ppChainContext == nullptr ||
      (hChainEngine != HCCE_CURRENT_USER && hChainEngine != HCCE_LOCAL_MACHINE)) {
    return Capi::Fail(E_INVALIDARG, FALSE);
  }
  return Capi::Guard(FALSE, [&]() -> BOOL {
    Capi::TestHooks::RunChainEngineHook();
    using Capi::ContextRef;
    const std::uint64_t at = pTime != nullptr ? Capi::FileTimeValue(*pTime) : Capi::NowFileTime();
    const std::shared_ptr<const Capi::TrustMaterial> trust = Capi::CurrentTrust();
    std::vector<ContextRef> extraRefs;
    std::vector<PCCERT_CONTEXT> extra;
    if (hAdditionalStore != nullptr) {
      for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(hAdditionalStore, nullptr); c != nullptr;
           c = CertEnumCertificatesInStore(hAdditionalStore, c)) {
        extraRefs.emplace_back(CertDuplicateCertificateContext(c));
        extra.push_back(c);
      }
    }
    // The CRLs of the additional store speak for the certificates of their issuers.
    std::vector<std::shared_ptr<const Capi::CrlData>> storeCrls;
    if (hAdditionalStore != nullptr) {
      for (PCCRL_CONTEXT c = CertEnumCRLsInStore(hAdditionalStore, nullptr); c != nullptr;
           c = CertEnumCRLsInStore(hAdditionalStore, c)) {
        storeCrls.push_back(Capi::CrlDataOf(c));
      }
    }
    // The data given with this chain is asked before any other source.
    const Capi::CallRevocationData callData = Capi::CallRevocationData::Decode(
        pChainPara != nullptr ? pChainPara->pRevocationData : nullptr);
    const Capi::Path path = Capi::Builder(*trust, extra, at).build(pCertContext);
    std::unique_ptr<Capi::ChainImpl> chain = Capi::NewChain(path);
    Capi::JudgeContext context{
        *trust, extra,      storeCrls, callData,
        at,     pChainPara, dwFlags,   Capi::WeakAlgorithmRule::Of(pChainPara),
        {}};
    Capi::Judge(*chain, path, context);
    const std::size_t n = path.links.size();
    for (CERT_CHAIN_ELEMENT& element : chain->elements) {
      chain->elementPointers.push_back(&element);
    }
    chain->simple.cbSize = sizeof(CERT_SIMPLE_CHAIN);
    chain->simple.cElement = static_cast<DWORD>(n);
    chain->simple.rgpElement = chain->elementPointers.data();
    chain->simplePointer = &chain->simple;
    chain->cChain = 1;
    chain->rgpChain = &chain->simplePointer;
    *ppChainContext = chain.release();
    return TRUE;
  });
}

void CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT pChainContext) {
  if (pChainContext == nullptr) {
    return;
  }
  Capi::ChainImpl* chain = Capi::ChainOf(pChainContext);
  if (chain->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    delete chain;
  }
}

PCCERT_CHAIN_CONTEXT CertDuplicateCertificateChain(PCCERT_CHAIN_CONTEXT pChainContext) {
  if (pChainContext != nullptr) {
    Capi::ChainOf(pChainContext)->refs.fetch_add(1, std::memory_order_relaxed);
  }
  return pChainContext;
}

}  // namespace Velmora::Platform
