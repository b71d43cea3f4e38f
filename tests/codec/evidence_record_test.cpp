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
  V set = Good();
  set[0] = 0x31;
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
      {"a SET where the record belongs", set, P::CRYPT_E_ASN1_BADTAG},
  };
  for (const Case& c : cases) {
    ERS::CEvidenceRecord record;
    record.decode(CBlob(Good()));
    EXPECT_EQ(CodeOf([&] { record.decode(CBlob(c.bytes)); }), c.code) << c.name;
    EXPECT_EQ(record.encode(), CBlob(Good())) << c.name << ": a refused read changed the record";
  }
}
