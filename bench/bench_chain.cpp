// Building and judging a TSA certificate chain of three (RSA-2048 root, intermediate and TSA
// certificate, the root trusted), as a stamp's verification does: the TSA and intermediate
// certificates made contexts from their DER (as a token's import makes them), the intermediate
// in an additional memory store, CertGetCertificateChain and the time-stamping chain policy.
// Against OpenSSL on the same bytes: d2i_X509 of both certificates, X509_STORE_CTX with the
// trusted root loaded once, the time-stamping purpose, X509_verify_cert. "ours" meets the same
// certificates on every round, as a program that verifies many stamps of one TSA does (the
// engine remembers the signatures it verified); "ours_new_tsa_certificate" meets a TSA
// certificate it has never seen on every round (3000 of them: 600 rounds in each of 5
// repetitions), so the TSA certificate's
// signature is checked each time.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/capi/wincrypt.h"
#include "platform/errors/winerror.h"
#include "tools/testpki/test_pki.h"

namespace {

namespace P = Velmora::Platform;

using Der = std::vector<unsigned char>;

struct Issued {
  EVP_PKEY* key;
  X509* cert;
  Der der;
};

void Check(bool ok, const char* what) {
  if (!ok) {
    throw std::runtime_error(what);
  }
}

Issued Make(const std::string& name, long serial, const Issued* issuer, bool ca, EVP_PKEY* key) {
  const std::time_t now = std::time(nullptr);
  const TestPki::CertSpec spec(name, serial, now - 24 * 3600, now + 365L * 24 * 3600,
                               ca ? TestPki::CaExtensions() : TestPki::TsaExtensions());
  X509* x = TestPki::Issue(spec, key, issuer != nullptr ? issuer->cert : nullptr,
                           issuer != nullptr ? issuer->key : key)
                .release();
  return Issued{key, x, TestPki::DerOf(x)};
}

struct Material {
  Issued root;
  Issued intermediate;
  Issued tsa;
  std::vector<Der> newTsas;
};

const Material& TheMaterial() {
  static const Material* material = [] {
    auto* m = new Material();
    m->root =
        Make("Bench Root", 1, nullptr, true, TestPki::NewKey(TestPki::KeyKind::Rsa2048).release());
    m->intermediate = Make("Bench Intermediate", 2, &m->root, true,
                           TestPki::NewKey(TestPki::KeyKind::Rsa2048).release());
    EVP_PKEY* tsaKey = TestPki::NewKey(TestPki::KeyKind::Rsa2048).release();
    m->tsa = Make("Bench TSA", 3, &m->intermediate, false, tsaKey);
    for (long i = 0; i < 3000; ++i) {
      Issued other = Make("Bench TSA", 1000 + i, &m->intermediate, false, tsaKey);
      m->newTsas.push_back(std::move(other.der));
      X509_free(other.cert);
    }
    // The root becomes trusted the way the tools' --ca does it.
    const auto file = std::filesystem::temp_directory_path() / "horodex-bench-chain-root.pem";
    if (std::FILE* f = std::fopen(file.c_str(), "w")) {
      PEM_write_X509(f, m->root.cert);
      std::fclose(f);
    }
    Check(P::CertAddTrustedRootsFromFile(file.c_str()) == P::S_OK, "CertAddTrustedRootsFromFile");
    std::filesystem::remove(file);
    return m;
  }();
  return *material;
}

P::DWORD OursOnce(const Der& tsa, const Der& intermediate) {
  constexpr P::DWORD kEncoding = P::X509_ASN_ENCODING | P::PKCS_7_ASN_ENCODING;
  P::PCCERT_CONTEXT subject =
      P::CertCreateCertificateContext(kEncoding, tsa.data(), static_cast<P::DWORD>(tsa.size()));
  P::PCCERT_CONTEXT middle = P::CertCreateCertificateContext(
      kEncoding, intermediate.data(), static_cast<P::DWORD>(intermediate.size()));
  P::HCERTSTORE store = P::CertOpenStore(P::CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  P::CertAddCertificateContextToStore(store, middle, P::CERT_STORE_ADD_ALWAYS, nullptr);
  P::CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  P::PCCERT_CHAIN_CONTEXT chain = nullptr;
  P::CertGetCertificateChain(nullptr, subject, nullptr, store, &para,
                             P::CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT |
                                 P::CERT_CHAIN_DISABLE_AUTH_ROOT_AUTO_UPDATE,
                             nullptr, &chain);
  P::FILETIME now{};
  const auto value = static_cast<std::uint64_t>(std::time(nullptr) + 11644473600LL) * 10000000ull;
  now.dwLowDateTime = static_cast<P::DWORD>(value);
  now.dwHighDateTime = static_cast<P::DWORD>(value >> 32);
  P::TSP_CHAIN_POLICY_TIME_PARA time{sizeof time, &now};
  P::CERT_CHAIN_POLICY_PARA policy{sizeof policy, P::TSP_CHAIN_POLICY_TIME_FLAG, &time};
  P::CERT_CHAIN_POLICY_STATUS status{sizeof status, 0, 0, 0, nullptr};
  P::CertVerifyCertificateChainPolicy(P::TSP_CHAIN_POLICY_ID, chain, &policy, &status);
  P::CertFreeCertificateChain(chain);
  P::CertCloseStore(store, 0);
  P::CertFreeCertificateContext(middle);
  P::CertFreeCertificateContext(subject);
  return status.dwError;
}

void Ours(benchmark::State& state) {
  const Material& m = TheMaterial();
  Check(OursOnce(m.tsa.der, m.intermediate.der) == 0, "our chain is refused");
  for (auto _ : state) {
    benchmark::DoNotOptimize(OursOnce(m.tsa.der, m.intermediate.der));
  }
}

void OursNewTsaCertificate(benchmark::State& state) {
  const Material& m = TheMaterial();
  static std::size_t next = 0;  // across repetitions, so that none meets a certificate again
  for (auto _ : state) {
    benchmark::DoNotOptimize(OursOnce(m.newTsas[next++ % m.newTsas.size()], m.intermediate.der));
  }
}

void OpenSsl(benchmark::State& state) {
  const Material& m = TheMaterial();
  X509_STORE* trusted = X509_STORE_new();
  X509_STORE_add_cert(trusted, m.root.cert);
  auto once = [&] {
    const unsigned char* p = m.tsa.der.data();
    X509* tsa = d2i_X509(nullptr, &p, static_cast<long>(m.tsa.der.size()));
    p = m.intermediate.der.data();
    X509* intermediate = d2i_X509(nullptr, &p, static_cast<long>(m.intermediate.der.size()));
    STACK_OF(X509)* untrusted = sk_X509_new_null();
    sk_X509_push(untrusted, intermediate);
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    X509_STORE_CTX_init(ctx, trusted, tsa, untrusted);
    X509_STORE_CTX_set_purpose(ctx, X509_PURPOSE_TIMESTAMP_SIGN);
    const int ok = X509_verify_cert(ctx);
    X509_STORE_CTX_free(ctx);
    sk_X509_pop_free(untrusted, X509_free);
    X509_free(tsa);
    return ok;
  };
  Check(once() == 1, "OpenSSL refuses the chain");
  for (auto _ : state) {
    benchmark::DoNotOptimize(once());
  }
  X509_STORE_free(trusted);
}

BENCHMARK(Ours)->Name("chain_of_3/ours");
BENCHMARK(OursNewTsaCertificate)->Name("chain_of_3/ours_new_tsa_certificate")->Iterations(600);
BENCHMARK(OpenSsl)->Name("chain_of_3/openssl_X509_verify_cert");

}  // namespace

BENCHMARK_MAIN();
