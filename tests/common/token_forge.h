// Time-stamp tokens that OpenSSL's responder will not make: a TSTInfo signed with chosen signed
// and unsigned attributes, content type, signer identifier and certificates. The SignedData is
// written with the test DER builder; the signature is made by libcrypto (EVP_DigestSign) over the
// DER SET of the signed attributes, so what verifies here verifies for OpenSSL too.
//
// Keys and certificates are those of the OpenSSL fixtures (tsp_fixtures.h): "ec" (the default),
// "rsa" ... with "ca" as their issuer.
#pragma once

#include <openssl/evp.h>

#include <optional>
#include <string>
#include <vector>

#include "codec/corekit/blob.h"
#include "tests/common/der_build.h"

namespace Velmora::Testing::Forge {

using DerBuild::V;

inline constexpr const char* kIdData = "1.2.840.113549.1.7.1";
inline constexpr const char* kIdTstInfo = "1.2.840.113549.1.9.16.1.4";
inline constexpr const char* kSha1 = "1.3.14.3.2.26";
inline constexpr const char* kSha256 = "2.16.840.1.101.3.4.2.1";

// The DER certificate of a fixture ("ec", "rsa", "ca" ...).
CBlob FixtureCertificate(const std::string& name);

// Attribute ::= SEQUENCE { attrType OBJECT IDENTIFIER, attrValues SET OF AttributeValue }
V Attribute(const char* oid, const std::vector<V>& values);
// contentType with one value naming `oid`.
V ContentTypeAttribute(const char* oid);

// IssuerSerial of a DER certificate: its issuer as one directoryName and its serial number.
V IssuerSerialOf(const CBlob& certificate);
// The hash of a DER certificate under the algorithm of the OID.
V CertHash(const CBlob& certificate, const char* hashOid);

// One identifier of the signing-certificate attributes for `certificate`.
struct CertIdSpec {
  CBlob certificate;
  const char* hashOid = kSha256;     // V2 and O (algorithm-and-value form); V1 is always SHA-1
  bool issuerSerial = true;          // put the certificate's IssuerSerial in
  std::optional<V> issuerSerialDer;  // an IssuerSerial of one's own instead
  bool bareSha1 = false;             // O only: the bare sha1Hash form
};
V SigningCertificateV1(const std::vector<CertIdSpec>& ids);
V SigningCertificateV2(const std::vector<CertIdSpec>& ids);
V OtherSigningCertificate(const std::vector<CertIdSpec>& ids);
// The unsigned certificate-values attribute.
V CertificateValuesAttribute(const std::vector<CBlob>& certificates);

struct TokenSpec {
  V tstInfo;  // the TSTInfo DER (eContent)
  std::string eContentType = kIdTstInfo;
  // The digest algorithm named and used for the messageDigest; the signature itself hashes with
  // SHA-256, except under an EdDSA key, which signs the attributes whole.
  const char* digestOid = kSha256;
  std::string signer = "ec";           // fixture whose key signs
  EVP_PKEY* signerKey = nullptr;       // or this key, with
  CBlob signerCertificate;             // this certificate (DER)
  bool contentTypeAttribute = true;    // add contentType naming eContentType
  bool messageDigestAttribute = true;  // add messageDigest over tstInfo
  std::vector<V> signedAttributes;     // further signed attributes, each whole
  std::vector<V> unsignedAttributes;
  std::vector<CBlob> certificates;  // SignedData certificates, in order
  std::vector<V> revocationInfo;    // SignedData crls: RevocationInfoChoice elements, each whole
  bool signerByKeyId = false;       // sid as subjectKeyIdentifier instead of
                                    // issuerAndSerialNumber
  bool flipSignatureByte = false;   // corrupt the signature value
  std::optional<CBlob> signatureValue;  // the signature value as sent, instead of the signature
  std::optional<V> signerIdentifier;    // the SignerIdentifier as sent, instead of the signer's
  std::optional<V> signatureAlgorithm;  // the AlgorithmIdentifier named, instead of the key's
};

// The ContentInfo of a SignedData as specified; throws std::runtime_error when OpenSSL fails.
CBlob ForgeToken(const TokenSpec& spec);

}  // namespace Velmora::Testing::Forge
