// CRequest::Send: one complete time-stamp transaction, from the policy checks to the verified
// stamp.
#include <cstdint>

#include "TSP/horodex/TSPRequest_Impl.h"
#include "support/errors.h"
#include "support/trace.h"

namespace Velmora::PKI::TSP::Client {

using Support::ThrowHResult;

namespace {

constexpr const char* kSend = "Velmora::PKI::TSP::Client::CRequest::Send";
constexpr const wchar_t* kQueryHeader = L"Content-type: application/timestamp-query";
constexpr unsigned int kGranted = 0;
constexpr unsigned int kGrantedWithMods = 1;

// The TSA address as the trace shows it: a password in the address ("http://user:pw@host/") is
// replaced by "***", so that a trace file never holds a credential.
std::wstring AddressForTrace(const std::wstring& url) {
  const std::size_t scheme = url.find(L"://");
  if (scheme == std::wstring::npos) {
    return url;
  }
  const std::size_t authorityStart = scheme + 3;
  const std::size_t authorityEnd = url.find_first_of(L"/?#", authorityStart);
  const std::size_t at =
      url.rfind(L'@', authorityEnd == std::wstring::npos ? url.size() - 1 : authorityEnd - 1);
  if (at == std::wstring::npos || at < authorityStart) {
    return url;
  }
  const std::size_t colon = url.find(L':', authorityStart);
  if (colon == std::wstring::npos || colon > at) {
    return url;
  }
  return url.substr(0, colon + 1) + L"***" + url.substr(at);
}

}  // namespace

bool StampTimeInWindow(const CDateTime& time, const CDateTime& t0, Platform::DWORD accuracyMs) {
  const std::int64_t span = static_cast<std::int64_t>(accuracyMs) * 1000;
  const std::int64_t offset = time.totalMicroseconds() - t0.totalMicroseconds();
  return offset >= -span && offset <= span;
}

CStamp& CRequest::Send(bool verify) {
  Impl& impl = *m_impl;
  impl.CheckPolicies();
  impl.MakeRequest();
  if (impl.http.url.empty()) {
    ThrowHResult(Support::HORODEX_E_NO_TSA_URL);
  }
  HORODEX_TRACE(VelmoraTraceGeneral, 2, kSend, "Sending request to \"%s\"...\n",
                Platform::WideToNarrow(AddressForTrace(impl.http.url)).c_str());
  const CDateTime t0 = CDateTime::Now();
  CBlob body = SendRequest(impl.http, kQueryHeader, impl.encodedRequest, (impl.flags & 1u) != 0,
                           kHorodexUserAgent);
  if (impl.http.httpStatus != 200) {
    HORODEX_TRACE(VelmoraTraceGeneral, 2, kSend, "HTTP STATUS: %d\n",
                  static_cast<int>(impl.http.httpStatus));
    ThrowHResult(Support::HORODEX_E_HTTP_ERROR);
  }
  impl.response = std::move(body);
  impl.stamp.Import(impl.response.pbData(), static_cast<unsigned long>(impl.response.cbData()),
                    this);
  const unsigned int status = impl.stamp.get_Status();
  if (status != kGranted && status != kGrantedWithMods) {
    if (verify) {
      ThrowHResult(Support::HORODEX_E_TSA_UNSUCCESSFUL);
    }
    return impl.stamp;
  }
  if (!impl.stamp.get_HasNonce() && impl.nonce.empty() &&
      !StampTimeInWindow(impl.stamp.get_Time(), t0, impl.policies.StampAccuracy)) {
    ThrowHResult(Support::HORODEX_E_STAMP_EXPIRED);
  }
  if (verify) {
    const int signature = impl.stamp.Verify(nullptr, nullptr);
    if (signature < 0) {
      ThrowHResult(signature);
    }
    const int chain = impl.stamp.VerifyCertificate(nullptr, nullptr, 0);
    if (chain < 0) {
      ThrowHResult(chain);
    }
  }
  return impl.stamp;
}

}  // namespace Velmora::PKI::TSP::Client
