// Installable chain policies (CertVerifyCertificateChainPolicy, CryptInstallOIDFunctionAddress)
// and the library's time-stamping chain policy, registered under TSP_CHAIN_POLICY_ID before the
// first lookup, so that an application's own registration under that identifier replaces it.
#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "platform/capi/capi_util.h"
#include "platform/capi/cert_chain_internal.h"
#include "platform/capi/revocation_check.h"

namespace Velmora::Platform {

namespace {

using Capi::Fail;

// Identifiers are texts, or small numbers in the place of a pointer (as the platform's own
// CERT_CHAIN_POLICY_BASE ...), kept as "#<number>".
std::string KeyOf(LPCSTR oid) {
  const auto value = reinterpret_cast<std::uintptr_t>(oid);
  if (value <= 0xFFFF) {
    return "#" + std::to_string(value);
  }
  return oid;
}

struct Registry {
  std::mutex mutex;
  std::map<std::string, PFN_CERT_DLL_VERIFY_CERTIFICATE_CHAIN_POLICY> policies;
};

Registry& Policies() {
  static Registry* registry = [] {
    auto* r = new Registry();  // never destroyed: policies may be asked for at exit
    r->policies.emplace(TSP_CHAIN_POLICY_ID, &VelmoraTimeStampChainPolicy);
    r->policies.emplace(KeyOf(CERT_CHAIN_POLICY_BASE), &VelmoraBaseChainPolicy);
    return r;
  }();
  return *registry;
}

void Report(CERT_CHAIN_POLICY_STATUS* status, HRESULT error, LONG element) {
  status->dwError = static_cast<DWORD>(error);
  status->lChainIndex = error == S_OK ? -1 : 0;
  status->lElementIndex = error == S_OK ? -1 : element;
}

}  // namespace

BOOL CryptInstallOIDFunctionAddress(HMODULE, DWORD, LPCSTR pszFuncName, DWORD cFuncEntry,
                                    const CRYPT_OID_FUNC_ENTRY rgFuncEntry[], DWORD) {
  if (pszFuncName == nullptr || (cFuncEntry != 0 && rgFuncEntry == nullptr) ||
      std::string_view(pszFuncName) != CRYPT_OID_VERIFY_CERTIFICATE_CHAIN_POLICY_FUNC) {
    return Fail(E_INVALIDARG, FALSE);
  }
  for (DWORD i = 0; i < cFuncEntry; ++i) {
    if (rgFuncEntry[i].pszOID == nullptr) {
      return Fail(E_INVALIDARG, FALSE);
    }
  }
  return Capi::Guard(FALSE, [&]() -> BOOL {
    Registry& registry = Policies();
    std::lock_guard lock(registry.mutex);
    for (DWORD i = 0; i < cFuncEntry; ++i) {
      const std::string key = KeyOf(rgFuncEntry[i].pszOID);
      if (rgFuncEntry[i].pvFuncAddr == nullptr) {
        registry.policies.erase(key);
      } else {
        registry.policies[key] = reinterpret_cast<PFN_CERT_DLL_VERIFY_CERTIFICATE_CHAIN_POLICY>(
            rgFuncEntry[i].pvFuncAddr);
      }
    }
    return TRUE;
  });
}

BOOL CertVerifyCertificateChainPolicy(LPCSTR pszPolicyOID, PCCERT_CHAIN_CONTEXT pChainContext,
                                      const CERT_CHAIN_POLICY_PARA* pPolicyPara,
                                      CERT_CHAIN_POLICY_STATUS* pPolicyStatus) {
  if (pszPolicyOID == nullptr || pChainContext == nullptr || pPolicyStatus == nullptr ||
      pPolicyStatus->cbSize < sizeof(CERT_CHAIN_POLICY_STATUS)) {
    return Fail(E_INVALIDARG, FALSE);
  }
  PFN_CERT_DLL_VERIFY_CERTIFICATE_CHAIN_POLICY policy = nullptr;
  const BOOL found = Capi::Guard(FALSE, [&]() -> BOOL {
    Registry& registry = Policies();
    std::lock_guard lock(registry.mutex);
    const auto it = registry.policies.find(KeyOf(pszPolicyOID));
    if (it == registry.policies.end()) {
      return Fail(CRYPT_E_NOT_FOUND, FALSE);
    }
    policy = it->second;
    return TRUE;
  });
  if (!found) {
    return FALSE;
  }
  return policy(pszPolicyOID, pChainContext, pPolicyPara, pPolicyStatus);
}

namespace {

// The checks both policies make; the time-stamping policy also wants the first certificate to be
// a TSA's.
BOOL JudgeChain(PCCERT_CHAIN_CONTEXT pChainContext, const CERT_CHAIN_POLICY_PARA* pPolicyPara,
                CERT_CHAIN_POLICY_STATUS* pPolicyStatus, bool timeStamping) {
  using namespace Capi;
  if (pChainContext == nullptr || pPolicyStatus == nullptr ||
      pPolicyStatus->cbSize < sizeof(CERT_CHAIN_POLICY_STATUS)) {
    return Fail(E_INVALIDARG, FALSE);
  }
  std::uint64_t at = NowFileTime();
  if (pPolicyPara != nullptr && (pPolicyPara->dwFlags & TSP_CHAIN_POLICY_TIME_FLAG) != 0) {
    const auto* extra =
        static_cast<const TSP_CHAIN_POLICY_TIME_PARA*>(pPolicyPara->pvExtraPolicyPara);
    if (extra == nullptr || extra->cbSize < sizeof(TSP_CHAIN_POLICY_TIME_PARA) ||
        extra->pftTimeStamp == nullptr) {
      return Fail(E_INVALIDARG, FALSE);
    }
    at = FileTimeValue(*extra->pftTimeStamp);
  }
  Report(pPolicyStatus, S_OK, -1);
  if (pChainContext->cChain == 0 || pChainContext->rgpChain == nullptr ||
      pChainContext->rgpChain[0]->cElement == 0) {
    Report(pPolicyStatus, CERT_E_CHAINING, -1);
    return TRUE;
  }
  const CERT_SIMPLE_CHAIN& chain = *pChainContext->rgpChain[0];
  const LONG n = static_cast<LONG>(chain.cElement);
  auto info = [&](LONG i) -> const CERT_INFO& {
    return *chain.rgpElement[i]->pCertContext->pCertInfo;
  };
  // The first element that `fails`, in chain order; -1 for none.
  auto first = [&](auto&& fails) -> LONG {
    for (LONG i = 0; i < n; ++i) {
      if (fails(i)) {
        return i;
      }
    }
    return -1;
  };
  auto withError = [&](DWORD bits) {
    return first(
        [&](LONG i) { return (chain.rgpElement[i]->TrustStatus.dwErrorStatus & bits) != 0; });
  };

  // The checks, in the order their failures are reported.
  struct Check {
    HRESULT error;
    LONG element;
  };
  auto facts = [&](LONG i) -> const ChainFacts& {
    return FactsOf(chain.rgpElement[i]->pCertContext);
  };
  const auto tsaUsage = [&]() -> bool {
    if (!timeStamping) {
      return true;
    }
    const ChainFacts& tsa = facts(0);
    if (!tsa.hasUsage || !tsa.usageCritical || tsa.purposes.empty()) {
      return false;
    }
    return std::all_of(tsa.purposes.begin(), tsa.purposes.end(),
                       [](const std::string& purpose) { return purpose == kOidTimeStamping; });
  };
  // An unknown revocation status fails only when the caller requires revocation checking.
  const bool requireRevocation =
      pPolicyPara != nullptr && (pPolicyPara->dwFlags & TSP_CHAIN_POLICY_REQUIRE_REVOCATION_FLAG);
  const LONG unknownAt = withError(CERT_TRUST_REVOCATION_STATUS_UNKNOWN);
  const CERT_REVOCATION_INFO* unknownInfo =
      unknownAt >= 0 ? chain.rgpElement[unknownAt]->pRevocationInfo : nullptr;
  const HRESULT revocationUnknown = unknownInfo != nullptr
                                        ? static_cast<HRESULT>(unknownInfo->dwRevocationResult)
                                        : CRYPT_E_NO_REVOCATION_CHECK;
  const Check checks[] = {
      {TRUST_E_CERT_SIGNATURE, withError(CERT_TRUST_IS_NOT_SIGNATURE_VALID)},
      {CRYPT_E_SECURITY_SETTINGS, withError(CERT_TRUST_HAS_WEAK_SIGNATURE)},
      {CERT_E_CHAINING, withError(CERT_TRUST_IS_CYCLIC | CERT_TRUST_IS_PARTIAL_CHAIN)},
      {CERT_E_UNTRUSTEDROOT, withError(CERT_TRUST_IS_UNTRUSTED_ROOT)},
      {TRUST_E_BASIC_CONSTRAINTS, withError(CERT_TRUST_INVALID_BASIC_CONSTRAINTS)},
      {CERT_E_INVALID_NAME, withError(CERT_TRUST_INVALID_NAME_CONSTRAINTS |
                                      CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT |
                                      CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT |
                                      CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT)},
      {CERT_E_INVALID_POLICY,
       withError(CERT_TRUST_INVALID_POLICY_CONSTRAINTS | CERT_TRUST_NO_ISSUANCE_CHAIN_POLICY)},
      {CRYPT_E_REVOKED,
       first([&](LONG i) { return RevocationRefusedAt(*chain.rgpElement[i], at); })},
      {revocationUnknown, requireRevocation ? withError(CERT_TRUST_REVOCATION_STATUS_UNKNOWN) : -1},
      {CERT_E_CRITICAL, first([&](LONG i) { return facts(i).unsupportedCritical; })},
      {CERT_E_EXPIRED, first([&](LONG i) { return !TimeValid(info(i), at); })},
      {CERT_E_WRONG_USAGE, tsaUsage() ? withError(CERT_TRUST_IS_NOT_VALID_FOR_USAGE) : 0},
  };
  for (const Check& check : checks) {
    if (check.element >= 0) {
      Report(pPolicyStatus, check.error, check.element);
      break;
    }
  }
  return TRUE;
}

}  // namespace

BOOL VelmoraTimeStampChainPolicy(LPCSTR, PCCERT_CHAIN_CONTEXT pChainContext,
                                 const CERT_CHAIN_POLICY_PARA* pPolicyPara,
                                 CERT_CHAIN_POLICY_STATUS* pPolicyStatus) {
  return JudgeChain(pChainContext, pPolicyPara, pPolicyStatus, true);
}

BOOL VelmoraBaseChainPolicy(LPCSTR, PCCERT_CHAIN_CONTEXT pChainContext,
                            const CERT_CHAIN_POLICY_PARA* pPolicyPara,
                            CERT_CHAIN_POLICY_STATUS* pPolicyStatus) {
  return JudgeChain(pChainContext, pPolicyPara, pPolicyStatus, false);
}

}  // namespace Velmora::Platform
