// NIST's path validation suite (tests/data/pkits/MANIFEST.md) through the chain engine: each case's
// end-entity certificate with its untrusted certificates and CRLs in the additional store, the
// suite's trust anchor as the only root, revocation required below it from that data alone (no
// network, an empty cache), at 2020-06-01, under the suite's default settings and then the policy
// cases again under the other initial settings the suite gives them. Every case must be judged as
// the suite says; on the revoked-expected ones the revoked bit itself must be set.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "platform/capi/wincrypt.h"
#include "platform/capi/wincrypt_revocation.h"
#include "platform/errors/winerror.h"
#include "tests/common/scratch.h"
#include "tests/common/tsp_fixtures.h"

namespace P = Velmora::Platform;
using namespace Velmora::Testing;

namespace {

constexpr std::int64_t kAt = 1590969600;  // 2020-06-01T00:00:00Z

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, separator);) {
    parts.push_back(part);
  }
  return parts;
}

class Pkits : public ::testing::Test {
 protected:
  Pkits() {
    for (const char* name : {"XDG_DATA_HOME", "VELMORA_ROOT", "XDG_CACHE_HOME", "SSL_CERT_DIR"}) {
      setenv(name, m_dir.path().c_str(), 1);
    }
    setenv("SSL_CERT_FILE", (m_dir / "none").c_str(), 1);
    EXPECT_EQ(
        P::CertAddTrustedRootsFromFile((Data() / "certs/TrustAnchorRootCertificate.crt").c_str()),
        P::S_OK);
  }

  static std::filesystem::path Data() {
    return std::filesystem::path(HORODEX_SOURCE_DIR) / "tests/data/pkits";
  }

  // The chain's error bits for the end entity with the untrusted certificates and the CRLs,
  // under the initial policy set (empty: any) and policy switches given.
  static P::DWORD ErrorsOf(const std::string& endEntity, const std::string& certificates,
                           const std::string& crls, std::vector<std::string> policies = {},
                           P::DWORD policyFlags = 0) {
    StorePtr store(P::CertOpenStore(P::CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
    for (const std::string& name : Split(certificates, ',')) {
      ContextPtr context = ContextOf(ToBlob(ReadFileBytes(Data() / "certs" / name)));
      EXPECT_TRUE(context && P::CertAddCertificateContextToStore(store.get(), context.get(),
                                                                 P::CERT_STORE_ADD_ALWAYS, nullptr))
          << name;
    }
    for (const std::string& name : Split(crls, ',')) {
      const std::vector<unsigned char> der = ReadFileBytes(Data() / "crls" / name);
      // A CRL the store does not take (an unknown critical extension) is not at hand at all.
      P::CertAddEncodedCRLToStore(store.get(), P::X509_ASN_ENCODING, der.data(),
                                  static_cast<P::DWORD>(der.size()), P::CERT_STORE_ADD_ALWAYS,
                                  nullptr);
    }
    ContextPtr subject = ContextOf(ToBlob(ReadFileBytes(Data() / "certs" / endEntity)));
    if (!subject) {
      return ~0u;
    }
    const auto ticks = static_cast<std::uint64_t>(kAt + 11644473600LL) * 10000000ull;
    const P::FILETIME at{static_cast<P::DWORD>(ticks), static_cast<P::DWORD>(ticks >> 32)};
    std::vector<char*> oids;
    for (std::string& oid : policies) {
      oids.push_back(oid.data());
    }
    P::CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedIssuancePolicy.Usage = {static_cast<P::DWORD>(oids.size()), oids.data()};
    const P::CERT_CHAIN_CONTEXT* raw = nullptr;
    if (!P::CertGetCertificateChain(nullptr, subject.get(), &at, store.get(), &para,
                                    P::CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT |
                                        P::CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY |
                                        P::CERT_CHAIN_DISABLE_AUTH_ROOT_AUTO_UPDATE | policyFlags,
                                    nullptr, &raw)) {
      ADD_FAILURE() << "no chain for " << endEntity;
      return ~0u;
    }
    const P::DWORD errors = raw->TrustStatus.dwErrorStatus;
    P::CertFreeCertificateChain(raw);
    return errors;
  }

  TempDir m_dir;
};

TEST_F(Pkits, EveryCaseIsJudgedAsTheSuiteSays) {
  std::ifstream table(Data() / "cases.tsv");
  int cases = 0;
  int right = 0;
  for (std::string line; std::getline(table, line);) {
    if (line.empty() || line[0] == '#') {
      continue;
    }
    const std::vector<std::string> f = Split(line, '\t');
    ASSERT_GE(f.size(), 7u) << line;
    const bool valid = f[5] == "valid";
    const bool revoked = f[6] == "revoked";
    const P::DWORD errors = ErrorsOf(f[2], f[3], f[4]);
    const bool judgedRight =
        valid ? errors == 0 : errors != 0 && (!revoked || (errors & P::CERT_TRUST_IS_REVOKED));
    ++cases;
    right += judgedRight ? 1 : 0;
    std::ostringstream row;
    row << f[0] << ": expected " << (revoked ? "revoked" : f[5]) << ", trust bits 0x" << std::hex
        << errors;
    EXPECT_TRUE(judgedRight) << row.str();
  }
  EXPECT_EQ(cases, 224);
  std::cout << "PKITS: " << right << "/" << cases << " right\n";
  RecordProperty("pkits_right", right);
}

TEST_F(Pkits, PolicyCasesAreJudgedAsTheSuiteSaysUnderTheirOtherSettings) {
  std::map<std::string, std::vector<std::string>> cases;
  std::ifstream table(Data() / "cases.tsv");
  for (std::string line; std::getline(table, line);) {
    const std::vector<std::string> f = Split(line, '\t');
    cases[f[0]] = f;
  }
  std::ifstream settings(Data() / "policy_settings.tsv");
  int rows = 0;
  for (std::string line; std::getline(settings, line);) {
    if (line.empty() || line[0] == '#') {
      continue;
    }
    const std::vector<std::string> s = Split(line, '\t');
    ASSERT_EQ(s.size(), 4u) << line;
    ASSERT_EQ(cases.count(s[0]), 1u) << line;
    const std::vector<std::string>& f = cases[s[0]];
    P::DWORD flags = 0;
    for (const std::string& name : Split(s[2], ',')) {
      flags |= name == "explicit"          ? P::CERT_CHAIN_POLICY_REQUIRE_EXPLICIT
               : name == "inhibit-mapping" ? P::CERT_CHAIN_POLICY_INHIBIT_MAPPING
               : name == "inhibit-any"     ? P::CERT_CHAIN_POLICY_INHIBIT_ANY
                                           : 0;
    }
    const P::DWORD errors = ErrorsOf(
        f[2], f[3], f[4], s[1] == "any" ? std::vector<std::string>{} : Split(s[1], ','), flags);
    EXPECT_EQ(errors == 0, s[3] == "valid")
        << s[0] << " with " << s[1] << " / " << s[2] << ": expected " << s[3] << ", trust bits 0x"
        << std::hex << errors;
    ++rows;
  }
  EXPECT_EQ(rows, 29);
}

}  // namespace
