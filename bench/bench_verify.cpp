// Full verification of a granted TimeStampResp signed with RSA-2048, and of one signed with
// GOST R 34.10-2012 (256-bit keys, GOST R 34.11-2012 digests throughout, Debian's gost engine), by
// a TSA under an intermediate CA and a root (a chain of three): ours imports it into a CStamp and
// runs Verify (content type, the ESSCertIDv2 signing-certificate attribute, the signature) and
// VerifyCertificate (the chain to the root trusted with CertAddTrustedRootsFromFile, judged at
// genTime by the time-stamping policy); OpenSSL decodes it with d2i_TS_RESP and runs
// TS_RESP_verify_response with TS_VFY_SIGNATURE | TS_VFY_SIGNER (signature, ESS certificate id,
// chain and time-stamping purpose) against a store holding the root, the intermediate given as
// untrusted material. The response is made once per run by OpenSSL's own responder (TS_RESP_CTX)
// and carries the TSA and intermediate certificates; for GOST, OpenSSL runs with the gost engine
// that the library loaded. Goal: at least 2 times faster than OpenSSL. The library keeps public
// keys and chain verdicts for the process, so the figure is that of verifying stamps of a TSA
// already met; the first stamp of a TSA costs more per certificate: about 15 µs for an RSA key
// (made from its numbers), about 120 µs for a key of another kind (OpenSSL 3 decoding it). The
// floor rows measure only what no verifier can skip, on the same response: the token's signature
// checked over its signed attributes (EVP_DigestVerify with the TSA's key), and that plus the two
// certificate signatures of the chain (X509_verify), which ours checks only for a TSA it has not
// met (goal: ours at most 1.5 times the first floor).
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/rand.h>
#include <openssl/ts.h>
#include <openssl/x509.h>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "horodex/TSPStamp.h"
#include "platform/capi/wincrypt_chain.h"
#include "platform/crypto/gost_module.h"
#include "tools/testpki/test_pki.h"

namespace {

using Velmora::PKI::TSP::Client::CStamp;

struct Party {
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
};

enum class Kind { rsa2048, gost2012_256 };

// The digest of every signature and hash of the kind's PKI and stamp.
const EVP_MD* DigestOf(Kind kind) {
  return kind == Kind::rsa2048 ? EVP_sha256() : EVP_get_digestbynid(NID_id_GostR3411_2012_256);
}

// A certificate for a new key, issued by `issuer` (itself when null).
Party Issue(Kind kind, const char* commonName, long serial, const Party* issuer, bool ca) {
  const std::time_t now = std::time(nullptr);
  TestPki::CertSpec spec(commonName, serial, now - 24 * 3600, now + 365L * 24 * 3600,
                         ca ? TestPki::CaExtensions() : TestPki::TsaExtensions());
  spec.organization = "Horodex Bench";
  EVP_PKEY* key = TestPki::NewKey(kind == Kind::rsa2048 ? TestPki::KeyKind::Rsa2048
                                                        : TestPki::KeyKind::Gost2012_256)
                      .release();
  X509* cert = TestPki::Issue(spec, key, issuer != nullptr ? issuer->cert : nullptr,
                              issuer != nullptr ? issuer->key : key)
                   .release();
  return Party{key, cert};
}

struct Setup {
  Party root, intermediate, tsa;
  std::vector<unsigned char> response;
  std::vector<unsigned char> signedAttributes;  // the DER the token's signature covers
  std::vector<unsigned char> signature;
  std::string rootFile;

  explicit Setup(Kind kind) {
    if (kind == Kind::gost2012_256 && !Velmora::Platform::GostModuleLoaded()) {
      throw std::runtime_error("Debian's GOST module (libengine-gost-openssl) is not installed");
    }
    root = Issue(kind, "Bench Root", 1, nullptr, true);
    intermediate = Issue(kind, "Bench Intermediate", 2, &root, true);
    tsa = Issue(kind, "Bench TSA", 3, &intermediate, false);

    // A request for an imprint of the kind's digest with a nonce, answered by OpenSSL's responder.
    TS_REQ* request = TS_REQ_new();
    TS_MSG_IMPRINT* imprint = TS_MSG_IMPRINT_new();
    X509_ALGOR* algorithm = X509_ALGOR_new();
    X509_ALGOR_set0(algorithm, OBJ_nid2obj(EVP_MD_get_type(DigestOf(kind))), V_ASN1_NULL, nullptr);
    TS_MSG_IMPRINT_set_algo(imprint, algorithm);
    unsigned char hash[32];
    RAND_bytes(hash, sizeof hash);
    TS_MSG_IMPRINT_set_msg(imprint, hash, sizeof hash);
    TS_REQ_set_version(request, 1);
    TS_REQ_set_msg_imprint(request, imprint);
    ASN1_INTEGER* nonce = ASN1_INTEGER_new();
    ASN1_INTEGER_set(nonce, 0x1234567);
    TS_REQ_set_nonce(request, nonce);
    TS_REQ_set_cert_req(request, 1);
    unsigned char* der = nullptr;
    const int derLength = i2d_TS_REQ(request, &der);
    BIO* query = BIO_new_mem_buf(der, derLength);

    TS_RESP_CTX* ctx = TS_RESP_CTX_new();
    STACK_OF(X509)* chain = sk_X509_new_null();
    sk_X509_push(chain, intermediate.cert);
    ASN1_OBJECT* policy = OBJ_txt2obj("1.2.3.4.1", 1);
    TS_RESP_CTX_set_signer_cert(ctx, tsa.cert);
    TS_RESP_CTX_set_signer_key(ctx, tsa.key);
    TS_RESP_CTX_set_signer_digest(ctx, DigestOf(kind));
    TS_RESP_CTX_set_ess_cert_id_digest(ctx, DigestOf(kind));
    TS_RESP_CTX_set_certs(ctx, chain);
    TS_RESP_CTX_set_def_policy(ctx, policy);
    TS_RESP_CTX_add_md(ctx, DigestOf(kind));
    TS_RESP_CTX_set_serial_cb(
        ctx,
        [](TS_RESP_CTX*, void*) {
          ASN1_INTEGER* serial = ASN1_INTEGER_new();
          ASN1_INTEGER_set(serial, 42);
          return serial;
        },
        nullptr);
    TS_RESP* reply = TS_RESP_create_response(ctx, query);
    if (reply == nullptr) {
      throw std::runtime_error("OpenSSL's responder made no response");
    }
    PKCS7_SIGNER_INFO* signer =
        sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(TS_RESP_get_token(reply)), 0);
    unsigned char* attributes = nullptr;
    const int attributesLength = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(signer->auth_attr),
                                               &attributes, ASN1_ITEM_rptr(PKCS7_ATTR_VERIFY));
    signedAttributes.assign(attributes, attributes + attributesLength);
    OPENSSL_free(attributes);
    signature.assign(
        ASN1_STRING_get0_data(signer->enc_digest),
        ASN1_STRING_get0_data(signer->enc_digest) + ASN1_STRING_length(signer->enc_digest));
    unsigned char* out = nullptr;
    const int length = i2d_TS_RESP(reply, &out);
    response.assign(out, out + length);
    OPENSSL_free(out);
    OPENSSL_free(der);
    TS_RESP_free(reply);
    TS_RESP_CTX_free(ctx);
    sk_X509_free(chain);
    ASN1_OBJECT_free(policy);
    BIO_free(query);
    TS_REQ_free(request);
    TS_MSG_IMPRINT_free(imprint);
    X509_ALGOR_free(algorithm);
    ASN1_INTEGER_free(nonce);

    char path[] = "/tmp/horodex-bench-root-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
      throw std::runtime_error("cannot make a temporary file");
    }
    close(fd);
    rootFile = path;
    FILE* pem = std::fopen(path, "w");
    PEM_write_X509(pem, root.cert);
    std::fclose(pem);
    if (Velmora::Platform::CertAddTrustedRootsFromFile(path) != 0) {
      throw std::runtime_error("the root cannot be trusted");
    }
  }
  ~Setup() { std::remove(rootFile.c_str()); }
};

const Setup& Pki(Kind kind) {
  static const Setup rsa(Kind::rsa2048);
  if (kind == Kind::rsa2048) {
    return rsa;
  }
  static const Setup gost(Kind::gost2012_256);
  return gost;
}

void Ours(benchmark::State& state, Kind kind) {
  const std::vector<unsigned char>& bytes = Pki(kind).response;
  for (auto _ : state) {
    CStamp stamp;
    stamp.Import(bytes.data(), static_cast<unsigned long>(bytes.size()), nullptr);
    if (stamp.Verify(nullptr, nullptr) != 0 || stamp.VerifyCertificate(nullptr, nullptr, 0) != 0) {
      state.SkipWithError("the stamp does not verify");
      break;
    }
  }
}

void OpenSSL(benchmark::State& state, Kind kind) {
  const Setup& pki = Pki(kind);
  X509_STORE* store = X509_STORE_new();
  X509_STORE_add_cert(store, pki.root.cert);
  STACK_OF(X509)* untrusted = sk_X509_new_null();
  X509_up_ref(pki.intermediate.cert);
  sk_X509_push(untrusted, pki.intermediate.cert);
  TS_VERIFY_CTX* ctx = TS_VERIFY_CTX_new();
  TS_VERIFY_CTX_set_flags(ctx, TS_VFY_SIGNATURE | TS_VFY_SIGNER);
  TS_VERIFY_CTX_set_store(ctx, store);      // owned by the context from here on
  TS_VERIFY_CTX_set_certs(ctx, untrusted);  // likewise
  const std::vector<unsigned char>& bytes = pki.response;
  for (auto _ : state) {
    const unsigned char* p = bytes.data();
    TS_RESP* response = d2i_TS_RESP(nullptr, &p, static_cast<long>(bytes.size()));
    const int valid = response != nullptr ? TS_RESP_verify_response(ctx, response) : 0;
    TS_RESP_free(response);
    if (valid != 1) {
      state.SkipWithError("OpenSSL does not verify the response");
      break;
    }
  }
  TS_VERIFY_CTX_free(ctx);
}

// The work no verifier can skip: the token's signature, and with `chain` the certificates' too.
void Floor(benchmark::State& state, Kind kind, bool chain) {
  const Setup& pki = Pki(kind);
  EVP_PKEY* key = X509_get0_pubkey(pki.tsa.cert);
  for (auto _ : state) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    const bool valid =
        EVP_DigestVerifyInit(ctx, nullptr, DigestOf(kind), nullptr, key) == 1 &&
        EVP_DigestVerify(ctx, pki.signature.data(), pki.signature.size(),
                         pki.signedAttributes.data(), pki.signedAttributes.size()) == 1 &&
        (!chain || (X509_verify(pki.tsa.cert, X509_get0_pubkey(pki.intermediate.cert)) == 1 &&
                    X509_verify(pki.intermediate.cert, X509_get0_pubkey(pki.root.cert)) == 1));
    EVP_MD_CTX_free(ctx);
    if (!valid) {
      state.SkipWithError("the signature does not verify");
      break;
    }
  }
}

}  // namespace

BENCHMARK_CAPTURE(Floor, rsa, Kind::rsa2048, false)
    ->Name("verify_granted_response_rsa2048_chain3/openssl_floor_token_signature");
BENCHMARK_CAPTURE(Floor, rsa_chain, Kind::rsa2048, true)
    ->Name("verify_granted_response_rsa2048_chain3/openssl_floor_with_chain_signatures");
BENCHMARK_CAPTURE(Floor, gost, Kind::gost2012_256, false)
    ->Name("verify_granted_response_gost2012_256_chain3/openssl_floor_token_signature");
BENCHMARK_CAPTURE(Ours, rsa, Kind::rsa2048)->Name("verify_granted_response_rsa2048_chain3/ours");
BENCHMARK_CAPTURE(OpenSSL, rsa, Kind::rsa2048)
    ->Name("verify_granted_response_rsa2048_chain3/openssl_TS_RESP_verify_response");
BENCHMARK_CAPTURE(Ours, gost, Kind::gost2012_256)
    ->Name("verify_granted_response_gost2012_256_chain3/ours");
BENCHMARK_CAPTURE(OpenSSL, gost, Kind::gost2012_256)
    ->Name("verify_granted_response_gost2012_256_chain3/openssl_TS_RESP_verify_response");
BENCHMARK_MAIN();
