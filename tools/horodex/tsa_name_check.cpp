// The TSTInfo's tsa name held against the TSA certificate.
#include "tools/horodex/tsa_name_check.h"

#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <vector>

#include "platform/base/free_with.h"

namespace Horodex {

namespace {

namespace P = Velmora::Platform;
template <auto Free>
using Deleter = P::FreeWith<Free>;

bool Corresponds(const GENERAL_NAME& name, X509& certificate) {
  if (name.type == GEN_DIRNAME) {
    return X509_NAME_cmp(name.d.directoryName, X509_get_subject_name(&certificate)) == 0;
  }
  const std::unique_ptr<GENERAL_NAMES, Deleter<GENERAL_NAMES_free>> alternatives(
      static_cast<GENERAL_NAMES*>(
          X509_get_ext_d2i(&certificate, NID_subject_alt_name, nullptr, nullptr)));
  for (int i = 0; alternatives && i < sk_GENERAL_NAME_num(alternatives.get()); ++i) {
    if (GENERAL_NAME_cmp(sk_GENERAL_NAME_value(alternatives.get(), i),
                         const_cast<GENERAL_NAME*>(&name)) == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::string TsaNameWarning(const Velmora::PKI::TSP::Client::CStamp& stamp,
                           const P::CERT_CONTEXT* tsa) {
  unsigned long length = 0;
  stamp.get_TSABlob(nullptr, &length);
  if (tsa == nullptr || length == 0) {
    return {};
  }
  std::vector<unsigned char> der(length);
  stamp.get_TSABlob(der.data(), &length);
  const unsigned char* at = der.data();
  const std::unique_ptr<GENERAL_NAME, Deleter<GENERAL_NAME_free>> name(
      d2i_GENERAL_NAME(nullptr, &at, static_cast<long>(length)));
  const unsigned char* certificateAt = tsa->pbCertEncoded;
  const std::unique_ptr<X509, Deleter<X509_free>> certificate(
      d2i_X509(nullptr, &certificateAt, static_cast<long>(tsa->cbCertEncoded)));
  const bool whole = name && at == der.data() + der.size();
  ERR_clear_error();
  return whole && certificate && Corresponds(*name, *certificate) ? std::string()
                                                                  : kTsaNameMismatch;
}

}  // namespace Horodex
