// A bare TimeStampToken: decode, read its fields and signer, encode it back unchanged, and check
// its signature under each certificate it carries.
#include "codec/stampmsg/token.h"
#include "fuzz/fuzz_harness.h"

namespace TSP = Velmora::PKI::TSP;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzHarness::Run([&] {
    const Velmora::CBlob input(data, static_cast<unsigned long>(size));
    TSP::CToken token;
    token.decode(input);
    if (!(token.encode() == input)) {
      __builtin_trap();  // a decoded token gives back the bytes it was read from
    }
    token.get_signerInfo().get_signature();
    if (token.get_tsa() != nullptr) {
      token.get_tsa()->toString();
    }
    if (const Velmora::CBlobList* certificates = token.get_certificates()) {
      for (const Velmora::CBlob& certificate : *certificates) {
        token.verify(certificate);
      }
    }
  });
  return 0;
}
