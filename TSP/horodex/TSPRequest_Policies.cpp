// CRequest::Impl::CheckPolicies: the request's addresses, options and authentication types
// against the client policy set, first rule broken first.
#include "TSP/horodex/TSPRequest_Impl.h"
#include "support/errors.h"
#include "support/trace.h"

namespace Velmora::PKI::TSP::Client {

using Support::ThrowHResult;

namespace {

constexpr const char* kCheckPolicies = "Velmora::PKI::TSP::Client::CRequest::Impl::CheckPolicies";

bool HasPrefix(const std::wstring& address, std::wstring_view prefix) {
  return address.compare(0, prefix.size(), prefix) == 0;
}

// The five deny flags of one group (TSA or proxy, TLS or plain), in the order of the types.
struct DenyFlags {
  const CGPBool& anonym;
  const CGPBool& basic;
  const CGPBool& ntlm;
  const CGPBool& digest;
  const CGPBool& negotiate;

  bool Denies(DWORD type) const {
    switch (type) {
      case CRequest::Anonym:
        return anonym;
      case CRequest::Basic:
        return basic;
      case CRequest::NTLM:
        return ntlm;
      case CRequest::Digest:
        return digest;
      case CRequest::Negotiate:
        return negotiate;
      default:
        return false;  // a type the policies do not name is never denied
    }
  }
};

// Whether `type` is denied on `address`: by the TLS flags on "https://", by the plain flags on
// "http://", by none on any other address.
bool Denied(const std::wstring& address, DWORD type, const DenyFlags& tls, const DenyFlags& plain) {
  if (HasPrefix(address, L"https://")) {
    return tls.Denies(type);
  }
  if (HasPrefix(address, L"http://")) {
    return plain.Denies(type);
  }
  return false;
}

}  // namespace

void CRequest::Impl::CheckPolicies() const {
  HORODEX_TRACE(VelmoraTraceGeneral, 2, kCheckPolicies, "Checking policies...\n");
  const CClientPolicies& p = policies;
  if (p.AllowedTSPs.IsSet() && !p.AllowedTSPs.contains(http.url)) {
    ThrowHResult(Support::HORODEX_E_TSA_PROHIBITED);
  }
  if (p.AllowedProxies.IsSet() && !p.AllowedProxies.contains(http.proxy)) {
    ThrowHResult(Support::HORODEX_E_TSA_PROHIBITED);
  }
  if (!policyID.empty()) {
    if (p.DisablePolicyID) {
      ThrowHResult(Support::HORODEX_E_POLICY_ID_PROHIBITED);
    }
    if (p.AllowedPolicyID.IsSet() &&
        !p.AllowedPolicyID.contains(Platform::NarrowToWide(policyID))) {
      ThrowHResult(Support::HORODEX_E_POLICY_ID_PROHIBITED);
    }
  }
  const std::wstring hashOID = Platform::NarrowToWide(hashAlgOID);
  if (p.HashAlgsAllowed.IsSet() && !p.HashAlgsAllowed.contains(hashOID)) {
    ThrowHResult(Support::HORODEX_E_HASH_ALG_PROHIBITED);
  }
  if (p.HashAlgsDenied.contains(hashOID)) {
    ThrowHResult(Support::HORODEX_E_HASH_ALG_PROHIBITED);
  }
  if ((useNonce && p.DisableNonce) || (!useNonce && p.RequireNonce)) {
    ThrowHResult(Support::HORODEX_E_NONCE_PROHIBITED);
  }
  const DenyFlags tsaTls{p.AuthSSLDenyAnonym, p.AuthSSLDenyBasic, p.AuthSSLDenyNTLM,
                         p.AuthSSLDenyDigest, p.AuthSSLDenyNegotiate};
  const DenyFlags tsaPlain{p.AuthDenyAnonym, p.AuthDenyBasic, p.AuthDenyNTLM, p.AuthDenyDigest,
                           p.AuthDenyNegotiate};
  if (Denied(http.url, http.serverAuthScheme, tsaTls, tsaPlain)) {
    ThrowHResult(Support::HORODEX_E_AUTH_TYPE_PROHIBITED);
  }
  const DenyFlags proxyTls{p.ProxyAuthSSLDenyAnonym, p.ProxyAuthSSLDenyBasic,
                           p.ProxyAuthSSLDenyNTLM, p.ProxyAuthSSLDenyDigest,
                           p.ProxyAuthSSLDenyNegotiate};
  const DenyFlags proxyPlain{p.ProxyAuthDenyAnonym, p.ProxyAuthDenyBasic, p.ProxyAuthDenyNTLM,
                             p.ProxyAuthDenyDigest, p.ProxyAuthDenyNegotiate};
  if (Denied(http.proxy, http.proxyAuthScheme, proxyTls, proxyPlain)) {
    ThrowHResult(Support::HORODEX_E_PROXY_AUTH_TYPE_PROHIBITED);
  }
  HORODEX_TRACE(VelmoraTraceGeneral, 2, kCheckPolicies, "Checking policies... OK.\n");
}

}  // namespace Velmora::PKI::TSP::Client
