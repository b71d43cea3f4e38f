// CStamp::Import on OpenSSL's responses and tokens, on refusals, and on input that must be
// refused; the getters, their buffer rule and both wide-text forms; copies and their store.
#include <gtest/gtest.h>

#include "codec/asnkit/big_integer.h"
#include "codec/stampmsg/token.h"
#include "horodex/TSPStamp.h"
#include "platform/capi/wincrypt.h"
#include "platform/capi/wincrypt_oid.h"
#include "platform/errors/last_error.h"
#include "platform/errors/winerror.h"
#include "platform/text/convert.h"
#include "tests/common/scratch.h"
#include "tests/tsp/stamp_tokens.h"

namespace P = Velmora::Platform;
using Velmora::CBlob;
using Velmora::PKI::TSP::Client::CStamp;
using namespace Velmora::Testing;
using namespace Velmora::Testing::Stamps;

namespace {

constexpr P::HRESULT kInvalidState = P::MakeHResult(0x8007139F);
constexpr P::HRESULT kMoreData = P::MakeHResult(0x800700EA);

P::HRESULT ImportCode(CStamp& stamp, const CBlob& bytes) {
  return CodeOf([&] { stamp.Import(bytes.pbData(), bytes.cbData(), nullptr); });
}

void ExpectNotImported(const CStamp& stamp) {
  EXPECT_EQ(CodeOf([&] { (void)stamp.get_Time(); }), kInvalidState);
  EXPECT_EQ(CodeOf([&] { (void)stamp.get_Certificates(); }), kInvalidState);
  unsigned long length = 0;
  EXPECT_NE(CodeOf([&] { stamp.Export(nullptr, &length); }), 0);
}

}  // namespace

TEST(StampImport, RefusalsKeepTheirStatusAndExportNamesTheReason) {
  CStamp stamp;
  ASSERT_EQ(ImportCode(stamp, OpenSslTsaFile("rejected-alg.tsr")), 0);
  EXPECT_EQ(stamp.get_Status(), 2u);
  EXPECT_EQ(stamp.get_FailInfo(), 1u);  // badAlg
  EXPECT_STREQ(stamp.get_StatusString(), L"Message digest algorithm is not supported.");
  unsigned long length = 0;
  EXPECT_EQ(CodeOf([&] { stamp.Export(nullptr, &length); }), P::NTE_BAD_ALGID);
  ExpectNotImported(stamp);

  // Only the lowest failure bit names the reason; a refusal without bits meets the imported
  // guard. Status 6 still imports, without a token.
  struct Case {
    unsigned long status;
    unsigned bits;
    P::HRESULT exported;
  };
  const Case cases[] = {
      {2, 1u << 0 | 1u << 14, P::NTE_BAD_ALGID},
      {2, 1u << 2, P::NTE_NOT_SUPPORTED},
      {2, 1u << 5, P::NTE_BAD_DATA},
      {2, 1u << 14, kInvalidState},
      {2, 1u << 15 | 1u << 25, P::NTE_NOT_SUPPORTED},
      {2, 1u << 16, P::NTE_NOT_SUPPORTED},
      {2, 1u << 17, kInvalidState},
      {5, 1u << 25, kInvalidState},
      {2, 0, kInvalidState},
      {6, 0, kInvalidState},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    Velmora::ASN1::CPKIStatusInfo status(c.status);
    const Velmora::ASN1::CPKIFailureInfo info(c.bits);
    status.put_failureInfo(c.bits != 0 ? &info : nullptr);
    ASSERT_EQ(ImportCode(stamp, Response(status)), 0);
    EXPECT_EQ(stamp.get_Status(), c.status);
    EXPECT_EQ(stamp.get_FailInfo(), c.bits);
    EXPECT_EQ(CodeOf([&] { stamp.Export(nullptr, &length); }), c.exported);
    ExpectNotImported(stamp);
  }
}

TEST(StampImport, StatusTextsComeJoinedInBothWideForms) {
  Velmora::ASN1::CPKIStatusInfo status(2);
  Velmora::ASN1::CPKIFreeText texts;
  texts.push_back(Velmora::ASN1::CPKIFreeTextString(L"Отказ: "));
  texts.push_back(Velmora::ASN1::CPKIFreeTextString(L"\U0001F600 later"));
  status.put_statusString(&texts);
  CStamp stamp;
  ASSERT_EQ(ImportCode(stamp, Response(status)), 0);
  EXPECT_STREQ(stamp.get_StatusString(), L"Отказ: \U0001F600 later");
  EXPECT_EQ(P::Utf16String(stamp.get_StatusString<unsigned short>()),
            P::WideToUtf16(L"Отказ: \U0001F600 later"));

  TstFields fields;
  fields.tsaCommonName = "Служба штампов \U0001F552";
  ASSERT_EQ(ImportCode(stamp, Token(fields)), 0);
  EXPECT_STREQ(stamp.get_TSA(), L"CN=Служба штампов \U0001F552");
  EXPECT_EQ(P::Utf16String(stamp.get_TSA<unsigned short>()),
            P::WideToUtf16(L"CN=Служба штампов \U0001F552"));
}

TEST(StampImport, BadInputFailsAndLeavesNoToken) {
  CStamp stamp;
  const CBlob good = Token(TstFields{});
  const CBlob garbage(V{0x30, 0x03, 0x02, 0x01});
  const CBlob request = OpenSslTsaFile("q-full.tsq");
  TstFields unknownHash;
  unknownHash.hashOid = "1.2.3.4.5.6.7";
  TstFields hashWithoutAlgId;
  hashWithoutAlgId.hashOid = "2.5.4.3";  // known to the registry, but no CryptoAPI algorithm
  TstFields tooCoarse;
  tooCoarse.accuracy = Accuracy{2147, 483, 648};  // 2^31 microseconds
  const CBlob badCertificate = CBlob(Seq({Int(1)}));
  SignOptions badCertValues;
  badCertValues.certValues = {badCertificate};

  // A token whose certificate bag holds something that is no certificate.
  const V tstInfo = TstInfoDer(TstFields{});
  const V signerInfo = Seq({Int(1), Seq({Seq({}), Int(1)}), Seq({Oid(kSha256)}),
                            Seq({Oid("1.2.840.10045.4.3.2")}), Octets({0})});
  const CBlob tokenWithBadCertificate(Seq(
      {Oid("1.2.840.113549.1.7.2"),
       Ctx(0,
           Seq({Int(3), Set({Seq({Oid(kSha256)})}), Seq({Oid(kTstInfo), Ctx(0, Octets(tstInfo))}),
                Ctx(0, badCertificate.bytes()), Set({signerInfo})}))}));

  struct Row {
    const char* what;
    CBlob bytes;
    P::HRESULT code;
  };
  P::HRESULT tokenDecoderOnGarbage = CodeOf([&] { Velmora::PKI::TSP::CToken().decode(garbage); });
  P::HRESULT tokenDecoderOnRequest = CodeOf([&] { Velmora::PKI::TSP::CToken().decode(request); });
  ASSERT_NE(tokenDecoderOnGarbage, 0);
  ASSERT_NE(tokenDecoderOnRequest, 0);
  P::SetLastError(0);
  EXPECT_EQ(P::CertCreateCertificateContext(P::X509_ASN_ENCODING, badCertificate.pbData(),
                                            static_cast<P::DWORD>(badCertificate.cbData())),
            nullptr);
  const P::HRESULT certificateCode = static_cast<P::HRESULT>(P::GetLastError());
  ASSERT_LT(certificateCode, 0);

  const Row rows[] = {
      {"neither response nor token", garbage, tokenDecoderOnGarbage},
      {"a request", request, tokenDecoderOnRequest},
      {"status 7", Response(7), P::E_FAIL},
      {"granted without token", Response(0), P::CRYPT_E_ASN1_INTERNAL},
      {"grantedWithMods without token", Response(1), P::CRYPT_E_ASN1_INTERNAL},
      {"unknown hash algorithm", Token(unknownHash), P::CRYPT_E_NOT_FOUND},
      {"hash algorithm without ALG_ID", Token(hashWithoutAlgId), P::NTE_BAD_ALGID},
      {"accuracy beyond 31 bits", Token(tooCoarse), P::CRYPT_E_ASN1_LARGE},
      {"certificate that does not parse", tokenWithBadCertificate, certificateCode},
      {"certificate value that does not parse", Token(TstFields{}, badCertValues), certificateCode},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ASSERT_EQ(ImportCode(stamp, good), 0);
    EXPECT_EQ(ImportCode(stamp, row.bytes), row.code);
    ExpectNotImported(stamp);
  }

  // Null data is refused too.
  EXPECT_EQ(CodeOf([&] { stamp.Import(nullptr, 5, nullptr); }), P::E_INVALIDARG);
  ExpectNotImported(stamp);

  // The largest accuracy the stamp holds still imports.
  TstFields widest;
  widest.accuracy = Accuracy{2147, 483, 647};
  ASSERT_EQ(ImportCode(stamp, Token(widest)), 0);
  EXPECT_EQ(stamp.get_Accuracy(), 2147483647L);
}

TEST(StampImport, GettersFollowTheBufferRule) {
  CStamp stamp;
  ASSERT_EQ(ImportCode(stamp, Token(TstFields{})), 0);
  unsigned long length = 0;
  stamp.get_DataHash(nullptr, &length);
  EXPECT_EQ(length, 32u);
  unsigned char small[16] = {};
  length = sizeof small;
  EXPECT_EQ(CodeOf([&] { stamp.get_DataHash(small, &length); }), kMoreData);
  EXPECT_EQ(length, 32u);
  EXPECT_EQ(small[0], 0);
  // No tsa field: length 0 and an empty text. A null length is refused.
  length = 99;
  stamp.get_TSABlob(nullptr, &length);
  EXPECT_EQ(length, 0u);
  EXPECT_STREQ(stamp.get_TSA(), L"");
  EXPECT_EQ(CodeOf([&] { stamp.get_SerialNumber(small, nullptr); }), P::E_POINTER);
}

TEST(StampImport, CertificateValuesJoinTheStore) {
  const CBlob rsa = OpenSslTsaFile("rsa.der");
  const CBlob pss = OpenSslTsaFile("pss.der");
  SignOptions options;
  options.certValues = {rsa, pss};
  CStamp stamp;
  ASSERT_EQ(ImportCode(stamp, Token(TstFields{}, options)), 0);
  const std::vector<CBlob> stored = StoreCertificates(stamp.get_Certificates());
  ASSERT_EQ(stored.size(), 4u);  // the TSA and CA of the SignedData, then the two values
  EXPECT_EQ(stored[2], rsa);
  EXPECT_EQ(stored[3], pss);
}

TEST(StampImport, CopiesShareTheStoreUntilTheyImport) {
  CStamp original;
  ASSERT_EQ(ImportCode(original, OpenSslTsaFile("rsa-full.tsr")), 0);
  original.put_DefaultAccuracy(5000);
  void* store = original.get_Certificates();
  const std::vector<CBlob> certificates = StoreCertificates(store);
  ASSERT_EQ(certificates.size(), 2u);

  CStamp copy(original);
  EXPECT_EQ(copy.get_Certificates(), store);
  EXPECT_EQ(copy.get_DefaultAccuracy(), 5000);
  EXPECT_EQ(StampBytes(copy, &CStamp::Export), StampBytes(original, &CStamp::Export));
  EXPECT_EQ(copy.get_Time(), original.get_Time());

  // Importing into the copy gives it a store of its own and leaves the original's alone.
  ASSERT_EQ(ImportCode(copy, OpenSslTsaFile("ec-bare.tst")), 0);
  EXPECT_NE(copy.get_Certificates(), store);
  EXPECT_EQ(copy.get_DefaultAccuracy(), -1);
  EXPECT_EQ(original.get_Certificates(), store);
  EXPECT_EQ(StoreCertificates(store), certificates);
  EXPECT_STREQ(original.get_PolicyID(), "1.2.3.4.5");

  // Assignment shares too; assigning a stamp to itself keeps it whole.
  CStamp assigned;
  assigned = original;
  EXPECT_EQ(assigned.get_Certificates(), store);
  assigned = assigned;
  EXPECT_EQ(assigned.get_Certificates(), store);
  EXPECT_EQ(StampBytes(assigned, &CStamp::Export), StampBytes(original, &CStamp::Export));

  // The store outlives the stamp that made it while a copy holds it.
  {
    CStamp shortLived;
    ASSERT_EQ(ImportCode(shortLived, OpenSslTsaFile("rsa-full.tsr")), 0);
    assigned = shortLived;
  }
  EXPECT_EQ(StoreCertificates(assigned.get_Certificates()).size(), 2u);
}
