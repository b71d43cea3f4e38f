// CStamp::Import of any bytes, then every getter, export and a comparison with itself; a decode
// message over the same bytes read for every parameter a stamp asks of it.
#include "fuzz/fuzz_harness.h"
#include "horodex/TSPStamp.h"
#include "platform/capi/wincrypt.h"

namespace P = Velmora::Platform;
using Velmora::PKI::TSP::Client::CStamp;

namespace {

void ReadEveryParameter(const std::uint8_t* data, std::size_t size) {
  P::HCRYPTMSG message = P::CryptMsgOpenToDecode(P::X509_ASN_ENCODING | P::PKCS_7_ASN_ENCODING, 0,
                                                 0, 0, nullptr, nullptr);
  if (P::CryptMsgUpdate(message, data, static_cast<P::DWORD>(size), P::TRUE)) {
    for (const P::DWORD param :
         {P::CMSG_INNER_CONTENT_TYPE_PARAM, P::CMSG_SIGNER_AUTH_ATTR_PARAM,
          P::CMSG_SIGNER_UNAUTH_ATTR_PARAM, P::CMSG_ENCODED_SIGNER, P::CMSG_SIGNER_CERT_ID_PARAM,
          P::CMSG_SIGNER_CERT_INFO_PARAM, P::CMSG_CONTENT_PARAM, P::CMSG_CERT_PARAM}) {
      P::DWORD length = 0;
      if (P::CryptMsgGetParam(message, param, 0, nullptr, &length)) {
        std::vector<std::uint64_t> buffer(length / 8 + 1);
        if (!P::CryptMsgGetParam(message, param, 0, buffer.data(), &length)) {
          __builtin_trap();  // the size it asked for must do
        }
      }
    }
  }
  P::CryptMsgClose(message);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ReadEveryParameter(data, size);
  FuzzHarness::Run([&] {
    CStamp stamp;
    stamp.Import(data, static_cast<unsigned long>(size), nullptr);
    unsigned long length = 0;
    FuzzHarness::Run([&] { (void)stamp.get_Status(); });
    FuzzHarness::Run([&] { stamp.Export(nullptr, &length); });
    FuzzHarness::Run([&] {
      (void)stamp.get_TSA<unsigned short>();
      stamp.get_SerialNumber(nullptr, &length);
      (void)stamp.get_Time();
      if (stamp.Compare(&stamp) != 0) {
        __builtin_trap();
      }
      const CStamp copy(stamp);
      (void)copy.get_Certificates();
    });
  });
  return 0;
}
