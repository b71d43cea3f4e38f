// Loading the whole client policy set, as every new request does, from a machine hive of 200
// values: the 40 values of the policy key and five lists of 32 entries, in the registry editor's
// UTF-16LE form. "unchanged_hive" reuses the hive read before (a stat of the file tells it did
// not change); "changed_hive" reads and parses the file on every load. For scale, the same
// program reads the file's bytes alone (open, read, close).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "policy/ClientPolicies.h"

namespace {

std::string Hive() {
  std::string text =
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Policies\\Velmora\\TSP]\n";
  const char* numbers[] = {"StampAccuracy",      "NonceLength",          "AuthTypeDefault",
                           "AuthSSLTypeDefault", "ProxyAuthTypeDefault", "ProxyAuthSSLTypeDefault"};
  for (const char* name : numbers) {
    text += std::string("\"") + name + "\"=dword:00000010\n";
  }
  const char* flags[] = {"DefaultCertReq", "RequireNonce", "DisableNonce", "UseNonceByDefault",
                         "DisablePolicyID"};
  for (const char* name : flags) {
    text += std::string("\"") + name + "\"=dword:00000001\n";
  }
  for (const char* prefix : {"AuthSSLDeny", "AuthDeny", "ProxyAuthSSLDeny", "ProxyAuthDeny"}) {
    for (const char* type : {"Anonym", "Basic", "Digest", "NTLM", "Negotiate"}) {
      text += std::string("\"") + prefix + type + "\"=dword:00000000\n";
    }
  }
  text +=
      "\"DefaultHashAlg\"=\"2.16.840.1.101.3.4.2.1 SHA-256\"\n"
      "\"DefaultTSPURL\"=\"https://tsa.example.org/tsp\"\n"
      "\"DefaultProxy\"=\"http://proxy.example.org:3128\"\n"
      "\"DefaultPolicyID\"=\"1.3.6.1.4.1.99999.1.1\"\n";
  const char* lists[] = {"HashAlgsAllowed", "HashAlgsDenied", "AllowedTSPs", "AllowedProxies",
                         "AllowedPolicyID"};
  for (const char* list : lists) {
    text += std::string("\"") + list + "Setted\"=dword:00000001\n";
  }
  for (const char* list : lists) {
    text += std::string("\n[HKEY_LOCAL_MACHINE\\Software\\Policies\\Velmora\\TSP\\") + list + "]\n";
    for (int i = 0; i < 32; ++i) {
      text += "\"" + std::to_string(i) + "\"=\"https://entry-" + std::to_string(i) +
              ".example.org/path\"\n";
    }
  }
  return text;
}

// Two roots holding the same machine hive, older than the file system's time granularity.
class Roots {
 public:
  Roots() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "horodex-bench-XXXXXX").string();
    m_dir = ::mkdtemp(pattern.data());
    std::string utf16 = "\xFF\xFE";
    for (const char c : Hive()) {
      if (c == '\n') {
        utf16 += std::string("\r\0", 2);
      }
      utf16 += c;
      utf16 += '\0';
    }
    for (const char* root : {"a", "b"}) {
      std::filesystem::create_directories(m_dir / root / "etc/velmora");
      std::ofstream(m_dir / root / "etc/velmora/machine.reg", std::ios::binary) << utf16;
    }
    ::setenv("XDG_CONFIG_HOME", (m_dir / "config").c_str(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  }
  ~Roots() { std::filesystem::remove_all(m_dir); }
  std::string root(int which) const { return (m_dir / (which == 0 ? "a" : "b")).string(); }

 private:
  std::filesystem::path m_dir;
};

const Roots& TheRoots() {
  static const Roots roots;
  return roots;
}

void UnchangedHive(benchmark::State& state) {
  ::setenv("VELMORA_ROOT", TheRoots().root(0).c_str(), 1);
  for (auto _ : state) {
    Velmora::PKI::TSP::Client::CClientPolicies policies;
    policies.Load();
    benchmark::DoNotOptimize(policies.AllowedTSPs.entries().size());
  }
}

void ChangedHive(benchmark::State& state) {
  const std::string roots[] = {TheRoots().root(0), TheRoots().root(1)};
  int which = 0;
  for (auto _ : state) {
    ::setenv("VELMORA_ROOT", roots[which ^= 1].c_str(), 1);  // another file: read again
    Velmora::PKI::TSP::Client::CClientPolicies policies;
    policies.Load();
    benchmark::DoNotOptimize(policies.AllowedTSPs.entries().size());
  }
}

void FileBytesOnly(benchmark::State& state) {
  const std::string path = TheRoots().root(0) + "/etc/velmora/machine.reg";
  std::vector<char> buffer(1 << 16);
  for (auto _ : state) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    ::close(fd);
    benchmark::DoNotOptimize(got);
  }
}

}  // namespace

BENCHMARK(UnchangedHive)->Name("load_client_policies_200_values/unchanged_hive");
BENCHMARK(ChangedHive)->Name("load_client_policies_200_values/changed_hive");
BENCHMARK(FileBytesOnly)->Name("load_client_policies_200_values/file_bytes_only");
BENCHMARK_MAIN();
