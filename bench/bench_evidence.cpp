// Evidence records: a tree over 1,000,000 SHA-256 leaf hashes stamped once at a local TSA
// (horodex-testtsa on loopback) and every leaf's record written to memory, with the process's
// peak resident memory as a counter; the verification of one of those records (path, signature,
// TSA chain); and 1,000 hashes stamped under one tree against 1,000 single stamps through
// CRequest::Send(true), the counterpart, in the same run. And 100,000 small files: `horodex ers
// stamp --files-from LIST -0` writing a record for each (wall-clock of the whole process, the
// request count checked in the TSA's log: one per batch; then every record verified against its
// own file and, for one in 97, refused against its neighbour's), against 100,000 single stamps
// through CRequest::Send(true) in the same run (goal: the batch at least 50 times faster).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/local_tsa.h"
#include "horodex/EvidenceRecord.h"
#include "platform/capi/wincrypt_chain.h"

namespace {

using namespace Velmora::PKI::TSP::Client;
using Velmora::CBlob;

constexpr const char* kSha256 = "2.16.840.1.101.3.4.2.1";

Bench::LocalTsa& Tsa() {
  static Bench::LocalTsa tsa(true);
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

// 100,000 small files and the NUL-separated list of their paths, for the process's run.
class FileBatch {
 public:
  static constexpr std::size_t kFiles = 100000;

  FileBatch()
      : m_dir(std::filesystem::temp_directory_path() /
              ("bench_ers_files_" + std::to_string(getpid()))) {
    std::filesystem::create_directories(m_dir / "in");
    std::ofstream list(m_dir / "list", std::ios::binary);
    for (std::size_t i = 0; i < kFiles; ++i) {
      std::ofstream(file(i), std::ios::binary) << text(i);
      list << file(i).string() << '\0';
    }
  }
  ~FileBatch() {
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
  }
  FileBatch(const FileBatch&) = delete;
  FileBatch& operator=(const FileBatch&) = delete;

  static std::string text(std::size_t i) { return "contents of file " + std::to_string(i) + "\n"; }
  std::filesystem::path file(std::size_t i) const {
    return m_dir / "in" / ("file" + std::to_string(i) + ".txt");
  }
  std::filesystem::path record(std::size_t i) const {
    return m_dir / "out" / ("file" + std::to_string(i) + ".txt.ers");
  }
  const std::filesystem::path& dir() const { return m_dir; }

 private:
  std::filesystem::path m_dir;
};

std::string Quoted(const std::filesystem::path& path) {
  return "'" + path.string() + "'";  // the benchmark's own temporary paths hold no quote
}

std::filesystem::path Tool() {
  char self[PATH_MAX] = {};
  if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
    return {};
  }
  return std::filesystem::path(self).parent_path().parent_path() / "tools/horodex/horodex";
}

// Every record proves its own file; one in 97 is refused against its neighbour's.
bool RecordsProveTheirFilesOnly(const FileBatch& batch) {
  for (std::size_t i = 0; i < FileBatch::kFiles; ++i) {
    std::ifstream in(batch.record(i), std::ios::binary);
    const std::vector<unsigned char> record((std::istreambuf_iterator<char>(in)),
                                            std::istreambuf_iterator<char>());
    const auto verify = [&](std::size_t data) {
      const std::string text = FileBatch::text(data);
      return VerifyEvidenceRecordData(record.data(), static_cast<unsigned long>(record.size()),
                                      reinterpret_cast<const unsigned char*>(text.data()),
                                      text.size(), nullptr, 0)
          .result();
    };
    if (record.empty() || verify(i) != 0 || (i % 97 == 0 && verify(i + 1) == 0)) {
      return false;
    }
  }
  return true;
}

void HundredThousandFiles(benchmark::State& state) {
  const bool batch = state.range(0) == 1;
  Tsa();
  static const FileBatch files;
  const std::string command = Quoted(Tool()) + " ers stamp --files-from " +
                              Quoted(files.dir() / "list") + " -0 --tsa " + Tsa().url() + " --ca " +
                              Quoted(Tsa().caFile()) + " -o " + Quoted(files.dir() / "out") +
                              " >/dev/null 2>&1";
  for (auto _ : state) {
    if (batch) {
      state.PauseTiming();
      std::error_code ignored;
      std::filesystem::remove_all(files.dir() / "out", ignored);
      const std::size_t before = Tsa().requestsLogged();
      state.ResumeTiming();
      if (std::system(command.c_str()) != 0) {
        state.SkipWithError("horodex ers stamp failed");
        break;
      }
      state.PauseTiming();
      if (Tsa().requestsLogged() != before + 1) {
        state.SkipWithError("the batch did not post exactly one request");
        break;
      }
      state.ResumeTiming();
    } else {
      CRequest request = Request();
      request.put_DataHashAlg(kSha256);
      unsigned char hash[32];
      for (std::uint64_t i = 0; i < FileBatch::kFiles; ++i) {
        Hash(i, hash);
        request.put_DataHash(hash, sizeof hash);
        request.Send(true);
      }
    }
  }
  if (batch && !RecordsProveTheirFilesOnly(files)) {
    state.SkipWithError("a record does not prove its own file alone");
  }
}
BENCHMARK(HundredThousandFiles)
    ->Name("stamp_100000_files/ours_horodex_ers_stamp_one_request")
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK(HundredThousandFiles)
    ->Name("stamp_100000_files/one_CRequest_Send_each")
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
