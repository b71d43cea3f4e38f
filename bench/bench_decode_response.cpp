// Decoding a TimeStampResp that carries three certificates: ours against OpenSSL's d2i_TS_RESP
// on the same bytes. The responses wrap real TSAs' tokens (SSL.com 2021 with its chain of three,
// Apple Timestamp Signer MA2 with three) in a granted status.
#include <benchmark/benchmark.h>
#include <openssl/ts.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/corpus_responses.h"
#include "codec/corekit/blob.h"
#include "codec/stampmsg/response.h"

namespace {

using BenchCorpus::Response;

void Ours(benchmark::State& state) {
  const Velmora::CBlob bytes(Response(static_cast<int>(state.range(0))));
  for (auto _ : state) {
    Velmora::PKI::TSP::CResponse response;
    response.decode(bytes);
    benchmark::DoNotOptimize(response.get_timeStampToken());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.cbData()));
}

void OpenSSL(benchmark::State& state) {
  const std::vector<std::uint8_t>& bytes = Response(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    const unsigned char* p = bytes.data();
    TS_RESP* response = d2i_TS_RESP(nullptr, &p, static_cast<long>(bytes.size()));
    if (response == nullptr) {
      state.SkipWithError("d2i_TS_RESP refused the response");
      break;
    }
    benchmark::DoNotOptimize(response);
    TS_RESP_free(response);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

}  // namespace

// Argument 0: SSL.com 2021 (RSA-3072, 3 certificates); 1: Apple Timestamp Signer MA2 (3
// certificates).
BENCHMARK(Ours)->Name("decode_TimeStampResp/ours")->Arg(0)->Arg(1);
BENCHMARK(OpenSSL)->Name("decode_TimeStampResp/openssl_d2i_TS_RESP")->Arg(0)->Arg(1);
BENCHMARK_MAIN();
