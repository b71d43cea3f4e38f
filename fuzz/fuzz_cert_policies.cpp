// The certificate policy extensions as the chain engine decodes them: the input as a
// certificatePolicies, policyMappings, policyConstraints and inhibitAnyPolicy value.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/fuzz_harness.h"
#include "platform/capi/cert_policies.h"

namespace C = Velmora::Platform::Capi;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  FuzzHarness::Run([&] { C::DecodeCertificatePolicies(input); });
  FuzzHarness::Run([&] { C::DecodePolicyMappings(input); });
  FuzzHarness::Run([&] { C::DecodePolicyConstraints(input); });
  FuzzHarness::Run([&] { C::DecodeInhibitAnyPolicy(input); });
  return 0;
}
