// Full verification of a granted TimeStampResp (RSA-2048, a chain of three, as bench_verify.cpp)
// with revocation checked for the TSA and intermediate certificates from the disk cache, the
// responders named in the certificates being unreachable: "ours_ocsp_from_cache" with an OCSP
// response for each certificate in the cache, "ours_crl_from_cache" with the intermediate's CRL of
// 100,000 entries (and the root's small one) in the cache, "ours_delta_crl_from_cache" with such a
// complete CRL (numbered 1) and a delta of a few entries over it (deltaCRLIndicator 1), both of
// full scope, the TSA certificate naming the delta in its freshestCRL; "ours_no_revocation_source"
// verifies a
// stamp of the same PKI whose certificates name no revocation source, the figure the others are
// held to (goal: at most 20% more). The OpenSSL counterparts decode the response with d2i_TS_RESP
// and run TS_RESP_verify_response (signature, ESS certificate id, X509_verify_cert with the
// time-stamping purpose): with the same two CRLs in its store and X509_V_FLAG_CRL_CHECK |
// X509_V_FLAG_CRL_CHECK_ALL (and X509_V_FLAG_USE_DELTAS with the delta beside its complete CRL
// for the delta row), and for OCSP followed by d2i_OCSP_RESPONSE, OCSP_basic_verify and
// OCSP_resp_find_status of the same two cached responses (goal: ours at least 3 times faster).
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/ocsp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "horodex/TSPStamp.h"
#include "platform/capi/revocation_cache.h"
#include "platform/capi/revocation_ocsp.h"
#include "platform/capi/wincrypt_chain.h"
#include "platform/capi/wincrypt_revocation.h"
#include "tools/testpki/test_pki.h"

namespace {

using Velmora::PKI::TSP::Client::CStamp;
namespace Capi = Velmora::Platform::Capi;

constexpr long kCrlEntries = 100000;
const char* const kOcspUrl = "http://127.0.0.1:9/ocsp";

constexpr long kDeltaEntries = 5;
const char* const kDeltaUrl = "http://127.0.0.1:9/intermediate-delta.crl";

enum class Source { none, ocsp, crl, delta };

// Where the CRL of `who` ("root" or "intermediate") is published for the chain of `source`.
const char* CrlUrl(const char* who, Source source = Source::crl) {
  if (who[0] == 'r') {
    return "http://127.0.0.1:9/root.crl";
  }
  return source == Source::delta ? "http://127.0.0.1:9/intermediate-base.crl"
                                 : "http://127.0.0.1:9/intermediate.crl";
}

struct Party {
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
};

void Check(bool ok, const char* what) {
  if (!ok) {
    throw std::runtime_error(what);
  }
}

// A certificate for a new RSA-2048 key, issued by `issuer` (itself when null), naming `source`
// under `issuerName` as where its revocation status is told.
Party Issue(const char* commonName, long serial, const Party* issuer, bool ca, Source source,
            const char* issuerName) {
  const std::time_t now = std::time(nullptr);
  TestPki::CertSpec spec(commonName, serial, now - 24 * 3600, now + 365L * 24 * 3600,
                         ca ? TestPki::CaExtensions() : TestPki::TsaExtensions());
  if (source == Source::ocsp) {
    spec.extensions.push_back({"authorityInfoAccess", std::string("OCSP;URI:") + kOcspUrl});
  } else if (source != Source::none) {
    spec.extensions.push_back(
        {"crlDistributionPoints", std::string("URI:") + CrlUrl(issuerName, source)});
    if (source == Source::delta && issuerName[0] == 'i') {
      spec.extensions.push_back({"freshestCRL", std::string("URI:") + kDeltaUrl});
    }
  }
  EVP_PKEY* key = TestPki::NewKey(TestPki::KeyKind::Rsa2048).release();
  X509* cert = TestPki::Issue(spec, key, issuer != nullptr ? issuer->cert : nullptr,
                              issuer != nullptr ? issuer->key : key)
                   .release();
  return Party{key, cert};
}

template <typename T, typename I2d>
std::vector<std::uint8_t> DerOf(T* object, I2d i2d) {
  unsigned char* out = nullptr;
  const int length = i2d(object, &out);
  Check(length > 0, "DER");
  std::vector<std::uint8_t> der(out, out + length);
  OPENSSL_free(out);
  return der;
}

// A CRL of `issuer` listing `entries` serial numbers other than those of the PKI, from `first` on.
X509_CRL* CrlOf(const Party& issuer, long entries,
                const std::vector<TestPki::Extension>& extensions = {}, long first = 1000000) {
  std::vector<TestPki::CrlEntry> listed;
  for (long i = 0; i < entries; ++i) {
    listed.push_back({first + i * 7});
  }
  const std::time_t now = std::time(nullptr);
  return TestPki::MakeCrl(issuer.cert, issuer.key, listed, now - 60, now + 24 * 3600, extensions)
      .release();
}

// A granted response of `tsa` to a SHA-256 request with a nonce, carrying the intermediate.
std::vector<std::uint8_t> ResponseOf(const Party& tsa, const Party& intermediate) {
  TS_REQ* request = TS_REQ_new();
  TS_MSG_IMPRINT* imprint = TS_MSG_IMPRINT_new();
  X509_ALGOR* algorithm = X509_ALGOR_new();
  X509_ALGOR_set0(algorithm, OBJ_nid2obj(NID_sha256), V_ASN1_NULL, nullptr);
  TS_MSG_IMPRINT_set_algo(imprint, algorithm);
  unsigned char hash[32];
  RAND_bytes(hash, sizeof hash);
  TS_MSG_IMPRINT_set_msg(imprint, hash, sizeof hash);
  TS_REQ_set_version(request, 1);
  TS_REQ_set_msg_imprint(request, imprint);
  TS_REQ_set_cert_req(request, 1);
  const std::vector<std::uint8_t> query = DerOf(request, i2d_TS_REQ);
  BIO* in = BIO_new_mem_buf(query.data(), static_cast<int>(query.size()));
  TS_RESP_CTX* ctx = TS_RESP_CTX_new();
  STACK_OF(X509)* chain = sk_X509_new_null();
  sk_X509_push(chain, intermediate.cert);
  ASN1_OBJECT* policy = OBJ_txt2obj("1.2.3.4.1", 1);
  TS_RESP_CTX_set_signer_cert(ctx, tsa.cert);
  TS_RESP_CTX_set_signer_key(ctx, tsa.key);
  TS_RESP_CTX_set_signer_digest(ctx, EVP_sha256());
  TS_RESP_CTX_set_ess_cert_id_digest(ctx, EVP_sha256());
  TS_RESP_CTX_set_certs(ctx, chain);
  TS_RESP_CTX_set_def_policy(ctx, policy);
  TS_RESP_CTX_add_md(ctx, EVP_sha256());
  TS_RESP* reply = TS_RESP_create_response(ctx, in);
  Check(reply != nullptr, "OpenSSL's responder made no response");
  std::vector<std::uint8_t> der = DerOf(reply, i2d_TS_RESP);
  TS_RESP_free(reply);
  TS_RESP_CTX_free(ctx);
  sk_X509_free(chain);
  ASN1_OBJECT_free(policy);
  BIO_free(in);
  TS_REQ_free(request);
  TS_MSG_IMPRINT_free(imprint);
  X509_ALGOR_free(algorithm);
  return der;
}

// Whether the chain of `tsa` has both revocation answers from the cache, good.
bool AnsweredFromCache(const Party& tsa, const Party& intermediate) {
  namespace P = Velmora::Platform;
  const std::vector<std::uint8_t> tsaDer = DerOf(tsa.cert, i2d_X509);
  const std::vector<std::uint8_t> caDer = DerOf(intermediate.cert, i2d_X509);
  P::PCCERT_CONTEXT subject = P::CertCreateCertificateContext(P::X509_ASN_ENCODING, tsaDer.data(),
                                                              static_cast<P::DWORD>(tsaDer.size()));
  P::HCERTSTORE store = P::CertOpenStore(P::CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  P::PCCERT_CONTEXT ca = P::CertCreateCertificateContext(P::X509_ASN_ENCODING, caDer.data(),
                                                         static_cast<P::DWORD>(caDer.size()));
  P::CertAddCertificateContextToStore(store, ca, P::CERT_STORE_ADD_ALWAYS, nullptr);
  P::CertFreeCertificateContext(ca);
  P::CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  P::PCCERT_CHAIN_CONTEXT chain = nullptr;
  bool answered = P::CertGetCertificateChain(nullptr, subject, nullptr, store, &para,
                                             P::CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT |
                                                 P::CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY,
                                             nullptr, &chain) != 0 &&
                  chain->rgpChain[0]->cElement == 3;
  for (int i = 0; answered && i < 2; ++i) {
    const P::CERT_REVOCATION_INFO* info = chain->rgpChain[0]->rgpElement[i]->pRevocationInfo;
    answered = info != nullptr && info->dwSource == P::REVOCATION_SOURCE_CACHE &&
               info->dwRevocationResult == 0;
  }
  P::CertFreeCertificateChain(chain);
  P::CertCloseStore(store, 0);
  P::CertFreeCertificateContext(subject);
  return answered;
}

struct Setup {
  Party root;
  struct Path {
    Party intermediate, tsa;
    std::vector<std::uint8_t> response;
  } paths[4];  // by Source
  X509_CRL* rootCrl = nullptr;
  X509_CRL* bigCrl = nullptr;
  X509_CRL* baseCrl = nullptr;        // complete, numbered 1
  X509_CRL* deltaCrl = nullptr;       // over baseCrl
  std::vector<std::uint8_t> ocsp[2];  // the TSA's and the intermediate's
  std::string dir;

  Setup() {
    char folder[] = "/tmp/horodex-bench-revocation-XXXXXX";
    Check(mkdtemp(folder) != nullptr, "temporary folder");
    dir = folder;
    setenv("XDG_CACHE_HOME", (dir + "/cache").c_str(), 1);
    root = Issue("Bench Revocation Root", 1, nullptr, true, Source::none, "");
    for (Source source : {Source::none, Source::ocsp, Source::crl, Source::delta}) {
      Path& path = paths[static_cast<int>(source)];
      const long serial = 10 + 10 * static_cast<long>(source);
      path.intermediate = Issue("Bench Intermediate", serial, &root, true, source, "root");
      path.tsa = Issue("Bench TSA", serial + 1, &path.intermediate, false, source, "intermediate");
      path.response = ResponseOf(path.tsa, path.intermediate);
    }
    const Path& ocspPath = paths[static_cast<int>(Source::ocsp)];
    ocsp[0] = TestPki::GoodOcspResponse(ocspPath.tsa.cert, ocspPath.intermediate.cert,
                                        ocspPath.intermediate.key, 24 * 3600);
    ocsp[1] = TestPki::GoodOcspResponse(ocspPath.intermediate.cert, root.cert, root.key, 24 * 3600);
    // The cache as a fetch would have left it.
    Velmora::Platform::PCCERT_CONTEXT contexts[3] = {};
    for (int i = 0; i < 3; ++i) {
      const X509* cert = i == 0   ? ocspPath.tsa.cert
                         : i == 1 ? ocspPath.intermediate.cert
                                  : root.cert;
      const std::vector<std::uint8_t> der = DerOf(cert, i2d_X509);
      contexts[i] = Velmora::Platform::CertCreateCertificateContext(
          Velmora::Platform::X509_ASN_ENCODING, der.data(), static_cast<unsigned>(der.size()));
    }
    Capi::WriteRevocationCache(Capi::CacheKind::Ocsp, Capi::OcspCacheKey(contexts[0], contexts[1]),
                               ocsp[0]);
    Capi::WriteRevocationCache(Capi::CacheKind::Ocsp, Capi::OcspCacheKey(contexts[1], contexts[2]),
                               ocsp[1]);
    for (auto* context : contexts) {
      Velmora::Platform::CertFreeCertificateContext(context);
    }
    rootCrl = CrlOf(root, 0);
    bigCrl = CrlOf(paths[static_cast<int>(Source::crl)].intermediate, kCrlEntries);
    Capi::WriteRevocationCache(Capi::CacheKind::Crl, CrlUrl("root"), DerOf(rootCrl, i2d_X509_CRL));
    Capi::WriteRevocationCache(Capi::CacheKind::Crl, CrlUrl("intermediate"),
                               DerOf(bigCrl, i2d_X509_CRL));
    const Party& deltaIssuer = paths[static_cast<int>(Source::delta)].intermediate;
    baseCrl = CrlOf(deltaIssuer, kCrlEntries, {{"crlNumber", "ASN1:INTEGER:1"}});
    deltaCrl =
        CrlOf(deltaIssuer, kDeltaEntries,
              {{"crlNumber", "ASN1:INTEGER:2"}, {"deltaCRL", "critical,ASN1:INTEGER:1"}}, 2000001);
    Capi::WriteRevocationCache(Capi::CacheKind::Crl, CrlUrl("intermediate", Source::delta),
                               DerOf(baseCrl, i2d_X509_CRL));
    Capi::WriteRevocationCache(Capi::CacheKind::Crl, kDeltaUrl, DerOf(deltaCrl, i2d_X509_CRL));

    const std::string rootFile = dir + "/root.pem";
    FILE* pem = std::fopen(rootFile.c_str(), "w");
    PEM_write_X509(pem, root.cert);
    std::fclose(pem);
    Check(Velmora::Platform::CertAddTrustedRootsFromFile(rootFile.c_str()) == 0, "trusted root");
    for (Source source : {Source::ocsp, Source::crl, Source::delta}) {
      Check(AnsweredFromCache(paths[static_cast<int>(source)].tsa,
                              paths[static_cast<int>(source)].intermediate),
            "the cache does not answer for the chain");
    }
  }
  ~Setup() { std::filesystem::remove_all(dir); }
};

const Setup& Pki() {
  static const Setup setup;
  return setup;
}

void Ours(benchmark::State& state, Source source) {
  const std::vector<std::uint8_t>& bytes = Pki().paths[static_cast<int>(source)].response;
  for (auto _ : state) {
    CStamp stamp;
    stamp.Import(bytes.data(), static_cast<unsigned long>(bytes.size()), nullptr);
    if (stamp.Verify(nullptr, nullptr) != 0 || stamp.VerifyCertificate(nullptr, nullptr, 0) != 0) {
      state.SkipWithError("the stamp does not verify");
      break;
    }
  }
}

// Whether the cached OCSP response says `subject` is good, as an OpenSSL application checks it.
bool OcspGood(const std::vector<std::uint8_t>& der, X509* subject, X509* issuer,
              X509_STORE* store) {
  const unsigned char* p = der.data();
  OCSP_RESPONSE* response = d2i_OCSP_RESPONSE(nullptr, &p, static_cast<long>(der.size()));
  OCSP_BASICRESP* basic = response != nullptr ? OCSP_response_get1_basic(response) : nullptr;
  STACK_OF(X509)* signers = sk_X509_new_null();
  sk_X509_push(signers, issuer);
  OCSP_CERTID* id = OCSP_cert_to_id(EVP_sha1(), subject, issuer);
  int status = -1;
  ASN1_GENERALIZEDTIME* thisUpdate = nullptr;
  ASN1_GENERALIZEDTIME* nextUpdate = nullptr;
  const bool good =
      basic != nullptr && OCSP_basic_verify(basic, signers, store, OCSP_TRUSTOTHER) == 1 &&
      OCSP_resp_find_status(basic, id, &status, nullptr, nullptr, &thisUpdate, &nextUpdate) == 1 &&
      status == V_OCSP_CERTSTATUS_GOOD && OCSP_check_validity(thisUpdate, nextUpdate, 300, -1) == 1;
  OCSP_CERTID_free(id);
  sk_X509_free(signers);
  OCSP_BASICRESP_free(basic);
  OCSP_RESPONSE_free(response);
  return good;
}

void OpenSSL(benchmark::State& state, Source source) {
  const Setup& pki = Pki();
  const Setup::Path& path = pki.paths[static_cast<int>(source)];
  X509_STORE* store = X509_STORE_new();
  X509_STORE_add_cert(store, pki.root.cert);
  if (source == Source::crl) {
    X509_STORE_add_crl(store, pki.rootCrl);
    X509_STORE_add_crl(store, pki.bigCrl);
    X509_STORE_set_flags(store, X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL);
  } else if (source == Source::delta) {
    X509_STORE_add_crl(store, pki.rootCrl);
    X509_STORE_add_crl(store, pki.baseCrl);
    X509_STORE_add_crl(store, pki.deltaCrl);
    X509_STORE_set_flags(
        store, X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL | X509_V_FLAG_USE_DELTAS);
  }
  STACK_OF(X509)* untrusted = sk_X509_new_null();
  X509_up_ref(path.intermediate.cert);
  sk_X509_push(untrusted, path.intermediate.cert);
  TS_VERIFY_CTX* ctx = TS_VERIFY_CTX_new();
  TS_VERIFY_CTX_set_flags(ctx, TS_VFY_SIGNATURE | TS_VFY_SIGNER);
  TS_VERIFY_CTX_set_store(ctx, store);      // owned by the context from here on
  TS_VERIFY_CTX_set_certs(ctx, untrusted);  // likewise
  for (auto _ : state) {
    const unsigned char* p = path.response.data();
    TS_RESP* response = d2i_TS_RESP(nullptr, &p, static_cast<long>(path.response.size()));
    bool valid = response != nullptr && TS_RESP_verify_response(ctx, response) == 1;
    if (valid && source == Source::ocsp) {
      valid = OcspGood(pki.ocsp[0], path.tsa.cert, path.intermediate.cert, store) &&
              OcspGood(pki.ocsp[1], path.intermediate.cert, pki.root.cert, store);
    }
    TS_RESP_free(response);
    if (!valid) {
      state.SkipWithError("OpenSSL does not verify the response");
      break;
    }
  }
  TS_VERIFY_CTX_free(ctx);
}

}  // namespace

BENCHMARK_CAPTURE(Ours, none, Source::none)
    ->Name("verify_revocation_rsa2048_chain3/ours_no_revocation_source");
BENCHMARK_CAPTURE(Ours, ocsp, Source::ocsp)->Name("verify_ocsp_from_cache/ours");
BENCHMARK_CAPTURE(OpenSSL, ocsp, Source::ocsp)
    ->Name("verify_ocsp_from_cache/openssl_TS_RESP_verify_response_OCSP_basic_verify");
BENCHMARK_CAPTURE(Ours, crl, Source::crl)->Name("verify_crl_100000_from_cache/ours");
BENCHMARK_CAPTURE(OpenSSL, crl, Source::crl)
    ->Name("verify_crl_100000_from_cache/openssl_X509_verify_cert_crl_check_all");
BENCHMARK_CAPTURE(Ours, delta, Source::delta)->Name("verify_delta_crl_over_100000_from_cache/ours");
BENCHMARK_CAPTURE(OpenSSL, delta, Source::delta)
    ->Name("verify_delta_crl_over_100000_from_cache/openssl_X509_verify_cert_use_deltas");
BENCHMARK_MAIN();
