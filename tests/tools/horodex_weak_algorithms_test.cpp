// Stamps signed with weak algorithms, made here with OpenSSL (its `x509` and `ts -reply`), through
// `horodex verify`: each is refused with its code under the default rule (a token's own algorithms
// fail its signature; certificates and the TSA's key at genTime fail the chain), and the dated ones
// verify once the administrator moves the rule's dates past the stamp (as for stamps made in
// time), while MD5 stays refused at any date.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/common/hive_env.h"
#include "tests/common/scratch.h"

namespace T = Velmora::Testing;

namespace {

const std::string kTool = std::string(HORODEX_BINARY_DIR) + "/tools/horodex/horodex";

struct Case {
  const char* name;
  const char* tsaKey;       // openssl genpkey options of the TSA's key
  const char* certDigest;   // the digest the root signs the TSA certificate with
  const char* tokenDigest;  // the TSA's signer digest
  const char* essDigest;    // the ESS certificate identifier's hash
  const char* imprint;      // the request's hash
  int exit;                 // under the default rule
  const char* line;
  bool datedOnly;  // verifies once the dates are moved
};

constexpr const char* kRsa2048 = "-algorithm RSA -pkeyopt rsa_keygen_bits:2048";
const Case kCases[] = {
    {"sound", kRsa2048, "sha256", "sha256", "sha256", "sha256", 0, "chain: ok", true},
    {"MD5 token signature", kRsa2048, "sha256", "md5", "sha256", "sha256", 22,
     "signature: failed 0x80092026", false},
    {"MD5 imprint", kRsa2048, "sha256", "sha256", "sha256", "md5", 22,
     "signature: failed 0x80092026", false},
    {"MD5 ESS identifier", kRsa2048, "sha256", "sha256", "md5", "sha256", 22,
     "signature: failed 0x80092026", false},
    {"MD5 certificate", kRsa2048, "md5", "sha256", "sha256", "sha256", 23,
     "chain: failed 0x80092026", false},
    {"SHA-1 token after the cut-off", kRsa2048, "sha256", "sha1", "sha1", "sha1", 22,
     "signature: failed 0x80092026", true},
    {"SHA-1 certificate after the cut-off", kRsa2048, "sha1", "sha256", "sha256", "sha256", 23,
     "chain: failed 0x80092026", true},
    {"RSA-1024 TSA key", "-algorithm RSA -pkeyopt rsa_keygen_bits:1024", "sha256", "sha256",
     "sha256", "sha256", 23, "chain: failed 0x80092026", true},
    {"RSA-512 TSA key", "-algorithm RSA -pkeyopt rsa_keygen_bits:512", "sha256", "sha256", "sha256",
     "sha256", 23, "chain: failed 0x80092026", true},
};

// Makes the root (RSA-2048, SHA-256) once, then per case a TSA certificate and a response.
class WeakAlgorithms : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_dir = new T::TempDir();
    std::ofstream(Dir() / "data.txt") << "weak algorithms\n";
    std::ofstream(Dir() / "tsa.ext") << "basicConstraints=CA:FALSE\n"
                                        "keyUsage=critical,digitalSignature\n"
                                        "extendedKeyUsage=critical,timeStamping\n";
    ASSERT_EQ(Run("openssl req -x509 -newkey rsa:2048 -nodes -keyout root.key -out root.pem -days "
                  "3650 -sha256 -subj /CN=Weak-Algorithms-Root"),
              0);
  }
  static void TearDownTestSuite() { delete s_dir; }

  static std::filesystem::path Dir() { return s_dir->path(); }
  static int Run(const std::string& command) {
    const T::CommandResult r =
        T::RunCommand("cd " + T::ShellQuote(Dir().string()) + " && " + command + " 2>&1");
    EXPECT_EQ(r.exitCode, 0) << command << "\n" << r.output;
    return r.exitCode;
  }

  // The response of case `c`, in its own folder.
  static std::filesystem::path MakeStamp(const Case& c, int index) {
    const std::string n = "case" + std::to_string(index);
    std::ofstream(Dir() / (n + ".cnf"))
        << "[tsa]\ndefault_tsa = t\n[t]\nsigner_cert = " << n << ".pem\nsigner_key = " << n
        << ".key\nsigner_digest = " << c.tokenDigest << "\ness_cert_id_alg = " << c.essDigest
        << "\ndefault_policy = 1.2.3.4\ndigests = md5, sha1, sha256\nserial = " << n
        << ".serial\ncrypto_device = builtin\n";
    Run("openssl genpkey " + std::string(c.tsaKey) + " -out " + n + ".key");
    Run("openssl req -new -key " + n + ".key -subj /CN=" + n + " -out " + n + ".csr");
    Run("openssl x509 -req -in " + n + ".csr -CA root.pem -CAkey root.key -set_serial " +
        std::to_string(100 + index) + " -days 365 -" + c.certDigest + " -extfile tsa.ext -out " +
        n + ".pem");
    Run("openssl ts -query -data data.txt -" + std::string(c.imprint) + " -cert -out " + n +
        ".tsq");
    Run("openssl ts -reply -config " + n + ".cnf -queryfile " + n + ".tsq -out " + n + ".tsr");
    return Dir() / (n + ".tsr");
  }

  // `horodex verify` of the stamp offline, under the policy values given.
  static T::CommandResult Verify(const std::filesystem::path& stamp, const std::string& policy) {
    const T::TempDir home;
    std::filesystem::create_directories(home / "config/velmora");
    std::ofstream(home / "config/velmora/user.reg")
        << T::ConfigEnvironment::PolicyHive(false, policy);
    return T::RunCommand("XDG_CONFIG_HOME=" + T::ShellQuote((home / "config").string()) +
                         " XDG_CACHE_HOME=" + T::ShellQuote((home / "cache").string()) + " " +
                         T::ShellQuote(kTool) + " verify --offline " +
                         T::ShellQuote(stamp.string()) + " --data " +
                         T::ShellQuote((Dir() / "data.txt").string()) + " --ca " +
                         T::ShellQuote((Dir() / "root.pem").string()) + " 2>&1");
  }

  static T::TempDir* s_dir;
};
T::TempDir* WeakAlgorithms::s_dir = nullptr;

TEST_F(WeakAlgorithms, RefusedByTheDatedRuleAndTakenOnceItsDatesAreMoved) {
  const std::string moved =
      "\"WeakSha1SignaturesAfter\"=\"2099-01-01\"\n\"WeakRsaKeysAfter\"=\"2099-01-01\"\n";
  int index = 0;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::filesystem::path stamp = MakeStamp(c, index++);
    const T::CommandResult strict = Verify(stamp, "");
    EXPECT_EQ(strict.exitCode, c.exit) << strict.output;
    EXPECT_TRUE(Has(strict, c.line)) << strict.output;
    EXPECT_EQ(Has(strict, "(weak "), c.exit != 0) << strict.output;  // it names what is weak
    const T::CommandResult lenient = Verify(stamp, moved);
    EXPECT_EQ(lenient.exitCode, c.datedOnly ? 0 : c.exit) << lenient.output;
  }
  // A smaller minimum takes a 1024-bit key at today's dates too; a date that is no date keeps
  // the default.
  const std::filesystem::path small = MakeStamp(kCases[7], 100);
  EXPECT_EQ(Verify(small, "\"MinRsaKeyBits\"=dword:00000400\n").exitCode, 0);
  EXPECT_EQ(Verify(small, "\"WeakRsaKeysAfter\"=\"someday\"\n").exitCode, 23);
}

}  // namespace
