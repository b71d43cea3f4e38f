#include "policy/RevocationPolicies.h"

#include "support/errors.h"

namespace Velmora::PKI::TSP::Client {

void CRevocationPolicies::Load() {
  CGPKeyPair keys;
  if (const LSTATUS status = keys.Open(); status != Platform::ERROR_SUCCESS) {
    Support::ThrowWin32Error(static_cast<DWORD>(status));
  }
  Load(keys.machine(), keys.user());
}

void CRevocationPolicies::Load(HKEY lm, HKEY cu) {
  RequireRevocationCheck.Load(lm, cu, L"RequireRevocationCheck", false);
  DisableRevocationNetwork.Load(lm, cu, L"DisableRevocationNetwork", false);
  RevocationFreshAtGenTime.Load(lm, cu, L"RevocationFreshAtGenTime", false);
  RevocationGraceSeconds.Load(lm, cu, L"RevocationGraceSeconds", 0);
  OcspNonce.Load(lm, cu, L"OcspNonce", false);
}

}  // namespace Velmora::PKI::TSP::Client
