// GetCertID on the signed attributes of forged tokens, read back through the platform's CMS
// message: which certificate each attribute names, CheckSignerCertIdEx over all of them, and the
// hashes and issuer-serials it compares, against OpenSSL's view of the same certificates.
#include <gtest/gtest.h>

#include <vector>

#include "codec/asnkit/ess.h"
#include "horodex/GetCertID.h"
#include "platform/capi/wincrypt.h"
#include "tests/common/der_build.h"
#include "tests/common/ossl.h"
#include "tests/common/test_ca.h"
#include "tests/common/token_forge.h"
#include "tests/tsp/stamp_tokens.h"

namespace Velmora::Testing {
namespace {

using namespace DerBuild;
using namespace Forge;
using Platform::HRESULT;

// The signed attributes of a forged token, as the platform's CMS message lays them out.
class SignedAttributes {
 public:
  explicit SignedAttributes(std::vector<V> attributes) {
    TokenSpec spec;
    spec.tstInfo = Stamps::TstInfoDer(Stamps::TstFields{});
    spec.signedAttributes = std::move(attributes);
    const CBlob token = ForgeToken(spec);
    Platform::HCRYPTMSG message = Platform::CryptMsgOpenToDecode(
        Platform::X509_ASN_ENCODING | Platform::PKCS_7_ASN_ENCODING, 0, 0, 0, nullptr, nullptr);
    Platform::DWORD size = 0;
    EXPECT_TRUE(Platform::CryptMsgUpdate(message, token.pbData(),
                                         static_cast<Platform::DWORD>(token.cbData()), 1));
    EXPECT_TRUE(Platform::CryptMsgGetParam(message, Platform::CMSG_SIGNER_AUTH_ATTR_PARAM, 0,
                                           nullptr, &size));
    m_buffer.resize(size / sizeof(std::uint64_t) + 1);
    EXPECT_TRUE(Platform::CryptMsgGetParam(message, Platform::CMSG_SIGNER_AUTH_ATTR_PARAM, 0,
                                           m_buffer.data(), &size));
    Platform::CryptMsgClose(message);
  }
  const Platform::CRYPT_ATTRIBUTES& get() const {
    return *reinterpret_cast<const Platform::CRYPT_ATTRIBUTES*>(m_buffer.data());
  }

 private:
  std::vector<std::uint64_t> m_buffer;
};

CertIdSpec Id(const char* fixture, const char* hashOid = kSha256) {
  CertIdSpec id;
  id.certificate = FixtureCertificate(fixture);
  id.hashOid = hashOid;
  return id;
}

TEST(StampVerifyCertId, EveryPresentAttributeMustNameTheCertificate) {
  const CBlob ec = FixtureCertificate("ec");
  const CBlob rsa = FixtureCertificate("rsa");
  // V1 and V2 naming two certificates: V2 is the signer's identifier, but neither certificate
  // is named by both.
  const SignedAttributes split(
      {SigningCertificateV1({Id("rsa")}), SigningCertificateV2({Id("ec")})});
  EXPECT_TRUE(PKI::CheckCertId(PKI::GetSignerCertIdEx(split.get()), ec));
  EXPECT_FALSE(PKI::CheckSignerCertIdEx(split.get(), ec));
  EXPECT_FALSE(PKI::CheckSignerCertIdEx(split.get(), rsa));

  const SignedAttributes agreeing({SigningCertificateV1({Id("ec")}),
                                   SigningCertificateV2({Id("ec", "2.16.840.1.101.3.4.2.3")})});
  EXPECT_TRUE(PKI::CheckSignerCertIdEx(agreeing.get(), ec));
  EXPECT_FALSE(PKI::CheckSignerCertIdEx(agreeing.get(), rsa));

  const SignedAttributes none({});
  EXPECT_FALSE(PKI::CheckSignerCertIdEx(none.get(), ec));
  EXPECT_EQ(CodeOf([&] { PKI::GetSignerCertIdEx(none.get()); }), static_cast<HRESULT>(0x80092004));
  // signingCertificate with otherSigningCertificate: each alone is fine, together refused.
  const SignedAttributes both(
      {SigningCertificateV1({Id("ec")}), OtherSigningCertificate({Id("ec")})});
  EXPECT_TRUE(PKI::CheckSignerCertIdEx(both.get(), ec));
  EXPECT_EQ(CodeOf([&] { PKI::GetSignerCertIdEx(both.get()); }), static_cast<HRESULT>(0x8007000B));
}

TEST(StampVerifyCertId, HashesAndIssuerSerialsAgreeWithOpenSsl) {
  const CBlob ca = FixtureCertificate("ca");
  for (const char* oid : {kSha1, kSha256, "2.16.840.1.101.3.4.2.2", "2.16.840.1.101.3.4.2.3"}) {
    SCOPED_TRACE(oid);
    EXPECT_EQ(PKI::HashCertificate(ca, oid), DigestOf(oid, ca));
  }
  EXPECT_EQ(CodeOf([&] { PKI::HashCertificate(ca, "1.2.3.4.5.6"); }),
            static_cast<HRESULT>(0x80092004));

  // Serial numbers as OpenSSL writes them (20 random bytes), and small ones whose top bit needs a
  // sign byte (00 80, 00 FF).
  const Authority root = MakeRoot("Serial Root");
  std::vector<CBlob> certificates = {ca, FixtureCertificate("rsa")};
  for (const long serial : {128L, 255L, 1L}) {
    certificates.emplace_back(
        MakeIssued(CertSpec("Serial " + std::to_string(serial), serial), root).cert.der());
  }
  for (const CBlob& certificate : certificates) {
    ASN1::CIssuerSerial expected;
    expected.decode(CBlob(IssuerSerialOf(certificate)));
    EXPECT_TRUE(PKI::MakeIssuerSerial(certificate) == expected);
  }
  EXPECT_NE(CodeOf([&] { PKI::MakeIssuerSerial(CBlob(V{0x30, 0x00})); }), 0);
}

}  // namespace
}  // namespace Velmora::Testing
