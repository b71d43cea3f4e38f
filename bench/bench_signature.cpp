// Time stamps of CMS signatures, wall-clock time per operation, each against its counterpart in
// the same run, on a local TSA (horodex-testtsa on loopback, ECDSA P-256) and a signature that
// OpenSSL's CMS_sign made at start-up (ECDSA P-256 signer under a test CA, 1 KiB attached
// content, signed attributes):
//   - stamping: CSignedMessage::Stamp of signer 0 and Export of the stamped message, against a
//     plain stamp of the same bytes (CRequest::Send(true) over the signature value): what the
//     signature adds to one request;
//   - verifying: VerifySignatureStamps of the stamped message (the stamp, the CMS signature and
//     the signer's chain at genTime), against OpenSSL's CMS_verify of the same message (its chain
//     checked to the CA) plus our verification of its token (CStamp::Import, Verify,
//     VerifyCertificate). Revocation is not fetched in either (no network).
#include <benchmark/benchmark.h>
#include <openssl/cms.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/local_tsa.h"
#include "codec/cms/signed_data.h"
#include "horodex/SignatureStamp.h"
#include "platform/capi/wincrypt_chain.h"
#include "platform/capi/wincrypt_revocation.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/winerror.h"
#include "tools/testpki/test_pki.h"

namespace {

namespace Client = Velmora::PKI::TSP::Client;
namespace P = Velmora::Platform;
using Velmora::CBlob;
template <auto Free>
using Owned = P::FreeWith<Free>;

struct Fixture {
  Bench::LocalTsa tsa;
  TestPki::KeyPtr caKey = TestPki::NewKey();
  TestPki::CertPtr ca;
  TestPki::KeyPtr signerKey = TestPki::NewKey();
  TestPki::CertPtr signer;
  CBlob signature;       // the ContentInfo CMS_sign made
  CBlob signatureValue;  // its signer's signature value
  CBlob stamped;         // the same with one stamp
  CBlob token;           // that stamp's token
  std::filesystem::path caFile = std::filesystem::temp_directory_path() /
                                 ("bench_signature_ca_" + std::to_string(getpid()) + ".pem");

  Fixture() {
    ca = TestPki::Issue(TestPki::CertSpec("Bench Signing CA", 1, std::time(nullptr) - 3600,
                                          std::time(nullptr) + 86400, TestPki::CaExtensions()),
                        caKey.get(), nullptr, caKey.get());
    signer = TestPki::Issue(TestPki::CertSpec("Bench Signer", 2), signerKey.get(), ca.get(),
                            caKey.get());
    std::FILE* file = std::fopen(caFile.c_str(), "w");
    std::fputs(TestPki::PemOf(ca.get()).c_str(), file);
    std::fclose(file);
    P::CertAddTrustedRootsFromFile(caFile.c_str());
    P::CertAddTrustedRootsFromFile(tsa.caFile().c_str());

    const std::string document(1024, 'd');
    const std::unique_ptr<BIO, Owned<BIO_free>> in(
        BIO_new_mem_buf(document.data(), static_cast<int>(document.size())));
    const std::unique_ptr<CMS_ContentInfo, Owned<CMS_ContentInfo_free>> cms(
        CMS_sign(signer.get(), signerKey.get(), nullptr, in.get(), CMS_BINARY));
    unsigned char* der = nullptr;
    const int length = i2d_CMS_ContentInfo(cms.get(), &der);
    signature = CBlob(der, static_cast<unsigned long>(length));
    OPENSSL_free(der);
    Velmora::ASN1::CSignedData decoded;
    decoded.decode(signature);
    signatureValue = decoded.get_signerInfos().front().get_signature();

    Client::CSignedMessage message(signature.pbData(), signature.cbData());
    Client::CRequest request = Request();
    message.Stamp(0, request);
    stamped = message.Export();
    token = message.get_TimeStamps(0).front();
  }
  ~Fixture() {
    std::error_code ignored;
    std::filesystem::remove(caFile, ignored);
  }
  Client::CRequest Request() const {
    Client::CRequest request;
    request.put_DataHashAlg("2.16.840.1.101.3.4.2.1");
    request.put_CertReq(true);
    const std::wstring url(tsa.url().begin(), tsa.url().end());
    request.put_TSAAddress(url.c_str());
    request.put_ProxyAddress(L"");  // direct, whatever the environment says
    return request;
  }
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

void StampPlain(benchmark::State& state) {
  Fixture& f = Shared();
  Client::CRequest request = f.Request();
  for (auto _ : state) {
    request.ResetData();
    request.AddData(f.signatureValue.pbData(),
                    static_cast<unsigned long>(f.signatureValue.cbData()));
    benchmark::DoNotOptimize(&request.Send(true));
  }
}

void StampSignature(benchmark::State& state) {
  Fixture& f = Shared();
  Client::CRequest request = f.Request();
  for (auto _ : state) {
    Client::CSignedMessage message(f.signature.pbData(), f.signature.cbData());
    message.Stamp(0, request);
    benchmark::DoNotOptimize(message.Export());
  }
}

void VerifyStampedSignature(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    const Client::CSignatureReport report =
        Client::VerifySignatureStamps(f.stamped.pbData(), f.stamped.cbData(), nullptr, 0, nullptr,
                                      0, P::CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY);
    if (report.result() != P::S_OK) {
      state.SkipWithError("the stamped signature does not verify");
      break;
    }
  }
}

void VerifyCmsVerifyAndStamp(benchmark::State& state) {
  Fixture& f = Shared();
  const std::unique_ptr<X509_STORE, Owned<X509_STORE_free>> store(X509_STORE_new());
  X509_STORE_add_cert(store.get(), f.ca.get());
  for (auto _ : state) {
    const unsigned char* cursor = f.stamped.pbData();
    const std::unique_ptr<CMS_ContentInfo, Owned<CMS_ContentInfo_free>> cms(
        d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(f.stamped.cbData())));
    const bool signatureOk =
        cms && CMS_verify(cms.get(), nullptr, store.get(), nullptr, nullptr, CMS_BINARY) == 1;
    Client::CStamp stamp;
    stamp.Import(f.token.pbData(), static_cast<unsigned long>(f.token.cbData()), nullptr);
    const P::CERT_CONTEXT* tsa = stamp.get_TSACertificate(nullptr, 0);
    if (!signatureOk || tsa == nullptr || stamp.Verify(tsa, nullptr) != P::S_OK ||
        stamp.VerifyCertificate(tsa, nullptr, 0) != P::S_OK) {
      state.SkipWithError("the counterpart does not verify");
      break;
    }
  }
}

BENCHMARK(StampPlain)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(StampSignature)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(VerifyStampedSignature)->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK(VerifyCmsVerifyAndStamp)->Unit(benchmark::kMicrosecond)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
