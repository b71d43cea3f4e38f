// The chain engine and the default time-stamping chain policy on certificate authorities made at
// test time: roots installed the way users install them (files in the "Root" folders, or
// CertAddTrustedRootsFromFile), the token's certificates as the additional store.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>

#include "platform/capi/wincrypt.h"
#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"
#include "tests/common/chain_check.h"
#include "tests/common/saved_environment.h"
#include "tests/common/scratch.h"
#include "tests/common/test_ca.h"

namespace P = Velmora::Platform;
using namespace Velmora::Testing;

namespace {

constexpr std::time_t kDay = 24 * 3600;
constexpr std::time_t kYear = 365 * kDay;

using ChainPtr =
    std::unique_ptr<const P::CERT_CHAIN_CONTEXT, P::FreeWith<P::CertFreeCertificateChain>>;

class ChainPolicy : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_DATA_HOME", (m_dir / "user").c_str(), 1);
    setenv("VELMORA_ROOT", (m_dir / "machine").c_str(), 1);
  }

  std::filesystem::path userStore(const std::string& name) const {
    return m_dir / "user" / "velmora" / "certstores" / name;
  }
  std::filesystem::path machineStore(const std::string& name) const {
    return m_dir / "machine" / "etc" / "velmora" / "certstores" / name;
  }
  void installRoot(const TestCert& root) const { root.writePem(userStore("Root") / "root.pem"); }

  static ChainVerdict judge(const TestCert& subject, const std::vector<const TestCert*>& extra,
                            std::optional<std::time_t> genTime = std::time(nullptr)) {
    return JudgeChain(subject, extra, genTime);
  }

  // A root, an RSA intermediate under it and a TSA (ECDSA root signature, RSA signature on the
  // TSA certificate), all valid for years around now.
  struct Pki {
    Authority root;
    Authority intermediate;
  };
  static Pki MakePki(const std::string& name) {
    Authority root = MakeRoot(name + " Root");
    CertSpec spec{name + " Intermediate", 2, std::time(nullptr) - 5 * kYear,
                  std::time(nullptr) + 5 * kYear, CaExtensions()};
    Authority intermediate = MakeIssued(spec, root, KeyKind::Rsa2048);
    return Pki{std::move(root), std::move(intermediate)};
  }
  static TestCert Tsa(const Pki& pki, std::vector<Extension> extensions = TsaExtensions(),
                      long serial = 100, std::time_t notBefore = std::time(nullptr) - kDay,
                      std::time_t notAfter = std::time(nullptr) + kYear) {
    return MakeIssued(CertSpec{"Test TSA", serial, notBefore, notAfter, std::move(extensions)},
                      pki.intermediate)
        .cert;
  }
  // A certificate of `name` with a key of its own under `issuer`, valid from a day ago for a year.
  static Authority Under(const Authority& issuer, const std::string& name, long serial,
                         std::vector<Extension> extensions = TsaExtensions()) {
    return MakeIssued(CertSpec{name, serial, std::time(nullptr) - kDay, std::time(nullptr) + kYear,
                               std::move(extensions)},
                      issuer);
  }

  TempDir m_dir;
  SavedEnvironment m_env{{"XDG_DATA_HOME", "VELMORA_ROOT", "SSL_CERT_FILE", "SSL_CERT_DIR"}};
};

TEST_F(ChainPolicy, AcceptsAChainToAnInstalledRootAndLaysItOutSubjectFirst) {
  const Pki pki = MakePki("Accept");
  const TestCert tsa = Tsa(pki);
  installRoot(pki.root.cert);

  StorePtr store = StoreOf({&pki.intermediate.cert, &pki.root.cert});  // the root sent along too
  ContextPtr subject = tsa.context();
  const P::CERT_CHAIN_CONTEXT* raw = nullptr;
  ASSERT_TRUE(P::CertGetCertificateChain(nullptr, subject.get(), nullptr, store.get(), nullptr, 0,
                                         nullptr, &raw));
  ChainPtr chain(raw);
  EXPECT_EQ(chain->TrustStatus.dwErrorStatus, P::CERT_TRUST_NO_ERROR);
  ASSERT_EQ(chain->cChain, 1u);
  const P::CERT_SIMPLE_CHAIN& simple = *chain->rgpChain[0];
  ASSERT_EQ(simple.cElement, 3u);
  const TestCert* expected[] = {&tsa, &pki.intermediate.cert, &pki.root.cert};
  for (int i = 0; i < 3; ++i) {
    const P::CERT_CONTEXT* c = simple.rgpElement[i]->pCertContext;
    EXPECT_EQ(std::vector<unsigned char>(c->pbCertEncoded, c->pbCertEncoded + c->cbCertEncoded),
              expected[i]->der())
        << i;
  }
  EXPECT_TRUE(simple.rgpElement[2]->TrustStatus.dwInfoStatus & P::CERT_TRUST_IS_SELF_SIGNED);
  ASSERT_NE(simple.rgpElement[0]->pApplicationUsage, nullptr);
  EXPECT_STREQ(simple.rgpElement[0]->pApplicationUsage->rgpszUsageIdentifier[0],
               "1.3.6.1.5.5.7.3.8");

  // A duplicate outlives the original reference.
  ChainPtr second(P::CertDuplicateCertificateChain(chain.get()));
  chain.reset();
  EXPECT_EQ(second->rgpChain[0]->cElement, 3u);

  EXPECT_EQ(judge(tsa, {&pki.intermediate.cert}).error, 0u);
  // The machine's "Root" folder serves as well as the user's.
  std::filesystem::remove_all(userStore("Root"));
  pki.root.cert.writePem(machineStore("Root") / "root.pem");
  EXPECT_EQ(judge(tsa, {&pki.intermediate.cert}).error, 0u);
  // And so does the system trust store.
  std::filesystem::remove_all(machineStore("Root"));
  EXPECT_EQ(judge(tsa, {&pki.intermediate.cert}).error, static_cast<P::DWORD>(P::CERT_E_CHAINING));
  std::ofstream(m_dir / "system.pem") << MakeRoot("Unrelated").cert.pem() << pki.root.cert.pem();
  setenv("SSL_CERT_FILE", (m_dir / "system.pem").c_str(), 1);
  EXPECT_EQ(judge(tsa, {&pki.intermediate.cert}).error, 0u);
  // Without a chosen bundle, a system folder of hashed links is looked up by the issuer's name;
  // the same folder without its links is read file by file.
  unsetenv("SSL_CERT_FILE");
  const std::filesystem::path folder = m_dir / "system-certs";
  std::filesystem::create_directories(folder);
  pki.root.cert.writePem(folder / "root.pem");
  MakeRoot("Unrelated").cert.writePem(folder / "unrelated.pem");
  for (int n = 0; n < 200; ++n) {  // the links are found among many other names too
    std::ofstream(folder / ("readme-" + std::to_string(n) + ".txt"));
  }
  setenv("SSL_CERT_DIR", folder.c_str(), 1);
  ASSERT_EQ(std::system(("openssl rehash " + folder.string() + " 2>/dev/null").c_str()), 0);
  EXPECT_EQ(judge(tsa, {&pki.intermediate.cert}).error, 0u);
  std::filesystem::remove(folder / "root.pem");  // its link now leads nowhere
  EXPECT_EQ(judge(tsa, {&pki.intermediate.cert}).error, static_cast<P::DWORD>(P::CERT_E_CHAINING));
}

TEST_F(ChainPolicy, TheTsaCertificateMustBeForTimeStampingAloneAndSayItCritically) {
  const Pki pki = MakePki("Usage");
  installRoot(pki.root.cert);
  const std::vector<const TestCert*> extra{&pki.intermediate.cert};
  const auto wrongUsage = static_cast<P::DWORD>(P::CERT_E_WRONG_USAGE);

  const ChainVerdict notCritical = judge(Tsa(pki, {{"extendedKeyUsage", "timeStamping"}}), extra);
  EXPECT_EQ(notCritical.error, wrongUsage);
  EXPECT_EQ(notCritical.element, 0);
  EXPECT_EQ(judge(Tsa(pki, {{"keyUsage", "critical,digitalSignature"}}), extra).error, wrongUsage);
  EXPECT_EQ(
      judge(Tsa(pki, {{"extendedKeyUsage", "critical,timeStamping,codeSigning"}}), extra).error,
      wrongUsage);

  // The application-policies extension real TSA certificates carry beside it is understood ...
  std::vector<Extension> withPolicies = TsaExtensions();
  withPolicies.push_back({"1.3.6.1.4.1.311.21.10", "critical,DER:300C300A06082B06010505070308"});
  EXPECT_EQ(judge(Tsa(pki, withPolicies), extra).error, 0u);
  // ... and narrows the purposes: policies that leave no time-stamping make a certificate for
  // something else ...
  std::vector<Extension> narrowed = TsaExtensions();
  narrowed.push_back({"1.3.6.1.4.1.311.21.10", "critical,DER:300C300A06082B06010505070303"});
  EXPECT_EQ(judge(Tsa(pki, narrowed), extra).error, wrongUsage);
  // ... and a usage asked of the chain holds only where every certificate that lists purposes
  // lists it, the CA's too.
  std::vector<Extension> serverOnly = CaExtensions();
  serverOnly.push_back({"extendedKeyUsage", "serverAuth"});
  const Authority serverCa = Under(pki.root, "Server CA", 7, serverOnly);
  char timeStamping[] = "1.3.6.1.5.5.7.3.8";
  P::LPSTR asked[] = {timeStamping};
  P::CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  para.RequestedUsage.Usage = {1, asked};
  for (const Authority* ca : {&pki.intermediate, &serverCa}) {
    const TestCert tsa = Under(*ca, "Test TSA", 8).cert;
    StorePtr store = StoreOf({&ca->cert});
    ContextPtr subject = tsa.context();
    const P::CERT_CHAIN_CONTEXT* raw = nullptr;
    ASSERT_TRUE(P::CertGetCertificateChain(nullptr, subject.get(), nullptr, store.get(), &para, 0,
                                           nullptr, &raw));
    ChainPtr chain(raw);
    EXPECT_EQ(chain->TrustStatus.dwErrorStatus,
              ca == &serverCa ? P::CERT_TRUST_IS_NOT_VALID_FOR_USAGE : P::CERT_TRUST_NO_ERROR);
  }
  // An unknown critical extension is not understood, on any certificate of the chain.
  std::vector<Extension> unknown = TsaExtensions();
  unknown.push_back({"1.2.3.4", "critical,DER:0500"});
  const ChainVerdict critical = judge(Tsa(pki, unknown), extra);
  EXPECT_EQ(critical.error, static_cast<P::DWORD>(P::CERT_E_CRITICAL));
  EXPECT_EQ(critical.element, 0);
  EXPECT_TRUE(critical.chainErrors & P::CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT);
}

TEST_F(ChainPolicy, ValidityIsJudgedAtTheTimeOfTheStamp) {
  const Pki pki = MakePki("Time");
  installRoot(pki.root.cert);
  const std::time_t now = std::time(nullptr);
  const std::vector<const TestCert*> extra{&pki.intermediate.cert};
  const auto expired = static_cast<P::DWORD>(P::CERT_E_EXPIRED);

  // Expired a year ago, but the stamp was made two years ago while it was valid.
  const TestCert old = Tsa(pki, TsaExtensions(), 101, now - 3 * kYear, now - kYear);
  EXPECT_EQ(judge(old, extra, now - 2 * kYear).error, 0u);
  EXPECT_EQ(judge(old, extra, now).error, expired);
  EXPECT_EQ(judge(old, extra, std::nullopt).error, expired);  // no time given: now

  // Valid now, but the stamp claims a time before the certificate existed.
  const ChainVerdict early =
      judge(Tsa(pki, TsaExtensions(), 102, now - kDay, now + kYear), extra, now - kYear);
  EXPECT_EQ(early.error, expired);
  EXPECT_EQ(early.element, 0);
  // A time outside the root's own validity fails at the root.
  const ChainVerdict beforeRoot = judge(old, extra, now - 20 * kYear);
  EXPECT_EQ(beforeRoot.error, expired);
  EXPECT_EQ(beforeRoot.element, 0);  // every certificate fails; the first is named
}

TEST_F(ChainPolicy, RootsAddedFromAFileServeTheRestOfTheProcess) {
  const Pki pki = MakePki("Added");
  const TestCert tsa = Tsa(pki);
  const std::filesystem::path bundle = m_dir / "ca.pem";
  std::ofstream(bundle) << pki.root.cert.pem() << MakeRoot("Other").cert.pem();

  EXPECT_EQ(P::CertAddTrustedRootsFromFile((m_dir / "missing.pem").c_str()),
            P::HRESULT_FROM_WIN32(P::ERROR_FILE_NOT_FOUND));
  std::ofstream(m_dir / "empty.pem") << "no certificate here\n";
  EXPECT_EQ(P::CertAddTrustedRootsFromFile((m_dir / "empty.pem").c_str()), P::CRYPT_E_NOT_FOUND);
  // A bundle with one certificate that does not decode adds nothing.
  std::ofstream(m_dir / "bad.pem")
      << pki.root.cert.pem()
      << "-----BEGIN CERTIFICATE-----\nMAMCAQE=\n-----END CERTIFICATE-----\n";
  EXPECT_LT(P::CertAddTrustedRootsFromFile((m_dir / "bad.pem").c_str()), 0);
  EXPECT_EQ(judge(tsa, {&pki.intermediate.cert}).error, static_cast<P::DWORD>(P::CERT_E_CHAINING));

  ASSERT_EQ(P::CertAddTrustedRootsFromFile(bundle.c_str()), P::S_OK);
  EXPECT_EQ(judge(tsa, {&pki.intermediate.cert}).error, 0u);
  // A DER file serves too.
  const Pki der = MakePki("Der");
  WriteFileBytes(m_dir / "root.der", der.root.cert.der());
  ASSERT_EQ(P::CertAddTrustedRootsFromFile((m_dir / "root.der").c_str()), P::S_OK);
  EXPECT_EQ(judge(Tsa(der), {&der.intermediate.cert}).error, 0u);
}

TEST_F(ChainPolicy, ACertificateListedInACrlOfTheStoresIsRevoked) {
  const Pki pki = MakePki("Revoke");
  installRoot(pki.root.cert);
  const TestCert revoked = Tsa(pki, TsaExtensions(), 200);
  const TestCert kept = Tsa(pki, TsaExtensions(), 201);
  // 202 sorts right after the kept certificate's serial: a lookup must match, not come near.
  std::ofstream(userStore("Root") / "intermediate.crl") << MakeCrlPem(pki.intermediate, {200, 202});

  const ChainVerdict verdict = judge(revoked, {&pki.intermediate.cert});
  EXPECT_EQ(verdict.error, static_cast<P::DWORD>(P::CRYPT_E_REVOKED));
  EXPECT_EQ(verdict.element, 0);
  EXPECT_EQ(judge(kept, {&pki.intermediate.cert}).error, 0u);

  // A CRL under the issuer's name but signed by another key revokes nothing.
  std::filesystem::remove(userStore("Root") / "intermediate.crl");
  const Authority impostor = MakeRoot("Revoke Intermediate");
  std::filesystem::create_directories(userStore("CA"));
  std::ofstream(userStore("CA") / "forged.crl") << MakeCrlPem(impostor, {201});
  EXPECT_EQ(judge(kept, {&pki.intermediate.cert}).error, 0u);

  // Nor does a CRL of user certificates only about a CA (the intermediate, serial 2).
  std::ofstream(userStore("Root") / "root.crl")
      << MakeCrlPem(pki.root, {2}, {{"issuingDistributionPoint", "critical,onlyuser:TRUE"}});
  EXPECT_EQ(judge(kept, {&pki.intermediate.cert}).error, 0u);

  // Nor one signed by a CA whose keyUsage does not allow CRLs.
  const Authority noCrlSign =
      Under(pki.root, "Revoke No CRL Signer", 3,
            {{"basicConstraints", "critical,CA:TRUE"}, {"keyUsage", "critical,keyCertSign"}});
  const TestCert underIt = Under(noCrlSign, "Revoke TSA", 203).cert;
  std::ofstream(userStore("Root") / "nocrlsign.crl") << MakeCrlPem(noCrlSign, {203});
  EXPECT_EQ(judge(underIt, {&noCrlSign.cert}).error, 0u);
}

TEST_F(ChainPolicy, LoopsAndAbsurdLengthsEndInARefusalQuickly) {
  const auto started = std::chrono::steady_clock::now();
  // X and Y certify each other; the TSA is under X. No root anywhere.
  const CaKeyPtr xKey = NewKey();
  const CaKeyPtr yKey = NewKey();
  CertSpec xSpec{"Loop X", 1};
  xSpec.extensions = CaExtensions();
  CertSpec ySpec{"Loop Y", 2};
  ySpec.extensions = CaExtensions();
  const TestCert ySelf(ySpec, yKey.get(), nullptr, yKey.get());  // only to name Y as issuer
  const TestCert xByY(xSpec, xKey.get(), &ySelf, yKey.get());
  const TestCert yByX(ySpec, yKey.get(), &xByY, xKey.get());
  const CaKeyPtr tsaKey = NewKey();
  const TestCert tsa(CertSpec{"Loop TSA", 3, std::time(nullptr) - kDay, std::time(nullptr) + kYear,
                              TsaExtensions()},
                     tsaKey.get(), &xByY, xKey.get());
  const ChainVerdict loop = judge(tsa, {&xByY, &yByX});
  EXPECT_EQ(loop.error, static_cast<P::DWORD>(P::CERT_E_CHAINING));
  EXPECT_TRUE(loop.chainErrors & P::CERT_TRUST_IS_CYCLIC);

  // Forty CAs one under the other, under an installed root.
  Authority root = MakeRoot("Long Root");
  installRoot(root.cert);
  std::vector<Authority> cas;
  for (int i = 0; i < 40; ++i) {
    cas.push_back(Under(cas.empty() ? root : cas.back(), "Long CA " + std::to_string(i), 10 + i,
                        CaExtensions()));
  }
  const TestCert leaf = Under(cas.back(), "Long TSA", 99).cert;
  std::vector<const TestCert*> extra;
  for (const Authority& ca : cas) {
    extra.push_back(&ca.cert);
  }
  const ChainVerdict longChain = judge(leaf, extra);
  EXPECT_EQ(longChain.error, static_cast<P::DWORD>(P::CERT_E_CHAINING));
  EXPECT_LE(longChain.elements.size(), P::kMaxChainLength);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

P::BOOL RefuseEverything(P::LPCSTR, P::PCCERT_CHAIN_CONTEXT, const P::CERT_CHAIN_POLICY_PARA*,
                         P::CERT_CHAIN_POLICY_STATUS* status) {
  status->dwError = 0x800B0113;  // CERT_E_INVALID_POLICY
  status->lChainIndex = 0;
  status->lElementIndex = 0;
  return P::TRUE;
}

TEST_F(ChainPolicy, AnApplicationPolicyUnderTheSameIdentifierReplacesTheDefault) {
  const Pki pki = MakePki("Replace");
  installRoot(pki.root.cert);
  const TestCert tsa = Tsa(pki);
  const auto install = [](void* function) {
    const P::CRYPT_OID_FUNC_ENTRY entry{P::TSP_CHAIN_POLICY_ID, function};
    return P::CryptInstallOIDFunctionAddress(nullptr, P::X509_ASN_ENCODING,
                                             P::CRYPT_OID_VERIFY_CERTIFICATE_CHAIN_POLICY_FUNC, 1,
                                             &entry, 0);
  };
  ASSERT_TRUE(install(reinterpret_cast<void*>(&RefuseEverything)));
  EXPECT_EQ(judge(tsa, {&pki.intermediate.cert}).error, 0x800B0113u);
  ASSERT_TRUE(install(reinterpret_cast<void*>(&P::VelmoraTimeStampChainPolicy)));
  EXPECT_EQ(judge(tsa, {&pki.intermediate.cert}).error, 0u);

  // An identifier nobody registered.
  StorePtr store = StoreOf({});
  ContextPtr subject = tsa.context();
  const P::CERT_CHAIN_CONTEXT* raw = nullptr;
  ASSERT_TRUE(P::CertGetCertificateChain(nullptr, subject.get(), nullptr, nullptr, nullptr, 0,
                                         nullptr, &raw));
  ChainPtr chain(raw);
  P::CERT_CHAIN_POLICY_STATUS status{sizeof status, 0, 0, 0, nullptr};
  EXPECT_FALSE(P::CertVerifyCertificateChainPolicy("{00000000-0000-0000-0000-000000000000}",
                                                   chain.get(), nullptr, &status));
  EXPECT_EQ(P::GetLastError(), static_cast<P::DWORD>(P::CRYPT_E_NOT_FOUND));
  EXPECT_FALSE(
      P::CertGetCertificateChain(nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, &raw));
  EXPECT_EQ(raw, nullptr);
}

}  // namespace
