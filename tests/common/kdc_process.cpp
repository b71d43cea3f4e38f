#include "tests/common/kdc_process.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace Velmora::Testing {

namespace {

constexpr const char* kRealm = "HORODEX.TEST";
constexpr const char* kKdc = "/usr/sbin/krb5kdc";
constexpr const char* kPrograms[] = {kKdc, "/usr/sbin/kdb5_util", "/usr/sbin/kadmin.local",
                                     "/usr/bin/kinit"};

void Run(const std::string& command, const char* step) {
  const CommandResult result = RunCommand(command);
  if (result.exitCode != 0) {
    throw std::runtime_error(std::string("Kerberos realm: ") + step + " failed: " + result.output);
  }
}

}  // namespace

bool KdcProcess::Available() {
  return std::all_of(std::begin(kPrograms), std::end(kPrograms),
                     [](const char* program) { return access(program, X_OK) == 0; });
}

KdcProcess::KdcProcess() {
  if (!Available()) {
    throw std::runtime_error("the Kerberos KDC is not installed (scripts/setup installs it)");
  }
  const std::string dir = m_dir.path().string();
  const std::string env = "KRB5_CONFIG=" + ShellQuote(dir + "/krb5.conf") +
                          " KRB5_KDC_PROFILE=" + ShellQuote(dir + "/kdc.conf") + " ";
  // The port is chosen here and handed to the KDC; should another program take it in between,
  // the KDC fails to start and the next try takes another port.
  for (int attempt = 0; attempt < 3 && !m_kdc; ++attempt) {
    const int port = FreeLoopbackPort();
    const std::string kdc = "127.0.0.1:" + std::to_string(port);
    std::ofstream(m_dir / "krb5.conf")
        << "[libdefaults]\n default_realm = " << kRealm
        << "\n dns_lookup_kdc = false\n dns_lookup_realm = false\n rdns = false\n"
           " dns_canonicalize_hostname = false\n udp_preference_limit = 1\n"
           "[realms]\n "
        << kRealm << " = {\n  kdc = " << kdc << "\n }\n[domain_realm]\n 127.0.0.1 = " << kRealm
        << "\n localhost = " << kRealm << "\n";
    std::ofstream(m_dir / "kdc.conf")
        << "[kdcdefaults]\n kdc_listen = " << kdc << "\n kdc_tcp_listen = " << kdc
        << "\n[realms]\n " << kRealm << " = {\n  database_name = " << dir
        << "/principal\n  key_stash_file = " << dir
        << "/stash\n  supported_enctypes = aes256-cts-hmac-sha1-96:normal\n }\n"
           "[logging]\n kdc = FILE:"
        << dir << "/kdc.log\n";
    if (attempt == 0) {
      Run(env + "/usr/sbin/kdb5_util create -s -r " + kRealm + " -P master-pass", "kdb5_util");
      Run("printf '%s\\n' 'addprinc -pw alice-pass alice' 'addprinc -randkey HTTP/127.0.0.1' "
          "'addprinc -randkey HTTP/localhost' 'ktadd -k " +
              Keytab().string() + " HTTP/127.0.0.1 HTTP/localhost' | " + env +
              "/usr/sbin/kadmin.local -r " + kRealm,
          "kadmin.local");
    }
    setenv("KRB5_KDC_PROFILE", (m_dir / "kdc.conf").c_str(), 1);
    m_kdc = std::make_unique<ChildProcess>(kKdc, std::vector<std::string>{"-n", "-r", kRealm},
                                           dir + "/krb5kdc.log");
    unsetenv("KRB5_KDC_PROFILE");
    if (!WaitForListener(port, std::chrono::seconds(5)) || !m_kdc->Running()) {
      m_kdc.reset();
    }
  }
  if (!m_kdc) {
    throw std::runtime_error("Kerberos realm: krb5kdc did not start");
  }
  Run("echo alice-pass | " + env + "KRB5CCNAME=" + ShellQuote("FILE:" + dir + "/alice.cc") +
          " /usr/bin/kinit alice",
      "kinit");
}

void KdcProcess::LogOn(bool withTickets) const {
  setenv("KRB5_CONFIG", (m_dir / "krb5.conf").c_str(), 1);
  setenv("KRB5CCNAME",
         ("FILE:" + (m_dir / (withTickets ? "alice.cc" : "nobody.cc")).string()).c_str(), 1);
}

}  // namespace Velmora::Testing
