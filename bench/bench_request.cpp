// CRequest's two hot paths against OpenSSL in the same run.
// Hashing: AddData of 256 MiB in 64 KiB pieces with SHA-256 and SHA-1 (the hash finished by the
// build), against EVP_DigestUpdate of the same pieces of the same buffer and EVP_DigestFinal_ex.
// Goal: ratio >= 0.95, and memory that stays flat whatever the data size (the counter rss_kib is
// the growth of the resident set over the run). Building: a fresh hash value, an 8-byte nonce
// drawn and the TimeStampReq exported, against TS_REQ, TS_MSG_IMPRINT, RAND_bytes for the nonce
// and i2d_TS_REQ. Goal: at least as fast as OpenSSL.
#include <benchmark/benchmark.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/rand.h>
#include <openssl/ts.h>
#include <openssl/x509.h>

#include <cstdio>
#include <vector>

#include "horodex/TSPRequest.h"

namespace {

using Velmora::PKI::TSP::Client::CRequest;

constexpr unsigned long kPiece = 64u << 10;
constexpr const char* kSha256 = "2.16.840.1.101.3.4.2.1";
constexpr const char* kSha1 = "1.3.14.3.2.26";

long ResidentKib() {
  long pages = 0, resident = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) {
      resident = 0;
    }
    std::fclose(f);
  }
  return resident * 4;
}

const std::vector<unsigned char>& Piece() {
  static const std::vector<unsigned char> piece = [] {
    std::vector<unsigned char> bytes(kPiece);
    RAND_bytes(bytes.data(), static_cast<int>(bytes.size()));
    return bytes;
  }();
  return piece;
}

void Finish(benchmark::State& state, long rssBefore) {
  const auto bytes = static_cast<int64_t>(state.range(0)) << 20;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
  state.counters["rss_kib"] = static_cast<double>(ResidentKib() - rssBefore);
}

void AddData(benchmark::State& state, const char* oid) {
  const std::vector<unsigned char>& piece = Piece();
  const long pieces = (state.range(0) << 20) / static_cast<long>(kPiece);
  CRequest request;
  request.put_UseNonce(false);
  request.put_DataHashAlg(oid);
  const long rss = ResidentKib();
  unsigned char hash[64];
  for (auto _ : state) {
    request.ResetData();
    for (long i = 0; i < pieces; ++i) {
      request.AddData(piece.data(), kPiece);
    }
    unsigned long length = sizeof hash;
    request.get_DataHash(hash, &length);
    benchmark::DoNotOptimize(hash);
  }
  Finish(state, rss);
}

void Evp(benchmark::State& state, const EVP_MD* md) {
  const std::vector<unsigned char>& piece = Piece();
  const long pieces = (state.range(0) << 20) / static_cast<long>(kPiece);
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  const long rss = ResidentKib();
  unsigned char hash[EVP_MAX_MD_SIZE];
  for (auto _ : state) {
    EVP_DigestInit_ex(ctx, md, nullptr);
    for (long i = 0; i < pieces; ++i) {
      EVP_DigestUpdate(ctx, piece.data(), kPiece);
    }
    unsigned int length = 0;
    EVP_DigestFinal_ex(ctx, hash, &length);
    benchmark::DoNotOptimize(hash);
  }
  EVP_MD_CTX_free(ctx);
  Finish(state, rss);
}

void Ours_AddData_SHA256(benchmark::State& state) {
  AddData(state, kSha256);
}
void OpenSSL_Digest_SHA256(benchmark::State& state) {
  Evp(state, EVP_sha256());
}
void Ours_AddData_SHA1(benchmark::State& state) {
  AddData(state, kSha1);
}
void OpenSSL_Digest_SHA1(benchmark::State& state) {
  Evp(state, EVP_sha1());
}

// 256 MiB, a few iterations: long enough to be steady, short enough for a default run.
BENCHMARK(Ours_AddData_SHA256)->Arg(256)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenSSL_Digest_SHA256)->Arg(256)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Ours_AddData_SHA1)->Arg(256)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenSSL_Digest_SHA1)->Arg(256)->Iterations(3)->Unit(benchmark::kMillisecond);

void Ours_BuildExport(benchmark::State& state) {
  CRequest request;  // policies are read once, as an application holds its request
  request.put_DataHashAlg(kSha256);
  request.put_UseNonce(true);
  unsigned char hash[32] = {1, 2, 3};
  unsigned char der[256];
  for (auto _ : state) {
    ++hash[0];
    request.put_DataHash(hash, sizeof hash);
    unsigned long length = sizeof der;
    request.Export(der, &length);
    benchmark::DoNotOptimize(der);
  }
}
BENCHMARK(Ours_BuildExport);

void OpenSSL_BuildExport(benchmark::State& state) {
  unsigned char hash[32] = {1, 2, 3};
  for (auto _ : state) {
    ++hash[0];
    TS_REQ* req = TS_REQ_new();
    TS_REQ_set_version(req, 1);
    TS_MSG_IMPRINT* imprint = TS_MSG_IMPRINT_new();
    X509_ALGOR* algorithm = X509_ALGOR_new();
    X509_ALGOR_set0(algorithm, OBJ_nid2obj(NID_sha256), V_ASN1_NULL, nullptr);
    TS_MSG_IMPRINT_set_algo(imprint, algorithm);
    TS_MSG_IMPRINT_set_msg(imprint, hash, sizeof hash);
    TS_REQ_set_msg_imprint(req, imprint);
    unsigned char random[8];
    RAND_bytes(random, sizeof random);
    BIGNUM* bn = BN_bin2bn(random, sizeof random, nullptr);
    ASN1_INTEGER* nonce = BN_to_ASN1_INTEGER(bn, nullptr);
    TS_REQ_set_nonce(req, nonce);
    TS_REQ_set_cert_req(req, 0);
    unsigned char* out = nullptr;
    const int length = i2d_TS_REQ(req, &out);
    benchmark::DoNotOptimize(length);
    OPENSSL_free(out);
    ASN1_INTEGER_free(nonce);
    BN_free(bn);
    X509_ALGOR_free(algorithm);
    TS_MSG_IMPRINT_free(imprint);
    TS_REQ_free(req);
  }
}
BENCHMARK(OpenSSL_BuildExport);

}  // namespace

BENCHMARK_MAIN();
