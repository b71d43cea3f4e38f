// The ASN.1 value decoders, one chosen by the first input byte; each value that decodes must
// re-encode to a fixed point, and names must give a display text.
#include "codec/asnkit/accuracy.h"
#include "codec/asnkit/algorithm_identifier.h"
#include "codec/asnkit/big_integer.h"
#include "codec/asnkit/ess.h"
#include "codec/asnkit/extensions.h"
#include "codec/asnkit/general_name.h"
#include "codec/asnkit/pki_status.h"
#include "codec/asnkit/signed_attributes.h"
#include "codec/asnkit/x500_name.h"
#include "codec/cms/attribute.h"
#include "codec/cms/signer_info.h"
#include "fuzz/fuzz_harness.h"

namespace ASN1 = Velmora::ASN1;
using FuzzHarness::RoundTrip;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const Velmora::CBlob input(data + 1, static_cast<unsigned long>(size - 1));
  FuzzHarness::Run([&] {
    switch (data[0] % 19) {
      case 0: {
        ASN1::CGeneralName name;
        name.decode(input);
        name.toString();
        RoundTrip<ASN1::CGeneralName>(input);
        break;
      }
      case 1:
        RoundTrip<ASN1::CGeneralNames>(input);
        break;
      case 2: {
        ASN1::CX500Name name;
        name.decode(input);
        name.toString();
        break;
      }
      case 3:
        RoundTrip<ASN1::CExtensions>(input);
        break;
      case 4:
        RoundTrip<ASN1::CAlgorithmIdentifier>(input);
        break;
      case 5:
        RoundTrip<ASN1::CBigInteger>(input);
        break;
      case 6:
        RoundTrip<ASN1::CAccuracy>(input);
        break;
      case 7:
        RoundTrip<ASN1::CPKIStatusInfo>(input);
        break;
      case 8:
        RoundTrip<ASN1::CPKIFailureInfo>(input);
        break;
      case 9:
        RoundTrip<ASN1::CIssuerSerial>(input);
        break;
      case 10:
        RoundTrip<ASN1::CESSCertID>(input);
        break;
      case 11:
        RoundTrip<ASN1::CESSCertIDv2>(input);
        break;
      case 12:
        RoundTrip<ASN1::COtherCertID>(input);
        break;
      case 13:
        RoundTrip<ASN1::CAttrSigningCertificate>(input);
        break;
      case 14:
        RoundTrip<ASN1::CAttrSigningCertificateV2>(input);
        break;
      case 15:
        RoundTrip<ASN1::CAttrContentType>(input);
        break;
      case 16:
        RoundTrip<ASN1::CCertificateValues>(input);
        break;
      case 17: {
        ASN1::CSignerInfo signer;
        signer.decode(input);
        signer.get_signedAttributesToBeSigned();
        break;
      }
      default:
        RoundTrip<ASN1::CAttribute>(input);
        break;
    }
  });
  return 0;
}
