// CMS signers: the forms a SignerInfo comes in, the attribute sets, and the signature check's
// rules on algorithms and attributes, on OpenSSL-made signers, hand-built ones and the legacy
// Authenticode countersignatures of the corpus.
#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <string>
#include <vector>

#include "codec/cms/public_key.h"
#include "codec/cms/signature_check.h"
#include "codec/cms/signed_data.h"
#include "codec/der/der_writer.h"
#include "platform/errors/atl_exception.h"
#include "platform/errors/winerror.h"
#include "tests/common/der_build.h"
#include "tests/common/ossl.h"
#include "tests/common/scratch.h"
#include "tests/common/tsp_fixtures.h"

namespace ASN1 = Velmora::ASN1;
namespace Der = Velmora::ASN1::Der;
namespace P = Velmora::Platform;
using Velmora::CBlob;
using namespace Velmora::Testing::DerBuild;
using namespace Velmora::Testing;

namespace {

constexpr const char* kTstInfo = "1.2.840.113549.1.9.16.1.4";
constexpr const char* kData = "1.2.840.113549.1.7.1";

V Of(const CBlob& blob) {
  return blob.bytes();
}

// The signer written again with another signature algorithm identifier (and signature, when
// given), all else as received.
ASN1::CSignerInfo WithSignatureAlgorithm(const ASN1::CSignerInfo& signer, const V& algorithm,
                                         const V* signature = nullptr) {
  const V encoded =
      Seq({Int(signer.get_version()), Of(signer.get_sidEncoded()),
           Of(signer.get_digestAlgorithm().encode()), Of(signer.get_signedAttributesEncoded()),
           algorithm, Octets(signature != nullptr ? *signature : Of(signer.get_signature()))});
  ASN1::CSignerInfo rebuilt;
  rebuilt.decode(CBlob(encoded));
  return rebuilt;
}

V PssAlgorithm(const char* hash, const char* mgfHash, std::uint64_t salt, std::uint64_t trailer) {
  const V hashAlg = Seq({Oid(hash)});
  const V mgf = Seq({Oid("1.2.840.113549.1.1.8"), Seq({Oid(mgfHash)})});
  return Seq({Oid("1.2.840.113549.1.1.10"),
              Seq({Tlv(Der::ContextTag(0, true), hashAlg), Tlv(Der::ContextTag(1, true), mgf),
                   Tlv(Der::ContextTag(2, true), Int(salt)),
                   Tlv(Der::ContextTag(3, true), Int(trailer))})});
}

struct Signed {
  ASN1::CSignedData data;
  const ASN1::CSignerInfo& signer() const { return data.get_signerInfos().front(); }
  bool verify(const ASN1::CSignerInfo& s, const std::string& key,
              const char* contentType = kTstInfo) const {
    const CBlob certificate = OpenSslTsaFile(key + ".der");
    return ASN1::VerifySignerInfo(s, contentType, data.get_eContent(), certificate.span());
  }
};

Signed Load(const std::string& file) {
  Signed s;
  s.data.decode(OpenSslTsaFile(file));
  return s;
}

constexpr const char* kSha256 = "2.16.840.1.101.3.4.2.1";
constexpr const char* kSha384 = "2.16.840.1.101.3.4.2.2";

}  // namespace

TEST(CmsSigner, SignedDataPartsOfAnOpenSslToken) {
  const Signed token = Load("rsa-full.tst");
  EXPECT_EQ(token.data.get_version(), 3u);
  ASSERT_EQ(token.data.get_digestAlgorithms().size(), 1u);
  EXPECT_STREQ(token.data.get_digestAlgorithms().front().get_algorithm(), kSha256);
  EXPECT_STREQ(token.data.get_eContentType(), kTstInfo);
  EXPECT_EQ(*token.data.get_eContent(), OpenSslTsaFile("tstinfo.der"));
  EXPECT_EQ(token.data.get_crls(), nullptr);
  EXPECT_TRUE(token.data.get_otherCertificates().empty());
  EXPECT_EQ(token.data.encode(), OpenSslTsaFile("rsa-full.tst"));

  const ASN1::CSignerInfo& signer = token.signer();
  EXPECT_EQ(signer.get_sidKind(), ASN1::CSignerInfo::SignerIdKind::IssuerAndSerialNumber);
  EXPECT_EQ(signer.get_subjectKeyIdentifier(), nullptr);
  EXPECT_TRUE(NamesCertificate(signer, OpenSslTsaFile("rsa.der")));
  const ASN1::CAttributes* attributes = signer.get_signedAttributes();
  ASSERT_NE(attributes, nullptr);
  EXPECT_EQ(attributes->count("1.2.840.113549.1.9.3"), 1u);
  EXPECT_NE(attributes->find("1.2.840.113549.1.9.16.2.47"), nullptr);  // ESSCertIDv2
  EXPECT_EQ(signer.get_unsignedAttributes(), nullptr);
  // What the signature covers: the received [0] element with a SET tag, nothing re-encoded.
  const CBlob toBeSigned = signer.get_signedAttributesToBeSigned();
  EXPECT_EQ(toBeSigned.bytes()[0], 0x31);
  EXPECT_TRUE(std::equal(toBeSigned.bytes().begin() + 1, toBeSigned.bytes().end(),
                         signer.get_signedAttributesEncoded().bytes().begin() + 1));

  EXPECT_TRUE(token.data.verifySigner(0, OpenSslTsaFile("rsa.der")));
  EXPECT_FALSE(token.data.verifySigner(1, OpenSslTsaFile("rsa.der")));  // no such signer
}

TEST(CmsSigner, SignatureAlgorithmMustAgreeWithDigestAndKey) {
  const Signed rsa = Load("rsa-full.tst");
  EXPECT_TRUE(
      rsa.verify(WithSignatureAlgorithm(rsa.signer(), Seq({Oid("1.2.840.113549.1.1.1")})), "rsa"));
  EXPECT_TRUE(
      rsa.verify(WithSignatureAlgorithm(rsa.signer(), Seq({Oid("1.2.840.113549.1.1.11")})), "rsa"));
  // sha384WithRSAEncryption beside a SHA-256 digestAlgorithm.
  EXPECT_FALSE(
      rsa.verify(WithSignatureAlgorithm(rsa.signer(), Seq({Oid("1.2.840.113549.1.1.12")})), "rsa"));
  // An ECDSA algorithm over an RSA key, and an unknown one.
  EXPECT_FALSE(
      rsa.verify(WithSignatureAlgorithm(rsa.signer(), Seq({Oid("1.2.840.10045.4.3.2")})), "rsa"));
  EXPECT_FALSE(rsa.verify(WithSignatureAlgorithm(rsa.signer(), Seq({Oid("1.2.3.4")})), "rsa"));
  // A key's checks share what they set up once: a bad signature between two good ones under the
  // same key and digest is refused, and the good one still verifies after it.
  V flipped = Of(rsa.signer().get_signature());
  flipped.back() ^= 0x01;
  EXPECT_FALSE(rsa.verify(
      WithSignatureAlgorithm(rsa.signer(), Seq({Oid("1.2.840.113549.1.1.11")}), &flipped), "rsa"));
  EXPECT_TRUE(rsa.verify(rsa.signer(), "rsa"));

  const Signed pss = Load("pss-cms.tst");
  EXPECT_TRUE(pss.verify(
      WithSignatureAlgorithm(pss.signer(), PssAlgorithm(kSha256, kSha256, 32, 1)), "pss"));
  EXPECT_FALSE(pss.verify(
      WithSignatureAlgorithm(pss.signer(), PssAlgorithm(kSha384, kSha256, 32, 1)), "pss"));
  EXPECT_FALSE(pss.verify(
      WithSignatureAlgorithm(pss.signer(), PssAlgorithm(kSha256, kSha384, 32, 1)), "pss"));
  EXPECT_FALSE(pss.verify(
      WithSignatureAlgorithm(pss.signer(), PssAlgorithm(kSha256, kSha256, 20, 1)), "pss"));
  EXPECT_FALSE(pss.verify(
      WithSignatureAlgorithm(pss.signer(), PssAlgorithm(kSha256, kSha256, 32, 2)), "pss"));
  // PSS without its parameters, and PKCS#1 v1.5 asked of an RSA-PSS key.
  EXPECT_FALSE(
      pss.verify(WithSignatureAlgorithm(pss.signer(), Seq({Oid("1.2.840.113549.1.1.10")})), "pss"));
  EXPECT_FALSE(
      pss.verify(WithSignatureAlgorithm(pss.signer(), Seq({Oid("1.2.840.113549.1.1.1")})), "pss"));
}

TEST(CmsSigner, ContentTypeAttributeMustNameTheContent) {
  const Signed token = Load("ec-bare.tst");
  EXPECT_TRUE(token.verify(token.signer(), "ec"));
  EXPECT_FALSE(token.verify(token.signer(), "ec", kData));
  EXPECT_TRUE(token.verify(token.signer(), "ec", ""));  // a countersignature has no type
  // Without content there is nothing to check the digest against.
  const CBlob certificate = OpenSslTsaFile("ec.der");
  EXPECT_FALSE(ASN1::VerifySignerInfo(token.signer(), kTstInfo, nullptr, certificate.span()));
}

TEST(CmsSigner, SignerInfoFormsAndAttributeSets) {
  const V sha256 = Seq({Oid(kSha256)});
  const V rsa = Seq({Oid("1.2.840.113549.1.1.1")});
  const V ski = Tlv(Der::ContextTag(0, false), V{0xAA, 0xBB});
  const V value1 = Octets(V{1});
  const V value2 = Octets(V{2});
  const V unsignedAttrs = Tlv(Der::ContextTag(1, true),
                              Seq({Oid("1.2.3.4"), Tlv(Der::Tags::Set, Join({value2, value1}))}));

  ASN1::CSignerInfo signer;
  ASSERT_NO_THROW(
      signer.decode(CBlob(Seq({Int(3), ski, sha256, rsa, Octets(V{9}), unsignedAttrs}))));
  EXPECT_EQ(signer.get_version(), 3u);
  ASSERT_NE(signer.get_subjectKeyIdentifier(), nullptr);
  EXPECT_EQ(signer.get_subjectKeyIdentifier()->bytes(), (V{0xAA, 0xBB}));
  EXPECT_EQ(signer.get_sidEncoded(), CBlob(ski));
  EXPECT_EQ(signer.get_issuer(), nullptr);
  EXPECT_EQ(signer.get_serialNumber(), nullptr);
  EXPECT_EQ(signer.get_signedAttributes(), nullptr);
  EXPECT_TRUE(signer.get_signedAttributesToBeSigned().empty());
  const ASN1::CAttributes* attributes = signer.get_unsignedAttributes();
  ASSERT_NE(attributes, nullptr);
  const ASN1::CAttribute* attribute = attributes->find("1.2.3.4");
  ASSERT_NE(attribute, nullptr);
  ASSERT_EQ(attribute->get_values().size(), 2u);
  EXPECT_EQ(attribute->get_values().front(), CBlob(value2));  // received order kept
  // Two values cannot be "the" value of an attribute.
  EXPECT_EQ(CodeOf([&] { attributes->findSingleValue("1.2.3.4"); }), P::CRYPT_E_ASN1_ERROR);
  EXPECT_EQ(attributes->findSingleValue("1.2.3.5"), nullptr);

  // Refused: an empty signed attribute set, a sid of another tag, a missing signature, leftovers.
  const V sid = Seq({Seq({}), Int(5)});
  auto code = [](const V& bytes) {
    return CodeOf([&] { ASN1::CSignerInfo().decode(CBlob(bytes)); });
  };
  EXPECT_EQ(code(Seq({Int(1), sid, sha256, Tlv(Der::ContextTag(0, true), {}), rsa, Octets(V{9})})),
            P::CRYPT_E_ASN1_ERROR);
  EXPECT_EQ(code(Seq({Int(1), Tlv(Der::ContextTag(1, false), V{1}), sha256, rsa, Octets(V{9})})),
            P::CRYPT_E_ASN1_BADTAG);
  EXPECT_EQ(code(Seq({Int(1), sid, sha256, rsa})), P::CRYPT_E_ASN1_EOD);
  EXPECT_EQ(code(Seq({Int(1), sid, sha256, rsa, Octets(V{9}), Int(0)})), P::CRYPT_E_ASN1_ERROR);
  EXPECT_EQ(code(Seq({Int(1), sid, sha256, rsa, Octets(V{9}), unsignedAttrs, Int(0)})),
            P::CRYPT_E_ASN1_ERROR);
  V setAttribute = unsignedAttrs;  // the attribute a SET rather than a SEQUENCE
  setAttribute[2] = 0x31;
  EXPECT_EQ(code(Seq({Int(1), sid, sha256, rsa, Octets(V{9}), setAttribute})),
            P::CRYPT_E_ASN1_BADTAG);

  // An attribute built here is written in DER: its values sorted.
  Velmora::CBlobList values;
  values.push_back(CBlob(value2));
  values.push_back(CBlob(value1));
  const ASN1::CAttribute built("1.2.3.4", values);
  EXPECT_EQ(built.encode(),
            CBlob(Seq({Oid("1.2.3.4"), Tlv(Der::Tags::Set, Join({value1, value2}))})));
  ASN1::CAttribute reread;
  reread.decode(built.encode());
  EXPECT_STREQ(reread.get_attrType(), "1.2.3.4");
}

TEST(CmsSigner, CertificateChoicesAndRevocationInfo) {
  // The certificates field may hold attribute certificates ([1], [2]) beside X.509 ones; only the
  // latter are certificates. A universal tag other than SEQUENCE is not a choice at all.
  const Signed token = Load("rsa-full.tst");
  const CBlob certificate = OpenSslTsaFile("rsa.der");
  auto build = [&](const V& certificates, const V& crls) {
    const V encap =
        Seq({Oid(kTstInfo), Tlv(Der::ContextTag(0, true), Octets(Of(*token.data.get_eContent())))});
    V fields = Join({Int(3), Tlv(Der::Tags::Set, Seq({Oid(kSha256)})), encap});
    fields = Join({fields, certificates, crls, Tlv(Der::Tags::Set, Of(token.signer().encode()))});
    return CBlob(Seq({Oid("1.2.840.113549.1.7.2"),
                      Tlv(Der::ContextTag(0, true), Tlv(Der::Tags::Sequence, fields))}));
  };
  const V attributeCertificate = Tlv(Der::ContextTag(1, true), Seq({Int(1)}));
  const V ocsp = Tlv(Der::ContextTag(1, true), Join({Oid("1.3.6.1.5.5.7.48.1.1"), Seq({})}));
  ASN1::CSignedData data;
  ASSERT_NO_THROW(data.decode(
      build(Tlv(Der::ContextTag(0, true), Join({attributeCertificate, Of(certificate)})),
            Tlv(Der::ContextTag(1, true), ocsp))));
  ASSERT_NE(data.get_certificates(), nullptr);
  ASSERT_EQ(data.get_certificates()->size(), 1u);
  EXPECT_EQ(data.get_certificates()->front(), certificate);
  ASSERT_EQ(data.get_otherCertificates().size(), 1u);
  EXPECT_EQ(data.get_otherCertificates().front(), CBlob(attributeCertificate));
  ASSERT_NE(data.get_crls(), nullptr);
  EXPECT_EQ(data.get_crls()->front(), CBlob(ocsp));
  EXPECT_TRUE(data.verifySigner(0, certificate));

  EXPECT_EQ(
      CodeOf([&] { ASN1::CSignedData().decode(build(Tlv(Der::ContextTag(0, true), Int(1)), {})); }),
      P::CRYPT_E_ASN1_BADTAG);
  EXPECT_EQ(CodeOf([&] {
              ASN1::CSignedData().decode(
                  build({}, Tlv(Der::ContextTag(1, true), Tlv(Der::ContextTag(2, true), {}))));
            }),
            P::CRYPT_E_ASN1_BADTAG);
  // crls before certificates: out of order.
  EXPECT_NE(
      CodeOf([&] {
        ASN1::CSignedData().decode(build(Join({Tlv(Der::ContextTag(1, true), ocsp),
                                               Tlv(Der::ContextTag(0, true), Of(certificate))}),
                                         {}));
      }),
      P::S_OK);
}

TEST(CmsSigner, PublicKeysDecodeAsOpenSslDecodesThem) {
  // Each subjectPublicKeyInfo gives the key d2i_PUBKEY gives, or nothing when it gives nothing:
  // the plain RSA form made from its numbers, every other form (and kind) read by OpenSSL.
  const auto openssl = [](const V& spki) {
    const unsigned char* p = spki.data();
    ASN1::PublicKeyPtr key(d2i_PUBKEY(nullptr, &p, static_cast<long>(spki.size())));
    return p == spki.data() + spki.size() ? std::move(key) : nullptr;
  };
  std::vector<V> real;
  for (const char* name : {"rsa.der", "pss.der", "ec.der", "ed25519.der", "ed448.der"}) {
    const X509Ptr certificate = ParseCertificate(OpenSslTsaFile(name));
    real.push_back(Of(DerOf(X509_get_X509_PUBKEY(certificate.get()), i2d_X509_PUBKEY)));
  }
  // The RSA key's numbers, to write them again in the forms around the plain one.
  const Der::Element spki = Der::ReadSingle(real[0]);
  Der::Reader fields = spki.children();
  fields.next();
  const V numbers = Der::ReadBitString(fields.next()).bytes;
  Der::Reader values = Der::ReadSingle(numbers).children();
  const Der::Bytes modulusBytes = Der::ReadIntegerBytes(values.next());
  const V n(modulusBytes.begin(), modulusBytes.end());
  const auto rsa = [](const V& algorithm, const V& key, std::uint8_t unused = 0) {
    V bits{unused};
    bits.insert(bits.end(), key.begin(), key.end());
    return Seq({algorithm, Tlv(Der::Tags::BitString, bits)});
  };
  const V plainAlgorithm = Seq({Oid("1.2.840.113549.1.1.1"), Tlv(Der::Tags::Null, {})});
  const V e = Int(65537);
  const V modulus = Tlv(Der::Tags::Integer, n);
  V padded{0x00};
  padded.insert(padded.end(), n.begin(), n.end());
  std::vector<V> forms = real;
  forms.push_back(rsa(Seq({Oid("1.2.840.113549.1.1.1")}), Seq({modulus, e})));  // no NULL
  forms.push_back(rsa(Seq({Oid("1.2.840.113549.1.1.1"), Int(0)}), Seq({modulus, e})));
  forms.push_back(rsa(plainAlgorithm, Seq({modulus, e}), 1));                       // unused bits
  forms.push_back(rsa(plainAlgorithm, Join({Seq({modulus, e}), V{0x00}})));         // after it
  forms.push_back(rsa(plainAlgorithm, Seq({Tlv(Der::Tags::Integer, padded), e})));  // needless 0
  forms.push_back(
      rsa(plainAlgorithm, Seq({Tlv(Der::Tags::Integer, V(n.begin() + 1, n.end())), e})));
  forms.push_back(rsa(plainAlgorithm, Seq({modulus, e, e})));
  forms.push_back(rsa(plainAlgorithm, Seq({modulus})));
  forms.push_back(Join({real[0], V{0x00}}));
  forms.push_back(V(real[0].begin(), real[0].end() - 1));
  for (std::size_t i = 0; i < forms.size(); ++i) {
    const ASN1::PublicKeyPtr ours = ASN1::DecodePublicKey(forms[i]);
    const ASN1::PublicKeyPtr theirs = openssl(forms[i]);
    ASSERT_EQ(ours == nullptr, theirs == nullptr) << i;
    if (ours) {
      EXPECT_EQ(EVP_PKEY_eq(ours.get(), theirs.get()), 1) << i;
      EXPECT_EQ(EVP_PKEY_get_id(ours.get()), EVP_PKEY_get_id(theirs.get())) << i;
    }
  }
  EXPECT_NE(ASN1::DecodePublicKey(forms[5]), nullptr);  // the forms above reach both paths
  EXPECT_EQ(ASN1::DecodePublicKey(forms[12]), nullptr);
}
