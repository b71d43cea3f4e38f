// CRequest: one RFC 3161 time-stamp request, from the data hash and the request options to the
// DER TimeStampReq, with the connection settings of its TSA.
//
//   CRequest request;                                  // defaults from the client policy set
//   request.put_DataHashAlg("2.16.840.1.101.3.4.2.1");  // SHA-256
//   request.AddData(data, size);                       // as many pieces as needed
//   unsigned long length = 0;
//   request.Export(nullptr, &length);                  // builds: finishes the hash, draws a nonce
//   std::vector<unsigned char> der(length);
//   request.Export(der.data(), &length);
//
// The request is built (hash finished, nonce drawn, DER encoded) only when the encoding is needed,
// and the encoding is cached. A setter that changes what goes into the encoding (certReq, nonce
// use, policy OID, hash algorithm, hash value) empties the cache and sets the HTTP status to 0, so
// the next build draws a fresh nonce; the connection settings (addresses, credentials,
// authentication types, client certificate, flags) do not.
//
// Either a ready hash value is given (put_DataHash) or data is fed through AddData, never both:
// AddData after a hash value was set or finished throws CRYPT_E_EXISTS (0x80092005), and the
// hash algorithm or value cannot be set while data is being hashed (NTE_BAD_HASH_STATE,
// 0x8009000C). ResetData drops both.
//
// Failures are thrown as Velmora::Platform::CAtlException carrying an HRESULT. Byte output
// (get_DataHash, Export) follows the size-query protocol of CStamp: *length receives the size, a
// null buffer asks for the size only, a buffer too small throws ERROR_MORE_DATA (0x800700EA) and a
// null `length` E_POINTER.
//
// Wide text comes in two forms: `wchar_t` (UTF-32 here) and `unsigned short` (UTF-16). Setters are
// overloaded on the two; getters take the character type as a template argument, wchar_t by
// default: get_TSAAddress() and get_TSAAddress<unsigned short>(). Getters return pointers into
// the request, valid until the property changes or the request is destroyed. Narrow text (policy
// and hash OIDs) is in the code set of the calling thread's locale.
//
// A request is used by one thread at a time; distinct requests are independent.
#pragma once

#include <memory>

#include "codec/corekit/blob.h"
#include "horodex/TSPStamp.h"
#include "platform/capi/wincrypt.h"

namespace Velmora::PKI::TSP::Client {

class CRequest {
 public:
  // Authentication schemes of the TSA and the proxy; the numbers are WinHTTP's scheme bits.
  // Setters store any 32-bit value; the policy checks know only these five.
  enum enumAuthTypes : unsigned int {
    Anonym = 0,
    Basic = 1,
    NTLM = 2,
    Digest = 8,
    Negotiate = 16,
  };

  // A request with the defaults of the client policy set: certReq, nonce use, TSA address, proxy,
  // authentication types, hash algorithm (the policy's, else GOST R 34.11-94 where the platform
  // has it, else SHA-256) and policy OID. A policy that cannot be read, or a default hash algorithm
  // the platform does not know, throws and no request exists.
  CRequest();
  // A copy: the policy set is read afresh, the copied values stand (no policy defaults applied).
  // The copy keeps the source's cached encoding, nonce and running hash (hashed so far, fed on
  // independently) but starts with an empty response and stamp and without an HTTP session.
  CRequest(const CRequest& other);
  // Assigns as the copy constructor copies; this request keeps its own stamp and response.
  // Assigning a request to itself changes nothing. On a failure this request is left as it was.
  CRequest& operator=(const CRequest& other);
  ~CRequest();

  void put_CertReq(bool certReq);
  bool get_CertReq() const;
  void put_UseNonce(bool useNonce);
  bool get_UseNonce() const;
  // Caller's option bits. Bit 0: no proxy discovery when no proxy address is given.
  void put_Flags(unsigned long flags);
  unsigned long get_Flags() const;

  // The reqPolicy OID in dotted text; empty text leaves it out.
  void put_PolicyID(const char* oid);
  void put_PolicyID(const wchar_t* oid);
  void put_PolicyID(const unsigned short* oid);
  const char* get_PolicyID() const;

  // The hash algorithm, by ALG_ID or by dotted OID text. An ALG_ID unknown to the OID registry as
  // a hash algorithm throws NTE_BAD_ALGID (0x80090008) and leaves the algorithm as it was. An OID
  // text the registry does not know is accepted with ALG_ID 0: such a request takes its hash
  // value from put_DataHash, and AddData fails for it.
  void put_DataHashAlg(unsigned int algId);
  void put_DataHashAlg(const char* oid);
  void put_DataHashAlg(const wchar_t* oid);
  void put_DataHashAlg(const unsigned short* oid);
  unsigned int get_DataHashAlg() const;
  const char* get_DataHashAlgOID() const;

  // Sets the hash value; its length is not checked against the algorithm. Always invalidates.
  void put_DataHash(const unsigned char* hash, unsigned long length);
  // The hash value; builds the request first (finishing a running hash). No hash value at all
  // throws 0xC2100123.
  void get_DataHash(unsigned char* buffer, unsigned long* length) const;
  // Hashes a further piece of data with a provider of the request's algorithm. A failed call
  // leaves the data hashed before it in the running hash.
  void AddData(const unsigned char* data, unsigned long length);
  // Drops the hash value, the running hash and the cached encoding; the algorithm, the nonce of
  // the last build, the HTTP status, the stamp and the response stay.
  void ResetData();

  // Connection settings; none of them invalidates the request.
  void put_TSAAddress(const wchar_t* url);
  void put_TSAAddress(const unsigned short* url);
  template <typename Char = wchar_t>
  const Char* get_TSAAddress() const {
    static_assert(sizeof(Char) == 0, "wide text is wchar_t or unsigned short");
    return nullptr;
  }
  void put_TSAAuthType(enumAuthTypes type);
  enumAuthTypes get_TSAAuthType() const;
  void put_TSAUserName(const wchar_t* name);
  void put_TSAUserName(const unsigned short* name);
  template <typename Char = wchar_t>
  const Char* get_TSAUserName() const {
    static_assert(sizeof(Char) == 0, "wide text is wchar_t or unsigned short");
    return nullptr;
  }
  void put_TSAPassword(const wchar_t* password);
  void put_TSAPassword(const unsigned short* password);
  template <typename Char = wchar_t>
  const Char* get_TSAPassword() const {
    static_assert(sizeof(Char) == 0, "wide text is wchar_t or unsigned short");
    return nullptr;
  }
  // A null address empties the proxy address; either way the proxy counts as set by the caller,
  // so no proxy discovery takes place.
  void put_ProxyAddress(const wchar_t* url);
  void put_ProxyAddress(const unsigned short* url);
  template <typename Char = wchar_t>
  const Char* get_ProxyAddress() const {
    static_assert(sizeof(Char) == 0, "wide text is wchar_t or unsigned short");
    return nullptr;
  }
  void put_ProxyAuthType(enumAuthTypes type);
  enumAuthTypes get_ProxyAuthType() const;
  void put_ProxyUserName(const wchar_t* name);
  void put_ProxyUserName(const unsigned short* name);
  template <typename Char = wchar_t>
  const Char* get_ProxyUserName() const {
    static_assert(sizeof(Char) == 0, "wide text is wchar_t or unsigned short");
    return nullptr;
  }
  void put_ProxyPassword(const wchar_t* password);
  void put_ProxyPassword(const unsigned short* password);
  template <typename Char = wchar_t>
  const Char* get_ProxyPassword() const {
    static_assert(sizeof(Char) == 0, "wide text is wchar_t or unsigned short");
    return nullptr;
  }

  // A PEM file of CA certificates trusted for the TSA's (and an https proxy's) TLS certificate in
  // addition to the system's trust store: a private TSA's root. Empty (the default): the
  // system's store only. The file is read at each Send; a missing file fails the exchange with
  // ERROR_FILE_NOT_FOUND (0x80070002), one without a PEM certificate with ERROR_INVALID_DATA.
  // It never turns verification off, and it does not make the TSA's signing chain trusted.
  void put_TLSRootFile(const wchar_t* path);
  void put_TLSRootFile(const unsigned short* path);
  template <typename Char = wchar_t>
  const Char* get_TLSRootFile() const {
    static_assert(sizeof(Char) == 0, "wide text is wchar_t or unsigned short");
    return nullptr;
  }

  // Linux addition: bounds each exchange of Send to `overallMs` milliseconds in all, spread over
  // the connect, send and receive time-outs (CHttpTimeouts::Within); 0 (the default) keeps
  // WinHTTP's time-outs: connect 60 s, send and receive 30 s each.
  void put_Timeout(unsigned long overallMs);

  // The certificate for TLS client authentication, or null for none. The request keeps its own
  // reference; the caller keeps ownership of `certificate`. A certificate without a link to its
  // private key is looked up in the user's "My" store, and a copy found there with its key is used
  // instead.
  void put_ClientCertificate(Platform::PCCERT_CONTEXT certificate);
  // The request's own context (not a duplicate; do not free it), or null.
  Platform::PCCERT_CONTEXT get_ClientCertificate() const;

  // The HTTP status of the last exchange; 0 before any and after an invalidating setter.
  unsigned long get_HTTPStatus() const;
  // A copy of the body of the last exchange that came with status 200.
  CBlob get_Response() const;

  // The DER TimeStampReq, built first when it is not cached.
  void Export(unsigned char* buffer, unsigned long* length);
  // Takes a DER TimeStampReq as the cached encoding and sets the properties from it: certReq,
  // nonce use and nonce, the policy OID (kept when the request has none), the hash algorithm and
  // value, the extensions. Bytes that are not one TimeStampReq throw the decoder's code and leave
  // the request as it was.
  void Import(const unsigned char* data, unsigned long length);

  // One time-stamp transaction: checks the policies (the code of the first rule broken), builds
  // the request when it is not cached, refuses an empty TSA address (0xC2100121), POSTs the DER
  // to the TSA, imports the reply into the request's own stamp with the request's checks
  // (CRYPT_E_HASH_VALUE for another message imprint, 0xC2100120 for another nonce), and returns
  // that stamp. Thrown as well: the transport's code below HTTP (0x80072EE7 ...), 0xC2100100 for
  // an HTTP status other than 200, ERROR_INVALID_STATE for a bare token instead of a response,
  // 0xC2100124 for a refused status when `verify` (without `verify` the refused stamp is
  // returned), 0xC2100122 for a stamp without nonce (and a request without one) whose time lies
  // more than StampAccuracy milliseconds from the moment of sending (every value of the policy
  // taken as it is, up to 4294967295 ms, never wrapped to a smaller window), and with `verify` the
  // failure of CStamp::Verify and then of CStamp::VerifyCertificate. After a failure the request
  // stays usable: the HTTP status of the exchange, the last body received with status 200 and
  // whatever the stamp imported stand, and a further Send posts the same bytes (same nonce)
  // unless a property changed in between. The returned reference lives as long as the request.
  CStamp& Send(bool verify);

  // The viewer's page for this request (built first when needed), and the modal sheet.
  Platform::HPROPSHEETPAGE get_PropPage() const;
  void Display(Platform::HWND parent, const wchar_t* caption) const;
  void Display(Platform::HWND parent, const unsigned short* caption) const;

 private:
  friend class CStamp;  // reads the hash value and nonce to check a stamp against its request
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

template <>
const wchar_t* CRequest::get_TSAAddress<wchar_t>() const;
template <>
const unsigned short* CRequest::get_TSAAddress<unsigned short>() const;
template <>
const wchar_t* CRequest::get_TSAUserName<wchar_t>() const;
template <>
const unsigned short* CRequest::get_TSAUserName<unsigned short>() const;
template <>
const wchar_t* CRequest::get_TSAPassword<wchar_t>() const;
template <>
const unsigned short* CRequest::get_TSAPassword<unsigned short>() const;
template <>
const wchar_t* CRequest::get_ProxyAddress<wchar_t>() const;
template <>
const unsigned short* CRequest::get_ProxyAddress<unsigned short>() const;
template <>
const wchar_t* CRequest::get_ProxyUserName<wchar_t>() const;
template <>
const unsigned short* CRequest::get_ProxyUserName<unsigned short>() const;
template <>
const wchar_t* CRequest::get_ProxyPassword<wchar_t>() const;
template <>
const unsigned short* CRequest::get_ProxyPassword<unsigned short>() const;
template <>
const wchar_t* CRequest::get_TLSRootFile<wchar_t>() const;
template <>
const unsigned short* CRequest::get_TLSRootFile<unsigned short>() const;

// Makes a new context from the certificate's encoded bytes and copies the certificate's
// properties onto it, except the ones the platform works out or keeps per store (hashes, key
// identifiers, archival and enrolment state ...). S_OK: *certificate was freed and now holds the
// new context. Otherwise *certificate is left as it was: E_FAIL for a null certificate, or the
// failing step's code.
Platform::HRESULT CloneCertificateWithProperties(Platform::PCCERT_CONTEXT* certificate);

}  // namespace Velmora::PKI::TSP::Client
