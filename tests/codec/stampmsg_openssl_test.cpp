// What `openssl ts` and `openssl cms` make (at test time, by tests/data/openssl/make_tsa.sh), and
// tokens of EdDSA keys OpenSSL cannot make as CMS: their signatures verify under their certificate
// only, the CMS forms keep the TSTInfo as signed, and request fields follow their setters.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "codec/cms/signed_data.h"
#include "codec/der/der_reader.h"
#include "codec/stampmsg/request.h"
#include "codec/stampmsg/response.h"
#include "codec/stampmsg/token.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/winerror.h"
#include "tests/common/ossl.h"
#include "tests/common/scratch.h"
#include "tests/common/token_forge.h"
#include "tests/common/tsp_fixtures.h"

namespace TSP = Velmora::PKI::TSP;
namespace ASN1 = Velmora::ASN1;
namespace Der = Velmora::ASN1::Der;
using Velmora::CBlob;
using namespace Velmora::Testing;

namespace {

constexpr const char* kSha256 = "2.16.840.1.101.3.4.2.1";
constexpr const char* kSha512 = "2.16.840.1.101.3.4.2.3";
constexpr const char* kShake256 = "2.16.840.1.101.3.4.2.12";

CBlob CertificateOf(const std::string& key) {
  return OpenSslTsaFile(key + ".der");
}

const char* const kKeys[] = {"rsa", "pss", "ec", "ed25519", "ed448"};

// Flips the bits of one byte inside the first occurrence of `inside` in `blob`.
CBlob Flipped(const CBlob& blob, const CBlob& inside, std::size_t offsetInside) {
  const auto& bytes = blob.bytes();
  const auto at =
      std::search(bytes.begin(), bytes.end(), inside.bytes().begin(), inside.bytes().end());
  EXPECT_NE(at, bytes.end());
  std::vector<unsigned char> copy = bytes;
  copy[static_cast<std::size_t>(at - bytes.begin()) + offsetInside] ^= 0xFF;
  return CBlob(std::move(copy));
}

// A TimeStampToken signed with an EdDSA key, which OpenSSL 3.0 cannot make as CMS. The digest
// algorithm is that of RFC 8419: SHA-512 for Ed25519, SHAKE256 (512 bits) for Ed448.
CBlob EdDsaToken(const std::string& key, const char* digestOid) {
  Forge::TokenSpec spec;
  spec.tstInfo = OpenSslTsaFile("tstinfo.der").bytes();
  spec.signer = key;
  spec.digestOid = digestOid;
  spec.certificates = {CertificateOf(key)};
  return Forge::ForgeToken(spec);
}

}  // namespace

TEST(StampOpenSsl, TokensOfEveryKeyKindVerifyUnderTheirCertificateOnly) {
  struct Case {
    const char* name;
    CBlob token;
    const char* key;
  };
  std::vector<Case> cases = {
      {"rsa-full.tst", OpenSslTsaFile("rsa-full.tst"), "rsa"},
      {"ec-bare.tst", OpenSslTsaFile("ec-bare.tst"), "ec"},
      {"pss-cms.tst", OpenSslTsaFile("pss-cms.tst"), "pss"},
      {"ec-ber.tst", OpenSslTsaFile("ec-ber.tst"), "ec"},
      {"rsa-keyid.tst", OpenSslTsaFile("rsa-keyid.tst"), "rsa"},
      {"rsa-noattr.tst", OpenSslTsaFile("rsa-noattr.tst"), "rsa"},
      {"ed25519", EdDsaToken("ed25519", kSha512), "ed25519"},
      {"ed448", EdDsaToken("ed448", kShake256), "ed448"},
  };
  TSP::CResponse ecResponse;
  ecResponse.decode(OpenSslTsaFile("ec-full.tsr"));
  cases.push_back({"ec-full.tsr", ecResponse.get_timeStampToken()->encode(), "ec"});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TSP::CToken token;
    ASSERT_NO_THROW(token.decode(c.token));
    EXPECT_EQ(token.encode(), c.token);
    EXPECT_TRUE(NamesCertificate(token.get_signerInfo(), CertificateOf(c.key)));
    for (const char* key : kKeys) {
      EXPECT_EQ(token.verify(CertificateOf(key)), std::string(key) == c.key) << "under " << key;
    }
    EXPECT_FALSE(token.verify(OpenSslTsaFile("ca.pem")));  // PEM is not a DER certificate
    const CBlob certificate = CertificateOf(c.key);
    CBlob trailing = certificate;
    trailing += CBlob(std::vector<unsigned char>{0x00});
    EXPECT_FALSE(token.verify(trailing));
    EXPECT_FALSE(token.verify(CBlob()));

    // One flipped byte of the imprint inside the eContent (still a TSTInfo), of the signature
    // value (its last, never a length) or of the messageDigest attribute fails verification.
    TSP::CToken changedContent;
    ASSERT_NO_THROW(changedContent.decode(Flipped(c.token, token.get_hashedMessage(), 7)));
    EXPECT_NE(changedContent.get_hashedMessage(), token.get_hashedMessage());
    const CBlob& signature = token.get_signerInfo().get_signature();
    std::vector<CBlob> changed = {Flipped(c.token, signature, signature.cbData() - 1)};
    if (const auto* attributes = token.get_signerInfo().get_signedAttributes()) {
      const CBlob* digest = attributes->findSingleValue("1.2.840.113549.1.9.4");
      ASSERT_NE(digest, nullptr);
      changed.push_back(Flipped(c.token, *digest, digest->cbData() - 1));
    }
    EXPECT_FALSE(changedContent.verify(certificate));
    for (const CBlob& bytes : changed) {
      TSP::CToken other;
      ASSERT_NO_THROW(other.decode(bytes));
      EXPECT_FALSE(other.verify(certificate));
    }
  }
}

TEST(StampOpenSsl, CmsFormsKeepTheTstInfoAsSigned) {
  const CBlob tstInfo = OpenSslTsaFile("tstinfo.der");
  TSP::CToken reference;
  reference.decode(OpenSslTsaFile("rsa-full.tst"));
  EXPECT_EQ(reference.get_tstInfo(), tstInfo);
  for (const char* file : {"pss-cms.tst", "ec-ber.tst", "rsa-keyid.tst", "rsa-noattr.tst"}) {
    SCOPED_TRACE(file);
    TSP::CToken token;
    token.decode(OpenSslTsaFile(file));
    EXPECT_EQ(token.get_tstInfo(), tstInfo);  // joined from BER segments in ec-ber.tst
    EXPECT_EQ(token.get_serialNumber(), reference.get_serialNumber());
    EXPECT_EQ(token.get_genTime(), reference.get_genTime());
  }
  TSP::CToken keyId;
  keyId.decode(OpenSslTsaFile("rsa-keyid.tst"));
  EXPECT_EQ(keyId.get_signerInfo().get_sidKind(),
            ASN1::CSignerInfo::SignerIdKind::SubjectKeyIdentifier);
  EXPECT_EQ(keyId.get_signerInfo().get_issuer(), nullptr);
  EXPECT_EQ(keyId.get_certificates(), nullptr);  // -nocerts
  TSP::CToken noAttributes;
  noAttributes.decode(OpenSslTsaFile("rsa-noattr.tst"));
  EXPECT_EQ(noAttributes.get_signerInfo().get_signedAttributes(), nullptr);
  TSP::CToken ber;
  ber.decode(OpenSslTsaFile("ec-ber.tst"));
  EXPECT_TRUE(Der::ReadSingle(ber.encode().span()).indefinite);
}

TEST(StampOpenSsl, RequestFieldsFollowTheirSetters) {
  const CBlob hash = DigestOf(kSha256, CBlob(std::vector<unsigned char>{'x'}));
  TSP::CRequest request(ASN1::CAlgorithmIdentifierEx(kSha256), hash, false);
  EXPECT_EQ(request.get_nonce(), nullptr);
  EXPECT_EQ(request.get_reqPolicy(), nullptr);

  // A nonce with needless leading bytes is kept and sent in its shortest form.
  const ASN1::CBigInteger padded(CBlob(std::vector<unsigned char>{0x00, 0x00, 0x12, 0x34}));
  request.put_nonce(&padded);
  ASSERT_NE(request.get_nonce(), nullptr);
  EXPECT_EQ(request.get_nonce()->bytes(), (std::vector<unsigned char>{0x12, 0x34}));
  // An empty integer stands for "no nonce", as null does.
  const ASN1::CBigInteger empty;
  request.put_nonce(&empty);
  EXPECT_EQ(request.get_nonce(), nullptr);
  request.put_nonce(&padded);
  request.put_nonce(nullptr);
  EXPECT_EQ(request.get_nonce(), nullptr);

  request.put_reqPolicy("1.2.3");
  try {
    request.put_reqPolicy("1.2.x");
    ADD_FAILURE() << "text that is not an OID was taken";
  } catch (const Velmora::Platform::CAtlException& e) {
    EXPECT_EQ(e.hr(), Velmora::Platform::CRYPT_E_OID_FORMAT);
  }
  EXPECT_STREQ(request.get_reqPolicy(), "1.2.3");
  request.put_reqPolicy(nullptr);
  EXPECT_EQ(request.get_reqPolicy(), nullptr);

  // A decoded request encodes as received until a setter changes it.
  TSP::CRequest decoded;
  decoded.decode(OpenSslTsaFile("q-full.tsq"));
  EXPECT_EQ(decoded.encode(), OpenSslTsaFile("q-full.tsq"));
  decoded.put_nonce(&padded);
  TSP::CRequest reread;
  reread.decode(decoded.encode());
  EXPECT_EQ(reread.get_nonce()->bytes(), (std::vector<unsigned char>{0x12, 0x34}));
  EXPECT_STREQ(reread.get_reqPolicy(), "1.2.3.4.5");
  EXPECT_TRUE(reread.get_certReq());
}
