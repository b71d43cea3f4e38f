// Shared by the exchange tests: a time-stamp query to post, settings with short time-outs, the
// HRESULT of a failed exchange, and a clean proxy environment.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "horodex/winhttp2.h"
#include "platform/capi/wincrypt.h"
#include "platform/errors/atl_exception.h"
#include "tests/common/der_build.h"
#include "tests/common/saved_environment.h"
#include "tests/common/test_ca.h"

namespace Velmora::Testing {

inline constexpr const wchar_t* kQueryHeader = L"Content-type: application/timestamp-query";

// A DER TimeStampReq for a SHA-256 imprint with a two-byte nonce: 60 bytes.
inline CBlob TimeStampQuery(unsigned char nonce = 0x11) {
  static const unsigned char prefix[] = {0x30, 0x3A, 0x02, 0x01, 0x01, 0x30, 0x31, 0x30,
                                         0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65,
                                         0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
  CBlob query(prefix, sizeof prefix);
  CBlob digest(32);
  for (unsigned long i = 0; i < 32; ++i) {
    digest.pbData()[i] = static_cast<unsigned char>(i * 7 + 1);
  }
  query += digest;
  const unsigned char tail[] = {0x02, 0x02, 0x01, nonce};
  query += CBlob(tail, sizeof tail);
  return query;
}

// Settings for `url` with short time-outs (the exchanges here are local) and no proxy from the
// environment.
inline PKI::CHttpSettings FastSettings(const std::wstring& url) {
  PKI::CHttpSettings settings;
  settings.url = url;
  settings.proxySet = true;
  settings.timeouts = {2000, 2000, 2000};
  return settings;
}

// The HRESULT that an action throws, or 0 when it throws nothing.
inline constexpr auto* ThrownBy = &DerBuild::CodeOf;

// One exchange of `body` (the time-stamp query by default) under `settings`, and its code.
inline CBlob Post(PKI::CHttpSettings& settings, const CBlob& body = TimeStampQuery()) {
  return PKI::SendRequest(settings, kQueryHeader, body, false);
}
inline Platform::HRESULT PostCode(PKI::CHttpSettings& settings) {
  return ThrownBy([&] { Post(settings); });
}

// The HRESULT of a WinHTTP error number.
constexpr Platform::HRESULT WinHttpHResult(unsigned code) {
  return static_cast<Platform::HRESULT>(0x80070000u | code);
}

// Removes every proxy variable for the test and restores nothing: each test sets what it needs.
inline void ClearProxyEnvironment() {
  for (const char* name : kProxyVariables) {
    unsetenv(name);
  }
}

using CertContext = ContextPtr;

// A certificate context for `der`; with a key file, its key provider information names it, as a
// certificate of the user's personal store has it.
inline CertContext ContextOf(const std::vector<unsigned char>& der, const std::wstring& keyFile) {
  CertContext context(Platform::CertCreateCertificateContext(
      Platform::X509_ASN_ENCODING | Platform::PKCS_7_ASN_ENCODING, der.data(),
      static_cast<Platform::DWORD>(der.size())));
  EXPECT_TRUE(context);
  if (context && !keyFile.empty()) {
    Platform::CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = const_cast<wchar_t*>(keyFile.c_str());
    EXPECT_TRUE(Platform::CertSetCertificateContextProperty(
        context.get(), Platform::CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
  }
  return context;
}

// How long `action` takes.
inline std::chrono::milliseconds Timed(const std::function<void()>& action) {
  const auto start = std::chrono::steady_clock::now();
  action();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start);
}

}  // namespace Velmora::Testing
