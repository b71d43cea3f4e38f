// A TimeStampReq (as read from a .tsq file): decode, and the re-encoding must settle.
#include "codec/stampmsg/request.h"
#include "fuzz/fuzz_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzHarness::Run([&] {
    FuzzHarness::RoundTrip<Velmora::PKI::TSP::CRequest>(
        Velmora::CBlob(data, static_cast<unsigned long>(size)));
  });
  return 0;
}
