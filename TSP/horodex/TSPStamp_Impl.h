// The state of one CStamp, and the private steps of its import.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "TSP/horodex/CapiHandles.h"
#include "TSP/horodex/CertStoreHandle.h"
#include "codec/asnkit/big_integer.h"
#include "codec/asnkit/ess.h"
#include "codec/cms/signer_info.h"
#include "codec/corekit/blob.h"
#include "codec/corekit/datetime.h"
#include "codec/stampmsg/token.h"
#include "horodex/TSPStamp.h"
#include "platform/text/convert.h"

namespace Velmora::PKI::TSP::Client {

struct CStamp::Impl {
  // PKIStatus of the imported response (0 granted ... 6), its statusString texts joined without
  // separator, and its failInfo bits (0 when absent); meaningful only when fromResponse.
  std::uint32_t status = 0;
  std::wstring statusString;
  std::uint32_t failInfo = 0;
  // True when the last import decoded a TimeStampResp.
  bool fromResponse = false;
  // The token's certificates; always holds a store once the stamp is built. Stamp copies share
  // it.
  CertStoreHandle certStore;
  // The TSA certificate, once found; belongs to the token in encodedToken.
  CertContextPtr tsaCertificate;
  // The hash of the ESS identifier that named it (the signing-certificate attributes' first).
  std::string signerCertIdHash;
  std::string policyID;
  ASN1::CBigInteger nonce;  // empty when the token has none
  ASN1::CBigInteger serialNumber;
  CDateTime genTime;
  // Microseconds; -1 when absent (accuracy) or not set (defaultAccuracy). An imported accuracy is
  // at most 2^31 - 1.
  long accuracy = -1;
  long defaultAccuracy = -1;
  bool ordering = false;
  Platform::ALG_ID hashAlg = 0;
  std::string hashAlgOID;
  std::wstring tsaName;
  CBlob tsaBlob;  // DER GeneralName; empty when the token has no tsa field
  CBlob hashedMessage;
  // The TimeStampToken's DER; not empty exactly when a token is imported.
  CBlob encodedToken;
  // encodedToken decoded, kept from the import so that verifying does not decode it again; null
  // exactly when no token is held. Stamp copies share it.
  std::shared_ptr<const TSP::CToken> token;
  // Decode message over encodedToken, opened on first need; belongs to that token.
  CryptMsgPtr message;
  // The UTF-16 forms of the two wide texts, for the `unsigned short` getters.
  Platform::Utf16String statusString16;
  Platform::Utf16String tsaName16;

  // Copies every field of `other` except the message and the TSA certificate; shares its store.
  void copyFrom(const Impl& other);

  // Back to empty: no message, no TSA certificate, a new in-memory store, the fields cleared
  // (genTime becomes the current time; ordering and hashAlg keep their values).
  void Reset();
  // Opens `message` over encodedToken: over the SignedData of `token` when the import decoded
  // it, else feeding it the whole token. E_FAIL when one is already open; otherwise S_OK or the
  // HRESULT of the step that failed (the handle stays open when the update fails).
  Platform::HRESULT OpenMessage();
  // Adds the certificates of the unsigned certificate-values attributes to the store.
  Platform::HRESULT AddCertificateValues();
  // Makes a context of one DER certificate and adds a copy of it to the store.
  Platform::HRESULT AddCertificate(const CBlob& certificate);

  // Verification (TSPStamp_Verify.cpp).

  // The signed attributes of signer 0, laid out in a buffer of their own.
  struct SignedAttributes {
    std::vector<std::uint64_t> buffer;  // aligned storage the attributes point into
    const Platform::CRYPT_ATTRIBUTES* attributes = nullptr;
  };
  // Reads them from the message (or, when the platform cannot give them as attributes, by
  // decoding the encoded signer); a failure throws its HRESULT.
  static SignedAttributes GetSignedAttributes(Platform::HCRYPTMSG message);
  // Whether the inner content type is id-ct-TSTInfo and the signed contentType attribute names
  // the same type.
  static bool CheckContentType(Platform::HCRYPTMSG message);
  // The signer's identifier from the signing-certificate attributes; CRYPT_E_NOT_FOUND when it
  // is given only in the bare SHA-1 form.
  Platform::HRESULT ReadSignerCertId(ASN1::COtherCertID& id);
  // Fills tsaCertificate with the certificate the signing-certificate attribute names: the
  // candidate, else the first match in the token's store, the caller's stores, the user's
  // "AddressBook".
  Platform::HRESULT FindTSACertificate(void** stores, unsigned long count,
                                       Platform::PCCERT_CONTEXT candidate);
  // Whether the signer's identifier (issuer and serial number, or key identifier) names
  // tsaCertificate, the certificate the signing-certificate attribute selected.
  bool SignerIdNamesTsaCertificate(const ASN1::CSignerInfo& signer) const;
  // Fills tsaCertificate with the certificate the CMS signer identifier names, searched in the
  // same places.
  Platform::HRESULT FindTSACertificateBySignerId(void** stores, unsigned long count);
  // Adds `member` to the collection and keeps it alive as long as the collection.
  static Platform::HRESULT AddStoreToCollection(CertStoreHandle& collection,
                                                const CertStoreHandle& member);
};

}  // namespace Velmora::PKI::TSP::Client
