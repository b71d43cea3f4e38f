// Revocation data as the chain engine takes it from tokens, files, the cache and the network: any
// bytes, read as a CRL and as an OCSP response, are either refused with an HRESULT or decoded
// whole (entries sorted, reasons and dates read, scope, numbers and delta indicator read), keeping
// exactly the bytes given. A CRL that decodes is then asked about the first certificate it lists
// and judged, alone, for a certificate of its issuer with that serial number and the CRL's own
// distribution point: a direct CRL finds the entry it lists, and the judgement ends in an answer.
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "fuzz/fuzz_harness.h"
#include "platform/base/free_with.h"
#include "platform/capi/revocation_crl.h"
#include "platform/capi/revocation_crl_status.h"
#include "platform/capi/revocation_ocsp.h"

namespace Capi = Velmora::Platform::Capi;
namespace P = Velmora::Platform;

namespace {

EVP_PKEY* SigningKey() {
  static EVP_PKEY* const key = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
  return key;
}

// A certificate of the CRL's issuer with `serial`, in the CRL's distribution point when it has
// one.
std::vector<std::uint8_t> SubjectOf(X509_CRL* crl, const ASN1_INTEGER* serial) {
  std::unique_ptr<X509, P::FreeWith<X509_free>> cert(X509_new());
  X509_set_version(cert.get(), 2);
  X509_set_serialNumber(cert.get(), const_cast<ASN1_INTEGER*>(serial));
  X509_set_issuer_name(cert.get(), X509_CRL_get_issuer(crl));
  X509_set_subject_name(cert.get(), X509_CRL_get_issuer(crl));
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -86400);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400);
  X509_set_pubkey(cert.get(), SigningKey());
  auto* scope = static_cast<ISSUING_DIST_POINT*>(
      X509_CRL_get_ext_d2i(crl, NID_issuing_distribution_point, nullptr, nullptr));
  if (scope != nullptr && scope->distpoint != nullptr) {
    CRL_DIST_POINTS* points = sk_DIST_POINT_new_null();
    DIST_POINT* point = DIST_POINT_new();
    point->distpoint = scope->distpoint;
    scope->distpoint = nullptr;
    sk_DIST_POINT_push(points, point);
    X509_add1_ext_i2d(cert.get(), NID_crl_distribution_points, points, 0, X509V3_ADD_DEFAULT);
    CRL_DIST_POINTS_free(points);
  }
  ISSUING_DIST_POINT_free(scope);
  std::vector<std::uint8_t> der;
  if (X509_sign(cert.get(), SigningKey(), nullptr) > 0) {
    unsigned char* out = nullptr;
    const int length = i2d_X509(cert.get(), &out);
    if (length > 0) {
      der.assign(out, out + length);
    }
    OPENSSL_free(out);
  }
  return der;
}

void Judge(const std::shared_ptr<const Capi::CrlData>& crl) {
  const unsigned char* p = crl->der().data();
  std::unique_ptr<X509_CRL, P::FreeWith<X509_CRL_free>> x509(
      d2i_X509_CRL(nullptr, &p, static_cast<long>(crl->der().size())));
  STACK_OF(X509_REVOKED)* revoked = x509 ? X509_CRL_get_REVOKED(x509.get()) : nullptr;
  if (revoked == nullptr || sk_X509_REVOKED_num(revoked) == 0) {
    return;
  }
  X509_REVOKED* first = sk_X509_REVOKED_value(revoked, 0);
  const ASN1_INTEGER* serial = X509_REVOKED_get0_serialNumber(first);
  const bool direct = crl->scope() == nullptr || !crl->scope()->indirect;
  if (direct && !crl->find(crl->issuerKey(), Capi::SerialKeyOf(serial))) {
    __builtin_trap();  // a direct CRL lists the serial under its own issuer
  }
  const std::vector<std::uint8_t> der = SubjectOf(x509.get(), serial);
  P::PCCERT_CONTEXT subject =
      der.empty() ? nullptr
                  : P::CertCreateCertificateContext(P::X509_ASN_ENCODING, der.data(),
                                                    static_cast<P::DWORD>(der.size()));
  if (subject == nullptr) {
    return;
  }
  const Capi::SourcedCrl crls[] = {{crl, P::REVOCATION_SOURCE_CACHE}};
  const Capi::CheckTime at{crl->thisUpdate() + 1, crl->thisUpdate() + 1};
  FuzzHarness::Run([&] {
    Capi::JudgeByCrls(subject, crls, at,
                      [](const Capi::CrlData&) { return Capi::CrlSignerVerdict{true}; });
  });
  P::CertFreeCertificateContext(subject);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  FuzzHarness::Run([&] {
    const auto crl = Capi::CrlData::Decode(bytes);
    if (crl->der().size() != size || crl->thisUpdate() == 0 || !crl->sameScope(*crl)) {
      __builtin_trap();
    }
    if (crl->isDelta() && !crl->number().empty() &&
        Capi::NumberLess(crl->number(), crl->baseNumber()) &&
        Capi::NumberLess(crl->baseNumber(), crl->number())) {
      __builtin_trap();  // numbers are ordered one way only
    }
    for (const Capi::DistributionPoint& point : crl->freshest()) {
      point.name.keys(crl->issuerName());
    }
    if (crl->scope() != nullptr) {
      crl->scope()->name.keys(crl->issuerName());
    }
    Judge(crl);
  });
  FuzzHarness::Run([&] {
    const auto response = Capi::OcspData::Decode(bytes);
    if (response->der().size() != size) {
      __builtin_trap();
    }
  });
  return 0;
}
