// A TimeStampResp from a hostile TSA: decode it, read every field of its token, and check the
// token's signature under each certificate it carries.
#include "codec/stampmsg/response.h"
#include "fuzz/fuzz_harness.h"

namespace TSP = Velmora::PKI::TSP;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzHarness::Run([&] {
    TSP::CResponse response;
    response.decode(Velmora::CBlob(data, static_cast<unsigned long>(size)));
    response.get_status().get_failureInfo().get_value();
    const TSP::CToken* token = response.get_timeStampToken();
    if (token == nullptr) {
      return;
    }
    if (token->get_tsa() != nullptr) {
      token->get_tsa()->toString();
    }
    if (const Velmora::CBlobList* certificates = token->get_certificates()) {
      for (const Velmora::CBlob& certificate : *certificates) {
        token->verify(certificate);
      }
    }
  });
  return 0;
}
