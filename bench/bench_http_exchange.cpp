// One HTTP exchange with a local TSA (horodex-testtsa on loopback, signing every answer): a
// 60-byte time-stamp query posted and the response read, wall-clock time per exchange. Ours is
// SendRequest through one settings object (its session keeps the connection alive), against a
// plain libcurl loop on one easy handle doing the same posts, and against one `curl` process
// per post (100 posts a repetition, 1000 for the other two).
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/local_tsa.h"
#include "horodex/winhttp2.h"

extern char** environ;

namespace {

using Bench::LocalTsa;

LocalTsa& Tsa() {
  static LocalTsa tsa;
  return tsa;
}

void ExchangeOurs(benchmark::State& state) {
  const std::string& url = Tsa().url();
  Velmora::PKI::CHttpSettings settings;
  settings.url.assign(url.begin(), url.end());
  settings.proxySet = true;
  const std::vector<unsigned char> bytes = Bench::TimeStampQuery();
  const Velmora::CBlob body(bytes.data(), static_cast<unsigned long>(bytes.size()));
  for (auto _ : state) {
    const Velmora::CBlob reply = Velmora::PKI::SendRequest(
        settings, L"Content-type: application/timestamp-query", body, true);
    if (settings.httpStatus != 200 || reply.empty()) {
      state.SkipWithError("exchange failed");
      break;
    }
    benchmark::DoNotOptimize(reply.pbData());
  }
}

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* user) {
  auto* reply = static_cast<std::vector<unsigned char>*>(user);
  reply->insert(reply->end(), data, data + size * count);
  return size * count;
}

void ExchangeLibcurl(benchmark::State& state) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  std::unique_ptr<CURL, void (*)(CURL*)> easy(curl_easy_init(), curl_easy_cleanup);
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/timestamp-query");
  const std::vector<unsigned char> body = Bench::TimeStampQuery();
  std::vector<unsigned char> reply;
  CURL* h = easy.get();
  curl_easy_setopt(h, CURLOPT_URL, Tsa().url().c_str());
  curl_easy_setopt(h, CURLOPT_PROXY, "");
  curl_easy_setopt(h, CURLOPT_USERAGENT, "Velmora horodex.dll");
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Collect);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &reply);
  for (auto _ : state) {
    reply.clear();
    long status = 0;
    if (curl_easy_perform(h) != CURLE_OK ||
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status != 200) {
      state.SkipWithError("exchange failed");
      break;
    }
    benchmark::DoNotOptimize(reply.data());
  }
  curl_slist_free_all(headers);
}

void ExchangeCurlProcess(benchmark::State& state) {
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("bench_http_query_" + std::to_string(getpid()));
  {
    const std::vector<unsigned char> body = Bench::TimeStampQuery();
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(body.data()),
              static_cast<std::streamsize>(body.size()));
  }
  std::vector<std::string> args = {"curl",
                                   "-s",
                                   "-f",
                                   "--noproxy",
                                   "*",
                                   "-o",
                                   "/dev/null",
                                   "-A",
                                   "Velmora horodex.dll",
                                   "-H",
                                   "Content-Type: application/timestamp-query",
                                   "--data-binary",
                                   "@" + file.string(),
                                   Tsa().url()};
  std::vector<char*> argv;
  for (std::string& arg : args) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);
  for (auto _ : state) {
    pid_t pid = -1;
    int status = 0;
    if (posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0 ||
        waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("curl failed");
      break;
    }
  }
  std::filesystem::remove(file);
}

}  // namespace

BENCHMARK(ExchangeOurs)
    ->Name("http_exchange/ours")
    ->Iterations(1000)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(ExchangeLibcurl)
    ->Name("http_exchange/libcurl")
    ->Iterations(1000)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(ExchangeCurlProcess)
    ->Name("http_exchange/curl_process")
    ->Iterations(100)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
