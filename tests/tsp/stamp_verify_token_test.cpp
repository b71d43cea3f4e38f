// CStamp::Verify and get_TSACertificate on tokens made by OpenSSL's responder and by the token
// forge: which certificate the signing-certificate attributes name and where it is found, the
// content type, the signature, and the critical TSTInfo extensions against the accepted list.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "horodex/TSPStamp.h"
#include "platform/capi/wincrypt.h"
#include "tests/common/der_build.h"
#include "tests/common/ossl.h"
#include "tests/common/scratch.h"
#include "tests/common/token_forge.h"
#include "tests/common/tsp_fixtures.h"
#include "tests/tsp/stamp_tokens.h"

namespace Velmora::Testing {
namespace {

using namespace DerBuild;
using namespace Forge;
using PKI::TSP::Client::CStamp;
using Platform::HRESULT;

constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80092004);
constexpr HRESULT kBadFormat = static_cast<HRESULT>(0x8007000B);
constexpr HRESULT kBadSignature = static_cast<HRESULT>(0x80090006);
constexpr HRESULT kCritical = static_cast<HRESULT>(0x800B0105);
constexpr HRESULT kFail = static_cast<HRESULT>(0x80004005);

// The user's data folder (and so the "AddressBook" store) is an empty folder of the test's own.
const TempDir& UserData() {
  static const TempDir folder;
  return folder;
}
const bool kUserDataSet = ::setenv("XDG_DATA_HOME", UserData().path().c_str(), 1) == 0;

V PlainTstInfo() {
  return Stamps::TstInfoDer(Stamps::TstFields{});
}

// A TSTInfo with one extension (OID, critical) after the other fields.
V TstInfoWithExtension(const char* oid, bool critical) {
  const V plain = PlainTstInfo();
  // Strip the outer SEQUENCE header (short or one-byte long form) and append [1] Extensions.
  const std::size_t header = plain[1] < 0x80 ? 2 : 2 + (plain[1] & 0x7F);
  const V fields(plain.begin() + static_cast<long>(header), plain.end());
  const V extension = critical ? Seq({Oid(oid), Bool(true), Octets(V{0x05, 0x00})})
                               : Seq({Oid(oid), Octets(V{0x05, 0x00})});
  return Tlv(Der::Tags::Sequence, Join({fields, Tlv(Der::ContextTag(1, true), extension)}));
}

TokenSpec SpecWith(std::vector<V> signedAttributes, bool withCertificates = true) {
  TokenSpec spec;
  spec.tstInfo = PlainTstInfo();
  spec.signedAttributes = std::move(signedAttributes);
  if (withCertificates) {
    spec.certificates = {FixtureCertificate("ec"), FixtureCertificate("ca")};
  }
  return spec;
}

CertIdSpec Id(const char* fixture, const char* hashOid = kSha256) {
  CertIdSpec id;
  id.certificate = FixtureCertificate(fixture);
  id.hashOid = hashOid;
  return id;
}

struct Imported {
  CStamp stamp;
  explicit Imported(const CBlob& token) {
    stamp.Import(token.pbData(), static_cast<unsigned long>(token.cbData()), nullptr);
  }
};

HRESULT VerifyToken(const TokenSpec& spec, const char* list = nullptr,
                    const Platform::CERT_CONTEXT* candidate = nullptr) {
  Imported imported(ForgeToken(spec));
  std::string text = list != nullptr ? list : "";
  return imported.stamp.Verify(candidate, list != nullptr ? text.data() : nullptr);
}

CBlob EncodedOf(const Platform::CERT_CONTEXT* context) {
  return CBlob(context->pbCertEncoded, context->cbCertEncoded);
}

TEST(StampVerifyToken, EachSigningCertificateFormAndTheAcceptedCombinations) {
  const V v1 = SigningCertificateV1({Id("ec")});
  const V v2 = SigningCertificateV2({Id("ec")});
  const V v2Sha384 = SigningCertificateV2({Id("ec", "2.16.840.1.101.3.4.2.2")});
  const V other = OtherSigningCertificate({Id("ec", "2.16.840.1.101.3.4.2.3")});
  EXPECT_EQ(VerifyToken(SpecWith({v1})), 0);
  EXPECT_EQ(VerifyToken(SpecWith({v2Sha384})), 0);
  EXPECT_EQ(VerifyToken(SpecWith({other})), 0);
  EXPECT_EQ(VerifyToken(SpecWith({v1, v2})), 0);
  EXPECT_EQ(VerifyToken(SpecWith({other, v2})), 0);
  // Only the first identifier of the list names the signer.
  EXPECT_EQ(VerifyToken(SpecWith({SigningCertificateV1({Id("ec"), Id("rsa"), Id("ca")})})), 0);
  EXPECT_EQ(VerifyToken(SpecWith({SigningCertificateV1({Id("rsa"), Id("ec")})})), kNotFound);
  // V2 wins over a V1 that names another certificate.
  EXPECT_EQ(VerifyToken(SpecWith({SigningCertificateV1({Id("rsa")}), v2})), 0);
  // The issuerSerial is compared when present: another serial number names no certificate.
  CertIdSpec wrongSerial = Id("ec");
  wrongSerial.issuerSerialDer = Seq({Seq({Ctx(4, Stamps::NameWithCn("Test Root CA"))}), Int(99)});
  EXPECT_EQ(VerifyToken(SpecWith({SigningCertificateV1({wrongSerial})})), kNotFound);
  // And so is its issuer: the right serial number under another name names no certificate.
  CertIdSpec wrongIssuer = Id("ec");
  const X509Ptr ec = ParseCertificate(FixtureCertificate("ec"));
  wrongIssuer.issuerSerialDer =
      Seq({Seq({Ctx(4, Stamps::NameWithCn("Test Root CA"))}),
           DerOf(X509_get0_serialNumber(ec.get()), i2d_ASN1_INTEGER).bytes()});
  EXPECT_EQ(VerifyToken(SpecWith({SigningCertificateV1({wrongIssuer})})), kNotFound);
  CertIdSpec noSerial = Id("ec");
  noSerial.issuerSerial = false;
  EXPECT_EQ(VerifyToken(SpecWith({SigningCertificateV1({noSerial})})), 0);
}

TEST(StampVerifyToken, MissingOrContradictoryAttributesAreRefusedWithTheirCode) {
  const ContextPtr right = ContextOf(FixtureCertificate("ec"));
  // None at all: not found, even with the right certificate given.
  EXPECT_EQ(VerifyToken(SpecWith({})), kNotFound);
  EXPECT_EQ(VerifyToken(SpecWith({}), nullptr, right.get()), kNotFound);
  // signingCertificate with otherSigningCertificate, or twice.
  const V v1 = SigningCertificateV1({Id("ec")});
  EXPECT_EQ(VerifyToken(SpecWith({v1, OtherSigningCertificate({Id("ec")})})), kBadFormat);
  EXPECT_EQ(VerifyToken(SpecWith({v1, v1})), kBadFormat);
  // A value that does not decode: the decoder's code, returned rather than thrown.
  const HRESULT undecodable =
      VerifyToken(SpecWith({Attribute("1.2.840.113549.1.9.16.2.47", {Seq({Int(5)})})}));
  EXPECT_EQ(static_cast<unsigned>(undecodable) & 0xFFFFF000u, 0x80093000u)
      << std::hex << undecodable;
}

TEST(StampVerifyToken, BareSha1OtherSigningCertificateFallsBackToTheSignerId) {
  CertIdSpec bare = Id("ec");
  bare.bareSha1 = true;
  for (const bool byKeyId : {false, true}) {
    SCOPED_TRACE(byKeyId);
    TokenSpec spec = SpecWith({OtherSigningCertificate({bare})});
    spec.signerByKeyId = byKeyId;
    Imported imported(ForgeToken(spec));
    EXPECT_EQ(imported.stamp.Verify(nullptr, nullptr), kNotFound);
    const Platform::CERT_CONTEXT* found = imported.stamp.get_TSACertificate(nullptr, 0);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(EncodedOf(found), FixtureCertificate("ec"));
  }
}

TEST(StampVerifyToken, ContentTypeMustBeTstInfoInBothPlaces) {
  const V v2 = SigningCertificateV2({Id("ec")});
  TokenSpec missing = SpecWith({v2});
  missing.contentTypeAttribute = false;
  EXPECT_EQ(VerifyToken(missing), kFail);

  TokenSpec naming = SpecWith({v2, ContentTypeAttribute(kIdData)});
  naming.contentTypeAttribute = false;
  EXPECT_EQ(VerifyToken(naming), kFail);

  TokenSpec twoValues =
      SpecWith({v2, Attribute("1.2.840.113549.1.9.3", {Oid(kIdTstInfo), Oid(kIdTstInfo)})});
  twoValues.contentTypeAttribute = false;
  EXPECT_EQ(CodeOf([&] { VerifyToken(twoValues); }), kBadFormat);

  // id-data as eContentType is not a time-stamp token at all: the import refuses it.
  TokenSpec data = SpecWith({v2});
  data.eContentType = kIdData;
  const CBlob token = ForgeToken(data);
  CStamp stamp;
  EXPECT_EQ(CodeOf([&] {
              stamp.Import(token.pbData(), static_cast<unsigned long>(token.cbData()), nullptr);
            }),
            static_cast<HRESULT>(0x80091004));  // CRYPT_E_INVALID_MSG_TYPE
}

// `encoded` with its outer length made indefinite, as BER allows and DER does not.
V Indefinite(const V& encoded) {
  const std::size_t header = encoded[1] < 0x80 ? 2 : 2 + (encoded[1] & 0x7F);
  return Join({V{encoded[0], 0x80}, V(encoded.begin() + static_cast<long>(header), encoded.end()),
               V{0x00, 0x00}});
}

// Mutants of a good token, each re-signed over what it sends, against the signer identifier,
// the DER rule of what is signed and the signature algorithm named; the code is the import's
// when the import refuses, else Verify's.
TEST(StampVerifyToken, SignerIdDerRuleAndSignatureAlgorithm) {
  const X509Ptr ec = ParseCertificate(FixtureCertificate("ec"));
  const X509Ptr ca = ParseCertificate(FixtureCertificate("ca"));
  const X509Ptr rsa = ParseCertificate(FixtureCertificate("rsa"));
  const auto name = [](X509* c) { return DerOf(X509_get_issuer_name(c), i2d_X509_NAME).bytes(); };
  const auto serial = [](X509* c) { return DerOf(X509_get0_serialNumber(c), i2d_ASN1_INTEGER); };
  const auto keyId = [](X509* c) {
    return Tlv(Der::ContextTag(0, false), Testing::Bytes(X509_get0_subject_key_id(c)));
  };
  V torn = name(ec.get());
  torn[3] -= 1;  // the first RDN's SET claims a byte less than it holds
  const V v2 = SigningCertificateV2({Id("ec")});
  const auto with = [&](const std::function<void(TokenSpec&)>& change) {
    TokenSpec spec = SpecWith({v2});
    change(spec);
    return spec;
  };
  const auto sid = [&](const V& id) {
    return with([&](TokenSpec& t) { t.signerIdentifier = id; });
  };
  TokenSpec ideaRsa = with([](TokenSpec& t) {
    t.signer = "rsa";
    t.signedAttributes = {SigningCertificateV2({Id("rsa")})};
    t.certificates = {FixtureCertificate("rsa")};
    t.signatureAlgorithm = Seq({Oid("2.5.8.1.1"), V{0x05, 0x00}});
  });
  const std::pair<TokenSpec, unsigned> cases[] = {
      {with([](TokenSpec&) {}), 0},
      {sid(keyId(ec.get())), 0},
      {sid(Seq({name(ca.get()), serial(ca.get()).bytes()})), 0x8009100E},  // the CA
      {sid(Seq({name(ec.get()), Int(987654)})), 0x8009100E},               // a serial nobody has
      {sid(Seq({Seq({}), serial(ec.get()).bytes()})), 0x8009100E},         // an empty issuer
      {sid(keyId(rsa.get())), 0x8009100E},
      {sid(Seq({torn, serial(ec.get()).bytes()})), 0x8009100E},
      {with([](TokenSpec& t) { t.tstInfo = Indefinite(t.tstInfo); }), 0x80093100},
      {with([&](TokenSpec& t) { t.signedAttributes = {Indefinite(v2)}; }), 0x80093100},
      {ideaRsa, 0},
      {with([](TokenSpec& t) { t.signatureAlgorithm = Seq({Oid("1.3.6.1.4.1.99999.1")}); }),
       0x80090008},  // NTE_BAD_ALGID: not verifiable here, not a bad signature
  };
  for (std::size_t row = 0; row < std::size(cases); ++row) {
    HRESULT verdict = 0;
    const HRESULT thrown = CodeOf([&] { verdict = VerifyToken(cases[row].first); });
    EXPECT_EQ(static_cast<unsigned>(thrown != 0 ? thrown : verdict), cases[row].second) << row;
  }
}

TEST(StampVerifyToken, CriticalExtensionsAgainstTheAcceptedList) {
  const V v2 = SigningCertificateV2({Id("ec")});
  TokenSpec critical = SpecWith({v2});
  critical.tstInfo = TstInfoWithExtension("1.2.3.4", true);
  EXPECT_EQ(VerifyToken(critical), kCritical);
  EXPECT_EQ(VerifyToken(critical, "*"), 0);
  EXPECT_EQ(VerifyToken(critical, "1.2.3.4"), 0);
  EXPECT_EQ(VerifyToken(critical, "9.9;1.2.3.4"), 0);
  EXPECT_EQ(VerifyToken(critical, "1.2.3.4.5"), kCritical);
  EXPECT_EQ(VerifyToken(critical, "1.2.3"), kCritical);
  EXPECT_EQ(VerifyToken(critical, " 1.2.3.4"), kCritical);

  TokenSpec nonCritical = SpecWith({v2});
  nonCritical.tstInfo = TstInfoWithExtension("1.2.3.4", false);
  EXPECT_EQ(VerifyToken(nonCritical), 0);

  // The signature is judged first.
  critical.flipSignatureByte = true;
  EXPECT_EQ(VerifyToken(critical), kBadSignature);
}

}  // namespace
}  // namespace Velmora::Testing
