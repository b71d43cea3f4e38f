// Revocation data as the chain engine takes it from tokens, files, the cache and the network: any
// bytes, read as a CRL and as an OCSP response, are either refused with an HRESULT or decoded
// whole (entries sorted, reasons and dates read), keeping exactly the bytes given.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/fuzz_harness.h"
#include "platform/capi/revocation_crl.h"
#include "platform/capi/revocation_ocsp.h"

namespace Capi = Velmora::Platform::Capi;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  FuzzHarness::Run([&] {
    const auto crl = Capi::CrlData::Decode(bytes);
    if (crl->der().size() != size || crl->thisUpdate() == 0) {
      __builtin_trap();
    }
  });
  FuzzHarness::Run([&] {
    const auto response = Capi::OcspData::Decode(bytes);
    if (response->der().size() != size) {
      __builtin_trap();
    }
  });
  return 0;
}
