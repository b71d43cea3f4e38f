#include "tests/common/token_forge.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "tests/common/ossl.h"
#include "tests/common/tsp_fixtures.h"

namespace Velmora::Testing::Forge {

using namespace DerBuild;

namespace {

template <typename T, auto Free>
using Owned = std::unique_ptr<T, OsslDeleter<Free>>;

V Concat(const std::vector<V>& parts) {
  V out;
  for (const V& part : parts) {
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

// SET OF in DER order: the encodings compared as octet strings, the shorter padded with zeros.
V SortedSet(std::vector<V> elements) {
  std::sort(elements.begin(), elements.end(), [](const V& a, const V& b) {
    const std::size_t n = std::max(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
      const unsigned x = i < a.size() ? a[i] : 0;
      const unsigned y = i < b.size() ? b[i] : 0;
      if (x != y) {
        return x < y;
      }
    }
    return false;
  });
  return Tlv(Der::Tags::Set, Concat(elements));
}

Owned<X509, X509_free> ParseFixture(const std::string& name) {
  const CBlob der = FixtureCertificate(name);
  const unsigned char* cursor = der.pbData();
  Owned<X509, X509_free> certificate(d2i_X509(nullptr, &cursor, static_cast<long>(der.cbData())));
  if (!certificate) {
    throw std::runtime_error("cannot parse the fixture certificate " + name);
  }
  return certificate;
}

Owned<EVP_PKEY, EVP_PKEY_free> FixtureKey(const std::string& name) {
  const std::string path = (OpenSslTsaDir() / (name + ".key")).string();
  Owned<BIO, BIO_free> bio(BIO_new_file(path.c_str(), "r"));
  Owned<EVP_PKEY, EVP_PKEY_free> key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
  if (!key) {
    throw std::runtime_error("cannot read " + path);
  }
  return key;
}

V AlgorithmId(const char* oid, bool nullParameters) {
  return nullParameters ? Seq({Oid(oid), V{0x05, 0x00}}) : Seq({Oid(oid)});
}

// The signature algorithm of a key: EdDSA signs the attributes whole, the others over SHA-256.
V SignatureAlgorithmOf(EVP_PKEY* key) {
  if (EVP_PKEY_is_a(key, "ED25519") == 1) {
    return AlgorithmId("1.3.101.112", false);
  }
  if (EVP_PKEY_is_a(key, "ED448") == 1) {
    return AlgorithmId("1.3.101.113", false);
  }
  return EVP_PKEY_is_a(key, "EC") == 1 ? AlgorithmId("1.2.840.10045.4.3.2", false)
                                       : AlgorithmId("1.2.840.113549.1.1.11", true);
}

template <typename T, typename I2d>
V DerBytes(const T* object, I2d i2d) {
  return DerOf(object, i2d).bytes();
}

V Bytes(const CBlob& blob) {
  return blob.bytes();
}

V EssIssuerSerial(const CertIdSpec& id) {
  if (id.issuerSerialDer) {
    return *id.issuerSerialDer;
  }
  return id.issuerSerial ? IssuerSerialOf(id.certificate) : V();
}

}  // namespace

CBlob FixtureCertificate(const std::string& name) {
  const std::vector<CBlob> certificates = PemCertificates(OpenSslTsaDir() / (name + ".pem"));
  if (certificates.empty()) {
    throw std::runtime_error("no certificate in the fixture " + name);
  }
  return certificates.front();
}

V Attribute(const char* oid, const std::vector<V>& values) {
  return Seq({Oid(oid), Tlv(Der::Tags::Set, Concat(values))});
}

V ContentTypeAttribute(const char* oid) {
  return Attribute("1.2.840.113549.1.9.3", {Oid(oid)});
}

V IssuerSerialOf(const CBlob& certificate) {
  const X509Ptr parsed = ParseCertificate(certificate);
  const V issuer = DerBytes(X509_get_issuer_name(parsed.get()), i2d_X509_NAME);
  const V serial = DerBytes(X509_get0_serialNumber(parsed.get()), i2d_ASN1_INTEGER);
  return Seq({Seq({Ctx(4, issuer)}), serial});
}

V CertHash(const CBlob& certificate, const char* hashOid) {
  return Bytes(DigestOf(hashOid, certificate));
}

V SigningCertificateV1(const std::vector<CertIdSpec>& ids) {
  std::vector<V> entries;
  for (const CertIdSpec& id : ids) {
    entries.push_back(Seq({Octets(CertHash(id.certificate, kSha1)), EssIssuerSerial(id)}));
  }
  return Attribute("1.2.840.113549.1.9.16.2.12", {Seq({Seq({Concat(entries)})})});
}

V SigningCertificateV2(const std::vector<CertIdSpec>& ids) {
  std::vector<V> entries;
  for (const CertIdSpec& id : ids) {
    // The SHA-256 default is left out, as DER wants.
    const V algorithm = std::string(id.hashOid) == kSha256 ? V() : AlgorithmId(id.hashOid, false);
    entries.push_back(
        Seq({algorithm, Octets(CertHash(id.certificate, id.hashOid)), EssIssuerSerial(id)}));
  }
  return Attribute("1.2.840.113549.1.9.16.2.47", {Seq({Seq({Concat(entries)})})});
}

V OtherSigningCertificate(const std::vector<CertIdSpec>& ids) {
  std::vector<V> entries;
  for (const CertIdSpec& id : ids) {
    const V hash =
        id.bareSha1
            ? Octets(CertHash(id.certificate, kSha1))
            : Seq({AlgorithmId(id.hashOid, false), Octets(CertHash(id.certificate, id.hashOid))});
    entries.push_back(Seq({hash, EssIssuerSerial(id)}));
  }
  return Attribute("1.2.840.113549.1.9.16.2.19", {Seq({Seq({Concat(entries)})})});
}

V CertificateValuesAttribute(const std::vector<CBlob>& certificates) {
  std::vector<V> ders;
  for (const CBlob& certificate : certificates) {
    ders.push_back(Bytes(certificate));
  }
  return Attribute("1.2.840.113549.1.9.16.2.23", {Tlv(Der::Tags::Sequence, Concat(ders))});
}

CBlob ForgeToken(const TokenSpec& spec) {
  const auto signerCertificate = spec.signerKey != nullptr
                                     ? ParseCertificate(spec.signerCertificate)
                                     : ParseFixture(spec.signer);
  auto ownKey =
      spec.signerKey != nullptr ? Owned<EVP_PKEY, EVP_PKEY_free>() : FixtureKey(spec.signer);
  EVP_PKEY* key = spec.signerKey != nullptr ? spec.signerKey : ownKey.get();

  std::vector<V> signedAttributes;
  if (spec.contentTypeAttribute) {
    signedAttributes.push_back(ContentTypeAttribute(spec.eContentType.c_str()));
  }
  if (spec.messageDigestAttribute) {
    const V digest = Bytes(DigestOf(spec.digestOid, CBlob(spec.tstInfo)));
    signedAttributes.push_back(Attribute("1.2.840.113549.1.9.4", {Octets(digest)}));
  }
  signedAttributes.insert(signedAttributes.end(), spec.signedAttributes.begin(),
                          spec.signedAttributes.end());
  const V signedSet = SortedSet(signedAttributes);

  const bool edDsa = EVP_PKEY_is_a(key, "ED25519") == 1 || EVP_PKEY_is_a(key, "ED448") == 1;
  Owned<EVP_MD_CTX, EVP_MD_CTX_free> ctx(EVP_MD_CTX_new());
  std::size_t length = 0;
  if (!ctx ||
      EVP_DigestSignInit(ctx.get(), nullptr, edDsa ? nullptr : EVP_sha256(), nullptr, key) != 1 ||
      EVP_DigestSign(ctx.get(), nullptr, &length, signedSet.data(), signedSet.size()) != 1) {
    throw std::runtime_error("OpenSSL could not sign the attributes");
  }
  V signature(length);
  if (EVP_DigestSign(ctx.get(), signature.data(), &length, signedSet.data(), signedSet.size()) !=
      1) {
    throw std::runtime_error("OpenSSL could not sign the attributes");
  }
  signature.resize(length);
  if (spec.flipSignatureByte) {
    signature[signature.size() / 2] ^= 0x01;
  }
  if (spec.signatureValue) {
    signature.assign(spec.signatureValue->bytes().begin(), spec.signatureValue->bytes().end());
  }

  V signerId;
  if (spec.signerByKeyId) {
    const ASN1_OCTET_STRING* keyId = X509_get0_subject_key_id(signerCertificate.get());
    if (keyId == nullptr) {
      throw std::runtime_error("the signer has no subject key identifier");
    }
    signerId = Tlv(Der::ContextTag(0, false), Testing::Bytes(keyId));
  } else {
    signerId = Seq({DerBytes(X509_get_issuer_name(signerCertificate.get()), i2d_X509_NAME),
                    DerBytes(X509_get0_serialNumber(signerCertificate.get()), i2d_ASN1_INTEGER)});
  }
  if (spec.signerIdentifier) {
    signerId = *spec.signerIdentifier;
  }
  V signedAttributesImplicit = signedSet;
  signedAttributesImplicit[0] = 0xA0;  // [0] IMPLICIT SET OF Attribute
  V signerInfo =
      Join({Int(spec.signerByKeyId ? 3 : 1), signerId, AlgorithmId(spec.digestOid, false),
            signedAttributesImplicit, spec.signatureAlgorithm.value_or(SignatureAlgorithmOf(key)),
            Octets(signature)});
  if (!spec.unsignedAttributes.empty()) {
    signerInfo = Join({signerInfo, Tlv(Der::ContextTag(1, true), Concat(spec.unsignedAttributes))});
  }

  V certificates;
  if (!spec.certificates.empty()) {
    std::vector<V> ders;
    for (const CBlob& certificate : spec.certificates) {
      ders.push_back(Bytes(certificate));
    }
    certificates = Ctx(0, Concat(ders));
  }
  const V crls = spec.revocationInfo.empty() ? V() : Ctx(1, Concat(spec.revocationInfo));
  const V encapsulated = Seq({Oid(spec.eContentType.c_str()), Ctx(0, Octets(spec.tstInfo))});
  const V signedData = Seq({Int(3), Set({AlgorithmId(spec.digestOid, false)}), encapsulated,
                            certificates, crls, Set({Tlv(Der::Tags::Sequence, signerInfo)})});
  return CBlob(Seq({Oid("1.2.840.113549.1.7.2"), Ctx(0, signedData)}));
}

}  // namespace Velmora::Testing::Forge
