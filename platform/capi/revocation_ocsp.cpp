#include "platform/capi/revocation_ocsp.h"

#include <openssl/x509v3.h>

#include "platform/capi/cert_chain_internal.h"
#include "platform/capi/cert_openssl.h"
#include "platform/capi/revocation_crl.h"
#include "platform/text/atl_exception.h"

namespace Velmora::Platform::Capi {

namespace {

using CertIdPtr = std::unique_ptr<OCSP_CERTID, FreeWith<OCSP_CERTID_free>>;
void FreeStack(STACK_OF(X509) * stack) {
  sk_X509_free(stack);
}
using X509Stack = std::unique_ptr<STACK_OF(X509), FreeWith<FreeStack>>;

X509* X509Of(PCCERT_CONTEXT context) {
  X509* x509 = CertContextGetX509(context);
  if (x509 == nullptr) {
    AtlThrow(CRYPT_E_ASN1_ERROR);
  }
  return x509;
}

std::string Hex(const unsigned char* data, std::size_t length) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < length; ++i) {
    text += kDigits[data[i] >> 4];
    text += kDigits[data[i] & 15];
  }
  return text;
}

bool ValidAt(X509* certificate, std::uint64_t now) {
  return FileTimeOf(X509_get0_notBefore(certificate)) <= now &&
         now <= FileTimeOf(X509_get0_notAfter(certificate));
}

// Whether `signer` may speak for `issuer`'s certificates: it is the issuer, or a certificate the
// issuer signed whose extended key usage names id-kp-OCSPSigning.
bool AuthorisedResponder(X509* signer, X509* issuer, std::uint64_t now) {
  if (X509_cmp(signer, issuer) == 0) {
    return true;
  }
  EVP_PKEY* issuerKey = X509_get0_pubkey(issuer);
  const bool extended = (X509_get_extension_flags(signer) & EXFLAG_XKUSAGE) != 0;
  return issuerKey != nullptr && X509_check_issued(issuer, signer) == X509_V_OK &&
         X509_verify(signer, issuerKey) == 1 && extended &&
         (X509_get_extended_key_usage(signer) & XKU_OCSP_SIGN) != 0 && ValidAt(signer, now);
}

}  // namespace

std::vector<std::uint8_t> BuildOcspRequest(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer) {
  std::unique_ptr<OCSP_REQUEST, FreeWith<OCSP_REQUEST_free>> request(OCSP_REQUEST_new());
  CertIdPtr id(OCSP_cert_to_id(EVP_sha1(), X509Of(subject), X509Of(issuer)));
  if (!request || !id || OCSP_request_add0_id(request.get(), id.get()) == nullptr) {
    AtlThrow(CRYPT_E_ASN1_ERROR);
  }
  id.release();  // owned by the request now
  unsigned char* out = nullptr;
  const int length = i2d_OCSP_REQUEST(request.get(), &out);
  if (length <= 0) {
    AtlThrow(CRYPT_E_ASN1_ERROR);
  }
  std::vector<std::uint8_t> der(out, out + length);
  OPENSSL_free(out);
  return der;
}

std::string OcspCacheKey(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer) {
  unsigned char hash[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (X509_pubkey_digest(X509Of(issuer), EVP_sha1(), hash, &length) != 1) {
    AtlThrow(CRYPT_E_ASN1_ERROR);
  }
  const ASN1_INTEGER* serial = X509_get0_serialNumber(X509Of(subject));
  return Hex(hash, length) + "-" +
         Hex(ASN1_STRING_get0_data(serial), static_cast<std::size_t>(ASN1_STRING_length(serial)));
}

std::shared_ptr<const OcspData> OcspData::Decode(std::span<const std::uint8_t> der) {
  if (der.size() > kMaxRevocationDataBytes) {
    AtlThrow(CRYPT_E_ASN1_LARGE);
  }
  const unsigned char* p = der.data();
  std::unique_ptr<OCSP_RESPONSE, FreeWith<OCSP_RESPONSE_free>> response(
      d2i_OCSP_RESPONSE(nullptr, &p, static_cast<long>(der.size())));
  if (!response || p != der.data() + der.size()) {
    AtlThrow(CRYPT_E_ASN1_ERROR);
  }
  if (OCSP_response_status(response.get()) != OCSP_RESPONSE_STATUS_SUCCESSFUL) {
    AtlThrow(CRYPT_E_REVOCATION_OFFLINE);
  }
  std::shared_ptr<OcspData> data(new OcspData());
  data->m_basic.reset(OCSP_response_get1_basic(response.get()));
  if (!data->m_basic) {
    AtlThrow(CRYPT_E_ASN1_ERROR);
  }
  data->m_der.assign(der.begin(), der.end());
  return data;
}

RevocationAnswer OcspData::judge(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer,
                                 const CheckTime& at) const {
  X509* subjectX509 = X509Of(subject);
  X509* issuerX509 = X509Of(issuer);
  OCSP_BASICRESP* basic = m_basic.get();
  X509Stack extra(sk_X509_new_null());
  X509* signer = nullptr;
  if (!extra || sk_X509_push(extra.get(), issuerX509) <= 0 ||
      OCSP_resp_get0_signer(basic, &signer, extra.get()) != 1 ||
      !AuthorisedResponder(signer, issuerX509, at.check) ||
      // The signature only: whom the signer speaks for was judged above.
      OCSP_basic_verify(basic, extra.get(), nullptr, OCSP_NOVERIFY) != 1) {
    return RevocationAnswer::Failed(TRUST_E_CERT_SIGNATURE, REVOCATION_KIND_OCSP);
  }
  int status = -1;
  int reason = -1;
  ASN1_GENERALIZEDTIME* revoked = nullptr;
  ASN1_GENERALIZEDTIME* thisUpdate = nullptr;
  ASN1_GENERALIZEDTIME* nextUpdate = nullptr;
  bool found = false;
  for (const EVP_MD* digest : {EVP_sha1(), EVP_sha256()}) {
    CertIdPtr id(OCSP_cert_to_id(digest, subjectX509, issuerX509));
    if (id && OCSP_resp_find_status(basic, id.get(), &status, &reason, &revoked, &thisUpdate,
                                    &nextUpdate) == 1) {
      found = true;
      break;
    }
  }
  if (!found || status == V_OCSP_CERTSTATUS_UNKNOWN) {
    return RevocationAnswer::Failed(CRYPT_E_NOT_IN_REVOCATION_DATABASE, REVOCATION_KIND_OCSP);
  }
  RevocationAnswer answer;
  answer.kind = REVOCATION_KIND_OCSP;
  answer.thisUpdate = FileTimeOf(thisUpdate);
  answer.nextUpdate = FileTimeOf(nextUpdate);
  if (!Fresh(answer.thisUpdate, answer.nextUpdate, at)) {
    answer.error = CERT_E_EXPIRED;
    return answer;
  }
  if (status == V_OCSP_CERTSTATUS_GOOD) {
    answer.status = RevocationAnswer::Status::Good;
    return answer;
  }
  answer.revocationDate = FileTimeOf(revoked);
  answer.reason = reason >= 0 ? reason : REVOCATION_REASON_NONE;
  // A hold lifted: the responder calls it good, or revoked with removeFromCRL.
  answer.status = answer.reason == REVOCATION_REASON_REMOVE_FROM_CRL
                      ? RevocationAnswer::Status::Good
                      : RevocationAnswer::Status::Revoked;
  return answer;
}

}  // namespace Velmora::Platform::Capi
