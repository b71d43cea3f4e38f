// Importing a granted TimeStampResp with three certificates into a CStamp (decode, the token's
// fields, each certificate made a context and added to the stamp's store) and reading the fields
// back, against OpenSSL's d2i_TS_RESP followed by reading the same fields (TS_RESP_get_tst_info,
// the TS_TST_INFO getters, the number of certificates), in the same run. The responses wrap real
// TSAs' tokens (SSL.com 2021 with its chain of three, Apple Timestamp Signer MA2 with three) in a
// granted status, as the decoding benchmark does. Goal: at least 4 times faster than OpenSSL.
#include <benchmark/benchmark.h>
#include <openssl/ts.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/corpus_responses.h"
#include "horodex/TSPStamp.h"
#include "platform/capi/wincrypt.h"

namespace {

using Velmora::PKI::TSP::Client::CStamp;

using BenchCorpus::Response;

void Ours(benchmark::State& state) {
  const std::vector<std::uint8_t>& bytes = Response(static_cast<int>(state.range(0)));
  unsigned char buffer[128];
  for (auto _ : state) {
    CStamp stamp;
    stamp.Import(bytes.data(), static_cast<unsigned long>(bytes.size()), nullptr);
    benchmark::DoNotOptimize(stamp.get_Status());
    benchmark::DoNotOptimize(stamp.get_Time());
    benchmark::DoNotOptimize(stamp.get_Accuracy());
    benchmark::DoNotOptimize(stamp.get_Ordering());
    benchmark::DoNotOptimize(stamp.get_PolicyID());
    benchmark::DoNotOptimize(stamp.get_HasNonce());
    benchmark::DoNotOptimize(stamp.get_TSA());
    benchmark::DoNotOptimize(stamp.get_DataHashAlg());
    unsigned long length = sizeof buffer;
    stamp.get_SerialNumber(buffer, &length);
    length = sizeof buffer;
    stamp.get_DataHash(buffer, &length);
    int certificates = 0;
    Velmora::Platform::PCCERT_CONTEXT c = nullptr;
    while ((c = Velmora::Platform::CertEnumCertificatesInStore(stamp.get_Certificates(), c)) !=
           nullptr) {
      ++certificates;
    }
    if (certificates != 3) {
      state.SkipWithError("the stamp does not hold three certificates");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
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
    benchmark::DoNotOptimize(
        ASN1_INTEGER_get(TS_STATUS_INFO_get0_status(TS_RESP_get_status_info(response))));
    TS_TST_INFO* info = TS_RESP_get_tst_info(response);
    benchmark::DoNotOptimize(TS_TST_INFO_get_time(info));
    if (TS_ACCURACY* accuracy = TS_TST_INFO_get_accuracy(info)) {
      benchmark::DoNotOptimize(TS_ACCURACY_get_seconds(accuracy));
      benchmark::DoNotOptimize(TS_ACCURACY_get_millis(accuracy));
      benchmark::DoNotOptimize(TS_ACCURACY_get_micros(accuracy));
    }
    benchmark::DoNotOptimize(TS_TST_INFO_get_ordering(info));
    benchmark::DoNotOptimize(TS_TST_INFO_get_policy_id(info));
    benchmark::DoNotOptimize(TS_TST_INFO_get_nonce(info));
    benchmark::DoNotOptimize(TS_TST_INFO_get_tsa(info));
    benchmark::DoNotOptimize(TS_TST_INFO_get_serial(info));
    TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(info);
    benchmark::DoNotOptimize(TS_MSG_IMPRINT_get_algo(imprint));
    benchmark::DoNotOptimize(TS_MSG_IMPRINT_get_msg(imprint));
    const PKCS7* token = TS_RESP_get_token(response);
    if (sk_X509_num(token->d.sign->cert) != 3) {
      state.SkipWithError("OpenSSL does not list three certificates");
      break;
    }
    TS_RESP_free(response);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

}  // namespace

// Argument 0: SSL.com 2021 (RSA-3072, 3 certificates); 1: Apple Timestamp Signer MA2 (3
// certificates).
BENCHMARK(Ours)->Name("import_TimeStampResp/ours_CStamp")->Arg(0)->Arg(1);
BENCHMARK(OpenSSL)->Name("import_TimeStampResp/openssl_d2i_TS_RESP")->Arg(0)->Arg(1);
BENCHMARK_MAIN();
