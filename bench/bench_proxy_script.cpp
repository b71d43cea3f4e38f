// What proxy discovery by script adds to an exchange: one answer from a script the session has
// already loaded (WinHttpGetProxyForUrl: a question to horodex-proxy-helper and its answer), next
// to the exchange itself (SendRequest to a local TSA with no discovery) and the same exchange
// with discovery through KDE settings that name a script answering DIRECT. libcurl has no
// proxy-script support, so the exchange is the measure to compare with.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/local_tsa.h"
#include "horodex/winhttp2.h"
#include "platform/http/winhttp.h"

namespace {

namespace P = Velmora::Platform;
namespace fs = std::filesystem;

// A scratch folder holding the script and a kioslaverc that names it; the environment points
// at it for the run.
struct ScriptSetup {
  ScriptSetup() {
    dir = fs::temp_directory_path() / ("bench_pac_" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "proxy.pac")
        << "function FindProxyForURL(url, host) {\n"
           "  if (isPlainHostName(host) || dnsDomainIs(host, '.corp.example')) return 'DIRECT';\n"
           "  if (shExpMatch(host, '127.0.0.*')) return 'DIRECT';\n"
           "  return 'PROXY proxy.corp.example:3128';\n}\n";
    std::ofstream(dir / "kioslaverc")
        << "[Proxy Settings]\nProxyType=2\nProxy Config Script=file://"
        << (dir / "proxy.pac").string() << "\n";
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    setenv("XDG_CURRENT_DESKTOP", "KDE", 1);
    for (const char* name :
         {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
      unsetenv(name);
    }
  }
  ~ScriptSetup() { fs::remove_all(dir); }
  std::wstring ScriptUrl() const { return L"file://" + (dir / "proxy.pac").wstring(); }
  fs::path dir;
};

ScriptSetup& Setup() {
  static ScriptSetup setup;
  return setup;
}

Bench::LocalTsa& Tsa() {
  static Bench::LocalTsa tsa;
  return tsa;
}

void AnswerFromCachedScript(benchmark::State& state) {
  const std::wstring script = Setup().ScriptUrl();
  P::HINTERNET session =
      P::WinHttpOpen(L"bench", P::WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
  P::WINHTTP_AUTOPROXY_OPTIONS options{};
  options.dwFlags = P::WINHTTP_AUTOPROXY_CONFIG_URL | P::WINHTTP_AUTOPROXY_RUN_INPROCESS;
  options.lpszAutoConfigUrl = script.c_str();
  for (auto _ : state) {
    P::WINHTTP_PROXY_INFO_RESULT found{};
    if (!P::WinHttpGetProxyForUrl(session, L"http://tsa.example.org", &options, &found)) {
      state.SkipWithError("no answer from the script");
      break;
    }
    benchmark::DoNotOptimize(found.lpszProxy);
    P::GlobalFree(found.lpszProxy);
    P::GlobalFree(found.lpszProxyBypass);
  }
  P::WinHttpCloseHandle(session);
}

void UserConfiguration(benchmark::State& state) {
  Setup();
  for (auto _ : state) {
    P::WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    if (!P::WinHttpGetIEProxyConfigForCurrentUser(&config)) {
      state.SkipWithError("no configuration");
      break;
    }
    benchmark::DoNotOptimize(config.lpszAutoConfigUrl);
    P::GlobalFree(config.lpszAutoConfigUrl);
  }
}

void Exchange(benchmark::State& state, bool discover) {
  Setup();
  const std::string& url = Tsa().url();
  Velmora::PKI::CHttpSettings settings;
  settings.url.assign(url.begin(), url.end());
  settings.proxySet = !discover;
  const std::vector<unsigned char> bytes = Bench::TimeStampQuery();
  const Velmora::CBlob body(bytes.data(), static_cast<unsigned long>(bytes.size()));
  for (auto _ : state) {
    const Velmora::CBlob reply = Velmora::PKI::SendRequest(
        settings, L"Content-type: application/timestamp-query", body, false);
    if (settings.httpStatus != 200 || reply.empty()) {
      state.SkipWithError("exchange failed");
      break;
    }
    benchmark::DoNotOptimize(reply.pbData());
  }
}

void ExchangeDirect(benchmark::State& state) {
  Exchange(state, false);
}
void ExchangeWithScript(benchmark::State& state) {
  Exchange(state, true);
}

}  // namespace

BENCHMARK(AnswerFromCachedScript)
    ->Name("proxy_script/answer_cached")
    ->Iterations(2000)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(UserConfiguration)
    ->Name("proxy_script/user_configuration")
    ->Iterations(2000)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(ExchangeDirect)
    ->Name("proxy_script/exchange_no_discovery")
    ->Iterations(500)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(ExchangeWithScript)
    ->Name("proxy_script/exchange_with_script")
    ->Iterations(500)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
