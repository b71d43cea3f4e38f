// Signature time stamps from Bouncy Castle (Debian's libbcpkix-java, run by the program
// tests/data/cades/CadesPeer.java under the JDK): signatures it makes and stamps verify with ours,
// attached and detached.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "horodex/SignatureStamp.h"
#include "platform/capi/wincrypt_chain.h"
#include "support/errors.h"
#include "tests/common/hive_env.h"
#include "tests/common/java_peer.h"
#include "tests/common/scratch.h"
#include "tests/common/signature_stamps.h"
#include "tests/common/testtsa_process.h"

namespace P = Velmora::Platform;
namespace T = Velmora::Testing;
using Velmora::CBlob;
using namespace Velmora::PKI::TSP::Client;

namespace {

class SignatureInterop : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_env = std::make_unique<T::ConfigEnvironment>();
    s_tsa = std::make_unique<T::TestTsaProcess>();
    s_dir = std::make_unique<T::TempDir>();
    ASSERT_EQ(P::CertAddTrustedRootsFromFile(s_tsa->File("ca.pem").c_str()), 0);
    s_peer = std::make_unique<T::JavaPeer>("cades/CadesPeer.java", "CadesPeer");
    ASSERT_TRUE(s_peer->built()) << "javac and Bouncy Castle (scripts/setup installs them):\n"
                                 << s_peer->buildOutput();
    T::WriteFileBytes(Path("doc.txt"), {'b', 'o', 't', 'h', ' ', 'w', 'a', 'y', 's', '\n'});
  }
  static void TearDownTestSuite() {
    s_dir.reset();
    s_peer.reset();
    s_tsa.reset();
    s_env.reset();
  }

  static std::string Path(const std::string& name) { return (s_dir->path() / name).string(); }
  static std::string Peer(const std::string& arguments) { return s_peer->Run(arguments); }
  static std::string Signer() {
    return s_tsa->File("client.key").string() + " " + s_tsa->File("client.pem").string();
  }
  static CSignatureReport Ours(const std::string& file, bool detached) {
    const std::vector<unsigned char> message = T::ReadFileBytes(Path(file));
    const std::vector<unsigned char> doc = T::ReadFileBytes(Path("doc.txt"));
    return VerifySignatureStamps(message.data(), message.size(), detached ? doc.data() : nullptr,
                                 detached ? doc.size() : 0, nullptr, 0);
  }

  static inline std::unique_ptr<T::ConfigEnvironment> s_env;
  static inline std::unique_ptr<T::TestTsaProcess> s_tsa;
  static inline std::unique_ptr<T::TempDir> s_dir;
  static inline std::unique_ptr<T::JavaPeer> s_peer;
};

TEST_F(SignatureInterop, BouncyCastleSignedAndStampedVerifiesWithOurs) {
  for (const bool detached : {false, true}) {
    SCOPED_TRACE(detached ? "detached" : "attached");
    const std::string out = detached ? "bc-detached.p7s" : "bc.p7s";
    ASSERT_EQ(Peer("sign-stamp " + Signer() + " " + Path("doc.txt") + " " + s_tsa->Url("/") + " " +
                   Path(out) + (detached ? " detached" : "")),
              "ok");
    const CSignatureReport report = Ours(out, detached);
    ASSERT_EQ(report.signers.size(), 1u);
    EXPECT_EQ(report.result(), P::S_OK);
    EXPECT_EQ(report.signers[0].stamps.size(), 1u);
    EXPECT_TRUE(report.signers[0].chainAtStampTime);
  }
}

}  // namespace
