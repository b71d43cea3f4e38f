// Distinguished names as the chain engine compares them: any bytes, a name or not, match
// themselves, and the comparison of the input's two halves is the same either way round.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/capi/wincrypt.h"

namespace P = Velmora::Platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto* bytes = const_cast<P::BYTE*>(data);
  const P::CERT_NAME_BLOB whole{static_cast<P::DWORD>(size), bytes};
  std::vector<P::BYTE> copied(data, data + size);
  const P::CERT_NAME_BLOB copy{static_cast<P::DWORD>(size), copied.data()};
  if (!P::CertCompareCertificateName(P::X509_ASN_ENCODING, &whole, &copy)) {
    __builtin_trap();
  }
  const P::CERT_NAME_BLOB first{static_cast<P::DWORD>(size / 2), bytes};
  const P::CERT_NAME_BLOB second{static_cast<P::DWORD>(size - size / 2), bytes + size / 2};
  if (P::CertCompareCertificateName(P::X509_ASN_ENCODING, &first, &second) !=
      P::CertCompareCertificateName(P::X509_ASN_ENCODING, &second, &first)) {
    __builtin_trap();
  }
  return 0;
}
