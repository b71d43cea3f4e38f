// Verification of a stamp: the TSA certificate, the token's signature and content type, and the
// TSA certificate's chain under the time-stamping chain policy.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "TSP/horodex/ChainJudgement.h"
#include "TSP/horodex/SignerIdMatch.h"
#include "TSP/horodex/TSPStamp_Impl.h"
#include "codec/asnkit/signed_attributes.h"
#include "codec/cms/signature_check.h"
#include "codec/stampmsg/token.h"
#include "horodex/GetCertID.h"
#include "horodex/TSPRequest.h"
#include "platform/capi/weak_algorithms.h"
#include "platform/capi/wincrypt_chain.h"
#include "platform/capi/wincrypt_encode.h"
#include "platform/capi/wincrypt_revocation.h"
#include "platform/errors/guard.h"
#include "platform/file/path_watch.h"
#include "policy/RevocationPolicies.h"
#include "policy/SignaturePolicies.h"
#include "support/errors.h"
#include "support/trace.h"

namespace Velmora::PKI::TSP::Client {

using Platform::DWORD;
using Platform::HRESULT;
using Support::ThrowHResult;

namespace {

constexpr const char* kVerifyCertificate = "Velmora::PKI::TSP::Client::CStamp::VerifyCertificate";
constexpr const char* kTstInfoType = "1.2.840.113549.1.9.16.1.4";

constexpr DWORD kEncoding = Platform::X509_ASN_ENCODING | Platform::PKCS_7_ASN_ENCODING;

// The HRESULT of the platform's last error; E_FAIL when it recorded none.
HRESULT PlatformFailure() noexcept {
  const HRESULT hr = Support::HResultFromLastError();
  return hr != 0 ? hr : Platform::E_FAIL;
}

[[noreturn]] void ThrowPlatformFailure() {
  ThrowHResult(PlatformFailure());
}

CBlob EncodedOf(Platform::PCCERT_CONTEXT certificate) {
  return CBlob(certificate->pbCertEncoded, certificate->cbCertEncoded);
}

// Pointer-aligned storage of `size` bytes.
std::vector<std::uint64_t> AlignedBuffer(DWORD size) {
  return std::vector<std::uint64_t>(size / sizeof(std::uint64_t) + 1);
}

// One parameter of signer 0 of a message, read by the size query; false with the platform's
// error when it cannot be read.
bool ReadParam(Platform::HCRYPTMSG message, DWORD param, std::vector<std::uint64_t>& buffer,
               DWORD* length = nullptr) {
  DWORD size = 0;
  Platform::SetLastError(0);
  if (!Platform::CryptMsgGetParam(message, param, 0, nullptr, &size)) {
    return false;
  }
  buffer = AlignedBuffer(size);
  if (!Platform::CryptMsgGetParam(message, param, 0, buffer.data(), &size)) {
    return false;
  }
  if (length != nullptr) {
    *length = size;
  }
  return true;
}

// The first certificate of `store` that `id` names and that can be cloned goes into `cache`.
HRESULT CacheFirstMatch(CertContextPtr& cache, Platform::HCERTSTORE store,
                        const ASN1::COtherCertID& id) {
  // The enumeration frees the context it is handed back; the one it holds is freed on every way
  // out.
  CertContextPtr held;
  while (held.reset(Platform::CertEnumCertificatesInStore(store, held.release())), held) {
    if (!CheckCertId(id, EncodedOf(held.get()))) {
      continue;
    }
    // The certificate already cached stays: the pointer handed out keeps its meaning.
    if (cache && EncodedOf(cache.get()) == EncodedOf(held.get())) {
      return Platform::S_OK;
    }
    Platform::PCCERT_CONTEXT clone = held.get();
    if (Platform::FAILED(CloneCertificateWithProperties(&clone))) {
      continue;
    }
    (void)held.release();  // the clone replaced (and freed) the store's context
    cache.reset(clone);
    return Platform::S_OK;
  }
  return Platform::CRYPT_E_NOT_FOUND;
}

// The first certificate of `store` with the CMS signer identifier `id` goes into `cache`, as its
// clone when cloning works. Returns false when the store holds none; otherwise `result` is the
// clone's result.
bool CacheSignerById(CertContextPtr& cache, Platform::HCERTSTORE store, const Platform::CERT_ID& id,
                     HRESULT& result) {
  Platform::PCCERT_CONTEXT found = Platform::CertFindCertificateInStore(
      store, kEncoding, 0, Platform::CERT_FIND_CERT_ID, &id, nullptr);
  if (found == nullptr) {
    return false;
  }
  result = CloneCertificateWithProperties(&found);
  cache.reset(found);  // the clone, or the store's context when cloning failed
  return true;
}

// The current user's "AddressBook", read-only.
HRESULT OpenAddressBook(CertStoreHandle& store) {
  return store.Open(Platform::CERT_STORE_PROV_SYSTEM_W, 0, 0,
                    Platform::CERT_STORE_READONLY_FLAG | Platform::CERT_SYSTEM_STORE_CURRENT_USER,
                    L"AddressBook");
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Signed attributes and content type

CStamp::Impl::SignedAttributes CStamp::Impl::GetSignedAttributes(Platform::HCRYPTMSG message) {
  const CryptMsgPtr duplicate(Platform::CryptMsgDuplicate(message));
  SignedAttributes result;
  if (duplicate &&
      ReadParam(duplicate.get(), Platform::CMSG_SIGNER_AUTH_ATTR_PARAM, result.buffer)) {
    result.attributes = reinterpret_cast<const Platform::CRYPT_ATTRIBUTES*>(result.buffer.data());
    return result;
  }
  // The attributes as part of the decoded signer information.
  if (!duplicate) {
    ThrowHResult(Platform::E_FAIL);
  }
  std::vector<std::uint64_t> signer;
  DWORD signerSize = 0;
  if (!ReadParam(duplicate.get(), Platform::CMSG_ENCODED_SIGNER, signer, &signerSize)) {
    ThrowPlatformFailure();
  }
  const auto* encoded = reinterpret_cast<const Platform::BYTE*>(signer.data());
  DWORD size = 0;
  if (!Platform::CryptDecodeObject(kEncoding, Platform::CMS_SIGNER_INFO, encoded, signerSize,
                                   Platform::CRYPT_DECODE_SHARE_OID_STRING_FLAG, nullptr, &size)) {
    ThrowPlatformFailure();
  }
  result.buffer = AlignedBuffer(size);
  if (!Platform::CryptDecodeObject(kEncoding, Platform::CMS_SIGNER_INFO, encoded, signerSize,
                                   Platform::CRYPT_DECODE_SHARE_OID_STRING_FLAG,
                                   result.buffer.data(), &size)) {
    ThrowPlatformFailure();
  }
  result.attributes =
      &reinterpret_cast<const Platform::CMSG_CMS_SIGNER_INFO*>(result.buffer.data())->AuthAttrs;
  return result;
}

bool CStamp::Impl::CheckContentType(Platform::HCRYPTMSG message) {
  const CryptMsgPtr duplicate(Platform::CryptMsgDuplicate(message));
  if (!duplicate) {
    ThrowHResult(Platform::E_FAIL);
  }
  DWORD size = 0;
  Platform::SetLastError(0);
  if (!Platform::CryptMsgGetParam(duplicate.get(), Platform::CMSG_INNER_CONTENT_TYPE_PARAM, 0,
                                  nullptr, &size)) {
    ThrowPlatformFailure();
  }
  std::string innerType(size, '\0');
  if (!Platform::CryptMsgGetParam(duplicate.get(), Platform::CMSG_INNER_CONTENT_TYPE_PARAM, 0,
                                  innerType.data(), &size)) {
    ThrowPlatformFailure();
  }
  innerType.resize(std::strlen(innerType.c_str()));
  if (innerType != kTstInfoType) {
    return false;
  }

  const SignedAttributes signedAttributes = GetSignedAttributes(duplicate.get());
  const Platform::CRYPT_ATTRIBUTE* attribute =
      FindAttribute(*signedAttributes.attributes, ASN1::kOidContentType);
  if (attribute == nullptr) {
    return false;
  }
  const ASN1::CAttrContentType contentType(
      CBlob(attribute->rgValue[0].pbData, attribute->rgValue[0].cbData));
  if (contentType.get_contentType() == nullptr) {
    ThrowHResult(Platform::E_FAIL);
  }
  return innerType == contentType.get_contentType();
}

// ---------------------------------------------------------------------------------------------
// Weak algorithms

namespace {

// The hashes the token's signature is made with: its digest algorithm's and its signature
// algorithm's (the same, or "" when the latter names none).
std::pair<std::string, std::string> SignatureHashesOf(const TSP::CToken& token) {
  const ASN1::CSignerInfo& signer = token.get_signerInfo();
  std::string digest = signer.get_digestAlgorithm().get_algorithm();
  const ASN1::CAlgorithmIdentifier& algorithm = signer.get_signatureAlgorithm();
  const CBlob& parameters = algorithm.get_parameters();
  std::string hash = Platform::Capi::SignatureHashOf(
      algorithm.get_algorithm(),
      std::span<const std::uint8_t>(parameters.pbData(), parameters.cbData()), digest);
  return {std::move(digest), std::move(hash)};
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Finding the TSA certificate

HRESULT CStamp::Impl::ReadSignerCertId(ASN1::COtherCertID& id) {
  if (!message) {
    const HRESULT opened = OpenMessage();
    if (Platform::FAILED(opened)) {
      return opened;
    }
  }
  std::vector<std::uint64_t> buffer;
  if (!ReadParam(message.get(), Platform::CMSG_SIGNER_AUTH_ATTR_PARAM, buffer)) {
    return PlatformFailure();
  }
  const auto& attributes = *reinterpret_cast<const Platform::CRYPT_ATTRIBUTES*>(buffer.data());
  try {
    id = GetSignerCertIdEx(attributes);
  } catch (...) {
    return Platform::HResultOfCurrentException();
  }
  if (id.get_otherCertHash().get_otherHash() == nullptr) {
    return Platform::CRYPT_E_NOT_FOUND;
  }
  return Platform::S_OK;
}

HRESULT CStamp::Impl::FindTSACertificate(void** stores, unsigned long count,
                                         Platform::PCCERT_CONTEXT candidate) {
  ASN1::COtherCertID id;
  const HRESULT read = ReadSignerCertId(id);
  if (Platform::FAILED(read)) {
    return read;
  }
  signerCertIdHash = id.get_otherCertHash().get_otherHash()->get_hashAlgorithm().get_algorithm();

  if (candidate != nullptr && CheckCertId(id, EncodedOf(candidate))) {
    // The cache stays only when it holds this very certificate. The same issuer and serial number
    // are not enough: a certificate found by the CMS signer id alone may share them with the one
    // the attribute names, and the signature would then be checked under a key the attribute
    // does not name.
    const bool cached = tsaCertificate &&
                        Platform::CertCompareCertificate(kEncoding, tsaCertificate->pCertInfo,
                                                         candidate->pCertInfo) &&
                        EncodedOf(tsaCertificate.get()) == EncodedOf(candidate);
    if (!cached) {
      tsaCertificate.reset(Platform::CertDuplicateCertificateContext(candidate));
    }
    return Platform::S_OK;
  }

  if (certStore && Platform::SUCCEEDED(CacheFirstMatch(tsaCertificate, certStore.get(), id))) {
    return Platform::S_OK;
  }
  for (unsigned long i = 0; stores != nullptr && i < count; ++i) {
    CertStoreHandle store;
    if (stores[i] == nullptr || Platform::FAILED(store.Attach(stores[i]))) {
      continue;
    }
    if (Platform::SUCCEEDED(CacheFirstMatch(tsaCertificate, store.get(), id))) {
      return Platform::S_OK;
    }
  }
  CertStoreHandle addressBook;
  if (Platform::FAILED(OpenAddressBook(addressBook))) {
    return Platform::CRYPT_E_NOT_FOUND;
  }
  return CacheFirstMatch(tsaCertificate, addressBook.get(), id);
}

bool CStamp::Impl::SignerIdNamesTsaCertificate(const ASN1::CSignerInfo& signer) const {
  return tsaCertificate && SignerIdNames(signer, tsaCertificate.get());
}

HRESULT CStamp::Impl::FindTSACertificateBySignerId(void** stores, unsigned long count) {
  if (!message) {
    const HRESULT opened = OpenMessage();
    if (Platform::FAILED(opened)) {
      return opened;
    }
  }
  std::vector<std::uint64_t> buffer;
  if (!ReadParam(message.get(), Platform::CMSG_SIGNER_CERT_ID_PARAM, buffer)) {
    return PlatformFailure();
  }
  const auto& id = *reinterpret_cast<const Platform::CERT_ID*>(buffer.data());

  tsaCertificate.reset();
  HRESULT result = Platform::S_OK;
  if (certStore && CacheSignerById(tsaCertificate, certStore.get(), id, result)) {
    return result;
  }
  for (unsigned long i = 0; stores != nullptr && i < count; ++i) {
    CertStoreHandle store;
    if (stores[i] == nullptr || Platform::FAILED(store.Attach(stores[i]))) {
      continue;
    }
    if (CacheSignerById(tsaCertificate, store.get(), id, result)) {
      return result;
    }
  }
  CertStoreHandle addressBook;
  if (Platform::FAILED(OpenAddressBook(addressBook)) ||
      !CacheSignerById(tsaCertificate, addressBook.get(), id, result)) {
    return Platform::CRYPT_E_NOT_FOUND;
  }
  return result;
}

HRESULT CStamp::Impl::AddStoreToCollection(CertStoreHandle& collection,
                                           const CertStoreHandle& member) {
  if (!collection) {
    return Platform::E_FAIL;
  }
  Platform::SetLastError(0);
  if (!Platform::CertAddStoreToCollection(collection.get(), member.get(), 0, 0)) {
    return PlatformFailure();
  }
  return collection.AddMember(member);
}

// ---------------------------------------------------------------------------------------------
// The exported operations

int CStamp::Verify(const Platform::CERT_CONTEXT* certificate, char* list) const {
  Impl& s = *m_impl;
  const HRESULT found = s.FindTSACertificate(nullptr, 0, certificate);
  if (Platform::FAILED(found)) {
    return found;
  }
  if (!s.message && Platform::FAILED(s.OpenMessage())) {
    return Platform::E_FAIL;
  }
  if (!Impl::CheckContentType(s.message.get())) {
    return Platform::E_FAIL;
  }

  TSP::CToken decoded;
  if (!s.token) {
    decoded.decode(s.encodedToken);
  }
  const TSP::CToken& token = s.token ? *s.token : decoded;
  switch (token.checkSignature(EncodedOf(s.tsaCertificate.get()))) {
    case ASN1::SignatureCheck::Valid:
      break;
    case ASN1::SignatureCheck::Unsupported:
      return Platform::NTE_BAD_ALGID;  // not known to be bad: not verifiable here
    case ASN1::SignatureCheck::Invalid:
      return Platform::NTE_BAD_SIGNATURE;
  }
  // The signer identifier must name the certificate whose key verified the signature, the one
  // the signing-certificate attribute selected: a token that names another signer is refused.
  if (!s.SignerIdNamesTsaCertificate(token.get_signerInfo())) {
    return Platform::CRYPT_E_SIGNER_NOT_FOUND;
  }
  // MD5 (MD4, MD2) anywhere is refused at any date; a SHA-1 signature by the dated rule, read
  // only for such a token. The size of the TSA's key at genTime is judged with its chain.
  const auto [digest, hash] = SignatureHashesOf(token);
  using Platform::Capi::IsBrokenHash;
  if (IsBrokenHash(digest) || IsBrokenHash(hash) ||
      IsBrokenHash(token.get_hashAlgorithm().get_algorithm()) || IsBrokenHash(s.signerCertIdHash)) {
    return Platform::CRYPT_E_SECURITY_SETTINGS;
  }
  constexpr const char* kSha1 = "1.3.14.3.2.26";
  if (digest == kSha1 || hash == kSha1) {
    const Platform::PathWatch::Scope oneLook;
    CSignaturePolicies policies;
    policies.Load();
    if (Platform::Capi::IsWeakSignature(kSha1, 0, FileTimeValueOf(token.get_genTime()),
                                        WeakRuleOf(policies))) {
      return Platform::CRYPT_E_SECURITY_SETTINGS;
    }
  }

  const ASN1::CExtensions* extensions = token.get_extensions();
  if (extensions == nullptr) {
    return Platform::S_OK;
  }
  if (list != nullptr && std::strcmp(list, "*") == 0) {
    return Platform::S_OK;
  }
  const std::string accepted = list != nullptr ? ";" + std::string(list) + ";" : std::string();
  for (const ASN1::CExtension& extension : *extensions) {
    if (!extension.get_critical()) {
      continue;
    }
    if (list == nullptr) {
      return Platform::CERT_E_CRITICAL;
    }
    const std::string item = ";" + std::string(extension.get_extnID()) + ";";
    if (accepted.find(item) == std::string::npos) {
      return Platform::CERT_E_CRITICAL;
    }
  }
  return Platform::S_OK;
}

const Platform::CERT_CONTEXT* CStamp::get_TSACertificate(void** stores, unsigned long count) const {
  Impl& s = *m_impl;
  if (s.encodedToken.empty()) {
    Support::ThrowWin32Error(Platform::ERROR_INVALID_STATE);
  }
  if (Platform::SUCCEEDED(s.FindTSACertificate(stores, count, nullptr))) {
    return s.tsaCertificate.get();
  }
  if (Platform::SUCCEEDED(s.FindTSACertificateBySignerId(stores, count))) {
    return s.tsaCertificate.get();
  }
  return nullptr;
}

int CStamp::VerifyCertificate(const Platform::CERT_CONTEXT* certificate, void** stores,
                              unsigned long count) const {
  return VerifyCertificate(certificate, stores, count, 0, nullptr);
}

int CStamp::VerifyCertificate(const Platform::CERT_CONTEXT* certificate, void** stores,
                              unsigned long count, Platform::DWORD chainFlags,
                              const Platform::CERT_CHAIN_CONTEXT** chain) const {
  if (chain != nullptr) {
    *chain = nullptr;
  }
  Impl& s = *m_impl;
  // The policies, the stores and the trust sources are looked at as they are when the call starts.
  const Platform::PathWatch::Scope oneLook;
  const Platform::CERT_CONTEXT* subject = certificate;
  if (subject == nullptr) {
    subject = s.tsaCertificate ? s.tsaCertificate.get() : get_TSACertificate(stores, count);
  }
  if (subject == nullptr) {
    ThrowHResult(Platform::CRYPT_E_NOT_FOUND);
  }

  // Whether the subject is the certificate the token names; only written to the trace, so only
  // hashed when the trace would show it.
  if (Support::TraceIsEnabled(Support::VelmoraTraceGeneral, 2)) {
    bool named = false;
    if (s.message) {
      const Impl::SignedAttributes attributes = Impl::GetSignedAttributes(s.message.get());
      named = CheckSignerCertIdEx(*attributes.attributes, EncodedOf(subject));
    }
    if (!named) {
      HORODEX_TRACE(VelmoraTraceGeneral, 2, kVerifyCertificate,
                    "Signer certificate does not match authenticated attributes\n");
    }
  }

  // The token's certificates and the caller's stores as material for the chain.
  CertStoreHandle collection;
  HRESULT hr = collection.Open(Platform::CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
  if (Platform::FAILED(hr)) {
    ThrowHResult(hr);
  }
  hr = Impl::AddStoreToCollection(collection, s.certStore);
  if (Platform::FAILED(hr)) {
    ThrowHResult(hr);
  }
  for (unsigned long i = 0; stores != nullptr && i < count; ++i) {
    if (stores[i] == nullptr) {
      continue;
    }
    CertStoreHandle member;
    hr = member.Attach(stores[i]);
    if (Platform::SUCCEEDED(hr)) {
      hr = Impl::AddStoreToCollection(collection, member);
    }
    if (Platform::FAILED(hr)) {
      ThrowHResult(hr);
    }
  }

  ChainJudgement judgement =
      JudgeChainAt(subject, collection.get(), s.genTime,
                   s.token ? s.token->get_signedData().get_crls() : nullptr,
                   Platform::TSP_CHAIN_POLICY_ID, kVerifyCertificate, chainFlags);
  if (chain != nullptr) {
    *chain = judgement.chain.release();
  }
  return judgement.code;
}

}  // namespace Velmora::PKI::TSP::Client
