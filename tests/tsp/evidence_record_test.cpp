// Evidence records against the local TSA: trees of several sizes and shapes under one request,
// each record verified against its own data and refused against another's; renewal by time
// stamp and then by hash tree (SHA-1 to SHA-256) reported stage by stage; damaged records
// refused with the code of the failing part.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/evidence/evidence_record.h"
#include "horodex/EvidenceRecord.h"
#include "platform/capi/wincrypt.h"
#include "platform/errors/winerror.h"
#include "support/errors.h"
#include "tests/common/der_build.h"
#include "tests/common/hive_env.h"
#include "tests/common/testtsa_process.h"

namespace P = Velmora::Platform;
namespace T = Velmora::Testing;
namespace ERS = Velmora::PKI::ERS;
using Velmora::CBlob;
using namespace Velmora::PKI::TSP::Client;

namespace {

constexpr const char* kSha1 = "1.3.14.3.2.26";
constexpr const char* kSha256 = "2.16.840.1.101.3.4.2.1";

class EvidenceRecords : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_env = std::make_unique<T::ConfigEnvironment>();
    s_tsa = std::make_unique<T::TestTsaProcess>();
    ASSERT_EQ(P::CertAddTrustedRootsFromFile(s_tsa->File("ca.pem").c_str()), 0);
  }
  static void TearDownTestSuite() {
    s_tsa.reset();
    s_env.reset();
  }

  static std::string Data(std::size_t i) { return "document number " + std::to_string(i); }
  static CBlob Bytes(const std::string& text) {
    return CBlob(reinterpret_cast<const unsigned char*>(text.data()), text.size());
  }

  // A tree over `count` documents (members of `grouped` form one data object), stamped.
  static CEvidenceTree Stamped(const char* oid, std::size_t count, std::size_t grouped = 0,
                               const std::string& path = "/") {
    CEvidenceTree tree(oid);
    if (grouped > 0) {
      std::vector<CBlob> members;
      for (std::size_t i = 0; i < grouped; ++i) {
        const CBlob data = Bytes("member " + std::to_string(i));
        members.push_back(tree.Hash(data.pbData(), data.cbData()));
      }
      tree.AddGroup(members.data(), members.size());
    }
    for (std::size_t i = tree.size(); i < count; ++i) {
      const CBlob data = Bytes(Data(i));
      const CBlob hash = tree.Hash(data.pbData(), data.cbData());
      tree.AddHash(hash.pbData(), hash.cbData());
    }
    CRequest request;
    request.put_CertReq(true);
    request.put_TSAAddress(s_tsa->WideUrl(path).c_str());
    tree.Stamp(request);
    return tree;
  }

  static CEvidenceReport Verify(const CBlob& record, const std::string& data) {
    return VerifyEvidenceRecordData(record.pbData(), record.cbData(),
                                    reinterpret_cast<const unsigned char*>(data.data()),
                                    data.size(), nullptr, 0);
  }

  static std::string Parts(const CEvidenceReport& report) {
    std::string text;
    for (const CEvidenceCheck& check : report.checks) {
      text += check.part + (check.result == 0 ? " ok\n" : " failed\n");
    }
    return text;
  }

  static inline std::unique_ptr<T::ConfigEnvironment> s_env;
  static inline std::unique_ptr<T::TestTsaProcess> s_tsa;
};

TEST_F(EvidenceRecords, RenewedByTimeStampThenByHashTreeStillVerifies) {
  CEvidenceTree first = Stamped(kSha1, 3);
  const CBlob original = first.Record(1);

  CEvidenceTree stamps(kSha1);
  stamps.AddTimeStampRenewal(original.pbData(), original.cbData());
  stamps.AddTimeStampRenewal(original.pbData(), original.cbData());  // two renewed together
  CRequest request;
  request.put_CertReq(true);
  request.put_TSAAddress(s_tsa->WideUrl("/").c_str());
  stamps.Stamp(request);
  const CBlob renewed = stamps.Record(0);

  CEvidenceTree trees(kSha256);
  const CBlob data = Bytes(Data(1));
  const CBlob hash = EvidenceHash(kSha256, data.pbData(), data.cbData());
  trees.AddHashTreeRenewal(renewed.pbData(), renewed.cbData(), &hash, 1);
  trees.Stamp(request);
  const CBlob twice = trees.Record(0);

  const CEvidenceReport report = Verify(twice, Data(1));
  EXPECT_EQ(report.result(), 0) << Parts(report);
  EXPECT_EQ(Parts(report),
            "chain 1 stamp 1: path ok\nchain 1 stamp 1: signature ok\n"
            "chain 1 stamp 1: TSA chain ok\n"
            "chain 1 stamp 2: path ok\nchain 1 stamp 2: signature ok\n"
            "chain 1 stamp 2: TSA chain ok\nchain 1 stamp 2: order ok\n"
            "chain 2 stamp 1: path ok\nchain 2 stamp 1: signature ok\n"
            "chain 2 stamp 1: TSA chain ok\nchain 2 stamp 1: order ok\n");
  EXPECT_EQ(Verify(twice, Data(2)).result(), P::CRYPT_E_HASH_VALUE);
  // A renewal whose stamp is older than the one it renews (the first one dated ahead).
  const CBlob ahead = Stamped(kSha1, 2, 0, "/offset/600/").Record(0);
  CEvidenceTree late(kSha1);
  late.AddTimeStampRenewal(ahead.pbData(), ahead.cbData());
  late.Stamp(request);
  EXPECT_EQ(Verify(late.Record(0), Data(0)).result(), Velmora::Support::HORODEX_E_EVIDENCE_ORDER);
  // Timestamp renewal keeps the chain's algorithm.
  CEvidenceTree other(kSha256);
  EXPECT_EQ(
      T::DerBuild::CodeOf([&] { other.AddTimeStampRenewal(original.pbData(), original.cbData()); }),
      P::NTE_BAD_ALGID);
}

TEST_F(EvidenceRecords, DamagedRecordsAndBadInputAreRefusedWithTheirCode) {
  const CBlob record = Stamped(kSha256, 4).Record(2);
  // The record with its archive time stamp edited.
  auto changed = [&](auto&& edit) {
    ERS::CEvidenceRecord copy;
    copy.decode(record);
    ERS::CArchiveTimeStamp stamp = copy.get_sequence().get_chains()[0].get_items()[0];
    edit(stamp);
    ERS::CArchiveTimeStampChain chain;
    chain.push_back(stamp);
    copy.sequence().chains()[0] = chain;
    return copy.encode();
  };
  auto tree = [&](auto&& edit) {
    return changed([&](ERS::CArchiveTimeStamp& stamp) {
      ERS::CReducedHashtree hashes = stamp.get_reducedHashtree();
      edit(hashes);
      stamp.put_reducedHashtree(hashes);
    });
  };
  CBlob truncated = record;
  truncated.resize_to(record.cbData() - 1);
  CBlob trailing = record;
  trailing += CBlob(1);
  struct Case {
    const char* name;
    CBlob bytes;
    P::HRESULT code;
    const char* part;
  };
  const std::vector<Case> cases = {
      {"a sibling changed", tree([](ERS::CReducedHashtree& h) { h[1][0].pbData()[0] ^= 1; }),
       P::CRYPT_E_HASH_VALUE, "chain 1 stamp 1: path"},
      {"a hash of the wrong length", tree([](ERS::CReducedHashtree& h) { h[1][0].resize_to(20); }),
       P::NTE_BAD_HASH, "chain 1 stamp 1: path"},
      {"a level left out", tree([](ERS::CReducedHashtree& h) { h.pop_back(); }),
       P::CRYPT_E_HASH_VALUE, "chain 1 stamp 1: path"},
      {"an unknown hash algorithm", changed([](ERS::CArchiveTimeStamp& stamp) {
         const Velmora::ASN1::CAlgorithmIdentifierEx unknown("1.2.3.4.5");
         stamp.put_digestAlgorithm(&unknown);
       }),
       P::NTE_BAD_ALGID, "chain 1 stamp 1: path"},
      {"truncated", truncated, P::CRYPT_E_ASN1_EOD, "record"},
      {"trailing bytes", trailing, P::CRYPT_E_ASN1_ERROR, "record"},
  };
  for (const Case& c : cases) {
    const CEvidenceReport report = Verify(c.bytes, Data(2));
    EXPECT_EQ(report.result(), c.code) << c.name;
    ASSERT_FALSE(report.checks.empty()) << c.name;
    for (const CEvidenceCheck& check : report.checks) {
      if (check.result != 0) {
        EXPECT_EQ(check.part, c.part) << c.name;
        break;
      }
    }
  }
  // Adding: a hash of the wrong length, an algorithm the platform lacks, after the stamp.
  CEvidenceTree open(kSha256);
  const unsigned char shortHash[20] = {};
  EXPECT_EQ(T::DerBuild::CodeOf([&] { open.AddHash(shortHash, 20); }), P::NTE_BAD_HASH);
  EXPECT_EQ(T::DerBuild::CodeOf([] { CEvidenceTree("1.2.3.4.5"); }), P::NTE_BAD_ALGID);
  CEvidenceTree done = Stamped(kSha256, 2);
  const CBlob hash = done.Hash(nullptr, 0);
  EXPECT_EQ(T::DerBuild::CodeOf([&] { done.AddHash(hash.pbData(), hash.cbData()); }),
            P::HRESULT_FROM_WIN32(P::ERROR_INVALID_STATE));
}

}  // namespace
