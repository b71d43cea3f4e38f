// The signature check of one CMS signer, on OpenSSL. The only place where the codec calls it.
#pragma once

#include <span>
#include <string_view>

#include "codec/cms/signer_info.h"
#include "codec/corekit/blob.h"

namespace Velmora::ASN1 {

// Whether `signer` signed `content` under the public key of the DER certificate
// `certificateDer`. Never throws: any fault, a malformed input included, gives false.
//
// With signed attributes:
//   - the messageDigest attribute (exactly one, with one value) must equal the digest of
//     `content` (the eContent octets as received) under the signer's digestAlgorithm;
//   - when `contentType` is not empty, the contentType attribute must be present once and name
//     it (CMS requires it of every signer with signed attributes); pass an empty type for a
//     countersignature, whose content has no type;
//   - the signature must verify over the signed attributes as received with only their [0] tag
//     byte read as the SET tag 0x31; they are never re-encoded.
// Without signed attributes the signature must verify over `content` itself.
//
// Signature algorithms: RSA PKCS#1 v1.5 (rsaEncryption or X.509's id-ea-rsa 2.5.8.1.1 with
// digestAlgorithm's hash, or a hash-with-RSA OID that must agree with digestAlgorithm), RSASSA-PSS
// (its parameters must be present, their hash must agree with digestAlgorithm, trailer field 1),
// ECDSA (id-ecPublicKey or ecdsa-with-*), Ed25519 and Ed448, and GOST R 34.10 where an OpenSSL
// provider offers it. The certificate's key must be of the algorithm's kind. Digests are those
// OpenSSL knows by OID (SHAKE256 gives 64 bytes).
bool VerifySignerInfo(const CSignerInfo& signer, std::string_view contentType, const CBlob* content,
                      std::span<const unsigned char> certificateDer) noexcept;

// The same check with its verdict told apart: Unsupported when the signature algorithm, the
// digest algorithm or the certificate's key is one this check cannot verify (the signature may
// well be good), Invalid for any other failure.
enum class SignatureCheck { Valid, Invalid, Unsupported };
SignatureCheck CheckSignerInfo(const CSignerInfo& signer, std::string_view contentType,
                               const CBlob* content,
                               std::span<const unsigned char> certificateDer) noexcept;

}  // namespace Velmora::ASN1
