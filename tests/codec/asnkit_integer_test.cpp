// CBigInteger: bytes kept as received, abs() and the shortest encoding.
#include <gtest/gtest.h>

#include "codec/asnkit/big_integer.h"
#include "tests/codec/asnkit_test_util.h"

using namespace asnkit_test;
using Velmora::ASN1::CBigInteger;

namespace {

CBigInteger Int(const V& bytes) {
  return CBigInteger(B(bytes));
}

}  // namespace

TEST(AsnkitInteger, DecodeKeepsPaddedAndNegativeSerialsByteForByte) {
  CBigInteger padded;
  padded.decode(B({0x02, 0x04, 0x00, 0x00, 0x12, 0x34}));
  EXPECT_EQ(Hex(padded), "00001234");
  // encode() writes the shortest form; the held bytes stay as received.
  EXPECT_EQ(padded.encode(), B({0x02, 0x02, 0x12, 0x34}));

  CBigInteger negative;
  negative.decode(B({0x02, 0x02, 0xFF, 0x7F}));
  EXPECT_EQ(Hex(negative), "FF7F");
  EXPECT_TRUE(negative.isNegative());
  EXPECT_EQ(negative.encode(), B({0x02, 0x02, 0xFF, 0x7F}));

  // Byte equality keeps the two spellings apart; sameValue() does not.
  EXPECT_NE(padded, Int({0x12, 0x34}));
  EXPECT_TRUE(padded.sameValue(Int({0x12, 0x34})));
  EXPECT_FALSE(negative.sameValue(Int({0x7F})));
  EXPECT_TRUE(Int({0xFF, 0xFF, 0x80}).sameValue(Int({0x80})));
}

TEST(AsnkitInteger, AbsGivesTheNonNegativeShortestForm) {
  struct Case {
    V in;
    V out;
  } cases[] = {
      {{0x80}, {0x00, 0x80}},        // -128: its magnitude needs a sign byte
      {{0xFF, 0x80}, {0x00, 0x80}},  // the same value, padded
      {{0xFF}, {0x01}},              // -1
      {{0x81, 0x00}, {0x7F, 0x00}},  // -32512
      {{0x80, 0x00, 0x00}, {0x00, 0x80, 0x00, 0x00}},
      {{0x00, 0x00, 0x7F}, {0x7F}},  // padded positive
      {{0x00}, {0x00}},              // zero
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Int(c.in).abs(), Int(c.out)) << Hex(B(c.in));
  }
  EXPECT_TRUE(CBigInteger().abs().empty());
  EXPECT_EQ(CBigInteger().encode(), B({0x02, 0x01, 0x00}));  // an empty nonce is zero
  // A nonce of random bytes made non-negative encodes as the positive value.
  CBigInteger nonce(4);
  const V raw{0x9A, 0x00, 0x00, 0x01};
  std::copy(raw.begin(), raw.end(), nonce.pbData());
  EXPECT_EQ(nonce.abs().encode(), B({0x02, 0x04, 0x65, 0xFF, 0xFF, 0xFF}));
}
