// horodex-soak MINUTES: verified stamps at a local test TSA, for the given time, with an exchange
// with every hostile peer of horodex-testtsa between them, each through settings kept for the
// whole run. It reports stamps per second, every outcome by peer and code, and this process's
// resident memory and open descriptors at the start, after the warm-up and at the end. It fails
// (exit 1) on any unexpected outcome, on memory at the end more than 5% above its level after
// the warm-up, or on a descriptor more at the end than after the warm-up. scripts/soak runs it.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "horodex/TSPRequest.h"
#include "tests/common/hive_env.h"
#include "tests/common/hostile_modes.h"
#include "tests/common/process_stats.h"
#include "tests/common/testtsa_process.h"
#include "tests/transport/transport_test_util.h"

namespace T = Velmora::Testing;
using Velmora::CBlob;
using Velmora::PKI::CHttpSettings;
using Velmora::PKI::TSP::Client::CRequest;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kTimeoutMs = 1000;
constexpr int kStampsBetweenPeers = 20;

struct Peer {
  const T::HostileMode& mode;
  std::unique_ptr<T::TestTsaProcess> process;
  CHttpSettings settings;
};

struct Level {
  std::size_t residentKiB;
  std::size_t descriptors;
  static Level Now() { return {T::ResidentKiB(), T::OpenDescriptors()}; }
};

std::string Hex(Velmora::Platform::HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  const double minutes = argc > 1 ? std::atof(argv[1]) : 10.0;
  const auto length = std::chrono::duration<double>(minutes * 60.0);
  const auto warmUp = std::chrono::duration<double>(std::max(5.0, minutes * 6.0));  // a tenth
  T::ClearProxyEnvironment();
  const T::ConfigEnvironment environment;
  const T::TempDir data;
  setenv("XDG_DATA_HOME", data.path().c_str(), 1);
  const T::TestTsaProcess good;
  const std::filesystem::path roots = data.path() / "velmora/certstores/Root";
  std::filesystem::create_directories(roots);
  std::filesystem::copy_file(good.File("ca.pem"), roots / "test-tsa-ca.pem");

  std::vector<Peer> peers;
  for (const T::HostileMode& mode : T::kHostileModes) {
    T::TestTsaOptions options;
    options.tls = mode.tls;
    options.extraArguments = {"--hostile", mode.mode};
    auto process = std::make_unique<T::TestTsaProcess>(options);
    CHttpSettings settings = T::FastSettings(process->WideUrl("/tsa"));
    settings.timeouts = {kTimeoutMs, kTimeoutMs, kTimeoutMs};
    settings.extraCaFile = process->File("ca.pem").wstring();
    if (mode.digest) {
      settings.serverAuthScheme = Velmora::Platform::WINHTTP_AUTH_SCHEME_DIGEST;
      settings.serverUserName = L"user";
      settings.serverPassword = L"secret";
    }
    peers.push_back({mode, std::move(process), std::move(settings)});
  }
  const CBlob query = T::TimeStampQuery();
  const CBlob large(8u << 20);
  CRequest request;
  request.put_DataHashAlg("2.16.840.1.101.3.4.2.1");
  request.put_CertReq(true);
  const std::wstring url = good.WideUrl("/");
  request.put_TSAAddress(url.c_str());

  std::map<std::string, long> outcomes;  // "peer code" -> count
  std::map<Velmora::Platform::HRESULT, long> stampFailures;
  long unexpected = 0;
  long stamps = 0;
  long exchanges = 0;
  const Level start = Level::Now();
  Level afterWarmUp{};
  bool warm = false;
  const Clock::time_point begin = Clock::now();
  Clock::time_point warmAt = begin;
  long cycle = 0;
  while (Clock::now() - begin < length || !warm) {
    for (Peer& peer : peers) {
      CBlob reply;
      const Velmora::Platform::HRESULT hr = T::ThrownBy([&] {
        reply = Velmora::PKI::SendRequest(peer.settings, T::kQueryHeader,
                                          peer.mode.largeBody ? large : query, false);
      });
      const Velmora::Platform::HRESULT expected =
          peer.mode.code == 0 ? 0 : T::WinHttpHResult(peer.mode.code);
      const bool right = hr == expected && reply.cbData() == peer.mode.replyLength;
      unexpected += right ? 0 : 1;
      ++outcomes[std::string(peer.mode.mode) + (right ? " " : " UNEXPECTED ") + Hex(hr)];
      ++exchanges;
      for (int i = 0; i < kStampsBetweenPeers; ++i) {
        const std::string content = "soak " + std::to_string(cycle) + " " + std::to_string(i);
        const Velmora::Platform::HRESULT failed = T::ThrownBy([&] {
          request.ResetData();
          request.AddData(reinterpret_cast<const unsigned char*>(content.data()),
                          static_cast<unsigned long>(content.size()));
          request.Send(true);
        });
        if (failed == 0) {
          ++stamps;
        } else {
          ++stampFailures[failed];
          ++unexpected;
        }
      }
    }
    ++cycle;
    // Levels are taken between whole cycles, when every peer's settings are in the same state.
    if (!warm && Clock::now() - begin >= warmUp) {
      warm = true;
      afterWarmUp = Level::Now();
      warmAt = Clock::now();
    }
  }
  const Level end = Level::Now();
  const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  unsetenv("XDG_DATA_HOME");

  std::printf("soak: %.1f minutes, %zu hostile peers, time-outs %d ms, %ld cycles\n",
              seconds / 60.0, peers.size(), kTimeoutMs, cycle);
  std::printf("stamps: %ld verified, %.1f stamps per second (with the hostile exchanges)\n", stamps,
              static_cast<double>(stamps) / seconds);
  for (const auto& [code, count] : stampFailures) {
    std::printf("  stamp failed UNEXPECTED %s: %ld\n", Hex(code).c_str(), count);
  }
  std::printf("hostile exchanges: %ld, by peer and code (0x00000000: a reply)\n", exchanges);
  for (const auto& [outcome, count] : outcomes) {
    std::printf("  %-36s %ld\n", outcome.c_str(), count);
  }
  const double growth = afterWarmUp.residentKiB == 0
                            ? 0.0
                            : 100.0 *
                                  (static_cast<double>(end.residentKiB) -
                                   static_cast<double>(afterWarmUp.residentKiB)) /
                                  static_cast<double>(afterWarmUp.residentKiB);
  std::printf(
      "resident memory: start %zu KiB, after warm-up (%.0f s) %zu KiB, end %zu KiB (%+.2f%%)\n",
      start.residentKiB, std::chrono::duration<double>(warmAt - begin).count(),
      afterWarmUp.residentKiB, end.residentKiB, growth);
  std::printf("open descriptors: start %zu, after warm-up %zu, end %zu\n", start.descriptors,
              afterWarmUp.descriptors, end.descriptors);
  const bool pass = unexpected == 0 && growth <= 5.0 && end.descriptors <= afterWarmUp.descriptors;
  std::printf("unexpected outcomes: %ld\nsoak: %s\n", unexpected, pass ? "PASS" : "FAIL");
  return pass ? 0 : 1;
}
