// Evidence records: a tree over 1,000,000 SHA-256 leaf hashes stamped once at a local TSA
// (horodex-testtsa on loopback) and every leaf's record written to memory, with the process's
// peak resident memory as a counter; the verification of one of those records (path, signature,
// TSA chain); and 1,000 hashes stamped under one tree against 1,000 single stamps through
// CRequest::Send(true), the counterpart, in the same run.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/local_tsa.h"
#include "horodex/EvidenceRecord.h"
#include "platform/capi/wincrypt_chain.h"

namespace {

using namespace Velmora::PKI::TSP::Client;
using Velmora::CBlob;

constexpr const char* kSha256 = "2.16.840.1.101.3.4.2.1";

Bench::LocalTsa& Tsa() {
  static Bench::LocalTsa tsa;
  static const bool trusted =
      Velmora::Platform::CertAddTrustedRootsFromFile(tsa.caFile().c_str()) == 0;
  if (!trusted) {
    std::fprintf(stderr, "bench_evidence: cannot trust the TSA's CA\n");
    std::exit(1);
  }
  return tsa;
}

void Hash(std::uint64_t n, unsigned char (&hash)[32]) {
  for (int i = 0; i < 32; ++i) {
    hash[i] = static_cast<unsigned char>((n >> ((i % 8) * 8)) * 131u + static_cast<unsigned>(i));
  }
}

CRequest Request() {
  CRequest request;
  request.put_CertReq(true);
  const std::string url = Tsa().url();
  request.put_TSAAddress(std::wstring(url.begin(), url.end()).c_str());
  return request;
}

CEvidenceTree Tree(std::size_t leaves) {
  CEvidenceTree tree(kSha256);
  unsigned char hash[32];
  for (std::size_t i = 0; i < leaves; ++i) {
    Hash(i, hash);
    tree.AddHash(hash, sizeof hash);
  }
  CRequest request = Request();
  tree.Stamp(request);
  return tree;
}

double PeakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void Tree1MAndAllRecords(benchmark::State& state) {
  std::size_t bytes = 0;
  for (auto _ : state) {
    const CEvidenceTree tree = Tree(1000000);
    bytes = 0;
    tree.ForEachRecord([&](std::size_t, const unsigned char*, std::size_t size) { bytes += size; });
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["record_bytes_avg"] = static_cast<double>(bytes) / 1e6;
  state.counters["peak_MB"] = PeakMegabytes();
}
BENCHMARK(Tree1MAndAllRecords)
    ->Name("evidence_1M_leaves_tree_stamp_and_records/ours")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

void VerifyRecord(benchmark::State& state) {
  const CEvidenceTree tree = Tree(1000000);
  const CBlob record = tree.Record(123457);
  unsigned char hash[32];
  Hash(123457, hash);
  const auto hashOf = [&](const char*) { return CBlob(hash, sizeof hash); };
  for (auto _ : state) {
    const CEvidenceReport report =
        VerifyEvidenceRecord(record.pbData(), record.cbData(), hashOf, nullptr, 0);
    if (report.result() != 0) {
      state.SkipWithError("the record does not verify");
    }
  }
}
BENCHMARK(VerifyRecord)->Name("evidence_verify_record_of_1M_tree/ours");

void ThousandHashes(benchmark::State& state) {
  const bool tree = state.range(0) == 1;
  for (auto _ : state) {
    if (tree) {
      const CEvidenceTree stamped = Tree(1000);
      stamped.ForEachRecord([](std::size_t, const unsigned char* der, std::size_t) {
        benchmark::DoNotOptimize(der);
      });
    } else {
      CRequest request = Request();
      unsigned char hash[32];
      request.put_DataHashAlg(kSha256);
      for (std::uint64_t i = 0; i < 1000; ++i) {
        Hash(i, hash);
        request.put_DataHash(hash, sizeof hash);
        request.Send(true);
      }
    }
  }
}
BENCHMARK(ThousandHashes)
    ->Name("stamp_1000_hashes/evidence_tree_one_request")
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(ThousandHashes)
    ->Name("stamp_1000_hashes/one_CRequest_Send_each")
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
