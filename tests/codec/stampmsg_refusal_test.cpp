// Hand-built messages that are not what they claim: each is refused with its precise code, and a
// refused decode leaves the object as it was. Also the BER forms that are read on purpose.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/der/der_writer.h"
#include "codec/stampmsg/request.h"
#include "codec/stampmsg/response.h"
#include "codec/stampmsg/token.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/winerror.h"
#include "tests/common/der_build.h"

namespace TSP = Velmora::PKI::TSP;
namespace Der = Velmora::ASN1::Der;
namespace P = Velmora::Platform;
using Velmora::CBlob;
using namespace Velmora::Testing::DerBuild;

namespace {

constexpr const char* kSignedData = "1.2.840.113549.1.7.2";
constexpr const char* kData = "1.2.840.113549.1.7.1";
constexpr const char* kTstInfo = "1.2.840.113549.1.9.16.1.4";

V Imprint() {
  return Seq({Seq({Oid("2.16.840.1.101.3.4.2.1")}), Octets(V(32, 0xAB))});
}

// A TSTInfo from its fields in the order given.
V TstInfo(std::initializer_list<V> fields) {
  return Tlv(Der::Tags::Sequence, Join(fields));
}
V GoodTstInfo() {
  return TstInfo({Int(1), Oid("1.2.3.4"), Imprint(), Int(42), Time("20240229235959.25Z"),
                  Seq({Int(2)}), Bool(true), Int(7)});
}

V Signer() {
  return Seq({Int(1), Seq({Seq({}), Int(9)}), Seq({Oid("2.16.840.1.101.3.4.2.1")}),
              Seq({Oid("1.2.840.113549.1.1.1")}), Octets(V{1, 2, 3})});
}

struct TokenParts {
  const char* contentType = kSignedData;
  const char* eContentType = kTstInfo;
  std::function<V()> eContent = [] { return GoodTstInfo(); };
  bool withEContent = true;
  int signers = 1;
};

V Token(const TokenParts& parts) {
  V encap = Join({Oid(parts.eContentType)});
  if (parts.withEContent) {
    encap = Join({encap, Ctx(0, Octets(parts.eContent()))});
  }
  V signers;
  for (int i = 0; i < parts.signers; ++i) {
    signers = Join({signers, Signer()});
  }
  const V signedData = Seq({Int(3), Set({Seq({Oid("2.16.840.1.101.3.4.2.1")})}),
                            Tlv(Der::Tags::Sequence, encap), Tlv(Der::Tags::Set, signers)});
  return Seq({Oid(parts.contentType), Ctx(0, signedData)});
}

P::HRESULT TokenCode(const V& bytes) {
  return CodeOf([&] {
    TSP::CToken token;
    token.decode(CBlob(bytes));
  });
}

}  // namespace

TEST(StampRefusal, MessagesOfAnotherTypeHaveTheirOwnCodes) {
  EXPECT_EQ(TokenCode(Token({.contentType = kData})), P::CRYPT_E_INVALID_MSG_TYPE);
  EXPECT_EQ(TokenCode(Token({.eContentType = kData})), P::CRYPT_E_INVALID_MSG_TYPE);
  EXPECT_EQ(TokenCode(Token({.withEContent = false})), P::CRYPT_E_MSG_ERROR);
  EXPECT_EQ(TokenCode(Token({.signers = 0})), P::CRYPT_E_NO_SIGNER);
  EXPECT_EQ(TokenCode(Token({.signers = 2})), P::CRYPT_E_MSG_ERROR);
}

TEST(StampRefusal, MalformedTstInfoIsRefused) {
  auto with = [](V tstInfo) { return Token({.eContent = [tstInfo] { return tstInfo; }}); };
  // Version 2 is not a structure this codec knows.
  EXPECT_EQ(TokenCode(with(
                TstInfo({Int(2), Oid("1.2.3.4"), Imprint(), Int(42), Time("20240101000000Z")}))),
            P::CRYPT_E_ASN1_ERROR);
  // genTime missing: the accuracy stands where the time must be.
  EXPECT_EQ(TokenCode(with(TstInfo({Int(1), Oid("1.2.3.4"), Imprint(), Int(42), Seq({Int(1)})}))),
            P::CRYPT_E_ASN1_BADTAG);
  // nonce before ordering: fields out of order leave a member unread.
  EXPECT_EQ(TokenCode(with(TstInfo({Int(1), Oid("1.2.3.4"), Imprint(), Int(42),
                                    Time("20240101000000Z"), Int(7), Bool(true)}))),
            P::CRYPT_E_ASN1_ERROR);
  // A time in a local zone, and a day that does not exist.
  EXPECT_EQ(TokenCode(with(TstInfo(
                {Int(1), Oid("1.2.3.4"), Imprint(), Int(42), Time("20240101000000+0100")}))),
            P::CRYPT_E_ASN1_ERROR);
  EXPECT_EQ(TokenCode(with(
                TstInfo({Int(1), Oid("1.2.3.4"), Imprint(), Int(42), Time("20230229000000Z")}))),
            P::CRYPT_E_ASN1_ERROR);
  // Bytes after the TSTInfo inside the eContent octets; a SET where its SEQUENCE must be.
  EXPECT_EQ(TokenCode(with(Join({GoodTstInfo(), V{0x05, 0x00}}))), P::CRYPT_E_ASN1_ERROR);
  V set = GoodTstInfo();
  set[0] = 0x31;
  EXPECT_EQ(TokenCode(with(set)), P::CRYPT_E_ASN1_BADTAG);
  // A tsa [0] holding two names.
  const V name = Tlv(Der::ContextTag(2, false), V{'a'});
  EXPECT_EQ(TokenCode(with(TstInfo({Int(1), Oid("1.2.3.4"), Imprint(), Int(42),
                                    Time("20240101000000Z"), Ctx(0, Join({name, name}))}))),
            P::CRYPT_E_ASN1_ERROR);
  // The imprint without its hash value.
  EXPECT_EQ(TokenCode(with(TstInfo({Int(1), Oid("1.2.3.4"), Seq({Seq({Oid("1.2.3")})}), Int(42),
                                    Time("20240101000000Z")}))),
            P::CRYPT_E_ASN1_EOD);
}

TEST(StampRefusal, ResponsesAreReadWholeAndOnlyWhole) {
  const V status = Seq({Int(0)});
  const V response = Seq({status, Token({})});

  TSP::CResponse granted;
  ASSERT_NO_THROW(granted.decode(CBlob(response)));
  ASSERT_NE(granted.get_timeStampToken(), nullptr);
  EXPECT_EQ(granted.get_timeStampToken()->encode(), CBlob(Token({})));

  // Trailing bytes after the response, and a member after the token.
  EXPECT_EQ(CodeOf([&] {
              TSP::CResponse().decode(CBlob(Join({response, V{0x00}})));
            }),
            P::CRYPT_E_ASN1_ERROR);
  EXPECT_EQ(CodeOf([&] {
              TSP::CResponse().decode(CBlob(Seq({status, Token({}), Int(1)})));
            }),
            P::CRYPT_E_ASN1_ERROR);
  // A response's token is judged as a token is.
  EXPECT_EQ(CodeOf([&] {
              TSP::CResponse().decode(CBlob(Seq({status, Token({.eContentType = kData})})));
            }),
            P::CRYPT_E_INVALID_MSG_TYPE);

  // Granted without a token reads; the caller judges it.
  TSP::CResponse empty;
  ASSERT_NO_THROW(empty.decode(CBlob(Seq({status}))));
  EXPECT_EQ(empty.get_status().get_pkiStatus(), 0u);
  EXPECT_EQ(empty.get_timeStampToken(), nullptr);

  // A refused decode leaves what was there.
  EXPECT_NE(CodeOf([&] { granted.decode(CBlob(Seq({status, Token({.signers = 0})}))); }), P::S_OK);
  ASSERT_NE(granted.get_timeStampToken(), nullptr);
  EXPECT_STREQ(granted.get_timeStampToken()->get_policy(), "1.2.3.4");
  EXPECT_EQ(granted.encode(), CBlob(response));

  TSP::CToken token;
  token.decode(CBlob(Token({})));
  EXPECT_NE(TokenCode(Token({.eContentType = kData})), P::S_OK);
  EXPECT_NE(CodeOf([&] { token.decode(CBlob(Token({.signers = 2}))); }), P::S_OK);
  EXPECT_EQ(token.encode(), CBlob(Token({})));
  EXPECT_EQ(token.get_nonce()->bytes(), (V{7}));

  // An empty token has no signer to give.
  EXPECT_EQ(CodeOf([] { TSP::CToken().get_signerInfo(); }),
            P::MakeHResult(0x80070000u | P::ERROR_INVALID_STATE));
  EXPECT_TRUE(TSP::CToken().encode().empty());
  EXPECT_FALSE(TSP::CToken().verify(CBlob(V{0x30, 0x00})));
}

TEST(StampRefusal, RequestsAreReadStrictlyWithTheirBerForms) {
  const V imprint = Imprint();
  // certReq written out as FALSE is BER that reads as FALSE and encodes back as received.
  const V falseCertReq = Seq({Int(1), imprint, Int(5), Bool(false)});
  TSP::CRequest request;
  ASSERT_NO_THROW(request.decode(CBlob(falseCertReq)));
  EXPECT_FALSE(request.get_certReq());
  EXPECT_EQ(request.encode(), CBlob(falseCertReq));

  // Extensions under [0] IMPLICIT are read, and written back under the same tag.
  const V extension = Seq({Oid("1.2.3.4.5"), Bool(true), Octets(V{0x05, 0x00})});
  const V withExtensions = Seq({Int(1), imprint, Ctx(0, extension)});
  TSP::CRequest extended;
  ASSERT_NO_THROW(extended.decode(CBlob(withExtensions)));
  ASSERT_NE(extended.get_extensions(), nullptr);
  EXPECT_STREQ(extended.get_extensions()->front().get_extnID(), "1.2.3.4.5");
  EXPECT_TRUE(extended.get_extensions()->front().get_critical());
  extended.put_reqPolicy("1.2.3");  // a change: the request is written afresh
  EXPECT_EQ(extended.encode(), CBlob(Seq({Int(1), imprint, Oid("1.2.3"), Ctx(0, extension)})));

  auto code = [](const V& bytes) { return CodeOf([&] { TSP::CRequest().decode(CBlob(bytes)); }); };
  EXPECT_EQ(code(Seq({Int(0), imprint})), P::CRYPT_E_ASN1_ERROR);              // version 0
  EXPECT_EQ(code(Seq({Int(1), imprint, Ctx(0, {})})), P::CRYPT_E_ASN1_ERROR);  // no extension
  EXPECT_EQ(code(Join({Seq({Int(1), imprint}), V{0x00}})), P::CRYPT_E_ASN1_ERROR);
  EXPECT_EQ(code(Seq({Int(1), imprint, Bool(true), Int(5)})), P::CRYPT_E_ASN1_ERROR);
  EXPECT_EQ(code(Seq({Int(1)})), P::CRYPT_E_ASN1_EOD);
  EXPECT_EQ(code(Seq({imprint})), P::CRYPT_E_ASN1_BADTAG);

  // A refused decode leaves the request as it was.
  EXPECT_NE(CodeOf([&] { request.decode(CBlob(Seq({Int(1)}))); }), P::S_OK);
  EXPECT_EQ(request.encode(), CBlob(falseCertReq));
  ASSERT_NE(request.get_nonce(), nullptr);
}
