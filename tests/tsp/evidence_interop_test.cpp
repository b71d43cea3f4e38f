// Evidence records both ways with Bouncy Castle's ERS classes (Debian's libbcpkix-java, run by the
// program tests/data/ers/ErsPeer.java under the JDK): records we make, renewed ones included,
// pass its validation against the same data and the test TSA's root; records it makes (one data
// object, several, a group, renewed by time stamp and by hash tree) pass ours; a record with one
// hash changed fails both.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "codec/evidence/evidence_record.h"
#include "horodex/EvidenceRecord.h"
#include "platform/capi/wincrypt.h"
#include "platform/errors/winerror.h"
#include "tests/common/hive_env.h"
#include "tests/common/java_peer.h"
#include "tests/common/scratch.h"
#include "tests/common/testtsa_process.h"

namespace P = Velmora::Platform;
namespace T = Velmora::Testing;
namespace ERS = Velmora::PKI::ERS;
namespace fs = std::filesystem;
using Velmora::CBlob;
using namespace Velmora::PKI::TSP::Client;

namespace {

constexpr const char* kSha1 = "1.3.14.3.2.26";
constexpr const char* kSha256 = "2.16.840.1.101.3.4.2.1";

class EvidenceInterop : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_env = std::make_unique<T::ConfigEnvironment>();
    s_tsa = std::make_unique<T::TestTsaProcess>();
    s_dir = std::make_unique<T::TempDir>();
    ASSERT_EQ(P::CertAddTrustedRootsFromFile(s_tsa->File("ca.pem").c_str()), 0);
    s_peer = std::make_unique<T::JavaPeer>("ers/ErsPeer.java", "ErsPeer");
    ASSERT_TRUE(s_peer->built()) << "javac and Bouncy Castle (scripts/setup installs them):\n"
                                 << s_peer->buildOutput();
    for (int i = 0; i < 6; ++i) {
      const std::string text = "interop document " + std::to_string(i) + "\n";
      T::WriteFileBytes(File(i), std::vector<unsigned char>(text.begin(), text.end()));
    }
  }
  static void TearDownTestSuite() {
    s_dir.reset();
    s_peer.reset();
    s_tsa.reset();
    s_env.reset();
  }

  static std::string File(int i) { return (s_dir->path() / ("doc" + std::to_string(i))).string(); }
  // The peer's verdict: "ok" or "refused: ...".
  static std::string Peer(const std::string& arguments) { return s_peer->Run(arguments); }
  static std::string BcVerify(const CBlob& record, const std::string& item) {
    const fs::path path = s_dir->path() / "ours.ers";
    T::WriteFileBytes(path, record.bytes());
    return Peer("verify " + path.string() + " " + item + " " + s_tsa->File("ca.pem").string());
  }
  static P::HRESULT OursVerify(const fs::path& record, int file) {
    const std::vector<unsigned char> bytes = T::ReadFileBytes(record);
    const std::vector<unsigned char> data = T::ReadFileBytes(File(file));
    const CEvidenceReport report =
        VerifyEvidenceRecordData(bytes.data(), static_cast<unsigned long>(bytes.size()),
                                 data.data(), data.size(), nullptr, 0);
    return report.result();
  }
  static CBlob Hash(const char* oid, int file) {
    const std::vector<unsigned char> data = T::ReadFileBytes(File(file));
    return EvidenceHash(oid, data.data(), data.size());
  }
  static void Stamp(CEvidenceTree& tree) {
    CRequest request;
    request.put_CertReq(true);
    request.put_TSAAddress(s_tsa->WideUrl("/").c_str());
    tree.Stamp(request);
  }
  static CBlob WithOneHashChanged(const CBlob& record) {
    ERS::CEvidenceRecord parsed;
    parsed.decode(record);
    ERS::CArchiveTimeStamp stamp = parsed.get_sequence().get_chains()[0].get_items()[0];
    ERS::CReducedHashtree tree = stamp.get_reducedHashtree();
    tree.back().back().pbData()[0] ^= 0x01;
    stamp.put_reducedHashtree(tree);
    ERS::CArchiveTimeStampChain chain;
    chain.push_back(stamp);
    parsed.sequence().chains()[0] = chain;
    return parsed.encode();
  }

  static inline std::unique_ptr<T::ConfigEnvironment> s_env;
  static inline std::unique_ptr<T::TestTsaProcess> s_tsa;
  static inline std::unique_ptr<T::TempDir> s_dir;
  static inline std::unique_ptr<T::JavaPeer> s_peer;
};

TEST_F(EvidenceInterop, RecordsWeMakeAndRenewPassBouncyCastle) {
  CEvidenceTree tree(kSha256);
  for (int i = 0; i < 3; ++i) {
    const CBlob hash = Hash(kSha256, i);
    tree.AddHash(hash.pbData(), hash.cbData());
  }
  const CBlob members[] = {Hash(kSha256, 3), Hash(kSha256, 4)};
  tree.AddGroup(members, 2);
  Stamp(tree);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(BcVerify(tree.Record(i), File(i)), "ok") << "leaf " << i;
  }
  EXPECT_EQ(BcVerify(tree.Record(3), File(3) + "+" + File(4)), "ok") << "the group";
  EXPECT_NE(BcVerify(tree.Record(0), File(1)), "ok") << "another file";
  EXPECT_NE(BcVerify(WithOneHashChanged(tree.Record(1)), File(1)), "ok") << "one hash changed";

  // Renewed by time stamp, then by hash tree from SHA-1 to SHA-256.
  CEvidenceTree sha1(kSha1);
  const CBlob old = Hash(kSha1, 5);
  sha1.AddHash(old.pbData(), old.cbData());
  sha1.AddHash(members[0].pbData(), 20);  // a second leaf, so the record has a path
  Stamp(sha1);
  const CBlob first = sha1.Record(0);
  CEvidenceTree stamps(kSha1);
  stamps.AddTimeStampRenewal(first.pbData(), first.cbData());
  Stamp(stamps);
  const CBlob renewed = stamps.Record(0);
  EXPECT_EQ(BcVerify(renewed, File(5)), "ok") << "timestamp renewal";
  CEvidenceTree trees(kSha256);
  const CBlob now = Hash(kSha256, 5);
  trees.AddHashTreeRenewal(renewed.pbData(), renewed.cbData(), &now, 1);
  Stamp(trees);
  EXPECT_EQ(BcVerify(trees.Record(0), File(5)), "ok") << "hash-tree renewal";
}

TEST_F(EvidenceInterop, RecordsBouncyCastleMakesAndRenewsPassOurs) {
  const fs::path out = s_dir->path() / "bc";
  fs::create_directories(out);
  const std::string url = s_tsa->Url("/");
  ASSERT_EQ(Peer("stamp " + url + " " + kSha256 + " " + out.string() + " " + File(0) + " " +
                 File(1) + " " + File(2) + " " + File(3) + "+" + File(4)),
            "ok");
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(OursVerify(out / (std::to_string(i) + ".ers"), i), 0) << "item " << i;
    EXPECT_EQ(OursVerify(out / (std::to_string(i) + ".ers"), 5), P::CRYPT_E_HASH_VALUE);
  }
  EXPECT_EQ(OursVerify(out / "3.ers", 4), 0) << "a member of the group";
  const std::vector<unsigned char> bytes = T::ReadFileBytes(out / "1.ers");
  const CBlob changed = WithOneHashChanged(CBlob(bytes));
  EXPECT_EQ(
      VerifyEvidenceRecordData(changed.pbData(), changed.cbData(), T::ReadFileBytes(File(1)).data(),
                               T::ReadFileBytes(File(1)).size(), nullptr, 0)
          .result(),
      P::CRYPT_E_HASH_VALUE);

  // A single data object, renewed by time stamp and then by hash tree (SHA-1 to SHA-256).
  ASSERT_EQ(Peer("stamp " + url + " " + kSha1 + " " + out.string() + " " + File(5)), "ok");
  const std::string single = (out / "0.ers").string();
  ASSERT_EQ(Peer("renew-ts " + url + " " + single + " " + (out / "ts.ers").string()), "ok");
  EXPECT_EQ(OursVerify(out / "ts.ers", 5), 0);
  ASSERT_EQ(Peer("renew-hash " + url + " " + kSha256 + " " + (out / "ts.ers").string() + " " +
                 File(5) + " " + (out / "th.ers").string()),
            "ok");
  EXPECT_EQ(OursVerify(out / "th.ers", 5), 0);
  EXPECT_EQ(OursVerify(out / "th.ers", 0), P::CRYPT_E_HASH_VALUE);
}

}  // namespace
