// CStamp::Compare on tokens that OpenSSL signed with chosen genTime, accuracy, ordering and TSA
// name.
#include <gtest/gtest.h>

#include <climits>

#include "horodex/TSPStamp.h"
#include "platform/errors/winerror.h"
#include "tests/tsp/stamp_tokens.h"

namespace P = Velmora::Platform;
using Velmora::PKI::TSP::Client::CStamp;
using namespace Velmora::Testing;
using namespace Velmora::Testing::Stamps;

namespace {

constexpr P::HRESULT kInvalidState = P::MakeHResult(0x8007139F);

CStamp Stamp(const std::string& genTime, std::optional<Accuracy> accuracy = std::nullopt,
             bool ordering = false, std::optional<std::string> tsa = std::nullopt) {
  TstFields fields;
  fields.genTime = genTime;
  fields.accuracy = accuracy;
  fields.ordering = ordering;
  fields.tsaCommonName = tsa;
  const Velmora::CBlob token = Token(fields);
  CStamp stamp;
  stamp.Import(token.pbData(), token.cbData(), nullptr);
  return stamp;
}

// Both directions at once: a.Compare(b) and b.Compare(a).
std::pair<int, int> Both(const CStamp& a, const CStamp& b) {
  return {a.Compare(&b), b.Compare(&a)};
}

const Accuracy kOneSecond{1, 0, 0};

}  // namespace

TEST(StampCompare, OrderingOfOneTsaTrumpsAccuracy) {
  const CStamp first = Stamp("20260101120000Z", kOneSecond, true, "TSA one");
  const CStamp second = Stamp("20260101120000.001Z", kOneSecond, true, "TSA one");
  const CStamp otherTsa = Stamp("20260101120000.001Z", kOneSecond, true, "TSA two");
  const CStamp noOrdering = Stamp("20260101120000.001Z", kOneSecond, false, "TSA one");
  EXPECT_EQ(Both(first, second), std::make_pair(-1, 1));
  EXPECT_EQ(Both(first, otherTsa), std::make_pair(0, 0));
  EXPECT_EQ(Both(first, noOrdering), std::make_pair(0, 0));

  // Two stamps without a tsa field count as the same TSA; no accuracy is needed then.
  const CStamp anonymous1 = Stamp("20260101120000Z", std::nullopt, true);
  const CStamp anonymous2 = Stamp("20260101120001Z", std::nullopt, true);
  EXPECT_EQ(Both(anonymous1, anonymous2), std::make_pair(-1, 1));
}

TEST(StampCompare, WithoutAccuracyOnlyTheDefaultOrders) {
  CStamp a = Stamp("20260101120000Z");
  CStamp b = Stamp("20260101120010Z");
  EXPECT_EQ(Both(a, b), std::make_pair(0, 0));
  a.put_DefaultAccuracy(2'000'000);
  EXPECT_EQ(Both(a, b), std::make_pair(0, 0));  // b still has none
  b.put_DefaultAccuracy(2'000'000);
  EXPECT_EQ(Both(a, b), std::make_pair(-1, 1));
  EXPECT_EQ(a.get_Accuracy(), -1);  // the default is not the token's accuracy
  b.put_DefaultAccuracy(9'000'000);
  EXPECT_EQ(Both(a, b), std::make_pair(0, 0));

  // Any default is taken as an unsigned count: a huge or negative one makes the interval cover
  // everything, and nothing throws.
  for (const long huge : {LONG_MAX, -2L}) {
    b.put_DefaultAccuracy(huge);
    EXPECT_EQ(Both(a, b), std::make_pair(0, 0));
  }
}

TEST(StampCompare, NearTheEndOfTheCalendarAndOnBadArguments) {
  // genTime + accuracy lies past 9999-12-31: still compared on the microsecond line.
  const CStamp last = Stamp("99991231235959.999999Z", Accuracy{30, 0, 0});
  const CStamp earlier = Stamp("99991231235800Z", Accuracy{30, 0, 0});
  const CStamp first = Stamp("00000101000000Z", Accuracy{30, 0, 0});
  EXPECT_EQ(Both(earlier, last), std::make_pair(-1, 1));
  EXPECT_EQ(Both(first, last), std::make_pair(-1, 1));

  const CStamp empty;
  EXPECT_EQ(CodeOf([&] { (void)last.Compare(&empty); }), kInvalidState);
  EXPECT_EQ(CodeOf([&] { (void)empty.Compare(&last); }), kInvalidState);
  EXPECT_EQ(CodeOf([&] { (void)last.Compare(nullptr); }), P::E_POINTER);
  EXPECT_EQ(last.Compare(&last), 0);
}
