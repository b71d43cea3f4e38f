#include "platform/capi/revocation_ocsp.h"

#include <openssl/x509v3.h>

#include <algorithm>

#include "platform/capi/cert_chain_internal.h"
#include "platform/capi/cert_internal.h"
#include "platform/capi/cert_openssl.h"
#include "platform/capi/revocation_crl.h"
#include "platform/errors/atl_exception.h"

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

// Whether `signer` may speak for `issuer`'s certificates: it is the issuer, or a certificate the
// issuer signed whose extended key usage names id-kp-OCSPSigning (its validity is judged at the
// time of checking). The responder is read as the chain engine reads every certificate.
bool AuthorisedResponder(X509* signer, PCCERT_CONTEXT issuer) {
  if (X509_cmp(signer, X509Of(issuer)) == 0) {
    return true;
  }
  unsigned char* der = nullptr;
  const int length = i2d_X509(signer, &der);
  if (length <= 0) {
    return false;
  }
  const ContextRef responder(
      CertCreateCertificateContext(X509_ASN_ENCODING, der, static_cast<DWORD>(length)));
  OPENSSL_free(der);
  if (!responder) {
    return false;
  }
  const ChainFacts& facts = FactsOf(responder.get());
  return ImplOf(responder.get())->data->issuerKey() == ImplOf(issuer)->data->subjectKey() &&
         CertSignedBy(responder.get(), issuer) && facts.hasUsage &&
         std::find(facts.purposes.begin(), facts.purposes.end(), kOidOcspSigning) !=
             facts.purposes.end();
}

}  // namespace

std::vector<std::uint8_t> BuildOcspRequest(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer,
                                           bool nonce) {
  std::unique_ptr<OCSP_REQUEST, FreeWith<OCSP_REQUEST_free>> request(OCSP_REQUEST_new());
  CertIdPtr id(OCSP_cert_to_id(EVP_sha1(), X509Of(subject), X509Of(issuer)));
  if (!request || !id || OCSP_request_add0_id(request.get(), id.get()) == nullptr) {
    AtlThrow(CRYPT_E_ASN1_ERROR);
  }
  id.release();  // owned by the request now
  if (nonce && OCSP_request_add1_nonce(request.get(), nullptr, -1) != 1) {
    AtlThrow(CRYPT_E_ASN1_ERROR);
  }
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
  // The issuer's key hash of a CertID: SHA-1 over the subjectPublicKey bits.
  const CRYPT_BIT_BLOB& key = issuer->pCertInfo->SubjectPublicKeyInfo.PublicKey;
  unsigned char hash[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  static EVP_MD* const sha1 = EVP_MD_fetch(nullptr, "SHA1", nullptr);  // fetched once
  if (EVP_Digest(key.pbData, key.cbData, hash, &length, sha1, nullptr) != 1) {
    AtlThrow(CRYPT_E_ASN1_ERROR);
  }
  const std::string serial = SerialKeyOf(subject);
  return Hex(hash, length) + "-" + (serial[0] == '-' ? "-" : "") +
         Hex(reinterpret_cast<const unsigned char*>(serial.data()) + 1, serial.size() - 1);
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

OcspData::Lookup OcspData::lookUp(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer) const {
  X509* subjectX509 = X509Of(subject);
  X509* issuerX509 = X509Of(issuer);
  OCSP_BASICRESP* basic = m_basic.get();
  Lookup found;
  // Whether it speaks of the certificate at all, before whom it was signed by.
  int reason = -1;
  ASN1_GENERALIZEDTIME* revoked = nullptr;
  ASN1_GENERALIZEDTIME* thisUpdate = nullptr;
  ASN1_GENERALIZEDTIME* nextUpdate = nullptr;
  bool listed = false;
  for (const EVP_MD* digest : {EVP_sha1(), EVP_sha256()}) {
    CertIdPtr id(OCSP_cert_to_id(digest, subjectX509, issuerX509));
    if (id && OCSP_resp_find_status(basic, id.get(), &found.status, &reason, &revoked, &thisUpdate,
                                    &nextUpdate) == 1) {
      listed = true;
      break;
    }
  }
  if (!listed || found.status == V_OCSP_CERTSTATUS_UNKNOWN) {
    found.error = CRYPT_E_NOT_IN_REVOCATION_DATABASE;
    return found;
  }
  X509Stack extra(sk_X509_new_null());
  X509Stack chosen(sk_X509_new_null());
  X509* signer = nullptr;
  if (!extra || !chosen || sk_X509_push(extra.get(), issuerX509) <= 0 ||
      OCSP_resp_get0_signer(basic, &signer, extra.get()) != 1 ||
      !AuthorisedResponder(signer, issuer) || sk_X509_push(chosen.get(), signer) <= 0 ||
      // The signature only, and under the key of the signer judged above: OpenSSL is given no
      // other certificate to find one in.
      OCSP_basic_verify(basic, chosen.get(), nullptr, OCSP_NOVERIFY | OCSP_NOINTERN) != 1) {
    found.error = TRUST_E_CERT_SIGNATURE;
    return found;
  }
  found.signatureHash = SignatureHashOf(OCSP_resp_get0_tbs_sigalg(basic));
  found.signerRsaBits = RsaBitsOf(X509_get0_pubkey(signer));
  found.producedAt = FileTimeOf(OCSP_resp_get0_produced_at(basic));
  if (X509_cmp(signer, issuerX509) != 0) {
    found.signerFrom = FileTimeOf(X509_get0_notBefore(signer));
    found.signerUntil = FileTimeOf(X509_get0_notAfter(signer));
  }
  found.reason = reason >= 0 ? reason : REVOCATION_REASON_NONE;
  found.revocationDate = FileTimeOf(revoked);
  found.thisUpdate = FileTimeOf(thisUpdate);
  found.nextUpdate = FileTimeOf(nextUpdate);
  return found;
}

bool OcspData::echoes(std::span<const std::uint8_t> requestDer) const {
  const unsigned char* p = requestDer.data();
  std::unique_ptr<OCSP_REQUEST, FreeWith<OCSP_REQUEST_free>> request(
      d2i_OCSP_REQUEST(nullptr, &p, static_cast<long>(requestDer.size())));
  if (!request) {
    return false;
  }
  // 1: both carry the same nonce; 2: neither carries one; 3: only the response does.
  const int verdict = OCSP_check_nonce(request.get(), m_basic.get());
  const bool asked = OCSP_REQUEST_get_ext_by_NID(request.get(), NID_id_pkix_OCSP_Nonce, -1) >= 0;
  return asked ? verdict == 1 : verdict > 0;
}

RevocationAnswer OcspData::judge(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer, const CheckTime& at,
                                 const WeakAlgorithmRule& weak) const {
  // What the response says of a pair of certificates is worked out once: OpenSSL then needs to
  // decode neither again, as the same certificates come back in every stamp of a TSA.
  std::string key(reinterpret_cast<const char*>(subject->pbCertEncoded), subject->cbCertEncoded);
  key.append(reinterpret_cast<const char*>(issuer->pbCertEncoded), issuer->cbCertEncoded);
  Lookup found;
  bool known = false;
  {
    std::lock_guard lock(m_mutex);
    for (const auto& [pair, lookup] : m_lookups) {
      if (pair == key) {
        found = lookup;
        known = true;
        break;
      }
    }
  }
  if (!known) {
    found = lookUp(subject, issuer);
    std::lock_guard lock(m_mutex);
    if (m_lookups.size() < 8) {
      m_lookups.emplace_back(std::move(key), found);
    }
  }
  if (found.error != 0) {
    return RevocationAnswer::Failed(found.error, REVOCATION_KIND_OCSP);
  }
  if (IsWeakSignature(found.signatureHash, found.signerRsaBits, found.producedAt, weak)) {
    return RevocationAnswer::Failed(CRYPT_E_SECURITY_SETTINGS, REVOCATION_KIND_OCSP);
  }
  RevocationAnswer answer;
  answer.kind = REVOCATION_KIND_OCSP;
  answer.thisUpdate = found.thisUpdate;
  answer.nextUpdate = found.nextUpdate;
  if (!Fresh(answer.thisUpdate, answer.nextUpdate, at)) {
    answer.error = CERT_E_EXPIRED;
    return answer;
  }
  if (at.check < found.signerFrom || found.signerUntil < at.check) {
    answer.error = TRUST_E_CERT_SIGNATURE;  // a delegated responder out of its validity
    return answer;
  }
  if (found.status == V_OCSP_CERTSTATUS_GOOD) {
    answer.status = RevocationAnswer::Status::Good;
    return answer;
  }
  answer.revocationDate = found.revocationDate;
  answer.reason = found.reason;
  // A hold lifted: the responder calls it good, or revoked with removeFromCRL.
  answer.status = answer.reason == REVOCATION_REASON_REMOVE_FROM_CRL
                      ? RevocationAnswer::Status::Good
                      : RevocationAnswer::Status::Revoked;
  return answer;
}

}  // namespace Velmora::Platform::Capi
