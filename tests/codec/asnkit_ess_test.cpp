// Signing-certificate identifiers and the other signed-attribute values, against OpenSSL's ESS
// code in both directions.
#include <openssl/ess.h>
#include <openssl/x509.h>

#include <iterator>

#include "codec/asnkit/ess.h"
#include "codec/asnkit/signed_attributes.h"
#include "tests/codec/asnkit_test_util.h"

using namespace asnkit_test;
using namespace Velmora::ASN1;
using Velmora::CDllList;

namespace {

CBlob Digest(const X509* cert, const EVP_MD* md) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EXPECT_EQ(X509_digest(cert, md, out, &length), 1);
  return CBlob(out, length);
}

struct StackFree {
  void operator()(STACK_OF(X509) * s) const { sk_X509_free(s); }
};

// OpenSSL's own check of SigningCertificate / SigningCertificateV2 DER against `cert`.
int OpenSslAccepts(const CBlob* v1, const CBlob* v2, X509* cert) {
  std::unique_ptr<STACK_OF(X509), StackFree> chain(sk_X509_new_null());
  sk_X509_push(chain.get(), cert);
  ESS_SIGNING_CERT* ss = nullptr;
  ESS_SIGNING_CERT_V2* ssv2 = nullptr;
  if (v1 != nullptr) {
    const unsigned char* p = v1->pbData();
    ss = d2i_ESS_SIGNING_CERT(nullptr, &p, static_cast<long>(v1->cbData()));
    EXPECT_NE(ss, nullptr);
  }
  if (v2 != nullptr) {
    const unsigned char* p = v2->pbData();
    ssv2 = d2i_ESS_SIGNING_CERT_V2(nullptr, &p, static_cast<long>(v2->cbData()));
    EXPECT_NE(ssv2, nullptr);
  }
  const int result = OSSL_ESS_check_signing_certs(ss, ssv2, chain.get(), 1);
  ESS_SIGNING_CERT_free(ss);
  ESS_SIGNING_CERT_V2_free(ssv2);
  return result;
}

const P::HRESULT kInvalidState = P::MakeHResult(0x8007139F);

}  // namespace

TEST(AsnkitEss, SigningCertificateFromOpenSslNamesItsCertificate) {
  // A positive and a negative serial number.
  for (const V& serial : {V{0x01, 0x23, 0x45}, V{0xFE, 0x01}}) {
    const X509Ptr cert = MakeCertificate(serial, "TSA One");
    ESS_SIGNING_CERT* ss = OSSL_ESS_signing_cert_new_init(cert.get(), nullptr, 1);
    const V der = ToDer(ss, i2d_ESS_SIGNING_CERT);
    ESS_SIGNING_CERT_free(ss);

    CAttrSigningCertificate attr(B(der));
    ASSERT_EQ(attr.get_certs().size(), 1u);
    const CESSCertID& id = attr.get_certs().front();
    EXPECT_EQ(id.get_certHash(), Digest(cert.get(), EVP_sha1()));
    ASSERT_NE(id.get_issuerSerial(), nullptr);
    EXPECT_EQ(*id.get_issuerSerial(), IssuerSerialOf(cert.get()));
    EXPECT_EQ(Narrow(id.get_issuerSerial()->get_issuer().front().toString().str()),
              "CN=TSA One, O=Velmora Test, C=BE");
    EXPECT_TRUE(attr.get_policies().empty());
    EXPECT_EQ(attr.encode(), B(der));

    // The identifier of the entry equals the one built from the certificate; a certificate with
    // another serial number does not match it.
    COtherCertID named(id.get_certHash(), CAlgorithmIdentifier(kOidSha1));
    named.put_issuerSerial(id.get_issuerSerial());
    COtherCertID built(COtherHash(
        COtherHashAlgAndValue(Digest(cert.get(), EVP_sha1()), CAlgorithmIdentifier(kOidSha1))));
    const CIssuerSerial fromCert = IssuerSerialOf(cert.get());
    built.put_issuerSerial(&fromCert);
    EXPECT_EQ(named, built);
    const X509Ptr other = MakeCertificate({0x05}, "TSA One");
    const CIssuerSerial otherSerial = IssuerSerialOf(other.get());
    built.put_issuerSerial(&otherSerial);
    EXPECT_FALSE(named == built);
  }
}

TEST(AsnkitEss, OpenSslAcceptsTheIdentifiersWeWrite) {
  const X509Ptr cert = MakeCertificate({0x00, 0x80}, "TSA Three");
  const CIssuerSerial issuerSerial = IssuerSerialOf(cert.get());

  CDllList<CESSCertID> v1Certs;
  v1Certs.push_back(CESSCertID(Digest(cert.get(), EVP_sha1()), &issuerSerial));
  const CBlob v1 = CAttrSigningCertificate(v1Certs).encode();

  CDllList<CESSCertIDv2> v2Certs;
  v2Certs.push_back(CESSCertIDv2(CAlgorithmIdentifier("2.16.840.1.101.3.4.2.3"),
                                 Digest(cert.get(), EVP_sha512()), &issuerSerial));
  const CBlob v2 = CAttrSigningCertificateV2(v2Certs).encode();
  EXPECT_EQ(OpenSslAccepts(&v1, nullptr, cert.get()), 1);
  EXPECT_EQ(OpenSslAccepts(nullptr, &v2, cert.get()), 1);

  // A wrong hash is caught by OpenSSL as well, so the check above is not vacuous.
  CDllList<CESSCertID> wrong;
  wrong.push_back(CESSCertID(CBlob(V(20, 0xAB)), &issuerSerial));
  const CBlob bad = CAttrSigningCertificate(wrong).encode();
  EXPECT_LE(OpenSslAccepts(&bad, nullptr, cert.get()), 0);
}

TEST(AsnkitEss, OtherHashFormsOfOneSha1HashAreEqual) {
  const CBlob hash(V(20, 0x5A));
  CAlgorithmIdentifier sha1WithNull(kOidSha1);
  sha1WithNull.put_parameters(B({0x05, 0x00}));
  const COtherHash bare(hash);
  const COtherHash withAlg(COtherHashAlgAndValue(hash, CAlgorithmIdentifier(kOidSha1)));
  const COtherHash withNull(COtherHashAlgAndValue(hash, sha1WithNull));
  const COtherHash sha256(COtherHashAlgAndValue(hash, CAlgorithmIdentifier(kOidSha256)));
  EXPECT_NE(bare.get_sha1Hash(), nullptr);
  EXPECT_EQ(bare.get_otherHash(), nullptr);
  EXPECT_EQ(withAlg.get_sha1Hash(), nullptr);
  EXPECT_TRUE(bare == withAlg);
  EXPECT_TRUE(withNull == bare);
  EXPECT_FALSE(sha256 == bare);
  EXPECT_FALSE(COtherHash(CBlob(V(20, 0x5B))) == bare);
  EXPECT_FALSE(COtherHash() == bare);
  EXPECT_EQ(CodeOf([] { COtherHash().encode(); }), kInvalidState);

  // issuerSerial: absent on one side only differs; a padded serial names the same certificate.
  CGeneralName dns;
  dns.put_dNSName("tsa.example");
  CGeneralNames issuer;
  issuer.push_back(dns);
  CBigInteger serial;
  serial.decode(B({0x02, 0x01, 0x7F}));
  CBigInteger paddedSerial;
  paddedSerial.decode(B({0x02, 0x03, 0x00, 0x00, 0x7F}));
  const CIssuerSerial plain(issuer, serial);
  const CIssuerSerial padded(issuer, paddedSerial);
  COtherCertID a(hash, CAlgorithmIdentifier(kOidSha1));
  COtherCertID b(bare);
  EXPECT_TRUE(a == b);
  a.put_issuerSerial(&plain);
  EXPECT_FALSE(a == b);
  b.put_issuerSerial(&padded);
  EXPECT_TRUE(a == b);
  b.put_issuerSerial(nullptr);
  EXPECT_EQ(b.get_issuerSerial(), nullptr);
}

TEST(AsnkitEss, OtherSigningCertificateInBothHashForms) {
  const CBlob hash(V(20, 0x11));
  CDllList<COtherCertID> certs;
  certs.push_back(COtherCertID(COtherHash(hash)));
  certs.push_back(COtherCertID(CBlob(V(48, 0x22)), CAlgorithmIdentifier("2.16.840.1.101.3.4.2.2")));
  const CBlob der = CAttrOtherSigningCertificate(certs).encode();
  CAttrOtherSigningCertificate back(der);
  ASSERT_EQ(back.get_certs().size(), 2u);
  EXPECT_NE(back.get_certs().front().get_otherCertHash().get_sha1Hash(), nullptr);
  EXPECT_EQ(back.get_certs().front().get_otherCertHash().hashValue(), hash);
  EXPECT_NE(std::next(back.get_certs().begin())->get_otherCertHash().get_otherHash(), nullptr);
  EXPECT_EQ(back.encode(), der);
}

TEST(AsnkitEss, MalformedSigningCertificatesAreRefusedWholly) {
  const X509Ptr cert = MakeCertificate({0x33}, "TSA Four");
  ESS_SIGNING_CERT* ss = OSSL_ESS_signing_cert_new_init(cert.get(), nullptr, 1);
  const V good = ToDer(ss, i2d_ESS_SIGNING_CERT);
  ESS_SIGNING_CERT_free(ss);
  CAttrSigningCertificate attr(B(good));

  // A NULL appended inside any of its constructed elements is refused.
  for (const V& variant : TrailingDataVariants(good)) {
    EXPECT_NE(CodeOf([&] { attr.decode(B(variant)); }), P::S_OK) << Hex(B(variant));
  }
  const std::vector<std::pair<V, P::HRESULT>> bad = {
      {{0x30, 0x02, 0x30, 0x00}, P::CRYPT_E_ASN1_ERROR},            // no certificate named
      {{0x30, 0x02, 0x31, 0x00}, P::CRYPT_E_ASN1_BADTAG},           // certs not a SEQUENCE
      {{0x30, 0x04, 0x30, 0x02, 0x30, 0x00}, P::CRYPT_E_ASN1_EOD},  // ESSCertID without hash
      {{0x30, 0x07, 0x30, 0x05, 0x30, 0x03, 0x02, 0x01, 0x01}, P::CRYPT_E_ASN1_BADTAG},
      // policies holding something other than PolicyInformation
      {{0x30, 0x0B, 0x30, 0x05, 0x30, 0x03, 0x04, 0x01, 0xAA, 0x30, 0x02, 0x05, 0x00},
       P::CRYPT_E_ASN1_BADTAG},
  };
  for (const auto& [der, code] : bad) {
    EXPECT_EQ(CodeOf([&, &der = der] { attr.decode(B(der)); }), code) << Hex(B(der));
  }
  EXPECT_EQ(attr.encode(), B(good));  // every failure left the value as it was
  EXPECT_EQ(CodeOf([] { CAttrSigningCertificate().encode(); }), kInvalidState);

  // IssuerSerial of RFC 5755 (with issuerUID) is not the ESS form.
  CIssuerSerial issuerSerial = IssuerSerialOf(cert.get());
  V withUid = issuerSerial.encode().bytes();
  withUid.insert(withUid.end(), {0x03, 0x02, 0x00, 0x01});
  withUid[1] = static_cast<unsigned char>(withUid[1] + 4);
  EXPECT_EQ(CodeOf([&] { issuerSerial.decode(B(withUid)); }), P::CRYPT_E_ASN1_ERROR);
}

TEST(AsnkitEss, ExplicitDefaultHashAlgorithmIsReadAndWrittenOut) {
  // ESSCertIDv2 { SHA-256 written out (BER), hash }: read as SHA-256, written without it.
  const V ber{0x30, 0x10, 0x30, 0x0B, 0x06, 0x09, 0x60, 0x86, 0x48,
              0x01, 0x65, 0x03, 0x04, 0x02, 0x01, 0x04, 0x01, 0xAA};
  CESSCertIDv2 id;
  id.decode(B(ber));
  EXPECT_EQ(std::string(id.get_hashAlgorithm().get_algorithm()), kOidSha256);
  EXPECT_EQ(id.encode(), B({0x30, 0x03, 0x04, 0x01, 0xAA}));
  // With NULL parameters it is not the default value and stays.
  CAlgorithmIdentifier withNull(kOidSha256);
  withNull.put_parameters(B({0x05, 0x00}));
  id.put_hashAlgorithm(withNull);
  EXPECT_EQ(id.encode().cbData(), 20u);
  EXPECT_EQ(std::string(CESSCertIDv2().get_hashAlgorithm().get_algorithm()), kOidSha256);
}

TEST(AsnkitSignedAttributes, ContentTypeAndCertificateValues) {
  CAttrContentType none;
  EXPECT_EQ(none.get_contentType(), nullptr);
  const V tstInfo{0x06, 0x0B, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x10, 0x01, 0x04};
  CAttrContentType type(B(tstInfo));
  EXPECT_STREQ(type.get_contentType(), "1.2.840.113549.1.9.16.1.4");
  EXPECT_EQ(type.encode(), B(tstInfo));
  EXPECT_EQ(CodeOf([&] { type.decode(B({0x04, 0x01, 0x2A})); }), P::CRYPT_E_ASN1_BADTAG);
  EXPECT_STREQ(type.get_contentType(), "1.2.840.113549.1.9.16.1.4");

  // Certificates are kept exactly as received, in order.
  const V first = ToDer(MakeCertificate({0x01}, "A").get(), i2d_X509);
  const V second = ToDer(MakeCertificate({0x02}, "B").get(), i2d_X509);
  Der::Writer w;
  w.sequence([&](Der::Writer& inner) {
    inner.raw(first);
    inner.raw(second);
  });
  const V der = w.take();
  CCertificateValues values(B(der));
  ASSERT_EQ(values.get_certs().size(), 2u);
  EXPECT_EQ(values.get_certs().front(), B(first));
  EXPECT_EQ(values.encode(), B(der));
  EXPECT_TRUE(CCertificateValues(B({0x30, 0x00})).get_certs().empty());
  EXPECT_EQ(CodeOf([&] { values.decode(B({0x30, 0x02, 0x04, 0x00})); }), P::CRYPT_E_ASN1_BADTAG);
  EXPECT_EQ(values.get_certs().size(), 2u);
}
