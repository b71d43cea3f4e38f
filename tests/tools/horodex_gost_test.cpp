// GOST end to end, with Debian's gost engine as the independent peer: a GOST PKI (root,
// intermediate, TSAs with 2012-256, 2012-512 and 2001 keys) and granted responses made by
// `openssl` with the engine at test time, each judged alike by `horodex verify` and by
// `openssl ts -verify`, intact and with a byte changed; bad GOST input; the module turned off by
// policy; the request's hash by default, by policy and by name; a stamp with a GOST hash from the
// test TSA with GOST keys.
#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "codec/stampmsg/response.h"
#include "platform/crypto/gost_module.h"
#include "tests/common/der_build.h"
#include "tests/common/hive_env.h"
#include "tests/common/scratch.h"
#include "tests/common/testtsa_process.h"

namespace T = Velmora::Testing;
namespace Der = Velmora::ASN1::Der;
using Bytes = std::vector<unsigned char>;

namespace {

const std::string kTool = T::ShellQuote(std::string(HORODEX_BINARY_DIR) + "/tools/horodex/horodex");

constexpr const char* kEngineConfig =
    "openssl_conf = init\n[init]\nengines = engines\n[engines]\ngost = gost\n"
    "[gost]\nengine_id = gost\ndefault_algorithms = ALL\n";
constexpr const char* kExtensions =
    "[req]\ndistinguished_name = dn\n[dn]\n"
    "[ca]\nbasicConstraints = critical,CA:true\nkeyUsage = critical,keyCertSign,cRLSign\n"
    "subjectKeyIdentifier = hash\n"
    "[tsa]\nbasicConstraints = critical,CA:false\nkeyUsage = critical,digitalSignature\n"
    "extendedKeyUsage = critical,timeStamping\nsubjectKeyIdentifier = hash\n"
    "authorityKeyIdentifier = keyid\n";

// The element with the last byte of its innermost last member dropped and every length on the
// way rewritten: for a response made by OpenSSL, its signature one byte short.
Bytes DropLastByte(Der::Bytes der) {
  const Der::Element element = Der::ReadSingle(der);
  Bytes content(element.content.begin(), element.content.end());
  if (!element.tag.constructed) {
    content.pop_back();
    return T::DerBuild::Tlv(element.tag, content);
  }
  Der::Reader members = element.children();
  Der::Bytes last;
  while (!members.empty()) {
    last = members.next().encoded;
  }
  content.resize(static_cast<std::size_t>(last.data() - element.content.data()));
  const Bytes shorter = DropLastByte(last);
  content.insert(content.end(), shorter.begin(), shorter.end());
  return T::DerBuild::Tlv(element.tag, content);
}

// `bytes` with one byte flipped, at the middle of the first place where `part` occurs.
Bytes FlipInside(Bytes bytes, const Bytes& part) {
  const auto at = std::search(bytes.begin(), bytes.end(), part.begin(), part.end());
  EXPECT_NE(at, bytes.end());
  if (at != bytes.end()) {
    at[static_cast<long>(part.size() / 2)] ^= 0x01;
  }
  return bytes;
}

// The GOST PKI and the responses, made by `openssl` with the gost engine.
class HorodexGost : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_dir = std::make_unique<T::TempDir>();
    T::ConfigEnvironment::Write(Path("gost.cnf"), kEngineConfig);
    T::ConfigEnvironment::Write(Path("ext.cnf"), kExtensions);
    T::ConfigEnvironment::Write(Path("data.txt"), "GOST end to end\n");
    s_installed = Openssl("engine gost").exitCode == 0;
    if (!s_installed) {
      return;
    }
    const auto make = [](const std::string& args) {
      const T::CommandResult r = Openssl(args);
      ASSERT_EQ(r.exitCode, 0) << args << "\n" << r.output;
    };
    const std::string config = " -config " + Q("ext.cnf");
    make("genpkey -algorithm gost2012_512 -pkeyopt paramset:A -out " + Q("root.key"));
    make("req -x509 -new -key " + Q("root.key") + " -subj /CN=GOST-Root -days 30 -extensions ca" +
         config + " -out " + Q("root.pem"));
    const auto issue = [&](const std::string& name, const char* algorithm, const char* paramset,
                           const std::string& issuer, const char* extensions) {
      make("genpkey -algorithm " + std::string(algorithm) + " -pkeyopt paramset:" + paramset +
           " -out " + Q(name + ".key"));
      make("req -new -key " + Q(name + ".key") + " -subj /CN=GOST-" + name + config + " -out " +
           Q(name + ".csr"));
      make("x509 -req -in " + Q(name + ".csr") + " -CA " + Q(issuer + ".pem") + " -CAkey " +
           Q(issuer + ".key") + " -set_serial " + std::to_string(++s_serial) +
           " -days 30 -extfile " + Q("ext.cnf") + " -extensions " + extensions + " -out " +
           Q(name + ".pem"));
      make("x509 -in " + Q(name + ".pem") + " -outform DER -out " + Q(name + ".der"));
    };
    issue("int", "gost2012_256", "A", "root", "ca");
    issue("t256", "gost2012_256", "A", "int", "tsa");
    issue("t512", "gost2012_512", "B", "int", "tsa");
    issue("t2001", "gost2001", "A", "int", "tsa");
  }
  static void TearDownTestSuite() { s_dir.reset(); }

  void SetUp() override {
    if (!s_installed) {
      GTEST_SKIP() << "Debian's GOST module (libengine-gost-openssl) is not installed";
    }
    ASSERT_TRUE(Velmora::Platform::GostModuleLoaded()) << "installed, but the library lacks it";
  }

  static std::filesystem::path Path(const std::string& name) { return s_dir->path() / name; }
  static std::string Q(const std::string& name) { return T::ShellQuote(Path(name).string()); }
  static T::CommandResult Openssl(const std::string& args) {
    return T::RunCommand("OPENSSL_CONF=" + Q("gost.cnf") + " openssl " + args + " 2>&1");
  }

  // A granted response of TSA `tsa` (t256, t512, t2001) for data.txt, with the digests named
  // (sha1 as the signing-certificate's hash gives ESSCertID, any other ESSCertIDv2).
  static std::string Respond(const std::string& tsa, const std::string& imprint,
                             const std::string& signer, const std::string& ess) {
    const std::string name = tsa + "." + imprint + "." + signer + "." + ess;
    T::ConfigEnvironment::Write(Path(name + ".cnf"),
                                "[tsa]\ndefault_tsa = t\n[t]\nserial = " + Path("serial").string() +
                                    "\ndefault_policy = 1.2.3.4.1\naccuracy = secs:1\n"
                                    "digests = md_gost94, md_gost12_256, md_gost12_512\n"
                                    "ess_cert_id_alg = " +
                                    ess + "\n");
    T::ConfigEnvironment::Write(Path("serial"), "01\n");
    const T::CommandResult query = Openssl("ts -query -data " + Q("data.txt") + " -" + imprint +
                                           " -cert -out " + Q(name + ".tsq"));
    const T::CommandResult reply =
        Openssl("ts -reply -config " + Q(name + ".cnf") + " -queryfile " + Q(name + ".tsq") +
                " -signer " + Q(tsa + ".pem") + " -inkey " + Q(tsa + ".key") + " -" + signer +
                " -chain " + Q("int.pem") + " -out " + Q(name + ".tsr"));
    EXPECT_EQ(query.exitCode + reply.exitCode, 0) << query.output << reply.output;
    return name + ".tsr";
  }

  static T::CommandResult Ours(const std::string& response, const std::string& env = {}) {
    return T::RunCommand(env + kTool + " verify " + Q(response) + " --data " + Q("data.txt") +
                         " --ca " + Q("root.pem") + " 2>&1");
  }
  static bool TheirsValid(const std::string& response) {
    return Has(Openssl("ts -verify -in " + Q(response) + " -data " + Q("data.txt") + " -CAfile " +
                       Q("root.pem") + " -untrusted " + Q("int.pem")),
               "Verification: OK");
  }

  static Bytes Digest(const std::string& name, const std::string& text) {
    const std::unique_ptr<EVP_MD, decltype(&EVP_MD_free)> md(
        Velmora::Platform::FetchDigest(name.c_str()), EVP_MD_free);
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned size = 0;
    EXPECT_TRUE(md && EVP_Digest(text.data(), text.size(), out.data(), &size, md.get(), nullptr));
    out.resize(size);
    return out;
  }

  static inline std::unique_ptr<T::TempDir> s_dir;
  static inline bool s_installed = false;
  static inline int s_serial = 1;
};

TEST_F(HorodexGost, OursAndOpenSslAgreeOnEveryGostHashAndKeyIntactOrChanged) {
  struct Case {
    const char* tsa;
    const char* imprint;
    const char* signer;
    const char* ess;
  };
  const Case cases[] = {
      {"t256", "md_gost12_256", "md_gost12_256", "md_gost12_256"},
      {"t512", "md_gost12_512", "md_gost12_512", "md_gost12_512"},
      {"t2001", "md_gost94", "md_gost94", "sha1"},
      {"t256", "md_gost94", "md_gost12_512", "md_gost94"},
      {"t512", "md_gost12_256", "md_gost94", "sha1"},
  };
  enum class Change { none, signature, imprint, certificate };
  const struct {
    Change change;
    const char* line;  // what `horodex verify` says
  } changes[] = {{Change::none, "chain: ok"},
                 {Change::signature, "signature: failed 0x80090006"},
                 {Change::imprint, "matches data: failed 0x80091007"},
                 {Change::certificate, "signature: failed 0x80092004"}};
  const std::string data = T::ReadFileText(Path("data.txt"));
  for (const Case& c : cases) {
    const std::string response = Respond(c.tsa, c.imprint, c.signer, c.ess);
    const Bytes good = T::ReadFileBytes(Path(response));
    for (const auto& [change, line] : changes) {
      Bytes bytes = good;
      if (change == Change::signature) {
        bytes.back() ^= 0x01;  // the signature ends the response
      } else if (change == Change::imprint) {
        bytes = FlipInside(bytes, Digest(c.imprint, data));
      } else if (change == Change::certificate) {
        bytes = FlipInside(bytes, T::ReadFileBytes(Path(std::string(c.tsa) + ".der")));
      }
      const std::string file = "changed.tsr";
      T::WriteFileBytes(Path(file), bytes);
      const T::CommandResult ours = Ours(file);
      const std::string what = response + " change " + std::to_string(static_cast<int>(change));
      EXPECT_EQ(ours.exitCode == 0, change == Change::none) << what << "\n" << ours.output;
      EXPECT_TRUE(Has(ours, line)) << what << "\n" << ours.output;
      EXPECT_EQ(TheirsValid(file), ours.exitCode == 0) << what;
    }
  }
}

TEST_F(HorodexGost, BadGostInputIsRefusedWithItsCode) {
  const std::string response = Respond("t256", "md_gost12_256", "md_gost12_256", "md_gost12_256");
  const Bytes good = T::ReadFileBytes(Path(response));
  // A signature one byte short.
  T::WriteFileBytes(Path("short.tsr"), DropLastByte(good));
  const T::CommandResult shortSignature = Ours("short.tsr");
  EXPECT_TRUE(Has(shortSignature, "signature: failed 0x80090006")) << shortSignature.output;
  EXPECT_FALSE(TheirsValid("short.tsr"));
  // The TSA's key with a parameter set no one knows (1.2.643.2.2.35.1 made ...35.9).
  Velmora::PKI::TSP::CResponse decoded;
  decoded.decode(Velmora::CBlob(good.data(), static_cast<unsigned long>(good.size())));
  const auto* token = decoded.get_timeStampToken();
  ASSERT_NE(token, nullptr);
  const Bytes cert = T::ReadFileBytes(Path("t256.der"));
  const Bytes paramsetA = {0x06, 0x07, 0x2a, 0x85, 0x03, 0x02, 0x02, 0x23, 0x01};
  Bytes unknown = cert;
  const auto at = std::search(unknown.begin(), unknown.end(), paramsetA.begin(), paramsetA.end());
  ASSERT_NE(at, unknown.end());
  at[8] = 0x09;
  EXPECT_TRUE(token->verify(Velmora::CBlob(cert.data(), static_cast<unsigned long>(cert.size()))));
  EXPECT_FALSE(
      token->verify(Velmora::CBlob(unknown.data(), static_cast<unsigned long>(unknown.size()))));
}

TEST_F(HorodexGost, DisableGostPolicyRefusesGostStamps) {
  const std::string response = Respond("t512", "md_gost12_512", "md_gost12_512", "sha1");
  T::ConfigEnvironment env;
  env.MachinePolicies("\"DisableGOST\"=dword:00000001\n");
  const T::CommandResult refused = Ours(response);
  EXPECT_NE(refused.exitCode, 0);
  EXPECT_TRUE(Has(refused, "imported: failed 0x80092004")) << refused.output;
}

// The module loaded says nothing of what the user wants: SHA-256 unless a policy or --hash names
// GOST, as OpenSSL reads the request back.
TEST_F(HorodexGost, RequestHashBySettingWithTheModuleLoaded) {
  const struct {
    const char* policies;
    const char* hashOption;
    const char* expected;  // in `openssl ts -query -text`, or the tool's refusal
  } cases[] = {
      {"", "", "Hash Algorithm: sha256"},
      {"\"DefaultHashAlg\"=\"1.2.643.7.1.1.2.2 Streebog-256\"\n", "",
       "GOST R 34.11-2012 with 256 bit hash"},
      {"", " --hash streebog512", "GOST R 34.11-2012 with 512 bit hash"},
      {"", " --hash Streebog-256", "GOST R 34.11-2012 with 256 bit hash"},
      {"", " --hash gost94", "GOST R 34.11-94"},
      {"\"DisableGOST\"=dword:00000001\n", "", "Hash Algorithm: sha256"},
      {"\"DisableGOST\"=dword:00000001\n", " --hash streebog256",
       "unknown hash algorithm 'streebog256'"},
  };
  for (const auto& c : cases) {
    T::ConfigEnvironment env;
    env.MachinePolicies(c.policies);
    const T::CommandResult made =
        T::RunCommand(kTool + " query " + Q("data.txt") + c.hashOption + " -o " + Q("q.tsq") +
                      " 2>&1 && openssl ts -query -in " + Q("q.tsq") + " -text");
    EXPECT_TRUE(Has(made, c.expected)) << c.policies << c.hashOption << "\n" << made.output;
  }
}

TEST_F(HorodexGost, StampAtAGostTestTsaWithAStreebogHash) {
  T::TestTsaOptions options;
  options.extraArguments = {"--key-type", "gost2012-256"};
  const T::TestTsaProcess tsa(options);
  const std::string ca = T::ShellQuote(tsa.File("ca.pem").string());
  const T::CommandResult stamped = T::RunCommand(
      kTool + " stamp " + Q("data.txt") + " --tsa " + tsa.Url("/") +
      " --hash streebog256 --cert-req --ca " + ca + " -o " + Q("stamp.tsr") + " 2>&1");
  ASSERT_EQ(stamped.exitCode, 0) << stamped.output;
  EXPECT_TRUE(
      Has(Openssl("ts -reply -text -in " + Q("stamp.tsr")), "GOST R 34.11-2012 with 256 bit hash"));
  EXPECT_TRUE(Has(
      Openssl("ts -verify -in " + Q("stamp.tsr") + " -data " + Q("data.txt") + " -CAfile " + ca),
      "Verification: OK"));
  const T::CommandResult ours = T::RunCommand(kTool + " verify " + Q("stamp.tsr") + " --data " +
                                              Q("data.txt") + " --ca " + ca + " 2>&1");
  EXPECT_EQ(ours.exitCode, 0) << ours.output;
}

}  // namespace
