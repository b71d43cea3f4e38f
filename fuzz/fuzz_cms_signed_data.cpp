// A CMS ContentInfo with SignedData: decode, walk its signers and their attributes, and check
// every signer under every certificate it carries.
#include "codec/cms/signed_data.h"
#include "fuzz/fuzz_harness.h"

namespace ASN1 = Velmora::ASN1;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzHarness::Run([&] {
    ASN1::CSignedData signedData;
    signedData.decode(Velmora::CBlob(data, static_cast<unsigned long>(size)));
    std::size_t index = 0;
    for (const ASN1::CSignerInfo& signer : signedData.get_signerInfos()) {
      signer.get_signedAttributesToBeSigned();
      if (const Velmora::CBlobList* certificates = signedData.get_certificates()) {
        for (const Velmora::CBlob& certificate : *certificates) {
          signedData.verifySigner(index, certificate);
        }
      }
      ++index;
    }
  });
  return 0;
}
