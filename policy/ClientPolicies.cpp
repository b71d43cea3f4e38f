#include "policy/ClientPolicies.h"

#include "support/errors.h"

namespace Velmora::PKI::TSP::Client {

void CClientPolicies::Load() {
  CGPKeyPair keys;
  if (const LSTATUS status = keys.Open(); status != Platform::ERROR_SUCCESS) {
    Support::ThrowWin32Error(static_cast<DWORD>(status));
  }
  Load(keys.machine(), keys.user());
}

void CClientPolicies::Load(HKEY lm, HKEY cu) {
  StampAccuracy.Load(lm, cu, L"StampAccuracy", 180000);
  DefaultCertReq.Load(lm, cu, L"DefaultCertReq", false);
  NonceLength.Load(lm, cu, L"NonceLength", 8);
  AuthTypeDefault.Load(lm, cu, L"AuthTypeDefault", 0);
  AuthSSLTypeDefault.Load(lm, cu, L"AuthSSLTypeDefault", 0);
  ProxyAuthTypeDefault.Load(lm, cu, L"ProxyAuthTypeDefault", 0);
  ProxyAuthSSLTypeDefault.Load(lm, cu, L"ProxyAuthSSLTypeDefault", 0);
  RequireNonce.Load(lm, cu, L"RequireNonce", false);
  DisableNonce.Load(lm, cu, L"DisableNonce", false);
  UseNonceByDefault.Load(lm, cu, L"UseNonceByDefault", true);
  DisablePolicyID.Load(lm, cu, L"DisablePolicyID", false);

  AuthSSLDenyAnonym.Load(lm, cu, L"AuthSSLDenyAnonym", false);
  AuthSSLDenyBasic.Load(lm, cu, L"AuthSSLDenyBasic", false);
  AuthSSLDenyDigest.Load(lm, cu, L"AuthSSLDenyDigest", false);
  AuthSSLDenyNTLM.Load(lm, cu, L"AuthSSLDenyNTLM", false);
  AuthSSLDenyNegotiate.Load(lm, cu, L"AuthSSLDenyNegotiate", false);
  AuthDenyAnonym.Load(lm, cu, L"AuthDenyAnonym", false);
  AuthDenyBasic.Load(lm, cu, L"AuthDenyBasic", false);
  AuthDenyDigest.Load(lm, cu, L"AuthDenyDigest", false);
  AuthDenyNTLM.Load(lm, cu, L"AuthDenyNTLM", false);
  AuthDenyNegotiate.Load(lm, cu, L"AuthDenyNegotiate", false);
  ProxyAuthSSLDenyAnonym.Load(lm, cu, L"ProxyAuthSSLDenyAnonym", false);
  ProxyAuthSSLDenyBasic.Load(lm, cu, L"ProxyAuthSSLDenyBasic", false);
  ProxyAuthSSLDenyDigest.Load(lm, cu, L"ProxyAuthSSLDenyDigest", false);
  ProxyAuthSSLDenyNTLM.Load(lm, cu, L"ProxyAuthSSLDenyNTLM", false);
  ProxyAuthSSLDenyNegotiate.Load(lm, cu, L"ProxyAuthSSLDenyNegotiate", false);
  ProxyAuthDenyAnonym.Load(lm, cu, L"ProxyAuthDenyAnonym", false);
  ProxyAuthDenyBasic.Load(lm, cu, L"ProxyAuthDenyBasic", false);
  ProxyAuthDenyDigest.Load(lm, cu, L"ProxyAuthDenyDigest", false);
  ProxyAuthDenyNTLM.Load(lm, cu, L"ProxyAuthDenyNTLM", false);
  ProxyAuthDenyNegotiate.Load(lm, cu, L"ProxyAuthDenyNegotiate", false);

  // A text reader keeps what its field holds when the value is set nowhere: empty.
  DefaultHashAlg = std::wstring();
  DefaultHashAlg.Load(lm, cu, L"DefaultHashAlg");
  DefaultTSPURL = std::wstring();
  DefaultTSPURL.Load(lm, cu, L"DefaultTSPURL");
  DefaultProxy = std::wstring();
  DefaultProxy.Load(lm, cu, L"DefaultProxy");
  DefaultPolicyID = std::wstring();
  DefaultPolicyID.Load(lm, cu, L"DefaultPolicyID");

  HashAlgsAllowed.Load(lm, cu, L"HashAlgsAllowed", L"HashAlgsAllowedSetted");
  HashAlgsDenied.Load(lm, cu, L"HashAlgsDenied", L"HashAlgsDeniedSetted");
  AllowedTSPs.Load(lm, cu, L"AllowedTSPs", L"AllowedTSPsSetted");
  AllowedProxies.Load(lm, cu, L"AllowedProxies", L"AllowedProxiesSetted");
  AllowedPolicyID.Load(lm, cu, L"AllowedPolicyID", L"AllowedPolicyIDSetted");
}

}  // namespace Velmora::PKI::TSP::Client
