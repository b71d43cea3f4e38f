// GetMSStamp and FreeMSStamp: the Authenticode time-stamp exchange.
#include "horodex/MSTimeStamp.h"

#include <cstring>
#include <new>
#include <string>

#include "TSP/horodex/Base64.h"
#include "horodex/GroupPolicies.h"
#include "horodex/winhttp2.h"
#include "platform/capi/wincrypt_encode.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/guard.h"
#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"
#include "support/errors.h"
#include "support/trace.h"

namespace Velmora::PKI::TSP::Client {

namespace {

using namespace Velmora::Platform;

constexpr const char* kGetMSStamp = "Velmora::PKI::TSP::Client::GetMSStamp";
constexpr char kTimeStampAlgorithm[] = "1.3.6.1.4.1.311.3.2.1";
constexpr char kDataContentType[] = "1.2.840.113549.1.7.1";
constexpr DWORD kNegotiate = 16;
constexpr DWORD kProxyAuthenticationRequired = 407;

// Records `hr` as the thread's last error, kept as its 32-bit value (0 would read as success,
// so it becomes E_FAIL).
std::nullptr_t FailWith(HRESULT hr) noexcept {
  SetLastError(static_cast<DWORD>(hr != 0 ? hr : E_FAIL));
  return nullptr;
}

// The DER of the Authenticode time-stamp request for `content`, by the size-query protocol of
// CryptEncodeObject. Throws the encoder's code.
CBlob EncodeRequest(const CRYPT_DATA_BLOB& content, const CRYPT_ATTRIBUTES* attributes) {
  CRYPT_TIME_STAMP_REQUEST_INFO info{};
  info.pszTimeStampAlgorithm = const_cast<LPSTR>(kTimeStampAlgorithm);
  info.pszContentType = const_cast<LPSTR>(kDataContentType);
  info.Content = content;
  if (attributes != nullptr) {
    info.cAttribute = attributes->cAttr;
    info.rgAttribute = attributes->rgAttr;
  }
  const DWORD encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
  DWORD length = 0;
  if (!CryptEncodeObject(encoding, PKCS_TIME_REQUEST, &info, nullptr, &length)) {
    Support::ThrowLastError();
  }
  CBlob encoded;
  encoded.resize_to(length);
  if (!CryptEncodeObject(encoding, PKCS_TIME_REQUEST, &info, encoded.pbData(), &length)) {
    Support::ThrowLastError();
  }
  encoded.resize_to(length);
  return encoded;
}

// Frees a result blob and its bytes on the ways out of GetMSStamp that do not hand it over.
struct LocalBlobOwner {
  CRYPT_DATA_BLOB* blob = nullptr;
  ~LocalBlobOwner() {
    if (blob != nullptr) {
      LocalFree(blob->pbData);
      LocalFree(blob);
    }
  }
  CRYPT_DATA_BLOB* release() noexcept {
    CRYPT_DATA_BLOB* out = blob;
    blob = nullptr;
    return out;
  }
};

CRYPT_DATA_BLOB* GetMSStampImpl(const CRYPT_DATA_BLOB& content, const wchar_t* url,
                                const CRYPT_ATTRIBUTES* attributes, DWORD overallMs) {
  std::wstring chosenUrl;
  {
    CGPKeyPair keys;
    if (const LSTATUS status = keys.Open(); status != ERROR_SUCCESS) {
      SetLastError(static_cast<DWORD>(status));
      return nullptr;
    }
    CGPStrings allowed;
    allowed.Load(keys.machine(), keys.user(), L"AllowedMSTSPs", L"MSTSAsAllowedSetted");
    CGPString defaultUrl;
    defaultUrl.Load(keys.machine(), keys.user(), L"DefaultMSTSPURL");
    chosenUrl = url != nullptr ? std::wstring(url) : defaultUrl.str();
    if (allowed.IsSet() && !allowed.contains(chosenUrl)) {
      SetLastError(ERROR_ACCESS_DISABLED_BY_POLICY);
      return nullptr;
    }
  }

  const CBlob encoded = EncodeRequest(content, attributes);
  const CBlob body = Base64Encode(encoded);

  CHttpSettings settings;
  settings.url = chosenUrl;
  settings.timeouts = CHttpTimeouts::Within(overallMs);
  CBlob reply;
  try {
    reply = SendRequest(settings, nullptr, body, false);
    if (settings.httpStatus == kProxyAuthenticationRequired) {
      settings.proxyAuthScheme = kNegotiate;
      reply = SendRequest(settings, nullptr, body, false);
    }
  } catch (...) {
    return FailWith(HResultOfCurrentException());
  }
  if (settings.httpStatus != 200) {
    HORODEX_TRACE(VelmoraTraceGeneral, 2, kGetMSStamp, "HTTP STATUS: %d\n",
                  static_cast<int>(settings.httpStatus));
    return FailWith(Support::HORODEX_E_HTTP_ERROR);
  }

  // A reply that is empty, not Base64, or Base64 of nothing holds no stamp: handing back a
  // zero-byte "stamp" would report a failed exchange as success.
  CBlob decoded;
  decoded.resize_to(reply.cbData());
  std::size_t decodedLength = decoded.cbData();
  if (reply.empty() || !Base64Decode(reinterpret_cast<const char*>(reply.pbData()), reply.cbData(),
                                     decoded.pbData(), &decodedLength)) {
    SetLastError(ERROR_INVALID_DATA);
    return nullptr;
  }
  if (decodedLength == 0) {
    SetLastError(ERROR_INVALID_DATA);
    return nullptr;
  }

  LocalBlobOwner result;
  result.blob = static_cast<CRYPT_DATA_BLOB*>(LocalAlloc(LMEM_ZEROINIT, sizeof(CRYPT_DATA_BLOB)));
  if (result.blob == nullptr) {
    SetLastError(ERROR_OUTOFMEMORY);
    return nullptr;
  }
  result.blob->pbData = static_cast<BYTE*>(LocalAlloc(LMEM_FIXED, decodedLength));
  if (result.blob->pbData == nullptr) {
    SetLastError(ERROR_OUTOFMEMORY);
    return nullptr;
  }
  std::memcpy(result.blob->pbData, decoded.pbData(), decodedLength);
  result.blob->cbData = static_cast<DWORD>(decodedLength);
  return result.release();
}

}  // namespace

}  // namespace Velmora::PKI::TSP::Client

extern "C" Velmora::Platform::CRYPT_DATA_BLOB* GetMSStampWithTimeout(
    const Velmora::Platform::CRYPT_DATA_BLOB* content, const wchar_t* url,
    const Velmora::Platform::CRYPT_ATTRIBUTES* attributes, Velmora::Platform::DWORD overallMs) {
  using namespace Velmora::Platform;
  // Nothing may pass into a C caller: a policy value that cannot be read, a content too long
  // for Base64, an encoder failure or memory running out all end as the last error.
  return GuardBoundary(static_cast<CRYPT_DATA_BLOB*>(nullptr), [&]() -> CRYPT_DATA_BLOB* {
    if (content == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    return Velmora::PKI::TSP::Client::GetMSStampImpl(*content, url, attributes, overallMs);
  });
}

extern "C" Velmora::Platform::CRYPT_DATA_BLOB* GetMSStamp(
    const Velmora::Platform::CRYPT_DATA_BLOB* content, const wchar_t* url,
    const Velmora::Platform::CRYPT_ATTRIBUTES* attributes) {
  return GetMSStampWithTimeout(content, url, attributes, 0);
}

extern "C" Velmora::Platform::BOOL FreeMSStamp(Velmora::Platform::CRYPT_DATA_BLOB* stamp) {
  if (stamp != nullptr) {
    Velmora::Platform::LocalFree(stamp->pbData);
    Velmora::Platform::LocalFree(stamp);
  }
  return Velmora::Platform::TRUE;
}
