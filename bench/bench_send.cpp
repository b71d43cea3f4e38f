// One whole time stamp, wall-clock time per stamp (and stamps per second): build the request
// with a fresh nonce, post it to a local TSA (horodex-testtsa on loopback, ECDSA P-256, signing
// every answer), import the reply and verify it (imprint, nonce, signature, the TSA's chain to its
// CA). Ours is CRequest::Send(true) on one request object, its hash value set anew before every
// call so that each call builds; the counterpart is a C loop on OpenSSL's TS API and libcurl:
// TS_REQ with RAND_bytes for the nonce and i2d_TS_REQ, one curl easy handle with keep-alive,
// d2i_TS_RESP and TS_RESP_verify_response with the CA in an X509_STORE. 1000 stamps a
// repetition each.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ts.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/local_tsa.h"
#include "horodex/TSPRequest.h"
#include "platform/capi/wincrypt_chain.h"
#include "platform/errors/atl_exception.h"

namespace {

using Bench::LocalTsa;

LocalTsa& Tsa() {
  static LocalTsa tsa;
  return tsa;
}

// A SHA-256 hash value that changes with every stamp.
void NextHash(unsigned char (&hash)[32], std::uint64_t n) {
  for (int i = 0; i < 32; ++i) {
    hash[i] = static_cast<unsigned char>((n >> ((i % 8) * 8)) + static_cast<unsigned>(i));
  }
}

void SendOurs(benchmark::State& state) {
  LocalTsa& tsa = Tsa();
  if (Velmora::Platform::FAILED(
          Velmora::Platform::CertAddTrustedRootsFromFile(tsa.caFile().c_str()))) {
    state.SkipWithError("cannot trust the test TSA's CA");
    return;
  }
  const std::wstring url(tsa.url().begin(), tsa.url().end());
  Velmora::PKI::TSP::Client::CRequest request;
  request.put_DataHashAlg("2.16.840.1.101.3.4.2.1");
  request.put_CertReq(true);
  request.put_TSAAddress(url.c_str());
  request.put_ProxyAddress(L"");  // direct, whatever the environment says
  unsigned char hash[32];
  std::uint64_t n = 0;
  for (auto _ : state) {
    NextHash(hash, ++n);
    request.put_DataHash(hash, sizeof hash);
    try {
      const auto& stamp = request.Send(true);
      benchmark::DoNotOptimize(&stamp);
    } catch (const Velmora::Platform::CAtlException& e) {
      state.SkipWithError(("Send failed: " + std::to_string(e.hr())).c_str());
      break;
    }
  }
  state.counters["stamps_per_second"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* user) {
  auto* reply = static_cast<std::vector<unsigned char>*>(user);
  reply->insert(reply->end(), data, data + size * count);
  return size * count;
}

// One stamp the way a C program on OpenSSL and libcurl gets it; false when any step fails.
bool StampWithOpenSsl(CURL* easy, X509_STORE* store, const unsigned char (&hash)[32],
                      std::vector<unsigned char>& reply) {
  bool ok = false;
  TS_REQ* req = TS_REQ_new();
  TS_MSG_IMPRINT* imprint = TS_MSG_IMPRINT_new();
  X509_ALGOR* algorithm = X509_ALGOR_new();
  ASN1_INTEGER* nonce = nullptr;
  BIGNUM* nonceValue = BN_new();
  unsigned char* der = nullptr;
  TS_RESP* response = nullptr;
  TS_VERIFY_CTX* verify = nullptr;
  unsigned char random[8];
  int length = 0;
  long status = 0;
  const unsigned char* cursor = nullptr;
  if (req == nullptr || imprint == nullptr || algorithm == nullptr || nonceValue == nullptr ||
      TS_REQ_set_version(req, 1) != 1 ||
      X509_ALGOR_set0(algorithm, OBJ_nid2obj(NID_sha256), V_ASN1_NULL, nullptr) != 1 ||
      TS_MSG_IMPRINT_set_algo(imprint, algorithm) != 1 ||
      TS_MSG_IMPRINT_set_msg(imprint, const_cast<unsigned char*>(hash), 32) != 1 ||
      TS_REQ_set_msg_imprint(req, imprint) != 1 || TS_REQ_set_cert_req(req, 1) != 1 ||
      RAND_bytes(random, sizeof random) != 1 ||
      BN_bin2bn(random, sizeof random, nonceValue) == nullptr ||
      (nonce = BN_to_ASN1_INTEGER(nonceValue, nullptr)) == nullptr ||
      TS_REQ_set_nonce(req, nonce) != 1) {
    goto done;
  }
  length = i2d_TS_REQ(req, &der);
  if (length <= 0) {
    goto done;
  }
  reply.clear();
  curl_easy_setopt(easy, CURLOPT_POSTFIELDS, der);
  curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, static_cast<long>(length));
  if (curl_easy_perform(easy) != CURLE_OK ||
      curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status != 200) {
    goto done;
  }
  cursor = reply.data();
  response = d2i_TS_RESP(nullptr, &cursor, static_cast<long>(reply.size()));
  if (response == nullptr) {
    goto done;
  }
  verify = TS_REQ_to_TS_VERIFY_CTX(req, nullptr);
  if (verify == nullptr || X509_STORE_up_ref(store) != 1) {
    goto done;
  }
  TS_VERIFY_CTX_set_store(verify, store);
  TS_VERIFY_CTX_add_flags(verify, TS_VFY_SIGNATURE);
  ok = TS_RESP_verify_response(verify, response) == 1;
done:
  TS_VERIFY_CTX_free(verify);
  TS_RESP_free(response);
  OPENSSL_free(der);
  BN_free(nonceValue);
  ASN1_INTEGER_free(nonce);
  X509_ALGOR_free(algorithm);
  TS_MSG_IMPRINT_free(imprint);
  TS_REQ_free(req);
  return ok;
}

void SendLibcurlOpenSsl(benchmark::State& state) {
  LocalTsa& tsa = Tsa();
  curl_global_init(CURL_GLOBAL_DEFAULT);
  X509_STORE* store = X509_STORE_new();
  FILE* caFile = std::fopen(tsa.caFile().c_str(), "r");
  X509* ca = caFile != nullptr ? PEM_read_X509(caFile, nullptr, nullptr, nullptr) : nullptr;
  if (caFile != nullptr) {
    std::fclose(caFile);
  }
  if (store == nullptr || ca == nullptr || X509_STORE_add_cert(store, ca) != 1) {
    state.SkipWithError("cannot load the test TSA's CA");
    X509_free(ca);
    X509_STORE_free(store);
    return;
  }
  CURL* easy = curl_easy_init();
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/timestamp-query");
  std::vector<unsigned char> reply;
  curl_easy_setopt(easy, CURLOPT_URL, tsa.url().c_str());
  curl_easy_setopt(easy, CURLOPT_PROXY, "");
  curl_easy_setopt(easy, CURLOPT_USERAGENT, "Velmora horodex.dll");
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Collect);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &reply);
  unsigned char hash[32];
  std::uint64_t n = 0;
  for (auto _ : state) {
    NextHash(hash, ++n);
    if (!StampWithOpenSsl(easy, store, hash, reply)) {
      state.SkipWithError("stamp failed");
      break;
    }
  }
  state.counters["stamps_per_second"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  curl_slist_free_all(headers);
  curl_easy_cleanup(easy);
  X509_free(ca);
  X509_STORE_free(store);
}

}  // namespace

BENCHMARK(SendOurs)
    ->Name("send_verified/ours")
    ->Iterations(1000)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(SendLibcurlOpenSsl)
    ->Name("send_verified/libcurl_openssl_ts")
    ->Iterations(1000)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
