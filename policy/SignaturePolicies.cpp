#include "policy/SignaturePolicies.h"

#include "support/errors.h"

namespace Velmora::PKI::TSP::Client {

void CSignaturePolicies::Load() {
  CGPKeyPair keys;
  if (const LSTATUS status = keys.Open(); status != Platform::ERROR_SUCCESS) {
    Support::ThrowWin32Error(static_cast<DWORD>(status));
  }
  Load(keys.machine(), keys.user());
}

void CSignaturePolicies::Load(HKEY lm, HKEY cu) {
  WeakSha1SignaturesAfter.Load(lm, cu, L"WeakSha1SignaturesAfter");
  WeakRsaKeysAfter.Load(lm, cu, L"WeakRsaKeysAfter");
  MinRsaKeyBits.Load(lm, cu, L"MinRsaKeyBits", 0);
}

}  // namespace Velmora::PKI::TSP::Client
