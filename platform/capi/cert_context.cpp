// Certificate contexts: made from DER by our codec, counted by reference, with their properties.
#include <openssl/evp.h>

#include <cstring>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "platform/capi/capi_util.h"
#include "platform/capi/cert_internal.h"
#include "platform/capi/cert_name_match.h"
#include "platform/capi/cert_openssl.h"

namespace Velmora::Platform {

using Capi::CertContextImpl;
using Capi::CertData;
using Capi::Fail;
using Capi::Guard;
using Capi::ImplOf;
using Capi::KeyProvInfo;

namespace Capi {

namespace {

BYTE* Mutable(std::span<const BYTE> bytes) noexcept {
  return bytes.empty() ? nullptr : const_cast<BYTE*>(bytes.data());
}

DWORD Length(std::span<const BYTE> bytes) noexcept {
  return static_cast<DWORD>(bytes.size());
}

CRYPT_DATA_BLOB BlobOf(std::span<const BYTE> bytes) noexcept {
  return CRYPT_DATA_BLOB{Length(bytes), Mutable(bytes)};
}

CRYPT_ALGORITHM_IDENTIFIER AlgorithmOf(const ASN1::CAlgorithmIdentifier& algorithm) noexcept {
  return CRYPT_ALGORITHM_IDENTIFIER{const_cast<char*>(algorithm.get_algorithm()),
                                    BlobOf(algorithm.get_parameters().span())};
}

CRYPT_BIT_BLOB BitsOf(const ASN1::CCertificate::BitString& bits) noexcept {
  return CRYPT_BIT_BLOB{Length(bits.bytes), Mutable(bits.bytes), bits.unusedBits};
}

std::vector<BYTE> Digest(const EVP_MD* md, std::span<const BYTE> data) {
  std::vector<BYTE> out(static_cast<std::size_t>(EVP_MD_get_size(md)));
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), out.data(), &length, md, nullptr) != 1) {
    AtlThrow(NTE_FAIL);
  }
  out.resize(length);
  return out;
}

// The cached bytes of a computed property, or the value `compute` gives, stored for next time.
template <typename Compute>
std::vector<BYTE> CachedProperty(const CertContextImpl& context, DWORD id, Compute&& compute) {
  auto& self = const_cast<CertContextImpl&>(context);
  {
    std::lock_guard lock(self.propertyMutex);
    const auto found = self.properties.find(id);
    if (found != self.properties.end()) {
      if (const auto* bytes = std::get_if<std::vector<BYTE>>(&found->second)) {
        return *bytes;
      }
    }
  }
  std::vector<BYTE> value = compute();
  std::lock_guard lock(self.propertyMutex);
  self.properties.emplace(id, value);
  return value;
}

// Bytes of a computed property, or nothing when `id` is not one.
std::optional<std::vector<BYTE>> ComputedProperty(const CertContextImpl& context, DWORD id) {
  switch (id) {
    case CERT_SHA1_HASH_PROP_ID:
      return Sha1HashOf(context);
    case CERT_MD5_HASH_PROP_ID:
      return CachedProperty(context, id,
                            [&] { return Digest(EVP_md5(), context.data->encoded()); });
    case CERT_SHA256_HASH_PROP_ID:
      return CachedProperty(context, id,
                            [&] { return Digest(EVP_sha256(), context.data->encoded()); });
    case CERT_KEY_IDENTIFIER_PROP_ID:
      return KeyIdentifierOf(context);
    default:
      return std::nullopt;
  }
}

KeyProvInfo KeyProvInfoFrom(const CRYPT_KEY_PROV_INFO& info) {
  KeyProvInfo value;
  if (info.pwszContainerName != nullptr) {
    value.container = info.pwszContainerName;
  }
  if (info.pwszProvName != nullptr) {
    value.provider = info.pwszProvName;
  }
  value.provType = info.dwProvType;
  value.flags = info.dwFlags;
  value.keySpec = info.dwKeySpec;
  if (info.cProvParam != 0 && info.rgProvParam == nullptr) {
    AtlThrow(E_INVALIDARG);
  }
  for (DWORD i = 0; i < info.cProvParam; ++i) {
    const CRYPT_KEY_PROV_PARAM& param = info.rgProvParam[i];
    if (param.cbData != 0 && param.pbData == nullptr) {
      AtlThrow(E_INVALIDARG);
    }
    KeyProvInfo::Param copy;
    copy.id = param.dwParam;
    copy.flags = param.dwFlags;
    if (param.cbData != 0) {
      copy.data.assign(param.pbData, param.pbData + param.cbData);
    }
    value.params.push_back(std::move(copy));
  }
  return value;
}

wchar_t* CopyWide(Arena& arena, const std::optional<std::wstring>& text) {
  if (!text) {
    return nullptr;
  }
  wchar_t* out = arena.take<wchar_t>(text->size() + 1);
  if (out != nullptr) {
    std::memcpy(out, text->c_str(), (text->size() + 1) * sizeof(wchar_t));
  }
  return out;
}

void LayOutKeyProvInfo(Arena& arena, const KeyProvInfo& value) {
  auto* info = arena.take<CRYPT_KEY_PROV_INFO>(1);
  auto* params =
      value.params.empty() ? nullptr : arena.take<CRYPT_KEY_PROV_PARAM>(value.params.size());
  wchar_t* container = CopyWide(arena, value.container);
  wchar_t* provider = CopyWide(arena, value.provider);
  for (std::size_t i = 0; i < value.params.size(); ++i) {
    BYTE* data = arena.copy(value.params[i].data);
    if (arena.writing()) {
      params[i] = CRYPT_KEY_PROV_PARAM{value.params[i].id, data,
                                       static_cast<DWORD>(value.params[i].data.size()),
                                       value.params[i].flags};
    }
  }
  if (arena.writing()) {
    *info = CRYPT_KEY_PROV_INFO{container,
                                provider,
                                value.provType,
                                value.flags,
                                static_cast<DWORD>(value.params.size()),
                                params,
                                value.keySpec};
  }
}

}  // namespace

CertData::CertData(const BYTE* encoded, DWORD length) {
  m_certificate.decode(CBlob(std::span<const BYTE>(encoded, length)));
  const ASN1::CCertificate& c = m_certificate;
  const std::span<const BYTE> serial = c.get_serialNumber();
  m_serialLittleEndian.resize(serial.size());
  ReverseInto(serial, m_serialLittleEndian.data());
  if (const ASN1::CExtensions* extensions = c.get_extensions()) {
    m_extensions.reserve(extensions->size());
    for (const ASN1::CExtension& e : *extensions) {
      m_extensions.push_back(CERT_EXTENSION{const_cast<char*>(e.get_extnID()),
                                            e.get_critical() ? TRUE : FALSE,
                                            BlobOf(e.get_extnValue().span())});
    }
  }
  m_info.dwVersion = c.get_version();
  m_info.SerialNumber = CRYPT_INTEGER_BLOB{static_cast<DWORD>(m_serialLittleEndian.size()),
                                           m_serialLittleEndian.data()};
  m_info.SignatureAlgorithm = AlgorithmOf(c.get_signature());
  m_info.Issuer = BlobOf(c.get_issuer());
  m_info.NotBefore = c.get_notBefore().getFileTime();
  m_info.NotAfter = c.get_notAfter().getFileTime();
  m_info.Subject = BlobOf(c.get_subject());
  m_info.SubjectPublicKeyInfo.Algorithm = AlgorithmOf(c.get_publicKeyAlgorithm());
  m_info.SubjectPublicKeyInfo.PublicKey = BitsOf(c.get_subjectPublicKey());
  m_info.IssuerUniqueId = BitsOf(c.get_issuerUniqueID());
  m_info.SubjectUniqueId = BitsOf(c.get_subjectUniqueID());
  m_info.cExtension = static_cast<DWORD>(m_extensions.size());
  m_info.rgExtension = m_extensions.empty() ? nullptr : m_extensions.data();
}

CertData::~CertData() {
  X509_free(m_x509);
}

const std::string& CertData::subjectKey() const {
  std::call_once(m_subjectKeyOnce, [this] { m_subjectKey = NameMatchKey(m_info.Subject); });
  return m_subjectKey;
}

const std::string& CertData::issuerKey() const {
  std::call_once(m_issuerKeyOnce, [this] { m_issuerKey = NameMatchKey(m_info.Issuer); });
  return m_issuerKey;
}

std::optional<bool> CertData::signedBy(const std::shared_ptr<const CertData>& issuer) const {
  std::lock_guard lock(m_signedByMutex);
  for (const auto& [known, verdict] : m_signedBy) {
    if (!known.owner_before(issuer) && !issuer.owner_before(known)) {
      return verdict;
    }
  }
  return std::nullopt;
}

void CertData::keepSignedBy(const std::shared_ptr<const CertData>& issuer, bool verdict) const {
  constexpr std::size_t kMaxIssuers = 4;  // further issuers are found in the process memory
  std::lock_guard lock(m_signedByMutex);
  for (auto it = m_signedBy.begin(); it != m_signedBy.end();) {
    it = it->first.expired() ? m_signedBy.erase(it) : it + 1;
  }
  if (m_signedBy.size() < kMaxIssuers) {
    m_signedBy.emplace_back(issuer, verdict);
  }
}

X509* CertData::x509() const {
  std::lock_guard lock(m_x509Mutex);
  if (!m_x509Tried) {
    m_x509Tried = true;
    const std::span<const BYTE> bytes = encoded();
    const unsigned char* p = bytes.data();
    m_x509 = d2i_X509(nullptr, &p, static_cast<long>(bytes.size()));
    if (m_x509 != nullptr && p != bytes.data() + bytes.size()) {
      X509_free(m_x509);
      m_x509 = nullptr;
    }
  }
  return m_x509;
}

CertContextImpl::CertContextImpl(std::shared_ptr<const CertData> certificate)
    : CERT_CONTEXT{}, data(std::move(certificate)) {
  const std::span<const BYTE> bytes = data->encoded();
  dwCertEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
  pbCertEncoded = Mutable(bytes);
  cbCertEncoded = Length(bytes);
  pCertInfo = const_cast<CERT_INFO*>(&data->info());
  hCertStore = nullptr;
}

CertContextImpl* CopyContextInto(const CertContextImpl& source, StoreImpl* store) {
  auto copy = std::make_unique<CertContextImpl>(source.data);
  copy->dwCertEncodingType = source.dwCertEncodingType;
  {
    std::lock_guard lock(source.propertyMutex);
    copy->properties = source.properties;
  }
  copy->store = store;
  copy->hCertStore = store;
  return copy.release();
}

std::vector<BYTE> Sha1HashOf(const CertContextImpl& context) {
  return CachedProperty(context, CERT_SHA1_HASH_PROP_ID,
                        [&] { return Digest(EVP_sha1(), context.data->encoded()); });
}

std::vector<BYTE> KeyIdentifierOf(const CertContextImpl& context) {
  return CachedProperty(context, CERT_KEY_IDENTIFIER_PROP_ID, [&] {
    const ASN1::CCertificate& certificate = context.data->certificate();
    try {
      const std::span<const BYTE> declared = certificate.get_subjectKeyIdentifier();
      if (!declared.empty()) {
        return std::vector<BYTE>(declared.begin(), declared.end());
      }
    } catch (const CAtlException&) {
      // A malformed subjectKeyIdentifier names nothing; the key itself still does.
    }
    return Digest(EVP_sha1(), certificate.get_subjectPublicKey().bytes);
  });
}

bool SameIntegerBlob(const CRYPT_INTEGER_BLOB& a, const CRYPT_INTEGER_BLOB& b) noexcept {
  auto significant = [](const CRYPT_INTEGER_BLOB& blob) {
    std::size_t n = blob.cbData;
    while (n > 1) {
      const BYTE top = blob.pbData[n - 1];
      const BYTE next = blob.pbData[n - 2];
      if ((top == 0x00 && next < 0x80) || (top == 0xFF && next >= 0x80)) {
        --n;
      } else {
        break;
      }
    }
    return n;
  };
  const std::size_t na = a.cbData == 0 ? 0 : significant(a);
  const std::size_t nb = b.cbData == 0 ? 0 : significant(b);
  return na == nb && (na == 0 || std::memcmp(a.pbData, b.pbData, na) == 0);
}

// The certificates decoded lately, by their encoding: the stamps of one TSA carry the same
// certificates, and a program that verifies many of them (or a stamp imported, cloned and chained)
// would otherwise decode each again every time. A decoded certificate never changes, so contexts
// share it; the memo is emptied when it grows too large.
std::shared_ptr<const CertData> DecodedCertificate(const BYTE* encoded, DWORD length) {
  constexpr std::size_t kMaxKept = 256;
  static std::mutex mutex;
  static auto* kept = new std::unordered_map<std::string_view, std::shared_ptr<const CertData>>();
  const std::string_view bytes(reinterpret_cast<const char*>(encoded), length);
  {
    std::lock_guard lock(mutex);
    if (const auto found = kept->find(bytes); found != kept->end()) {
      return found->second;
    }
  }
  auto data = std::make_shared<const CertData>(encoded, length);
  const std::span<const BYTE> own = data->encoded();
  const std::string_view key(reinterpret_cast<const char*>(own.data()), own.size());
  if (key == bytes) {  // the key lives in the certificate it names
    std::lock_guard lock(mutex);
    if (kept->size() >= kMaxKept) {
      kept->clear();
    }
    kept->emplace(key, data);
  }
  return data;
}

}  // namespace Capi

PCCERT_CONTEXT CertCreateCertificateContext(DWORD dwCertEncodingType, const BYTE* pbCertEncoded,
                                            DWORD cbCertEncoded) {
  if ((dwCertEncodingType & CERT_ENCODING_TYPE_MASK) != X509_ASN_ENCODING ||
      (pbCertEncoded == nullptr && cbCertEncoded != 0)) {
    return Fail<PCCERT_CONTEXT>(E_INVALIDARG, nullptr);
  }
  return Guard<PCCERT_CONTEXT>(nullptr, [&]() -> PCCERT_CONTEXT {
    auto* context = new CertContextImpl(Capi::DecodedCertificate(pbCertEncoded, cbCertEncoded));
    context->dwCertEncodingType = dwCertEncodingType;
    return context;
  });
}

PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT pCertContext) {
  if (pCertContext != nullptr) {
    ImplOf(pCertContext)->refs.fetch_add(1, std::memory_order_relaxed);
  }
  return pCertContext;
}

BOOL CertFreeCertificateContext(PCCERT_CONTEXT pCertContext) {
  if (pCertContext == nullptr) {
    return TRUE;
  }
  CertContextImpl* context = ImplOf(pCertContext);
  if (context->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    Capi::StoreImpl* store = context->store;
    delete context;
    if (store != nullptr) {
      Capi::ReleaseStoreMemory(store);
    }
  }
  return TRUE;
}

BOOL CertCompareCertificate(DWORD dwCertEncodingType, PCCERT_INFO pCertId1, PCCERT_INFO pCertId2) {
  if (pCertId1 == nullptr || pCertId2 == nullptr) {
    return Fail(E_INVALIDARG, FALSE);
  }
  return CertCompareCertificateName(dwCertEncodingType, &pCertId1->Issuer, &pCertId2->Issuer) &&
                 Capi::SameIntegerBlob(pCertId1->SerialNumber, pCertId2->SerialNumber)
             ? TRUE
             : FALSE;
}

BOOL CertCompareCertificateName(DWORD, const CERT_NAME_BLOB* pCertName1,
                                const CERT_NAME_BLOB* pCertName2) {
  if (pCertName1 == nullptr || pCertName2 == nullptr) {
    return Fail(E_INVALIDARG, FALSE);
  }
  return Capi::NamesMatch(*pCertName1, *pCertName2) ? TRUE : FALSE;
}

BOOL CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, void* pvData,
                                       DWORD* pcbData) {
  if (pCertContext == nullptr || pcbData == nullptr || dwPropId == 0) {
    return Fail(E_INVALIDARG, FALSE);
  }
  return Guard(FALSE, [&]() -> BOOL {
    const CertContextImpl& context = *ImplOf(pCertContext);
    if (const auto computed = Capi::ComputedProperty(context, dwPropId)) {
      return Capi::CopyOut(*computed, pvData, pcbData);
    }
    std::optional<Capi::PropertyValue> value;
    {
      std::lock_guard lock(context.propertyMutex);
      const auto found = context.properties.find(dwPropId);
      if (found != context.properties.end()) {
        value = found->second;
      }
    }
    if (!value) {
      return Fail(CRYPT_E_NOT_FOUND, FALSE);
    }
    if (const auto* info = std::get_if<KeyProvInfo>(&*value)) {
      return Capi::LayOut(pvData, pcbData,
                          [&](Capi::Arena& arena) { Capi::LayOutKeyProvInfo(arena, *info); });
    }
    return Capi::CopyOut(std::get<std::vector<BYTE>>(*value), pvData, pcbData);
  });
}

BOOL CertSetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, DWORD,
                                       const void* pvData) {
  if (pCertContext == nullptr || dwPropId == 0) {
    return Fail(E_INVALIDARG, FALSE);
  }
  return Guard(FALSE, [&]() -> BOOL {
    CertContextImpl& context = *ImplOf(pCertContext);
    std::optional<Capi::PropertyValue> value;
    if (pvData != nullptr) {
      if (dwPropId == CERT_KEY_PROV_INFO_PROP_ID) {
        value = Capi::KeyProvInfoFrom(*static_cast<const CRYPT_KEY_PROV_INFO*>(pvData));
      } else {
        const auto* blob = static_cast<const CRYPT_DATA_BLOB*>(pvData);
        if (blob->cbData != 0 && blob->pbData == nullptr) {
          return Fail(E_INVALIDARG, FALSE);
        }
        value = blob->cbData == 0 ? std::vector<BYTE>()
                                  : std::vector<BYTE>(blob->pbData, blob->pbData + blob->cbData);
      }
    }
    std::lock_guard lock(context.propertyMutex);
    if (value) {
      context.properties.insert_or_assign(dwPropId, std::move(*value));
    } else {
      context.properties.erase(dwPropId);
    }
    return TRUE;
  });
}

DWORD CertEnumCertificateContextProperties(PCCERT_CONTEXT pCertContext, DWORD dwPropId) {
  if (pCertContext == nullptr) {
    return 0;
  }
  const CertContextImpl& context = *ImplOf(pCertContext);
  std::lock_guard lock(context.propertyMutex);
  const auto next = context.properties.upper_bound(dwPropId);
  return next == context.properties.end() ? 0 : next->first;
}

X509* CertContextGetX509(PCCERT_CONTEXT pCertContext) {
  if (pCertContext == nullptr) {
    return Fail<X509*>(E_INVALIDARG, nullptr);
  }
  X509* certificate = ImplOf(pCertContext)->data->x509();
  if (certificate == nullptr) {
    return Fail<X509*>(CRYPT_E_ASN1_ERROR, nullptr);
  }
  return certificate;
}

}  // namespace Velmora::Platform
