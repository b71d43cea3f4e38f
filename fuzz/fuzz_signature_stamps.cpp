// A CMS signature's time stamps: read each signer's signatureTimeStampToken values and add one
// more to each signer, as stamping does; what is added must read back as the last stamp.
#include <cstdlib>

#include "codec/cms/signature_time_stamps.h"
#include "codec/cms/signed_data.h"
#include "fuzz/fuzz_harness.h"

namespace ASN1 = Velmora::ASN1;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzHarness::Run([&] {
    const Velmora::CBlob bytes(data, static_cast<unsigned long>(size));
    ASN1::CSignedData signedData;
    signedData.decode(bytes);
    Velmora::CBlobList values;
    values.push_back(Velmora::CBlob(std::vector<unsigned char>{0x30, 0x03, 0x02, 0x01, 0x07}));
    const ASN1::CAttribute attribute(ASN1::AttributeOids::SignatureTimeStampToken, values);
    std::size_t index = 0;
    for (const ASN1::CSignerInfo& signer : signedData.get_signerInfos()) {
      ASN1::SignatureTimeStamps(signer);
      ASN1::StampableSignature(signer);
      ASN1::CSignedData stamped;
      stamped.decode(ASN1::AddUnsignedAttribute(bytes.span(), index, attribute));
      auto it = stamped.get_signerInfos().begin();
      std::advance(it, static_cast<long>(index));
      const std::vector<Velmora::CBlob> stamps = ASN1::SignatureTimeStamps(*it);
      if (stamps.empty() || stamps.back() != values.front() ||
          it->get_signature() != signer.get_signature() ||
          it->get_signedAttributesEncoded() != signer.get_signedAttributesEncoded()) {
        std::abort();  // the message was changed beyond the signer's unsigned attributes
      }
      ++index;
    }
  });
  return 0;
}
