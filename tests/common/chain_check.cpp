#include "tests/common/chain_check.h"

#include <cstdlib>
#include <ctime>
#include <fstream>

#include <gtest/gtest.h>

namespace Velmora::Testing {

namespace P = Platform;

InstalledRoot::InstalledRoot(const TestCert& root) {
  setenv("XDG_DATA_HOME", m_dir.path().c_str(), 1);
  setenv("VELMORA_ROOT", m_dir.path().c_str(), 1);
  setenv("SSL_CERT_FILE", (m_dir / "none").c_str(), 1);
  root.writePem(m_dir / "velmora" / "certstores" / "Root" / "root.pem");
}

ChainVerdict JudgeChain(const TestCert& subject, const std::vector<const TestCert*>& extra,
                        std::optional<std::time_t> genTime, P::DWORD chainFlags,
                        const std::vector<std::vector<unsigned char>>& crls) {
  StorePtr store = StoreOf(extra);
  for (const std::vector<unsigned char>& crl : crls) {
    // One the store refuses (it does not decode) is simply not at hand.
    P::CertAddEncodedCRLToStore(store.get(), P::X509_ASN_ENCODING, crl.data(),
                                static_cast<P::DWORD>(crl.size()), P::CERT_STORE_ADD_ALWAYS,
                                nullptr);
  }
  ContextPtr context = subject.context();
  P::CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  const P::CERT_CHAIN_CONTEXT* raw = nullptr;
  ChainVerdict verdict;
  if (!P::CertGetCertificateChain(nullptr, context.get(), nullptr, store.get(), &para,
                                  P::CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT |
                                      P::CERT_CHAIN_DISABLE_AUTH_ROOT_AUTO_UPDATE | chainFlags,
                                  nullptr, &raw)) {
    ADD_FAILURE() << "no chain built";
    verdict.error = verdict.required = ~0u;
    return verdict;
  }
  const std::unique_ptr<const P::CERT_CHAIN_CONTEXT, P::FreeWith<P::CertFreeCertificateChain>>
      chain(raw);
  const auto ticks = static_cast<std::uint64_t>(genTime.value_or(0) + 11644473600LL) * 10000000ull;
  P::FILETIME at{static_cast<P::DWORD>(ticks), static_cast<P::DWORD>(ticks >> 32)};
  P::TSP_CHAIN_POLICY_TIME_PARA time{sizeof(P::TSP_CHAIN_POLICY_TIME_PARA), &at};
  for (P::DWORD* result : {&verdict.error, &verdict.required}) {
    P::CERT_CHAIN_POLICY_PARA policy{
        sizeof(P::CERT_CHAIN_POLICY_PARA),
        (genTime ? P::TSP_CHAIN_POLICY_TIME_FLAG : 0u) |
            (result == &verdict.required ? P::TSP_CHAIN_POLICY_REQUIRE_REVOCATION_FLAG : 0u),
        genTime ? &time : nullptr};
    P::CERT_CHAIN_POLICY_STATUS status{sizeof(P::CERT_CHAIN_POLICY_STATUS), 0, 0, 0, nullptr};
    EXPECT_TRUE(
        P::CertVerifyCertificateChainPolicy(P::TSP_CHAIN_POLICY_ID, chain.get(), &policy, &status));
    *result = status.dwError;
    if (result == &verdict.error) {
      verdict.element = status.lElementIndex;
    }
  }
  verdict.chainErrors = chain->TrustStatus.dwErrorStatus;
  for (P::DWORD i = 0; i < chain->rgpChain[0]->cElement; ++i) {
    const P::CERT_CONTEXT* c = chain->rgpChain[0]->rgpElement[i]->pCertContext;
    verdict.elements.emplace_back(c->pbCertEncoded, c->pbCertEncoded + c->cbCertEncoded);
  }
  if (const P::CERT_REVOCATION_INFO* info = chain->rgpChain[0]->rgpElement[0]->pRevocationInfo) {
    verdict.revocation = *info;
  }
  return verdict;
}

bool InstalledRoot::opensslAccepts(const TestCert& subject,
                                   const std::vector<const TestCert*>& extra,
                                   const std::string& options) const {
  std::string command = "openssl verify -attime " + std::to_string(std::time(nullptr)) + " " +
                        options + " -CAfile " +
                        ShellQuote(m_dir / "velmora" / "certstores" / "Root" / "root.pem");
  if (!extra.empty()) {
    std::ofstream untrusted(m_dir / "untrusted.pem");
    for (const TestCert* cert : extra) {
      untrusted << cert->pem();
    }
    command += " -untrusted " + ShellQuote(m_dir / "untrusted.pem");
  }
  subject.writePem(m_dir / "subject.pem");
  const CommandResult result = RunCommand(command + " " + ShellQuote(m_dir / "subject.pem"));
  return result.exitCode == 0;
}

}  // namespace Velmora::Testing
