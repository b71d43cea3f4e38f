// CStamp: one RFC 3161 time stamp, imported from a TimeStampResp or a bare TimeStampToken.
//
//   CStamp stamp;
//   stamp.Import(bytes, length, nullptr);
//   if (stamp.get_Status() <= 1) {                   // a response; a bare token has no status
//     const Velmora::CDateTime& when = stamp.get_Time();
//     long micros = stamp.get_Accuracy();             // -1 when the token gives none
//   }
//
// Import decodes the message, records the response's status, reads the token's fields and
// collects the certificates the token carries (its SignedData certificates and its
// certificate-values attribute) into a certificate store. The getters read what Import cached;
// none of them decodes anything.
//
// Failures are thrown as Velmora::Platform::CAtlException carrying an HRESULT. A getter of a token
// field on a stamp that holds no token throws ERROR_INVALID_STATE (0x8007139F); so do the status
// getters when the stamp was not imported from a response.
//
// Byte output (get_DataHash, get_SerialNumber, get_TSABlob, Export): the caller passes a buffer
// and, in *length, its size. *length is always set to the size of the value; a null buffer asks
// for the size only; a buffer too small throws ERROR_MORE_DATA (0x800700EA) after *length was
// set. A null `length` throws E_POINTER.
//
// Wide text comes in two forms, as on the original platform: `wchar_t` (UTF-32 here) and
// `unsigned short` (UTF-16). The getters take the character type as a template argument, wchar_t
// by default: get_TSA() and get_TSA<unsigned short>(). Both return pointers into the stamp,
// valid until the next Import, assignment or destruction.
//
// A stamp is used by one thread at a time. Copies share the certificate store (see
// get_Certificates) and may live on different threads.
#pragma once

#include <memory>

#include "codec/corekit/datetime.h"
#include "platform/capi/wincrypt.h"
#include "platform/capi/wincrypt_chain.h"

namespace Velmora::PKI::TSP::Client {

class CRequest;

class CStamp {
 public:
  // An empty stamp with a new, empty in-memory certificate store. A store that cannot be opened
  // throws the platform's HRESULT.
  CStamp();
  // A copy of every field; the copy shares the source's certificate store.
  CStamp(const CStamp& other);
  // Empties this stamp, then copies `other` as the copy constructor does. Assigning a stamp to
  // itself changes nothing.
  CStamp& operator=(const CStamp& other);
  ~CStamp();

  // Imports `length` bytes at `data`: a TimeStampResp, or else a bare TimeStampToken. Every
  // import starts from an empty stamp (the default accuracy included) and a new certificate
  // store; a failed import leaves the stamp without a token. Thrown:
  //   - the token decoder's code for bytes that are neither (CRYPT_E_ASN1_*,
  //     CRYPT_E_INVALID_MSG_TYPE ...);
  //   - E_FAIL for a response status above 6; CRYPT_E_ASN1_INTERNAL (0x80093101) for a granted
  //     response without a token;
  //   - CRYPT_E_NOT_FOUND for a message-imprint hash algorithm the OID registry does not know,
  //     NTE_BAD_ALGID for one without a CryptoAPI algorithm;
  //   - CRYPT_E_ASN1_LARGE for an accuracy of 2^31 microseconds or more (about 35 minutes 48
  //     seconds), which the stamp's microsecond count cannot hold;
  //   - the certificate decoder's code for a certificate of the token that does not parse;
  //   - E_INVALIDARG for a null `data` with a non-zero `length`;
  //   - with a `request` given, for a token that does not answer it: CRYPT_E_HASH_VALUE
  //     (0x80091007) when its message-imprint hash differs from the request's hash value (the
  //     algorithms are not compared), 0xC2100120 when its nonce differs from the request's or is
  //     present on one side only. A null `request` skips both checks.
  // A response with status 2 to 6 is not a failure: the stamp then holds the status but no
  // token.
  void Import(const unsigned char* data, unsigned long length, const CRequest* request);

  // The response's PKIStatus (0 to 6), its failInfo bits (0 when absent) and its statusString
  // texts joined without separator (empty when absent). Only after a response was imported.
  unsigned int get_Status() const;
  unsigned int get_FailInfo() const;
  template <typename Char = wchar_t>
  const Char* get_StatusString() const {
    static_assert(sizeof(Char) == 0, "wide text is wchar_t or unsigned short");
    return nullptr;
  }

  // The token's certificates: the store the stamp owns (not duplicated; duplicate it to keep it).
  void* get_Certificates() const;
  // The CryptoAPI identifier and the dotted OID of the message-imprint hash algorithm.
  unsigned int get_DataHashAlg() const;
  const char* get_DataHashAlgOID() const;
  // The message-imprint hash value.
  void get_DataHash(unsigned char* buffer, unsigned long* length) const;
  // The TSA policy's dotted OID.
  const char* get_PolicyID() const;
  // The serial number's bytes as the token carries them (big-endian two's complement).
  void get_SerialNumber(unsigned char* buffer, unsigned long* length) const;
  // genTime, to the microsecond.
  const CDateTime& get_Time() const;
  // The token's accuracy in microseconds, -1 when it gives none (the default is not applied).
  long get_Accuracy() const;
  bool get_Ordering() const;
  // The accuracy Compare assumes for a token without one; -1 (none) after every Import.
  void put_DefaultAccuracy(long microseconds);
  long get_DefaultAccuracy() const;
  bool get_HasNonce() const;
  // The display text of the token's tsa name; empty when the token has none.
  template <typename Char = wchar_t>
  const Char* get_TSA() const {
    static_assert(sizeof(Char) == 0, "wide text is wchar_t or unsigned short");
    return nullptr;
  }
  // The DER GeneralName of the token's tsa field; length 0 when absent.
  void get_TSABlob(unsigned char* buffer, unsigned long* length) const;

  // The TimeStampToken's DER (also when a response was imported). A response with failInfo bits
  // throws the code of its lowest set bit first: badAlg NTE_BAD_ALGID, badRequest,
  // unacceptedPolicy and unacceptedExtension NTE_NOT_SUPPORTED, badDataFormat NTE_BAD_DATA, any
  // other ERROR_INVALID_STATE.
  void Export(unsigned char* buffer, unsigned long* length) const;

  // Orders this stamp against `other` in time: -1 before, 1 after, 0 at the same time or when the
  // two cannot be told apart. Two stamps of the same TSA that both set ordering are ordered by
  // genTime alone; otherwise each genTime stands for the interval genTime +- accuracy (the
  // token's, else the default accuracy) and only intervals that do not touch are ordered; a stamp
  // without any accuracy cannot be ordered. `other` must be imported; a null `other` throws
  // E_POINTER.
  int Compare(const CStamp* other) const;

  // Checks the token's signature under the TSA certificate and its critical extensions against
  // `list` (null: none accepted, "*": all, else OIDs joined by ";"). Returns S_OK or a failure.
  int Verify(const Platform::CERT_CONTEXT* certificate, char* list) const;
  // The TSA certificate, found through the signing-certificate attribute or the CMS signer id in
  // the token's certificates, the caller's stores and the user's "AddressBook"; null if none.
  const Platform::CERT_CONTEXT* get_TSACertificate(void** stores, unsigned long count) const;
  // Judges the chain of `certificate` (the TSA certificate when null) at the stamp's time with the
  // time-stamping chain policy. Returns S_OK or the policy's error code.
  int VerifyCertificate(const Platform::CERT_CONTEXT* certificate, void** stores,
                        unsigned long count) const;
  // The same with CertGetCertificateChain flags on top of those the administrator's policies give
  // (CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY: no revocation data from the network) and, when
  // `chain` is not null, the chain judged in `*chain` (null when none was built; free it with
  // CertFreeCertificateChain), whose elements tell each certificate's status and revocation.
  int VerifyCertificate(const Platform::CERT_CONTEXT* certificate, void** stores,
                        unsigned long count, Platform::DWORD chainFlags,
                        const Platform::CERT_CHAIN_CONTEXT** chain) const;

  // The viewer's page for this stamp, and the modal sheet that shows it.
  Platform::HPROPSHEETPAGE get_PropPage() const;
  void Display(Platform::HWND parent, const wchar_t* caption) const;
  void Display(Platform::HWND parent, const unsigned short* caption) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

template <>
const wchar_t* CStamp::get_StatusString<wchar_t>() const;
template <>
const unsigned short* CStamp::get_StatusString<unsigned short>() const;
template <>
const wchar_t* CStamp::get_TSA<wchar_t>() const;
template <>
const unsigned short* CStamp::get_TSA<unsigned short>() const;

}  // namespace Velmora::PKI::TSP::Client
