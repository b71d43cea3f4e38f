// TSP::CToken: an RFC 3161 TimeStampToken, kept as received.
//
//   TimeStampToken ::= ContentInfo          -- id-signedData, eContentType id-ct-TSTInfo
//   TSTInfo ::= SEQUENCE {
//     version        INTEGER { v1(1) },
//     policy         TSAPolicyId,           -- OBJECT IDENTIFIER
//     messageImprint MessageImprint,
//     serialNumber   INTEGER,
//     genTime        GeneralizedTime,
//     accuracy       Accuracy               OPTIONAL,
//     ordering       BOOLEAN                DEFAULT FALSE,
//     nonce          INTEGER                OPTIONAL,
//     tsa            [0] GeneralName        OPTIONAL,   -- explicit: GeneralName is a CHOICE
//     extensions     [1] IMPLICIT Extensions OPTIONAL }
//   MessageImprint ::= SEQUENCE { hashAlgorithm AlgorithmIdentifier, hashedMessage OCTET STRING }
//
// Decoding is strict about structure: tags, required fields, field order and trailing bytes at
// every level, with only the reader's named BER tolerances (padded or negative INTEGERs, unsorted
// SETs, genTime fractions of any length) and one of its own: ordering written out as FALSE. The
// outer layers (ContentInfo, SignedData, certificates) are read in the reader's BER profile, so
// indefinite lengths and constructed strings are accepted there; the TSTInfo and the signer's
// signed attributes, which the signature covers as DER, in its DER profile, where both are
// refused with CRYPT_E_ASN1_ERROR as a length in a longer form than needed is. The faults that say
// "this is not a time-stamp token" have codes of their own rather than an ASN.1 code:
//   CRYPT_E_INVALID_MSG_TYPE  the ContentInfo is not id-signedData, or its eContentType is not
//                             id-ct-TSTInfo ("Invalid cryptographic message type")
//   CRYPT_E_MSG_ERROR         the SignedData carries no eContent (no TSTInfo), or more than one
//                             signer (RFC 3161 allows only the TSA's signature)
//   CRYPT_E_NO_SIGNER         the SignedData has no signer
// (The platform's CRYPT_E_UNEXPECTED_MSG_TYPE would fit the second case by name, but its
// message text speaks of a private-key property, which would mislead whoever reads it.)
// and anything else malformed throws the reader's ASN.1 code. A failed decode leaves the token
// as it was. Certificates carried in the token are untrusted material, never trust anchors.
#pragma once

#include <cstdint>
#include <string>

#include "codec/asnkit/accuracy.h"
#include "codec/asnkit/algorithm_identifier.h"
#include "codec/asnkit/big_integer.h"
#include "codec/asnkit/extensions.h"
#include "codec/asnkit/general_name.h"
#include "codec/cms/signed_data.h"
#include "codec/corekit/blob.h"
#include "codec/corekit/datetime.h"
#include "codec/corekit/linked_list.h"
#include "platform/base/types.h"

namespace Velmora::PKI::TSP {

class CToken {
 public:
  // An empty token: encode() gives an empty blob, get_signerInfo() throws ERROR_INVALID_STATE.
  CToken() = default;

  // Reads one whole TimeStampToken (DER, or BER in the tolerated forms).
  void decode(const CBlob& encoded);
  // The token exactly as received; empty for an empty token.
  const CBlob& encode() const noexcept { return m_signedData.encode(); }

  std::uint32_t get_version() const noexcept { return m_version; }
  // Dotted OID text of the TSA policy; "" for an empty token.
  const char* get_policy() const noexcept { return m_policy.c_str(); }
  const ASN1::CAlgorithmIdentifierEx& get_hashAlgorithm() const noexcept { return m_hashAlgorithm; }
  const CBlob& get_hashedMessage() const noexcept { return m_hashedMessage; }
  // The serial number's bytes as received (padded or negative ones stay so).
  const ASN1::CBigInteger& get_serialNumber() const noexcept { return m_serialNumber; }
  // genTime to the microsecond (finer fractions are cut).
  CDateTime get_genTime() const noexcept { return m_genTime; }
  const ASN1::CAccuracy* get_accuracy() const noexcept {
    return m_hasAccuracy ? &m_accuracy : nullptr;
  }
  bool get_ordering() const noexcept { return m_ordering; }
  // The nonce's bytes as received, or null when absent.
  const ASN1::CBigInteger* get_nonce() const noexcept { return m_hasNonce ? &m_nonce : nullptr; }
  const ASN1::CGeneralName* get_tsa() const noexcept { return m_hasTsa ? &m_tsa : nullptr; }
  const ASN1::CExtensions* get_extensions() const noexcept {
    return m_hasExtensions ? &m_extensions : nullptr;
  }
  // The X.509 certificates of the SignedData (each DER as received, in received order; other
  // certificate choices such as attribute certificates are left out); null when the token has no
  // certificates field.
  const CBlobList* get_certificates() const noexcept { return m_signedData.get_certificates(); }
  // The one signer of the token.
  const ASN1::CSignerInfo& get_signerInfo() const;

  // The whole SignedData, for readers of the CMS message (inner content type, attributes ...).
  const ASN1::CSignedData& get_signedData() const noexcept { return m_signedData; }
  // The encoded TSTInfo: the eContent octets as received, which the messageDigest covers.
  const CBlob& get_tstInfo() const;

  // Whether the token's signature verifies under the public key of the DER certificate given:
  // the messageDigest attribute equals the digest of the TSTInfo octets as received, the
  // contentType attribute names id-ct-TSTInfo, and the signature over the signed attributes as
  // received is good. Says nothing of the certificate's trust. Never throws; false for an empty
  // token or any malformed input.
  bool verify(const CBlob& certificateDer) const noexcept;
  // The same, with a signature or digest algorithm or key that cannot be verified told apart.
  ASN1::SignatureCheck checkSignature(const CBlob& certificateDer) const noexcept;

  void read(const ASN1::Der::Element& element);
  void write(ASN1::Der::Writer& writer) const;

 private:
  void readTstInfo(const CBlob& tstInfo);

  ASN1::CSignedData m_signedData;
  std::uint32_t m_version = 0;
  std::string m_policy;
  ASN1::CAlgorithmIdentifierEx m_hashAlgorithm;
  CBlob m_hashedMessage;
  ASN1::CBigInteger m_serialNumber;
  CDateTime m_genTime;
  bool m_hasAccuracy = false;
  ASN1::CAccuracy m_accuracy;
  bool m_ordering = false;
  bool m_hasNonce = false;
  ASN1::CBigInteger m_nonce;
  bool m_hasTsa = false;
  ASN1::CGeneralName m_tsa;
  bool m_hasExtensions = false;
  ASN1::CExtensions m_extensions;
};

}  // namespace Velmora::PKI::TSP
