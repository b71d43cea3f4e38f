// The cost of a trace message (times for 1000 calls, so µs read as ns per call): a message that
// the settings filter out, with and without arguments, against a bare snprintf of the same
// message into a 1024-byte buffer; and a message written to a log file (dated, CR LF, one
// write() per line) with the location and the category in it.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/trace.h"
#include "support/trace_internal.h"

namespace {

constexpr int kCalls = 1000;
constexpr const char* kFunction = "Velmora::PKI::TSP::Client::CRequest::Send";

// A temporary common folder with a Trace.ini that sends level 2 to a log file.
class LogFileSetting {
 public:
  LogFileSetting() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "horodex-bench-XXXXXX").string();
    m_dir = ::mkdtemp(pattern.data());
    std::filesystem::create_directories(m_dir / "etc/velmora");
    std::ofstream(m_dir / "etc/velmora/Trace.ini")
        << "[Trace]\nlibhorodex.so.1=2\nlibhorodex.so.1.logfile=bench.log\nProcessFlags=3\n";
    ::setenv("VELMORA_ROOT", m_dir.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (m_dir / "config").c_str(), 1);
    Velmora::Support::ReloadTraceConfiguration();
  }
  ~LogFileSetting() {
    ::unsetenv("VELMORA_ROOT");
    ::unsetenv("XDG_CONFIG_HOME");
    std::filesystem::remove_all(m_dir);
    Velmora::Support::ReloadTraceConfiguration();
  }

 private:
  std::filesystem::path m_dir;
};

void FilteredOut(benchmark::State& state) {
  for (auto _ : state) {
    for (int i = 0; i < kCalls; ++i) {
      HORODEX_TRACE(VelmoraTraceGeneral, 4, kFunction, "Sending request...\n");
    }
  }
}

void FilteredOutWithArguments(benchmark::State& state) {
  const std::string url = "https://tsa.example.org/tsp";
  for (auto _ : state) {
    for (int i = 0; i < kCalls; ++i) {
      HORODEX_TRACE(VelmoraTraceGeneral, 4, kFunction, "HTTP status %d from \"%s\".\n", 200 + i,
                    url.c_str());
    }
  }
}

void SnprintfToBuffer(benchmark::State& state) {
  const std::string url = "https://tsa.example.org/tsp";
  char buffer[1024];
  for (auto _ : state) {
    for (int i = 0; i < kCalls; ++i) {
      std::snprintf(buffer, sizeof buffer, "HTTP status %d from \"%s\".\n", 200 + i, url.c_str());
      benchmark::DoNotOptimize(buffer);
    }
  }
}

void WrittenToLogFile(benchmark::State& state) {
  const LogFileSetting setting;
  const std::string url = "https://tsa.example.org/tsp";
  for (auto _ : state) {
    for (int i = 0; i < kCalls; ++i) {
      HORODEX_TRACE(VelmoraTraceGeneral, 2, kFunction, "HTTP status %d from \"%s\".\n", 200 + i,
                    url.c_str());
    }
  }
}

}  // namespace

BENCHMARK(FilteredOut)->Name("trace_x1000/filtered_out");
BENCHMARK(FilteredOutWithArguments)->Name("trace_x1000/filtered_out_with_arguments");
BENCHMARK(SnprintfToBuffer)->Name("trace_x1000/bare_snprintf_to_buffer");
BENCHMARK(WrittenToLogFile)->Name("trace_x1000/written_to_log_file");
BENCHMARK_MAIN();
