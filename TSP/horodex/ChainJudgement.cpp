// The judgement of a certificate's chain at a past time, and the weak-algorithm rule it applies.
#include "TSP/horodex/ChainJudgement.h"

#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "TSP/horodex/CapiHandles.h"
#include "TSP/horodex/TokenRevocationData.h"
#include "codec/corekit/civil_calendar.h"
#include "horodex/GroupPolicies.h"
#include "platform/base/free_with.h"
#include "platform/capi/wincrypt_chain.h"
#include "platform/capi/wincrypt_revocation.h"
#include "policy/RevocationPolicies.h"
#include "support/errors.h"
#include "support/trace.h"

namespace Velmora::PKI::TSP::Client {

using Platform::DWORD;
using Platform::HRESULT;
using Platform::Capi::WeakAlgorithmRule;

namespace {

// A date "YYYY-MM-DD" as a FILETIME value at its UTC midnight; nothing when it is not one.
std::optional<std::uint64_t> PolicyDate(const std::wstring& text) {
  int year = 0;
  int month = 0;
  int day = 0;
  char rest = 0;
  const std::string narrow(text.begin(), text.end());
  if (text.size() != 10 ||
      std::sscanf(narrow.c_str(), "%4d-%2d-%2d%c", &year, &month, &day, &rest) != 3 || month < 1 ||
      month > 12 || day < 1 || day > 31 || year < 1970) {
    return std::nullopt;
  }
  const std::int64_t days =
      Calendar::DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
  return Platform::kUnixEpochFileTime +
         static_cast<std::uint64_t>(days * Calendar::kSecondsPerDay) *
             Platform::kFileTimeTicksPerSecond;
}

Platform::FILETIME FileTimeOf(std::uint64_t value) {
  return {static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

// The rule in the form the chain parameter takes it.
Platform::CERT_STRONG_SIGN_DATED_INFO DatedInfoOf(const WeakAlgorithmRule& rule) {
  return {FileTimeOf(rule.sha1SignaturesAfter), FileTimeOf(rule.smallRsaKeysAfter),
          rule.minRsaBits};
}

[[noreturn]] void ThrowPlatformFailure() {
  const HRESULT hr = Support::HResultFromLastError();
  Support::ThrowHResult(hr != 0 ? hr : Platform::E_FAIL);
}

}  // namespace

WeakAlgorithmRule WeakRuleOf(const CSignaturePolicies& policies) {
  WeakAlgorithmRule rule = WeakAlgorithmRule::Defaults();
  if (const auto date = PolicyDate(policies.WeakSha1SignaturesAfter)) {
    rule.sha1SignaturesAfter = *date;
  }
  if (const auto date = PolicyDate(policies.WeakRsaKeysAfter)) {
    rule.smallRsaKeysAfter = *date;
  }
  if (static_cast<DWORD>(policies.MinRsaKeyBits) != 0) {
    rule.minRsaBits = policies.MinRsaKeyBits;
  }
  return rule;
}

std::uint64_t FileTimeValueOf(const CDateTime& time) {
  const Platform::FILETIME value = time.getFileTime();
  return (static_cast<std::uint64_t>(value.dwHighDateTime) << 32) | value.dwLowDateTime;
}

ChainJudgement JudgeChainAt(Platform::PCCERT_CONTEXT subject, Platform::HCERTSTORE material,
                            const CDateTime& at, const CBlobList* crls, Platform::LPCSTR policyId,
                            const char* traceSource, DWORD chainFlags) {
  // The administrator decides whether revocation data may be fetched and whether an unknown
  // status fails the stamp; a revoked certificate always does.
  CGPKeyPair keys;
  if (const LSTATUS status = keys.Open(); status != Platform::ERROR_SUCCESS) {
    Support::ThrowWin32Error(static_cast<DWORD>(status));
  }
  CRevocationPolicies revocation;
  revocation.Load(keys.machine(), keys.user());
  CSignaturePolicies signatures;
  signatures.Load(keys.machine(), keys.user());

  Platform::CERT_CHAIN_PARA parameters{};
  parameters.cbSize = sizeof parameters;
  parameters.RequestedUsage.dwType = Platform::USAGE_MATCH_TYPE_AND;
  // Signatures too weak for the administrator's rule fail the chain at their own dates.
  Platform::CERT_STRONG_SIGN_DATED_INFO dated = DatedInfoOf(WeakRuleOf(signatures));
  const Platform::CERT_STRONG_SIGN_PARA strongSign{sizeof(Platform::CERT_STRONG_SIGN_PARA),
                                                   Platform::CERT_STRONG_SIGN_DATED_INFO_CHOICE,
                                                   &dated};
  parameters.pStrongSignPara = &strongSign;
  // The data must be fresh now, or at `at` plus the grace period when the administrator says so.
  const Platform::FILETIME checkTime =
      (at + CDateTimeSpan(revocation.RevocationGraceSeconds, 0)).getFileTime();
  const TokenRevocationData tokenData(
      crls, revocation.RevocationFreshAtGenTime ? &checkTime : nullptr,
      revocation.OcspNonce ? Platform::REVOCATION_DATA_OCSP_NONCE : 0);
  parameters.pRevocationData = tokenData.blobs();
  if (revocation.DisableRevocationNetwork) {
    chainFlags |= Platform::CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY;
  }
  ChainJudgement judgement;
  {
    const CertContextPtr duplicate(Platform::CertDuplicateCertificateContext(subject));
    Platform::PCCERT_CHAIN_CONTEXT built = nullptr;
    Platform::SetLastError(0);
    if (!Platform::CertGetCertificateChain(
            nullptr, duplicate.get(), nullptr, material, &parameters,
            Platform::CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT |
                Platform::CERT_CHAIN_DISABLE_AUTH_ROOT_AUTO_UPDATE | chainFlags,
            nullptr, &built)) {
      ThrowPlatformFailure();
    }
    judgement.chain.reset(built);
  }

  Platform::FILETIME time = at.getFileTime();
  Platform::TSP_CHAIN_POLICY_TIME_PARA timeParameter{sizeof(Platform::TSP_CHAIN_POLICY_TIME_PARA),
                                                     &time};
  Platform::CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof policy;
  policy.dwFlags =
      Platform::TSP_CHAIN_POLICY_TIME_FLAG |
      (revocation.RequireRevocationCheck ? Platform::TSP_CHAIN_POLICY_REQUIRE_REVOCATION_FLAG : 0);
  policy.pvExtraPolicyPara = &timeParameter;
  Platform::CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  Platform::SetLastError(0);
  if (!Platform::CertVerifyCertificateChainPolicy(policyId, judgement.chain.get(), &policy,
                                                  &status)) {
    const DWORD error = Platform::GetLastError();
    HORODEX_TRACE(VelmoraTraceGeneral, 2, traceSource,
                  "CertVerifyCertificateChainPolicy failed: 0x%X\n", static_cast<unsigned>(error));
    Support::ThrowWin32Error(error);
  }
  if (status.dwError != 0) {
    HORODEX_TRACE(VelmoraTraceGeneral, 2, traceSource,
                  "CertVerifyCertificateChainPolicy returned status.dwError = 0x%X\n",
                  static_cast<unsigned>(status.dwError));
    judgement.code = static_cast<HRESULT>(status.dwError);
    return judgement;
  }
  // The key signed at `at`: too small a key then fails as a weak signature.
  if (Platform::Capi::IsWeakSignature("", Platform::Capi::RsaBitsOfCertificateKey(subject),
                                      FileTimeValueOf(at), WeakRuleOf(signatures))) {
    judgement.code = Platform::CRYPT_E_SECURITY_SETTINGS;
  }
  return judgement;
}

}  // namespace Velmora::PKI::TSP::Client
