// The extension values a certificate and a CRL name revocation sources and scopes in: any bytes,
// read as an authorityInfoAccess and as a cRLDistributionPoints value, give a list of http URLs
// (none for bytes that do not decode) and nothing else; read as cRLDistributionPoints (or
// freshestCRL), as an issuingDistributionPoint and as GeneralNames, they either decode (points
// whose URLs are http URLs, relative names completed under an issuer) or are refused with an
// HRESULT.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/fuzz_harness.h"
#include "platform/capi/distribution_points.h"
#include "platform/capi/revocation_urls.h"

namespace Capi = Velmora::Platform::Capi;

namespace {

void CheckUrl(const std::string& url) {
  if (url.size() < 7 || (url.compare(0, 7, "http://") != 0 && url.compare(0, 7, "HTTP://") != 0)) {
    __builtin_trap();
  }
}

// The issuer a relative distribution point name completes: CN=Fuzz.
constexpr std::uint8_t kIssuerName[] = {0x30, 0x0F, 0x31, 0x0D, 0x30, 0x0B, 0x06, 0x03, 0x55,
                                        0x04, 0x03, 0x0C, 0x04, 'F',  'u',  'z',  'z'};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Velmora::Platform::CRYPT_OBJID_BLOB value{static_cast<Velmora::Platform::DWORD>(size),
                                                  const_cast<std::uint8_t*>(data)};
  for (const auto& urls : {Capi::OcspUrlsIn(value), Capi::CrlUrlsIn(value)}) {
    for (const std::string& url : urls) {
      CheckUrl(url);
    }
  }
  const std::span<const std::uint8_t> bytes(data, size);
  FuzzHarness::Run([&] {
    for (const Capi::DistributionPoint& point : Capi::ReadDistributionPoints(bytes)) {
      for (const std::string& url : point.httpUrls) {
        CheckUrl(url);
      }
      point.name.keys(kIssuerName);
    }
  });
  FuzzHarness::Run([&] {
    const Capi::IssuingDistributionPoint scope = Capi::ReadIssuingDistributionPoint(bytes);
    scope.name.keys(kIssuerName);
  });
  FuzzHarness::Run([&] { Capi::ReadGeneralNameKeys(bytes); });
  return 0;
}
