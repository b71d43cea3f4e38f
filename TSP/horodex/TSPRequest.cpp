// CRequest: construction from the policy set, copying, and the properties that only store,
// return or invalidate.
#include <cstring>

#include "TSP/horodex/TSPRequest_Impl.h"
#include "platform/capi/wincrypt_oid.h"
#include "support/errors.h"

namespace Velmora::PKI::TSP::Client {

using Support::ThrowHResult;

namespace {

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
  return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

// The hash algorithm of a new request whose policies name none: SHA-256, the one every TSA and
// verifier takes, also where the GOST module is loaded (its presence says nothing of what the
// user wants; GOST stays one DefaultHashAlg value away).
constexpr Platform::ALG_ID kDefaultHashAlgorithm = Platform::CALG_SHA_256;

// The wide text of a setter argument; the UTF-16 form is converted first.
std::wstring Wide(const unsigned short* text) {
  return Platform::Utf16ToWide(Platform::Utf16ViewOf(text));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Owners of the provider and hash handles

void HashProvider::release() {
  if (m_handle != 0) {
    const Platform::HCRYPTPROV handle = m_handle;
    m_handle = 0;
    if (!Platform::CryptReleaseContext(handle, 0)) {
      Support::ThrowLastError();
    }
  }
}

void HashProvider::share(Platform::HCRYPTPROV handle) {
  if (handle != 0 && !Platform::CryptContextAddRef(handle, nullptr, 0)) {
    Support::ThrowLastError();
  }
  reset(handle);
}

void HashProvider::reset(Platform::HCRYPTPROV handle) noexcept {
  if (m_handle != 0) {
    Platform::CryptReleaseContext(m_handle, 0);
  }
  m_handle = handle;
}

void HashObject::reset(Platform::HCRYPTHASH handle) noexcept {
  if (m_handle != 0) {
    Platform::CryptDestroyHash(m_handle);
  }
  m_handle = handle;
}

// ---------------------------------------------------------------------------------------------
// Construction and copying

void CRequest::Impl::SyncUtf16() {
  url16 = Platform::WideToUtf16(http.url);
  serverUserName16 = Platform::WideToUtf16(http.serverUserName);
  serverPassword16 = Platform::WideToUtf16(http.serverPassword);
  proxy16 = Platform::WideToUtf16(http.proxy);
  proxyUserName16 = Platform::WideToUtf16(http.proxyUserName);
  proxyPassword16 = Platform::WideToUtf16(http.proxyPassword);
  tlsRootFile16 = Platform::WideToUtf16(http.extraCaFile);
}

void CRequest::Impl::Assign(const Impl& source) {
  // Everything that can fail comes first, into locals, so that a failure changes nothing here.
  CClientPolicies freshPolicies;
  freshPolicies.Load();
  HashObject hashCopy;
  if (source.hash) {
    if (!Platform::CryptDuplicateHash(source.hash.get(), nullptr, 0, hashCopy.put())) {
      Support::ThrowLastError();
    }
  }
  HashProvider providerCopy;
  providerCopy.share(source.hashProv.get());
  CHttpSettings httpCopy = source.http;  // the copy has no session; ours is closed below
  Impl& target = *this;
  Platform::Utf16String u1 = source.url16, u2 = source.serverUserName16,
                        u3 = source.serverPassword16, u4 = source.proxy16,
                        u5 = source.proxyUserName16, u6 = source.proxyPassword16,
                        u7 = source.tlsRootFile16;
  std::string policyCopy = source.policyID, oidCopy = source.hashAlgOID;
  CBlob hashValue = source.dataHash, encoding = source.encodedRequest;
  ASN1::CBigInteger nonceCopy = source.nonce;
  ASN1::CExtensions extensionsCopy = source.extensions;

  target.policies = std::move(freshPolicies);
  target.http = std::move(httpCopy);
  target.http.session.reset();
  target.url16.swap(u1);
  target.serverUserName16.swap(u2);
  target.serverPassword16.swap(u3);
  target.proxy16.swap(u4);
  target.proxyUserName16.swap(u5);
  target.proxyPassword16.swap(u6);
  target.tlsRootFile16.swap(u7);
  target.certReq = source.certReq;
  target.useNonce = source.useNonce;
  target.policyID.swap(policyCopy);
  target.hashAlg = source.hashAlg;
  target.hashAlgOID.swap(oidCopy);
  target.dataHash = std::move(hashValue);
  target.encodedRequest = std::move(encoding);
  target.nonce = std::move(nonceCopy);
  target.clientCert.reset(Platform::CertDuplicateCertificateContext(source.clientCert.get()));
  // The settings point at the certificate this request owns, never at the source's, which may
  // go before this request does.
  target.http.clientCert = target.clientCert.get();
  target.flags = source.flags;
  target.extensions = std::move(extensionsCopy);
  target.hashProv.reset(providerCopy.detach());
  target.hash.reset(hashCopy.detach());
}

CRequest::CRequest() : m_impl(std::make_unique<Impl>()) {
  Impl& r = *m_impl;
  CClientPolicies& p = r.policies;
  p.Load();
  r.certReq = p.DefaultCertReq;
  r.useNonce = p.UseNonceByDefault;
  r.http.url = p.DefaultTSPURL.str();
  r.http.proxy = p.DefaultProxy.str();
  r.http.serverAuthScheme = (!r.http.url.empty() && StartsWith(r.http.url, L"https://"))
                                ? p.AuthSSLTypeDefault
                                : p.AuthTypeDefault;
  r.http.proxyAuthScheme = (!r.http.proxy.empty() && StartsWith(r.http.proxy, L"https://"))
                               ? p.ProxyAuthSSLTypeDefault
                               : p.ProxyAuthTypeDefault;
  if (!p.DefaultHashAlg.empty()) {
    const std::wstring& text = p.DefaultHashAlg.str();
    put_DataHashAlg(text.substr(0, text.find(L' ')).c_str());
  } else {
    r.PutDataHashAlg(kDefaultHashAlgorithm);
  }
  if (!p.DefaultPolicyID.empty()) {
    put_PolicyID(p.DefaultPolicyID.c_str());
  }
  r.SyncUtf16();
}

CRequest::CRequest(const CRequest& other) : m_impl(std::make_unique<Impl>()) {
  m_impl->Assign(*other.m_impl);
}

CRequest& CRequest::operator=(const CRequest& other) {
  if (this != &other) {
    m_impl->Assign(*other.m_impl);
  }
  return *this;
}

CRequest::~CRequest() = default;

// ---------------------------------------------------------------------------------------------
// Request options

void CRequest::put_CertReq(bool certReq) {
  if (certReq != m_impl->certReq) {
    m_impl->Invalidate();
  }
  m_impl->certReq = certReq;
}

bool CRequest::get_CertReq() const {
  return m_impl->certReq;
}

void CRequest::put_UseNonce(bool useNonce) {
  if (useNonce != m_impl->useNonce) {
    m_impl->Invalidate();
  }
  m_impl->useNonce = useNonce;
}

bool CRequest::get_UseNonce() const {
  return m_impl->useNonce;
}

void CRequest::put_Flags(unsigned long flags) {
  m_impl->flags = static_cast<Platform::DWORD>(flags);
}

unsigned long CRequest::get_Flags() const {
  return m_impl->flags;
}

void CRequest::Impl::PutPolicyID(const char* oid) {
  if (policyID != oid) {
    Invalidate();
  }
  policyID = oid;
}

void CRequest::put_PolicyID(const char* oid) {
  m_impl->PutPolicyID(oid);
}

void CRequest::put_PolicyID(const wchar_t* oid) {
  m_impl->PutPolicyID(Platform::WideToNarrow(oid).c_str());
}

void CRequest::put_PolicyID(const unsigned short* oid) {
  m_impl->PutPolicyID(Platform::Utf16ToNarrow(Platform::Utf16ViewOf(oid)).c_str());
}

const char* CRequest::get_PolicyID() const {
  return m_impl->policyID.c_str();
}

void CRequest::ResetData() {
  m_impl->dataHash.clear();
  m_impl->encodedRequest.clear();
  m_impl->hash.reset();
}

// ---------------------------------------------------------------------------------------------
// Connection settings

#define HORODEX_REQUEST_TEXT(Name, field, copy16)                      \
  void CRequest::put_##Name(const wchar_t* given) {                    \
    const wchar_t* text = given == nullptr ? L"" : given;              \
    Platform::Utf16String converted = Platform::WideToUtf16(text);     \
    m_impl->http.field = text;                                         \
    m_impl->copy16.swap(converted);                                    \
  }                                                                    \
  void CRequest::put_##Name(const unsigned short* text) {              \
    put_##Name(Wide(text).c_str());                                    \
  }                                                                    \
  template <>                                                          \
  const wchar_t* CRequest::get_##Name<wchar_t>() const {               \
    return m_impl->http.field.c_str();                                 \
  }                                                                    \
  template <>                                                          \
  const unsigned short* CRequest::get_##Name<unsigned short>() const { \
    return m_impl->copy16.c_str();                                     \
  }

HORODEX_REQUEST_TEXT(TSAAddress, url, url16)
HORODEX_REQUEST_TEXT(TSAUserName, serverUserName, serverUserName16)
HORODEX_REQUEST_TEXT(TSAPassword, serverPassword, serverPassword16)
HORODEX_REQUEST_TEXT(ProxyUserName, proxyUserName, proxyUserName16)
HORODEX_REQUEST_TEXT(ProxyPassword, proxyPassword, proxyPassword16)
HORODEX_REQUEST_TEXT(TLSRootFile, extraCaFile, tlsRootFile16)

void CRequest::put_Timeout(unsigned long overallMs) {
  m_impl->http.timeouts = CHttpTimeouts::Within(overallMs);
}

#undef HORODEX_REQUEST_TEXT

void CRequest::put_ProxyAddress(const wchar_t* url) {
  const wchar_t* text = url == nullptr ? L"" : url;
  Platform::Utf16String converted = Platform::WideToUtf16(text);
  m_impl->http.proxy = text;
  m_impl->proxy16.swap(converted);
  m_impl->http.proxySet = true;
}

void CRequest::put_ProxyAddress(const unsigned short* url) {
  if (url == nullptr) {
    put_ProxyAddress(static_cast<const wchar_t*>(nullptr));
  } else {
    put_ProxyAddress(Wide(url).c_str());
  }
}

template <>
const wchar_t* CRequest::get_ProxyAddress<wchar_t>() const {
  return m_impl->http.proxy.c_str();
}

template <>
const unsigned short* CRequest::get_ProxyAddress<unsigned short>() const {
  return m_impl->proxy16.c_str();
}

void CRequest::put_TSAAuthType(enumAuthTypes type) {
  m_impl->http.serverAuthScheme = type;
}

CRequest::enumAuthTypes CRequest::get_TSAAuthType() const {
  return static_cast<enumAuthTypes>(m_impl->http.serverAuthScheme);
}

void CRequest::put_ProxyAuthType(enumAuthTypes type) {
  m_impl->http.proxyAuthScheme = type;
}

CRequest::enumAuthTypes CRequest::get_ProxyAuthType() const {
  return static_cast<enumAuthTypes>(m_impl->http.proxyAuthScheme);
}

Platform::PCCERT_CONTEXT CRequest::get_ClientCertificate() const {
  return m_impl->clientCert.get();
}

unsigned long CRequest::get_HTTPStatus() const {
  return m_impl->http.httpStatus;
}

CBlob CRequest::get_Response() const {
  return m_impl->response;
}

}  // namespace Velmora::PKI::TSP::Client
