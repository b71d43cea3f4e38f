// Evidence records read and written by the codec: hand-built records around a real TSA's token,
// each malformed variant refused with its code (a failed read leaving the record as it was), and
// the bulk writer of a stamped tree giving exactly the bytes of the generic encoder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/evidence/evidence_record.h"
#include "codec/evidence/leaf_record_writer.h"
#include "platform/errors/winerror.h"
#include "tests/common/der_build.h"
#include "tests/common/tsp_fixtures.h"

namespace ERS = Velmora::PKI::ERS;
namespace P = Velmora::Platform;
using Velmora::CBlob;
using namespace Velmora::Testing::DerBuild;

namespace {

const char* const kSha256 = "2.16.840.1.101.3.4.2.1";

V Token() {
  return Velmora::Testing::InteropFile("bc-java/infocert-icedts01.tst").bytes();
}
V Alg() {
  return Seq({Oid(kSha256)});
}
V Hashes(std::initializer_list<V> values) {
  return Seq(values);
}
V Ats(const V& fields) {
  return Tlv(Der::Tags::Sequence, fields);
}
V Record(const V& algorithms, const V& sequence, const V& version = Int(1), const V& extra = {}) {
  return Seq({version, algorithms, extra, sequence});
}
V Good() {
  const V tree =
      Ctx(2, Join({Hashes({Octets(V(32, 1)), Octets(V(32, 2))}), Hashes({Octets(V(32, 3))})}));
  return Record(Seq({Alg()}), Seq({Seq({Ats(Join({Ctx(0, Oid(kSha256)), tree, Token()}))})}));
}

}  // namespace

TEST(EvidenceRecordCodec, ReadsFieldsAndWritesBackTheBytesItRead) {
  ERS::CEvidenceRecord record;
  ASSERT_NO_THROW(record.decode(CBlob(Good())));
  EXPECT_EQ(record.encode(), CBlob(Good()));
  ASSERT_EQ(record.get_sequence().get_chains().size(), 1u);
  const ERS::CArchiveTimeStamp& ats = record.get_sequence().get_chains()[0].get_items().at(0);
  ASSERT_NE(ats.get_digestAlgorithm(), nullptr);
  EXPECT_STREQ(ats.get_digestAlgorithm()->get_algorithm(), kSha256);
  ASSERT_EQ(ats.get_reducedHashtree().size(), 2u);
  EXPECT_EQ(ats.get_reducedHashtree()[0].at(1), CBlob(V(32, 2)));
  EXPECT_EQ(ats.get_timeStamp().encode(), CBlob(Token()));
}

TEST(EvidenceRecordCodec, RefusesEachMalformedRecordWithItsCode) {
  const V token = Token();
  const V chain = Seq({Ats(token)});
  struct Case {
    const char* name;
    V bytes;
    P::HRESULT code;
  };
  V trailing = Good();
  trailing.push_back(0);
  V truncated = Good();
  truncated.pop_back();
  const std::vector<Case> cases = {
      {"trailing byte", trailing, P::CRYPT_E_ASN1_ERROR},
      {"truncated", truncated, P::CRYPT_E_ASN1_EOD},
      {"version 2", Record(Seq({Alg()}), Seq({chain}), Int(2)), P::CRYPT_E_ASN1_ERROR},
      {"no digest algorithm", Record(Seq({}), Seq({chain})), P::CRYPT_E_ASN1_ERROR},
      {"empty sequence", Record(Seq({Alg()}), Seq({})), P::CRYPT_E_ASN1_ERROR},
      {"empty chain", Record(Seq({Alg()}), Seq({Seq({})})), P::CRYPT_E_ASN1_ERROR},
      {"empty reducedHashtree", Record(Seq({Alg()}), Seq({Seq({Ats(Join({Ctx(2, {}), token}))})})),
       P::CRYPT_E_ASN1_ERROR},
      {"hash not an OCTET STRING",
       Record(Seq({Alg()}), Seq({Seq({Ats(Join({Ctx(2, Hashes({Int(5)})), token}))})})),
       P::CRYPT_E_ASN1_BADTAG},
      {"fields out of order",
       Record(Seq({Alg()}), Seq({Seq({Ats(Join({Ctx(2, Hashes({Octets(V(32, 1))})),
                                                Ctx(0, Oid(kSha256)), token}))})})),
       P::CRYPT_E_ASN1_BADTAG},
      {"no time stamp", Record(Seq({Alg()}), Seq({Seq({Ats(Ctx(0, Oid(kSha256)))})})),
       P::CRYPT_E_ASN1_EOD},
      {"time stamp not signed data",
       Record(Seq({Alg()}),
              Seq({Seq({Ats(Seq({Oid("1.2.840.113549.1.7.1"), Ctx(0, Octets({1}))}))})})),
       P::CRYPT_E_INVALID_MSG_TYPE},
      {"empty cryptoInfos", Record(Seq({Alg()}), Seq({chain}), Int(1), Ctx(0, {})),
       P::CRYPT_E_ASN1_ERROR},
      {"encryptionInfo without value",
       Record(Seq({Alg()}), Seq({chain}), Int(1), Ctx(1, Oid("1.2.3"))), P::CRYPT_E_ASN1_EOD},
      {"chain where the record belongs", chain, P::CRYPT_E_ASN1_BADTAG},
  };
  for (const Case& c : cases) {
    ERS::CEvidenceRecord record;
    record.decode(CBlob(Good()));
    EXPECT_EQ(CodeOf([&] { record.decode(CBlob(c.bytes)); }), c.code) << c.name;
    EXPECT_EQ(record.encode(), CBlob(Good())) << c.name << ": a refused read changed the record";
  }
}

TEST(EvidenceRecordCodec, BulkWriterGivesTheGenericEncodingForEveryPathShape) {
  Velmora::PKI::TSP::CToken token;
  token.decode(CBlob(Token()));
  const Velmora::ASN1::CAlgorithmIdentifierEx algorithm(kSha256);
  const ERS::CLeafRecordWriter writer(algorithm, token);
  // Hash sizes around the one-octet length limit, no path at all, and a path of 40 levels.
  for (const std::size_t hashSize : {20u, 32u, 64u, 130u}) {
    for (const std::size_t levels : {0u, 1u, 3u, 40u}) {
      std::vector<std::vector<std::uint8_t>> store;
      ERS::CHashPath path;
      ERS::CReducedHashtree tree;
      for (std::size_t level = 0; level < levels; ++level) {
        const std::size_t count = level == 0 ? 3 : 1;
        tree.emplace_back();
        for (std::size_t i = 0; i < count; ++i) {
          store.emplace_back(hashSize, static_cast<std::uint8_t>(level + i));
        }
        path.counts.push_back(count);
      }
      for (const auto& value : store) {
        path.values.emplace_back(value);
      }
      std::size_t next = 0;
      for (std::size_t level = 0; level < levels; ++level) {
        for (std::size_t i = 0; i < path.counts[level]; ++i) {
          tree[level].emplace_back(std::vector<unsigned char>(store[next++]));
        }
      }
      ERS::CArchiveTimeStamp ats;
      ats.put_digestAlgorithm(&algorithm);
      ats.put_reducedHashtree(tree);
      ats.put_timeStamp(token);
      ERS::CArchiveTimeStampChain chain;
      chain.push_back(ats);
      ERS::CEvidenceRecord record;
      record.addDigestAlgorithm(algorithm);
      record.sequence().push_back(chain);
      Der::Writer out;
      writer.write(path, out);
      EXPECT_EQ(CBlob(out.take()), record.encode())
          << hashSize << " bytes, " << levels << " levels";
      ERS::CEvidenceRecord again;
      EXPECT_NO_THROW(again.decode(record.encode()));
    }
  }
}
