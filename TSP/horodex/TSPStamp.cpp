// CStamp: import of a TimeStampResp or a bare TimeStampToken, the stamp's fields, export and
// comparison.
#include <climits>
#include <cstring>
#include <span>
#include <vector>

#include "TSP/horodex/TSPRequest_Impl.h"
#include "TSP/horodex/TSPStamp_Impl.h"
#include "codec/asnkit/general_name.h"
#include "codec/asnkit/pki_status.h"
#include "codec/asnkit/signed_attributes.h"
#include "codec/cms/attribute.h"
#include "codec/stampmsg/response.h"
#include "codec/stampmsg/token.h"
#include "support/errors.h"
#include "support/oid_info.h"
#include "support/trace.h"

namespace Velmora::PKI::TSP::Client {

using Platform::DWORD;
using Platform::HRESULT;
using Support::ThrowHResult;
using Support::ThrowWin32Error;

namespace {

constexpr const char* kImport = "Velmora::PKI::TSP::Client::CStamp::Import";

constexpr DWORD kEncoding = Platform::X509_ASN_ENCODING | Platform::PKCS_7_ASN_ENCODING;

// The largest accuracy the stamp holds: its microsecond count is a signed 32-bit value.
constexpr std::uint64_t kMaxAccuracy = 0x7FFFFFFF;

// The HRESULT of the platform's last error; E_FAIL when it recorded none, so that a failure can
// never be reported as S_OK.
HRESULT PlatformFailure() noexcept {
  const HRESULT hr = Support::HResultFromLastError();
  return hr != 0 ? hr : Platform::E_FAIL;
}

[[noreturn]] void ThrowInvalidState() {
  ThrowWin32Error(Platform::ERROR_INVALID_STATE);
}

// The buffer rule of the byte getters: the size always goes to *length; a null buffer asks for
// the size only; a smaller buffer throws ERROR_MORE_DATA.
void CopyOut(const CBlob& value, unsigned char* buffer, unsigned long* length) {
  if (length == nullptr) {
    ThrowHResult(Platform::E_POINTER);
  }
  const unsigned long capacity = *length;
  *length = value.cbData();
  if (buffer == nullptr) {
    return;
  }
  if (value.cbData() > capacity) {
    ThrowWin32Error(Platform::ERROR_MORE_DATA);
  }
  if (!value.empty()) {
    std::memcpy(buffer, value.pbData(), value.cbData());
  }
}

// The code that names a TSA's refusal: that of the lowest failInfo bit set. HRESULTs are given as
// their 32-bit values, Win32 codes as numbers; ThrowWin32Error takes both.
DWORD MapFailInfo(unsigned int bits) {
  const ASN1::CPKIFailureInfo info(bits);
  unsigned lowest = 0;
  while (lowest < 32 && !info.get_bit(lowest)) {
    ++lowest;
  }
  switch (lowest) {
    case ASN1::CPKIFailureInfo::kBadAlg:
      return static_cast<DWORD>(Platform::NTE_BAD_ALGID);
    case ASN1::CPKIFailureInfo::kBadRequest:
    case ASN1::CPKIFailureInfo::kUnacceptedPolicy:
    case ASN1::CPKIFailureInfo::kUnacceptedExtension:
      return static_cast<DWORD>(Platform::NTE_NOT_SUPPORTED);
    case ASN1::CPKIFailureInfo::kBadDataFormat:
      return static_cast<DWORD>(Platform::NTE_BAD_DATA);
    default:
      return Platform::ERROR_INVALID_STATE;
  }
}

// ((seconds * 1000) + millis) * 1000 + micros, refused when it does not fit the stamp's signed
// 32-bit microsecond count (rather than wrapped around into a wrong or negative accuracy).
long AccuracyMicroseconds(const ASN1::CAccuracy& accuracy) {
  const std::uint64_t micros =
      (static_cast<std::uint64_t>(accuracy.get_seconds()) * 1000 + accuracy.get_millis()) * 1000 +
      accuracy.get_micros();
  if (micros > kMaxAccuracy) {
    ThrowHResult(Platform::CRYPT_E_ASN1_LARGE);
  }
  return static_cast<long>(micros);
}

// The CryptoAPI identifier of a hash algorithm's OID, as the OID registry gives it.
Platform::ALG_ID HashAlgId(const char* oid) {
  const Platform::CRYPT_OID_INFO* info =
      Support::FindOIDInfo(Platform::CRYPT_OID_INFO_OID_KEY, oid, 0);
  if (info == nullptr || info->Algid == 0) {
    const DWORD pending = Platform::GetLastError();
    if (pending != 0) {
      ThrowWin32Error(pending);
    }
    ThrowHResult(Platform::NTE_BAD_ALGID);
  }
  return info->Algid;
}

// A time in microseconds moved by `span` microseconds, held at the ends of the 64-bit range
// instead of overflowing.
std::int64_t Shifted(std::int64_t time, std::uint64_t span, bool later) noexcept {
  const std::int64_t amount =
      span > static_cast<std::uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<std::int64_t>(span);
  std::int64_t result = 0;
  if (later ? __builtin_add_overflow(time, amount, &result)
            : __builtin_sub_overflow(time, amount, &result)) {
    return later ? INT64_MAX : INT64_MIN;
  }
  return result;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Impl

void CStamp::Impl::copyFrom(const Impl& other) {
  status = other.status;
  statusString = other.statusString;
  failInfo = other.failInfo;
  fromResponse = other.fromResponse;
  certStore = other.certStore;
  tsaCertificate.reset();
  policyID = other.policyID;
  nonce = other.nonce;
  serialNumber = other.serialNumber;
  genTime = other.genTime;
  accuracy = other.accuracy;
  defaultAccuracy = other.defaultAccuracy;
  ordering = other.ordering;
  hashAlg = other.hashAlg;
  hashAlgOID = other.hashAlgOID;
  tsaName = other.tsaName;
  tsaBlob = other.tsaBlob;
  hashedMessage = other.hashedMessage;
  encodedToken = other.encodedToken;
  token = other.token;
  message.reset();
  statusString16 = other.statusString16;
  tsaName16 = other.tsaName16;
}

void CStamp::Impl::Reset() {
  message.reset();
  tsaCertificate.reset();
  CertStoreHandle fresh;
  const HRESULT hr = fresh.OpenMemory();
  if (Platform::FAILED(hr)) {
    ThrowHResult(hr);
  }
  certStore = std::move(fresh);
  status = 0;
  statusString.clear();
  statusString16.clear();
  failInfo = 0;
  policyID.clear();
  tsaBlob.clear();
  tsaName.clear();
  tsaName16.clear();
  hashedMessage.clear();
  encodedToken.clear();
  token.reset();
  accuracy = -1;
  defaultAccuracy = -1;
  genTime = CDateTime::Now();
  fromResponse = false;
  nonce = ASN1::CBigInteger();
  serialNumber = ASN1::CBigInteger();
  hashAlgOID.clear();
}

HRESULT CStamp::Impl::OpenMessage() {
  if (message) {
    return Platform::E_FAIL;
  }
  if (encodedToken.cbData() > 0xFFFFFFFFu) {
    return Platform::CRYPT_E_ASN1_LARGE;
  }
  Platform::SetLastError(0);
  if (token) {
    // The import decoded the token already: the message shares its SignedData.
    Platform::HCRYPTMSG opened = Platform::CryptMsgOpenDecoded(
        std::shared_ptr<const ASN1::CSignedData>(token, &token->get_signedData()));
    if (opened == nullptr) {
      return PlatformFailure();
    }
    message.reset(opened);
    return Platform::S_OK;
  }
  Platform::HCRYPTMSG opened = Platform::CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr);
  if (opened == nullptr) {
    return PlatformFailure();
  }
  message.reset(opened);
  if (!Platform::CryptMsgUpdate(opened, encodedToken.pbData(),
                                static_cast<DWORD>(encodedToken.cbData()), Platform::TRUE)) {
    return PlatformFailure();
  }
  return Platform::S_OK;
}

HRESULT CStamp::Impl::AddCertificate(const CBlob& certificate) {
  if (certificate.cbData() > 0xFFFFFFFFu) {
    return Platform::CRYPT_E_ASN1_LARGE;
  }
  Platform::SetLastError(0);
  const CertContextPtr context(Platform::CertCreateCertificateContext(
      kEncoding, certificate.pbData(), static_cast<DWORD>(certificate.cbData())));
  if (!context) {
    return PlatformFailure();
  }
  if (!certStore) {
    return Platform::E_FAIL;
  }
  if (!Platform::CertAddCertificateContextToStore(certStore.get(), context.get(),
                                                  Platform::CERT_STORE_ADD_ALWAYS, nullptr)) {
    return PlatformFailure();
  }
  return Platform::S_OK;
}

HRESULT CStamp::Impl::AddCertificateValues() {
  if (!message) {
    const HRESULT opened = OpenMessage();
    if (Platform::FAILED(opened) && opened != Platform::CRYPT_E_UNKNOWN_ALGO &&
        opened != Platform::NTE_BAD_ALGID) {
      return opened;
    }
  }
  // A token without unsigned attributes has nothing to add.
  DWORD size = 0;
  if (!message || !Platform::CryptMsgGetParam(
                      message.get(), Platform::CMSG_SIGNER_UNAUTH_ATTR_PARAM, 0, nullptr, &size)) {
    return Platform::S_OK;
  }
  std::vector<std::uint64_t> buffer((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
  if (!Platform::CryptMsgGetParam(message.get(), Platform::CMSG_SIGNER_UNAUTH_ATTR_PARAM, 0,
                                  buffer.data(), &size)) {
    return Platform::S_OK;
  }
  const auto& attributes = *reinterpret_cast<const Platform::CRYPT_ATTRIBUTES*>(buffer.data());
  for (DWORD i = 0; i < attributes.cAttr; ++i) {
    const Platform::CRYPT_ATTRIBUTE& attribute = attributes.rgAttr[i];
    if (std::strcmp(attribute.pszObjId, ASN1::AttributeOids::CertificateValues) != 0) {
      continue;
    }
    for (DWORD j = 0; j < attribute.cValue; ++j) {
      const Platform::CRYPT_ATTR_BLOB& value = attribute.rgValue[j];
      const ASN1::CCertificateValues values(CBlob(value.pbData, value.cbData));
      for (const CBlob& certificate : values.get_certs()) {
        const HRESULT added = AddCertificate(certificate);
        if (Platform::FAILED(added)) {
          return added;
        }
      }
    }
  }
  return Platform::S_OK;
}

// ---------------------------------------------------------------------------------------------
// Construction, copy, destruction

CStamp::CStamp() : m_impl(std::make_unique<Impl>()) {
  const HRESULT hr = m_impl->certStore.OpenMemory();
  if (Platform::FAILED(hr)) {
    ThrowHResult(hr);
  }
}

CStamp::CStamp(const CStamp& other) : m_impl(std::make_unique<Impl>()) {
  m_impl->copyFrom(*other.m_impl);
}

CStamp& CStamp::operator=(const CStamp& other) {
  // Emptying this stamp first would empty the source too.
  if (this != &other) {
    m_impl->Reset();
    m_impl->copyFrom(*other.m_impl);
  }
  return *this;
}

CStamp::~CStamp() = default;

// ---------------------------------------------------------------------------------------------
// Import

void CStamp::Import(const unsigned char* data, unsigned long length, const CRequest* request) {
  Impl& s = *m_impl;
  HORODEX_TRACE(VelmoraTraceGeneral, 2, kImport, "Importing time-stamp...\n");
  s.Reset();

  // Whatever fails after this point leaves the stamp without a token, and the message (which
  // belongs to the token) closed.
  struct Rollback {
    Impl& stamp;
    bool done = false;
    ~Rollback() {
      if (!done) {
        stamp.encodedToken.clear();
        stamp.token.reset();
        stamp.message.reset();
      }
    }
  } rollback{s};

  if (data == nullptr && length != 0) {
    ThrowHResult(Platform::E_INVALIDARG);
  }
  const std::span<const unsigned char> given(data, length);
  CBlob working;  // the token's encoding

  // A response, else a bare token. Only the response decoder's failure is caught.
  TSP::CResponse response;
  TSP::CToken bareToken;
  const TSP::CToken* token = nullptr;
  bool isResponse = false;
  try {
    response.decode(given);
    isResponse = true;
  } catch (const Platform::CAtlException&) {
  } catch (const std::exception&) {
  }

  if (isResponse) {
    HORODEX_TRACE(VelmoraTraceGeneral, 2, kImport, "Checking status of time-stamp response...\n");
    const ASN1::CPKIStatusInfo& status = response.get_status();
    const unsigned long pkiStatus = status.get_pkiStatus();
    s.status = static_cast<std::uint32_t>(pkiStatus);
    if (const ASN1::CPKIFreeText* texts = status.get_statusString()) {
      s.statusString = texts->joined();
      s.statusString16 = Platform::WideToUtf16(s.statusString);
    }
    s.failInfo = status.get_failureInfo().get_value();
    if (pkiStatus <= 1) {
      token = response.get_timeStampToken();
      if (token == nullptr) {
        ThrowHResult(Platform::CRYPT_E_ASN1_INTERNAL);
      }
      // Only the token is kept, not the response around it.
      working = token->encode();
    } else if (pkiStatus > 6) {
      ThrowHResult(Platform::E_FAIL);
    }
    s.fromResponse = true;
  } else {
    HORODEX_TRACE(VelmoraTraceGeneral, 2, kImport, "Failed to decode as time-stamp response...\n");
    HORODEX_TRACE(VelmoraTraceGeneral, 2, kImport, "Trying to decode as time-stamp token...\n");
    working.assign(data, length);
    bareToken.decode(working);
    token = &bareToken;
    s.fromResponse = false;
  }

  if (token != nullptr) {
    HORODEX_TRACE(VelmoraTraceGeneral, 2, kImport,
                  "Parsing and checking time-stamp token fields...\n");
    if (const ASN1::CAccuracy* accuracy = token->get_accuracy()) {
      s.accuracy = AccuracyMicroseconds(*accuracy);
    }
    s.genTime = token->get_genTime();
    s.hashAlgOID = token->get_hashAlgorithm().get_algorithm();
    s.hashAlg = HashAlgId(s.hashAlgOID.c_str());
    s.hashedMessage = token->get_hashedMessage();
    if (const ASN1::CBigInteger* nonce = token->get_nonce()) {
      s.nonce = *nonce;
    }
    s.ordering = token->get_ordering();
    if (*token->get_policy() != '\0') {
      s.policyID = token->get_policy();
    }
    s.serialNumber = token->get_serialNumber();
    if (const ASN1::CGeneralName* tsa = token->get_tsa()) {
      s.tsaBlob = tsa->encode();
      ASN1::CGeneralName decoded;
      decoded.decode(s.tsaBlob);
      s.tsaName = decoded.toString().str();
      s.tsaName16 = Platform::WideToUtf16(s.tsaName);
    }
    if (const CBlobList* certificates = token->get_certificates()) {
      for (const CBlob& certificate : *certificates) {
        const HRESULT added = s.AddCertificate(certificate);
        if (Platform::FAILED(added)) {
          ThrowHResult(added);
        }
      }
    }

    if (request != nullptr) {
      // The stamp must answer its request: the hash the request carries (as it stands; a hash
      // still running is not finished here), and its nonce echoed, or none on both sides.
      const CRequest::Impl& asked = *request->m_impl;
      if (!(asked.dataHash == s.hashedMessage)) {
        ThrowHResult(Platform::CRYPT_E_HASH_VALUE);
      }
      if ((!asked.nonce.empty() || !s.nonce.empty()) && !(asked.nonce == s.nonce)) {
        ThrowHResult(Support::HORODEX_E_NONCE_MISMATCH);
      }
    }

    s.encodedToken = std::move(working);
    s.token = isResponse ? std::make_shared<const TSP::CToken>(std::move(response).takeToken())
                         : std::make_shared<const TSP::CToken>(std::move(bareToken));
    const HRESULT added = s.AddCertificateValues();
    if (Platform::FAILED(added)) {
      ThrowHResult(added);
    }
  }
  rollback.done = true;
  HORODEX_TRACE(VelmoraTraceGeneral, 2, kImport, "Importing time-stamp... OK\n");
}

// ---------------------------------------------------------------------------------------------
// Properties

namespace {

// The imported guard: a token field is read only when a token is held.
template <typename Impl>
const Impl& Imported(const std::unique_ptr<Impl>& impl) {
  if (impl->encodedToken.empty()) {
    ThrowInvalidState();
  }
  return *impl;
}

// The response guard: the status fields are read only after a response was imported.
template <typename Impl>
const Impl& FromResponse(const std::unique_ptr<Impl>& impl) {
  if (!impl->fromResponse) {
    ThrowInvalidState();
  }
  return *impl;
}

}  // namespace

unsigned int CStamp::get_Status() const {
  return FromResponse(m_impl).status;
}

unsigned int CStamp::get_FailInfo() const {
  return FromResponse(m_impl).failInfo;
}

template <>
const wchar_t* CStamp::get_StatusString<wchar_t>() const {
  return FromResponse(m_impl).statusString.c_str();
}

template <>
const unsigned short* CStamp::get_StatusString<unsigned short>() const {
  return FromResponse(m_impl).statusString16.c_str();
}

void* CStamp::get_Certificates() const {
  return Imported(m_impl).certStore.get();
}

unsigned int CStamp::get_DataHashAlg() const {
  return Imported(m_impl).hashAlg;
}

const char* CStamp::get_DataHashAlgOID() const {
  return Imported(m_impl).hashAlgOID.c_str();
}

void CStamp::get_DataHash(unsigned char* buffer, unsigned long* length) const {
  CopyOut(Imported(m_impl).hashedMessage, buffer, length);
}

const char* CStamp::get_PolicyID() const {
  return Imported(m_impl).policyID.c_str();
}

void CStamp::get_SerialNumber(unsigned char* buffer, unsigned long* length) const {
  CopyOut(Imported(m_impl).serialNumber, buffer, length);
}

const CDateTime& CStamp::get_Time() const {
  return Imported(m_impl).genTime;
}

long CStamp::get_Accuracy() const {
  return Imported(m_impl).accuracy;
}

bool CStamp::get_Ordering() const {
  return Imported(m_impl).ordering;
}

void CStamp::put_DefaultAccuracy(long microseconds) {
  m_impl->defaultAccuracy = microseconds;
}

long CStamp::get_DefaultAccuracy() const {
  return m_impl->defaultAccuracy;
}

bool CStamp::get_HasNonce() const {
  return !Imported(m_impl).nonce.empty();
}

template <>
const wchar_t* CStamp::get_TSA<wchar_t>() const {
  return Imported(m_impl).tsaName.c_str();
}

template <>
const unsigned short* CStamp::get_TSA<unsigned short>() const {
  return Imported(m_impl).tsaName16.c_str();
}

void CStamp::get_TSABlob(unsigned char* buffer, unsigned long* length) const {
  CopyOut(Imported(m_impl).tsaBlob, buffer, length);
}

void CStamp::Export(unsigned char* buffer, unsigned long* length) const {
  if (m_impl->failInfo != 0) {
    ThrowWin32Error(MapFailInfo(m_impl->failInfo));
  }
  CopyOut(Imported(m_impl).encodedToken, buffer, length);
}

// ---------------------------------------------------------------------------------------------
// Comparison

int CStamp::Compare(const CStamp* other) const {
  if (other == nullptr) {
    ThrowHResult(Platform::E_POINTER);
  }
  const Impl& a = *m_impl;
  const Impl& b = *other->m_impl;
  const CDateTime& bTime = other->get_Time();
  if (a.genTime == bTime) {
    return 0;
  }
  const int timeOrder = a.genTime < bTime ? -1 : 1;
  // The same TSA, ordering on both: genTime alone orders them.
  if (a.tsaBlob == b.tsaBlob && other->get_Ordering() && a.ordering) {
    return timeOrder;
  }
  long accuracyA = get_Accuracy();
  if (accuracyA == -1) {
    accuracyA = a.defaultAccuracy;
  }
  long accuracyB = other->get_Accuracy();
  if (accuracyB == -1) {
    accuracyB = b.defaultAccuracy;
  }
  if (accuracyA == -1 || accuracyB == -1) {
    return 0;
  }
  // The accuracies are unsigned microsecond counts. The bounds are worked out on the 64-bit
  // microsecond line, held at its ends rather than thrown out of the calendar's range, so a stamp
  // near the year 9999 or a huge default accuracy still compares.
  const std::uint64_t spanA = static_cast<std::uint64_t>(accuracyA);
  const std::uint64_t spanB = static_cast<std::uint64_t>(accuracyB);
  const std::int64_t timeA = a.genTime.totalMicroseconds();
  const std::int64_t timeB = bTime.totalMicroseconds();
  if (Shifted(timeA, spanA, true) < Shifted(timeB, spanB, false) ||
      Shifted(timeB, spanB, true) < Shifted(timeA, spanA, false)) {
    return timeOrder;
  }
  return 0;
}

}  // namespace Velmora::PKI::TSP::Client
