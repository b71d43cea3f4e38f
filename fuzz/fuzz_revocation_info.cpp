// One RevocationInfoChoice of a SignedData's crls field: refused with an HRESULT, or sorted into a
// CRL (its bytes exactly the input), an OCSP response that the chain engine's decoder then reads,
// or another format kept aside.
#include <cstddef>
#include <cstdint>
#include <span>

#include "codec/cms/revocation_info.h"
#include "fuzz/fuzz_harness.h"
#include "platform/capi/revocation_ocsp.h"

namespace ASN1 = Velmora::ASN1;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzHarness::Run([&] {
    const ASN1::CRevocationInfo info =
        ASN1::ReadRevocationInfo(Velmora::CBlob(data, static_cast<unsigned long>(size)));
    if (info.kind == ASN1::CRevocationInfo::Kind::Crl && info.der.size() != size) {
      __builtin_trap();
    }
    if (info.kind == ASN1::CRevocationInfo::Kind::OcspResponse) {
      Velmora::Platform::Capi::OcspData::Decode(std::span<const std::uint8_t>(info.der));
    }
  });
  return 0;
}
