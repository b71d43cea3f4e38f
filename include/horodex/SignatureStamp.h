// Time stamps of CMS signatures (CAdES-T): a TSA's token over a signer's signature value, kept
// in that signer's unsigned attribute id-aa-signatureTimeStampToken (1.2.840.113549.1.9.16.2.14).
// It proves the signature existed at the token's genTime, so the signature stays trustworthy
// after its signer's certificate expires or is revoked for a reason that leaves its key sound.
//
//   CSignedMessage message(bytes, size);              // DER, BER or PEM; attached or detached
//   CRequest request;                                 // policies, proxy, authentication
//   request.put_TSAAddress(L"https://tsa.example/");
//   request.put_CertReq(true);                        // the tokens carry the TSA's certificate
//   for (std::size_t i = 0; i < message.get_SignerCount(); ++i) message.Stamp(i, request);
//   CBlob stamped = message.Export();                 // the same message with the tokens added
//
//   CSignatureReport report = VerifySignatureStamps(stamped.pbData(), stamped.cbData(),
//                                                   nullptr, 0, nullptr, 0);
//   if (report.result() == 0) { ... report.signers[0].chainTime ... }
//
// Stamping changes nothing but the signer's unsignedAttrs and the lengths above it: the signed
// attributes, certificates, CRLs, content and other unsigned attributes keep their bytes, so
// every signature verifies as before. A second stamp of a stamped signer is a further attribute;
// the first stays.
//
// Verification judges, per signer: each stamp (its imprint against the signature value, its
// signature and its TSA's chain at its genTime, as CStamp::Verify and VerifyCertificate do), the
// CMS signature under the signer's certificate, and that certificate's chain at the earliest
// genTime among the stamps that verified (the current time when none did), revocation included,
// with the base chain policy.
//
// Failures are thrown as Velmora::Platform::CAtlException with an HRESULT: the codec's ASN.1
// codes for bytes that are not a ContentInfo, CRYPT_E_INVALID_MSG_TYPE for one that is not a
// SignedData, CRYPT_E_NO_SIGNER for a message without signers, CRYPT_E_INVALID_INDEX for a signer
// index past the last, NTE_BAD_SIGNATURE for a signer with an empty signature value,
// CRYPT_E_ASN1_LARGE for one above 1 MiB, 0xC2100140 for a token that is not over the signer's
// signature value, and the failures of CRequest::Send.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "codec/corekit/blob.h"
#include "codec/corekit/datetime.h"
#include "horodex/TSPRequest.h"
#include "horodex/TSPStamp.h"

namespace Velmora::PKI::TSP::Client {

class CSignedMessage {
 public:
  // Reads a ContentInfo of SignedData: DER, BER (indefinite lengths included) or PEM (a
  // "-----BEGIN ...-----" block of any label: CMS, PKCS7, SIGNED DATA).
  CSignedMessage(const unsigned char* data, std::size_t length);
  CSignedMessage(CSignedMessage&&) noexcept;
  CSignedMessage& operator=(CSignedMessage&&) noexcept;
  ~CSignedMessage();

  std::size_t get_SignerCount() const;
  // The index of the first signer whose identifier names `certificate`; CRYPT_E_SIGNER_NOT_FOUND
  // when none does.
  std::size_t FindSigner(Platform::PCCERT_CONTEXT certificate) const;
  // The text naming signer `index`: its certificate's subject when the message carries it, else
  // its identifier (issuer and serial number, or key identifier in hex).
  std::string get_SignerName(std::size_t index) const;

  // The signature time stamps signer `index` carries, each a TimeStampToken's DER as received,
  // in received order (not verified). A value that is not a SEQUENCE throws CRYPT_E_ASN1_BADTAG.
  std::vector<CBlob> get_TimeStamps(std::size_t index) const;
  // The inner content type's dotted OID, and whether the message carries its content.
  const char* get_ContentType() const;
  bool get_IsDetached() const;

  // Sets the hash value of `request` to the hash of signer `index`'s signature value under the
  // request's hash algorithm (its other properties stay).
  void PutSignatureHash(std::size_t index, CRequest& request) const;
  // Adds a token obtained for signer `index` (a TimeStampResp granting one, or a bare
  // TimeStampToken): 0xC2100140 when its imprint is not the hash of that signer's signature
  // value. The message is unchanged on any failure.
  void AddTimeStamp(std::size_t index, const unsigned char* data, unsigned long length);
  // PutSignatureHash, CRequest::Send(true) and AddTimeStamp in one: the returned stamp is the
  // request's. Nothing is added when Send throws.
  CStamp& Stamp(std::size_t index, CRequest& request);

  // The message with every token added so far, in the form read: PEM under its label, DER or
  // BER as received otherwise.
  CBlob Export() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

// One signature time stamp of a signer, as verified.
struct CSignatureStampCheck {
  Platform::HRESULT result = 0;  // S_OK or the first failure's code
  CBlob token;                   // the TimeStampToken's DER, as the signer carries it
  bool hasTime = false;          // the token decoded: the fields below are its
  CDateTime genTime;
  std::string tsa;      // the TSA certificate's subject, else the token's tsa name
  std::string hashOid;  // the imprint's hash algorithm
};

// One signer of a message, as verified.
struct CSignerCheck {
  std::size_t index = 0;
  std::string signer;                        // as CSignedMessage::get_SignerName gives it
  Platform::HRESULT signature = 0;           // the CMS signature: S_OK or its failure's code
  Platform::HRESULT chain = 0;               // the signer certificate's chain at chainTime
  CDateTime chainTime;                       // when the signer's certificate was judged
  bool chainAtStampTime = false;             // chainTime is a verified stamp's genTime (else: now)
  std::vector<CSignatureStampCheck> stamps;  // in the order the signer carries them
  // S_OK when the signature, its chain and every stamp verified; else the first failure's code
  // in that order.
  Platform::HRESULT result() const noexcept;
};

struct CSignatureReport {
  std::vector<CSignerCheck> signers;
  // S_OK when every signer verified (a message without signers: CRYPT_E_NO_SIGNER); else the
  // first failing signer's code.
  Platform::HRESULT result() const noexcept;
};

// Verifies every signer of `message` and its signature time stamps. `content` is the signed data
// of a detached signature (ignored when the message carries its content; a detached signature
// without it throws E_INVALIDARG: nothing can be judged). Certificates are looked for in the
// message, the tokens, `stores` and the user's "AddressBook"; the message's and the tokens' CRLs
// and OCSP responses are the first revocation sources asked; `chainFlags` are added to the
// CertGetCertificateChain flags of every chain built (CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY: no
// revocation data from the network). A message that does not decode throws; every other fault is
// a failed check.
CSignatureReport VerifySignatureStamps(const unsigned char* message, std::size_t length,
                                       const unsigned char* content, std::size_t contentLength,
                                       void** stores, unsigned long count,
                                       Platform::DWORD chainFlags = 0);

}  // namespace Velmora::PKI::TSP::Client
