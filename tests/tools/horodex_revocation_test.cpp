// horodex stamp and verify with revocation: a TSA (horodex-testtsa with a certificate of a PKI
// made here, naming a CRL distribution point that is not there) whose tokens carry a CRL or none,
// --offline, --crl files, and the revocation line of the TSA certificate in text and JSON.
#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>

#include "tests/common/hive_env.h"
#include "tests/common/scratch.h"
#include "tests/common/test_ca.h"
#include "tests/common/testtsa_process.h"

namespace T = Velmora::Testing;

namespace {

const std::string kTool = std::string(HORODEX_BINARY_DIR) + "/tools/horodex/horodex";
const std::time_t kNow = std::time(nullptr);

std::string Q(const std::filesystem::path& path) {
  return T::ShellQuote(path.string());
}

struct Case {
  const char* name;
  bool tokenCarriesCrl;
  const char* command;  // "stamp" or "verify"
  const char* options;  // %R: the revoking CRL (PEM), %D: the same as DER
  int exit;
  std::vector<const char*> expected;
};

const Case kCases[] = {
    {"stamp: the token's CRL answers",
     true,
     "stamp",
     "--offline",
     0,
     {"Revocation:", "CN=Revocation TSA: good (token, CRL, this update "}},
    {"verify: a newer --crl that revokes beats the token's stale good one",
     true,
     "verify",
     "--offline --crl %R",
     23,
     {"revocation of CN=Revocation TSA: revoked 0x80092010", "(--crl, CRL, revoked ",
      "keyCompromise"}},
    {"stamp: revoked by --crl",
     false,
     "stamp",
     "--offline --crl %D",
     14,
     {"0x80092010", "revoked 0x80092010", "(--crl, CRL, revoked ", "keyCompromise"}},
    {"verify: no source offline",
     false,
     "verify",
     "--offline",
     0,
     {"chain: ok", "revocation of CN=Revocation TSA: unknown 0x80092013"}},
    {"verify --json: revoked by --crl",
     false,
     "verify",
     "--offline --crl %D --json",
     23,
     {R"("revocation": [{"subject": "CN=Revocation TSA", "status": "revoked")",
      R"("source": "--crl", "kind": "CRL")", R"("reason": "keyCompromise")"}},
};

TEST(HorodexRevocation, StampAndVerifyReportTheTsaCertificatesRevocation) {
  const T::ConfigEnvironment env;
  const T::TempDir dir;
  setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
  const T::Authority root = T::MakeRoot("Revocation Tool Root");
  std::vector<T::Extension> extensions = T::TsaExtensions();
  extensions.push_back({"crlDistributionPoints", "URI:http://127.0.0.1:9/root.crl"});
  const T::Authority tsa = T::MakeIssued(
      T::CertSpec("Revocation TSA", 77, kNow - 24 * 3600, kNow + 24 * 3600, extensions), root);
  root.cert.writePem(dir / "root.pem");
  tsa.cert.writePem(dir / "tsa.pem");
  T::WriteKeyPem(tsa.key.get(), dir / "tsa.key");
  T::WriteFileBytes(dir / "good.crl", T::MakeCrlDer(root, {}, kNow - 3600, kNow + 3600));
  const auto revoking = T::MakeCrlDer(root, {{77, kNow - 7200, 1}}, kNow - 1800, kNow + 3600);
  T::WriteFileBytes(dir / "revoked.der", revoking);
  ASSERT_EQ(T::RunCommand("openssl crl -inform DER -in " + Q(dir / "revoked.der") + " -out " +
                          Q(dir / "revoked.pem"))
                .exitCode,
            0);
  T::WriteFileBytes(dir / "doc.txt", {'d', 'o', 'c'});

  std::unique_ptr<T::TestTsaProcess> tsas[2];
  for (const bool carries : {false, true}) {
    T::TestTsaOptions options;
    options.extraArguments = {"--tsa-cert", (dir / "tsa.pem").string(),
                              "--tsa-key",  (dir / "tsa.key").string(),
                              "--ca",       (dir / "root.pem").string()};
    if (carries) {
      options.extraArguments.push_back("--revocation-info");
      options.extraArguments.push_back((dir / "good.crl").string());
    }
    tsas[carries] = std::make_unique<T::TestTsaProcess>(options);
  }
  const std::string stampOf[2] = {(dir / "plain.tsr").string(), (dir / "carrying.tsr").string()};
  for (const bool carries : {false, true}) {
    const T::CommandResult made =
        T::RunCommand(kTool + " stamp " + Q(dir / "doc.txt") + " --tsa " + tsas[carries]->Url() +
                      " --cert-req --no-verify -o " + T::ShellQuote(stampOf[carries]) + " 2>&1");
    ASSERT_EQ(made.exitCode, 0) << made.output;
  }

  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::string options = c.options;
    for (const auto& [mark, file] : {std::pair{"%R", "revoked.pem"}, {"%D", "revoked.der"}}) {
      if (const auto at = options.find(mark); at != std::string::npos) {
        options.replace(at, 2, Q(dir / file));
      }
    }
    const std::string common = " --ca " + Q(dir / "root.pem") + " " + options + " 2>&1";
    const T::CommandResult r =
        std::string(c.command) == "stamp"
            ? T::RunCommand(kTool + " stamp " + Q(dir / "doc.txt") + " --tsa " +
                            tsas[c.tokenCarriesCrl]->Url() + " --cert-req -o " +
                            Q(dir / "new.tsr") + common)
            : T::RunCommand(kTool + " verify " + T::ShellQuote(stampOf[c.tokenCarriesCrl]) +
                            " --data " + Q(dir / "doc.txt") + common);
    EXPECT_EQ(r.exitCode, c.exit) << r.output;
    for (const char* text : c.expected) {
      EXPECT_TRUE(Has(r, text)) << text << "\n" << r.output;
    }
  }
}

}  // namespace
