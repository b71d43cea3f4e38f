// The trusted anchor of a certificate, and the key names are looked up by when chaining.
#include <cstring>
#include <string>

#include "platform/capi/cert_chain_internal.h"
#include "platform/capi/cert_internal.h"
#include "platform/capi/cert_name_match.h"

namespace Velmora::Platform::Capi {

std::string NameKey(const CERT_NAME_BLOB& name) {
  return NameMatchKey(name);
}

PCCERT_CONTEXT TrustMaterial::anchorFor(PCCERT_CONTEXT context) const {
  const auto spki = ImplOf(context)->data->certificate().get_subjectPublicKeyInfo();
  for (PCCERT_CONTEXT anchor :
       anchorsNamed(context->pCertInfo->Subject, ImplOf(context)->data->subjectKey())) {
    if (anchor->cbCertEncoded == context->cbCertEncoded &&
        std::memcmp(anchor->pbCertEncoded, context->pbCertEncoded, context->cbCertEncoded) == 0) {
      return anchor;
    }
    const auto anchorKey = ImplOf(anchor)->data->certificate().get_subjectPublicKeyInfo();
    if (anchorKey.size() == spki.size() &&
        std::memcmp(anchorKey.data(), spki.data(), spki.size()) == 0) {
      return anchor;
    }
  }
  return nullptr;
}

}  // namespace Velmora::Platform::Capi
