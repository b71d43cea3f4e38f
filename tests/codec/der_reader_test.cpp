// The DER reader's strictness and its named tolerances, on hand-built inputs.
#include <gtest/gtest.h>

#include <vector>

#include "codec/der/der_reader.h"
#include "codec/der/der_writer.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/winerror.h"
#include "tests/common/der_build.h"

namespace Der = Velmora::ASN1::Der;
using Velmora::Platform::CAtlException;
namespace P = Velmora::Platform;
using V = std::vector<std::uint8_t>;

using Velmora::Testing::DerBuild::CodeOf;

namespace {

Der::Time Gt(const std::string& text) {
  V bytes{0x18, static_cast<std::uint8_t>(text.size())};
  bytes.insert(bytes.end(), text.begin(), text.end());
  return Der::ReadGeneralizedTime(Der::ReadSingle(bytes));
}

}  // namespace

TEST(DerReader, IndefiniteLengthRefusals) {
  // Missing end-of-contents, indefinite length on a primitive, stray end-of-contents.
  EXPECT_EQ(CodeOf([] { Der::ReadSingle(V{0x30, 0x80, 0x05, 0x00}); }), P::CRYPT_E_ASN1_EOD);
  EXPECT_EQ(CodeOf([] { Der::ReadSingle(V{0x04, 0x80, 0x00, 0x00}); }), P::CRYPT_E_ASN1_ERROR);
  EXPECT_EQ(CodeOf([] { Der::ReadSingle(V{0x00, 0x00}); }), P::CRYPT_E_ASN1_ERROR);
}

TEST(DerReader, TheDerProfileRefusesBerFormsAtEveryLevel) {
  // Read under BER they pass; under DER each is refused, however deep it sits.
  const V definiteOuter{0x30, 0x06, 0x30, 0x80, 0x05, 0x00, 0x00, 0x00};  // indefinite inside
  const V segmented{0x30, 0x05, 0x24, 0x03, 0x04, 0x01, 'c'};             // constructed string
  const V indefinite{0x30, 0x80, 0x05, 0x00, 0x00, 0x00};
  for (const V& in : {definiteOuter, segmented, indefinite}) {
    EXPECT_EQ(CodeOf([&] { Der::ReadSingle(in); }), 0);
    EXPECT_EQ(CodeOf([&] { Der::ReadSingle(in, Der::Profile::Der); }), P::CRYPT_E_ASN1_ERROR);
  }
  // Members of a DER element are read under DER too.
  const V plain{0x30, 0x02, 0x05, 0x00};
  const Der::Element held = Der::ReadSingle(plain, Der::Profile::Der);
  EXPECT_EQ(held.children().next().profile, Der::Profile::Der);
}

TEST(DerReader, IntegersKeepTheirReceivedBytes) {
  // Needless leading zero octets (some TSAs pad serial numbers) and negative serials.
  const V padded{0x02, 0x03, 0x00, 0x00, 0x7F};
  const auto bytes = Der::ReadIntegerBytes(Der::ReadSingle(padded));
  EXPECT_EQ(V(bytes.begin(), bytes.end()), (V{0x00, 0x00, 0x7F}));
  EXPECT_EQ(Der::ReadSmallUnsigned(Der::ReadSingle(padded), 200), 127u);
  const V negative{0x02, 0x02, 0xFF, 0x85};
  EXPECT_EQ(Der::ReadIntegerBytes(Der::ReadSingle(negative)).size(), 2u);
  EXPECT_EQ(CodeOf([&] { Der::ReadSmallUnsigned(Der::ReadSingle(negative), 10); }),
            P::CRYPT_E_ASN1_ERROR);
  EXPECT_EQ(CodeOf([] {
              Der::ReadIntegerBytes(Der::ReadSingle(V{0x02, 0x00}));
            }),
            P::CRYPT_E_ASN1_ERROR);
  // The writer puts them back in their shortest form.
  Der::Writer w;
  w.integer(std::span<const std::uint8_t>(padded).subspan(2));
  w.integer(V{0xFF, 0xFF, 0x05});
  w.integer(V{0xFF, 0x85});
  EXPECT_EQ(w.bytes(), (V{0x02, 0x01, 0x7F, 0x02, 0x02, 0xFF, 0x05, 0x02, 0x01, 0x85}));
}

TEST(DerReader, NonMinimalBitStringIsKeptAsReceived) {
  // failInfo with a trailing zero octet and set unused bits.
  const V in{0x03, 0x03, 0x07, 0x80, 0x00};
  const Der::BitString bits = Der::ReadBitString(Der::ReadSingle(in));
  EXPECT_EQ(bits.unusedBits, 7);
  EXPECT_EQ(bits.bytes, (V{0x80, 0x00}));
  EXPECT_EQ(CodeOf([] {
              Der::ReadBitString(Der::ReadSingle(V{0x03, 0x01, 0x01}));
            }),
            P::CRYPT_E_ASN1_ERROR);
  EXPECT_EQ(CodeOf([] {
              Der::ReadBitString(Der::ReadSingle(V{0x03, 0x02, 0x08, 0x00}));
            }),
            P::CRYPT_E_ASN1_ERROR);
}

TEST(DerReader, TimesWithFractionsAndUtcTimeCenturies) {
  const Der::Time plain = Gt("20240229235959Z");
  EXPECT_EQ(plain.seconds, 1709251199);
  EXPECT_EQ(plain.micros, 0u);
  EXPECT_EQ(Gt("20240229235959.5Z").micros, 500000u);
  EXPECT_EQ(Gt("20240229235959.000001Z").micros, 1u);
  // Digits past the microsecond are dropped, not rounded.
  EXPECT_EQ(Gt("20240229235959.1234569999Z").micros, 123456u);
  EXPECT_EQ(Gt("20240229235959.120Z").micros, 120000u);
  for (const char* bad :
       {"20240229235959", "20240229235959.Z", "20230229000000Z", "20241301000000Z",
        "20240101246000Z", "2024010100000Z", "20240101000000+0100", "20240101000000Zx"}) {
    EXPECT_EQ(CodeOf([&] { Gt(bad); }), P::CRYPT_E_ASN1_ERROR) << bad;
  }
  // Written back with the fraction's trailing zeros dropped.
  Der::Writer w;
  w.generalizedTime(Der::Time{1709251199, 120000});
  const std::string text(w.bytes().begin() + 2, w.bytes().end());
  EXPECT_EQ(text, "20240229235959.12Z");
  // UTCTime's two-digit years: 50 to 99 are 19xx, 00 to 49 20xx.
  for (const auto& [utc, seconds] :
       {std::pair{"500101000000Z", -631152000LL}, {"491231235959Z", 2524607999LL}}) {
    V bytes{0x17, 13};
    bytes.insert(bytes.end(), utc, utc + 13);
    EXPECT_EQ(Der::ReadUtcTime(Der::ReadSingle(bytes)).seconds, seconds) << utc;
  }
}

TEST(DerReader, RefusesLengthsPastTheEndBeforeAllocating) {
  // Four length octets promising 4 GiB, and a short read of the content.
  EXPECT_EQ(CodeOf([] {
              Der::ReadSingle(V{0x04, 0x84, 0xFF, 0xFF, 0xFF, 0xF0, 0x00});
            }),
            P::CRYPT_E_ASN1_EOD);
  EXPECT_EQ(CodeOf([] { Der::ReadSingle(V{0x30, 0x05, 0x02, 0x01}); }), P::CRYPT_E_ASN1_EOD);
  EXPECT_EQ(CodeOf([] { Der::ReadSingle(V{0x30}); }), P::CRYPT_E_ASN1_EOD);
  EXPECT_EQ(CodeOf([] { Der::ReadSingle(V{}); }), P::CRYPT_E_ASN1_EOD);
  // A member whose length runs past its parent, even though the input holds the bytes.
  EXPECT_EQ(CodeOf([] {
              Der::ReadSingle(V{0x30, 0x02, 0x04, 0x02, 0x00, 0x00});
            }),
            P::CRYPT_E_ASN1_ERROR);
  const V shortMember{0x30, 0x02, 0x04, 0x02};
  EXPECT_EQ(CodeOf([&] {
              Der::Reader r = Der::ReadSingle(shortMember).children();
              r.next();
            }),
            P::CRYPT_E_ASN1_EOD);
  // Five length octets, and a long form that is not the shortest.
  EXPECT_EQ(CodeOf([] {
              Der::ReadSingle(V{0x04, 0x85, 0, 0, 0, 0, 1, 0});
            }),
            P::CRYPT_E_ASN1_LARGE);
  EXPECT_EQ(CodeOf([] { Der::ReadSingle(V{0x04, 0x81, 0x01, 0x00}); }), P::CRYPT_E_ASN1_ERROR);
}

TEST(DerReader, RefusesNestingTooDeep) {
  // 40 nested definite SEQUENCEs, and 40 nested indefinite ones.
  V definite{0x05, 0x00};
  for (int i = 0; i < 40; ++i) {
    V outer{0x30, static_cast<std::uint8_t>(definite.size())};
    if (definite.size() >= 0x80) {
      outer = {0x30, 0x81, static_cast<std::uint8_t>(definite.size())};
    }
    outer.insert(outer.end(), definite.begin(), definite.end());
    definite = outer;
  }
  EXPECT_EQ(CodeOf([&] {
              Der::Element e = Der::ReadSingle(definite);
              while (e.tag.constructed) {
                e = e.children().next();
              }
            }),
            P::CRYPT_E_ASN1_LARGE);
  V indefinite;
  for (int i = 0; i < 40; ++i) {
    indefinite.insert(indefinite.end(), {0x30, 0x80});
  }
  for (int i = 0; i < 40; ++i) {
    indefinite.insert(indefinite.end(), {0x00, 0x00});
  }
  EXPECT_EQ(CodeOf([&] { Der::ReadSingle(indefinite); }), P::CRYPT_E_ASN1_LARGE);
}

TEST(DerReader, ObjectIdentifiers) {
  Der::Writer w;
  w.oid("1.2.840.113549.1.9.16.1.4");
  w.oid("2.999.1");
  Der::Reader r(w.bytes());
  EXPECT_EQ(Der::ReadOid(r.next()), "1.2.840.113549.1.9.16.1.4");
  EXPECT_EQ(Der::ReadOid(r.next()), "2.999.1");
  // Long ones: the widest text per content byte (arcs of 127), and the widest arcs, where the
  // text is longest for its encoding.
  std::string narrow = "2.47", wide = "1.2";
  for (int i = 0; i < 80; ++i) {
    narrow += ".127";
    wide += ".18446744073709551615";
  }
  for (const std::string& text : {narrow, wide}) {
    Der::Writer encoded;
    encoded.oid(text);
    EXPECT_EQ(Der::ReadOid(Der::ReadSingle(encoded.bytes())), text);
  }
  // A padded subidentifier, a truncated one and an empty one.
  EXPECT_EQ(CodeOf([] {
              Der::ReadOid(Der::ReadSingle(V{0x06, 0x02, 0x80, 0x01}));
            }),
            P::CRYPT_E_ASN1_ERROR);
  EXPECT_EQ(CodeOf([] {
              Der::ReadOid(Der::ReadSingle(V{0x06, 0x02, 0x2A, 0x86}));
            }),
            P::CRYPT_E_ASN1_EOD);
  EXPECT_EQ(CodeOf([] { Der::ReadOid(Der::ReadSingle(V{0x06, 0x00})); }), P::CRYPT_E_ASN1_ERROR);
  for (const char* bad : {"", "1", "3.1", "1.40", "1..2", "1.2.", "01.2", "1.2.x"}) {
    EXPECT_EQ(CodeOf([&] { Der::Writer().oid(bad); }), P::CRYPT_E_OID_FORMAT) << bad;
  }
}

TEST(DerReader, HighTagNumbersRoundTrip) {
  Der::Writer w;
  w.tlv(Der::ContextTag(200, false), V{0x01});
  const Der::Element e = Der::ReadSingle(w.bytes());
  EXPECT_EQ(e.tag, Der::ContextTag(200, false));
  // A high-tag form for a number that fits in the first octet is not the shortest.
  EXPECT_EQ(CodeOf([] { Der::ReadSingle(V{0x9F, 0x05, 0x00}); }), P::CRYPT_E_ASN1_ERROR);
}
