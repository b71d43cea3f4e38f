#include "ca_revocation.h"

#include <openssl/ocsp.h>

#include <ctime>
#include <memory>

#include "tools/testpki/test_pki.h"

namespace TestTsa {

namespace {

template <typename T, typename Encode>
std::string Der(T* object, Encode encode) {
  unsigned char* der = nullptr;
  const int length = encode(object, &der);
  Require(length > 0, "encoding an OCSP response");
  std::string bytes(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length));
  OPENSSL_free(der);
  return bytes;
}

std::string Status(int status) {
  const std::unique_ptr<OCSP_RESPONSE, TestPki::Freer<OCSP_RESPONSE_free>> response(
      OCSP_response_create(status, nullptr));
  Require(response != nullptr, "OCSP_response_create");
  return Der(response.get(), i2d_OCSP_RESPONSE);
}

}  // namespace

CaRevocation::CaRevocation(const Pki& pki) : m_pki(pki) {}

std::string CaRevocation::Crl() const {
  const std::time_t now = std::time(nullptr);
  const TestPki::CrlPtr crl = TestPki::MakeCrl(m_pki.ca.cert.get(), m_pki.ca.key.get(), {},
                                               now - 3600, now + 7 * 24 * 3600);
  const std::vector<unsigned char> der = TestPki::DerOf(crl.get());
  return std::string(der.begin(), der.end());
}

std::string CaRevocation::OcspAnswer(const std::string& request) const {
  const auto* in = reinterpret_cast<const unsigned char*>(request.data());
  const std::unique_ptr<OCSP_REQUEST, TestPki::Freer<OCSP_REQUEST_free>> parsed(
      d2i_OCSP_REQUEST(nullptr, &in, static_cast<long>(request.size())));
  if (!parsed || OCSP_request_onereq_count(parsed.get()) != 1) {
    return Status(OCSP_RESPONSE_STATUS_MALFORMEDREQUEST);
  }
  OCSP_CERTID* asked = OCSP_onereq_get0_id(OCSP_request_onereq_get0(parsed.get(), 0));
  // The answer names the certificate as the request did (its hash algorithm included).
  ASN1_OBJECT* hashAlgorithm = nullptr;
  OCSP_id_get0_info(nullptr, &hashAlgorithm, nullptr, nullptr, asked);
  const EVP_MD* md = EVP_get_digestbyobj(hashAlgorithm);
  const std::unique_ptr<OCSP_CERTID, TestPki::Freer<OCSP_CERTID_free>> tsa(
      md != nullptr ? OCSP_cert_to_id(md, m_pki.tsa.cert.get(), m_pki.ca.cert.get()) : nullptr);
  if (!tsa || OCSP_id_cmp(tsa.get(), asked) != 0) {
    return Status(OCSP_RESPONSE_STATUS_UNAUTHORIZED);
  }
  const std::unique_ptr<OCSP_BASICRESP, TestPki::Freer<OCSP_BASICRESP_free>> basic(
      OCSP_BASICRESP_new());
  const std::unique_ptr<ASN1_TIME, TestPki::Freer<ASN1_TIME_free>> thisUpdate(
      X509_gmtime_adj(nullptr, -60));
  const std::unique_ptr<ASN1_TIME, TestPki::Freer<ASN1_TIME_free>> nextUpdate(
      X509_gmtime_adj(nullptr, 3600));
  Require(basic && thisUpdate && nextUpdate &&
              OCSP_basic_add1_status(basic.get(), tsa.get(), V_OCSP_CERTSTATUS_GOOD, 0, nullptr,
                                     thisUpdate.get(), nextUpdate.get()) != nullptr &&
              OCSP_copy_nonce(basic.get(), parsed.get()) >= 0 &&
              OCSP_basic_sign(basic.get(), m_pki.ca.cert.get(), m_pki.ca.key.get(),
                              TestPki::SigningDigest(m_pki.ca.key.get()), nullptr, 0) == 1,
          "signing an OCSP response");
  const std::unique_ptr<OCSP_RESPONSE, TestPki::Freer<OCSP_RESPONSE_free>> response(
      OCSP_response_create(OCSP_RESPONSE_STATUS_SUCCESSFUL, basic.get()));
  Require(response != nullptr, "OCSP_response_create");
  return Der(response.get(), i2d_OCSP_RESPONSE);
}

}  // namespace TestTsa
