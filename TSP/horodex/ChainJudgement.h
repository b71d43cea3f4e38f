// The judgement of a certificate's chain at a past time: the TSA certificate at its stamp's
// genTime, a signer's certificate at the earliest genTime of its signature's stamps. The
// administrator's revocation and signature policies apply to both.
#pragma once

#include <cstdint>
#include <memory>

#include "codec/corekit/blob.h"
#include "codec/corekit/datetime.h"
#include "codec/corekit/linked_list.h"
#include "platform/base/free_with.h"
#include "platform/capi/weak_algorithms.h"
#include "platform/capi/wincrypt.h"
#include "platform/capi/wincrypt_chain.h"
#include "platform/errors/winerror.h"
#include "policy/SignaturePolicies.h"

namespace Velmora::PKI::TSP::Client {

// A judgement of a chain: S_OK or the policy's code, and the chain judged.
struct ChainJudgement {
  Platform::HRESULT code = Platform::S_OK;
  std::unique_ptr<const Platform::CERT_CHAIN_CONTEXT,
                  Platform::FreeWith<Platform::CertFreeCertificateChain>>
      chain;
};

// Builds the chain of `subject` with `material` as untrusted certificates and judges it by
// `policyId` (TSP_CHAIN_POLICY_ID or CERT_CHAIN_POLICY_BASE) at `at`, revocation included:
// `crls` (the RevocationInfoChoices a message carries, or null) is the first source asked.
// `chainFlags` are CertGetCertificateChain flags on top of those the administrator's policies
// give (CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY for a caller that must not go to the network). A
// chain that cannot be built or judged throws the platform's code. The policy's failures are
// traced under `traceSource`.
ChainJudgement JudgeChainAt(Platform::PCCERT_CONTEXT subject, Platform::HCERTSTORE material,
                            const CDateTime& at, const CBlobList* crls, Platform::LPCSTR policyId,
                            const char* traceSource, Platform::DWORD chainFlags);

// The administrator's weak-algorithm rule, the engine's defaults where a value is unset or
// unreadable.
Platform::Capi::WeakAlgorithmRule WeakRuleOf(const CSignaturePolicies& policies);

// `time` as a FILETIME value (100 ns since 1601).
std::uint64_t FileTimeValueOf(const CDateTime& time);

}  // namespace Velmora::PKI::TSP::Client
