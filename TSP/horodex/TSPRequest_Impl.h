// The state of one CRequest, and the private steps of its building, hashing and policy checks.
#pragma once

#include <string>

#include "TSP/horodex/CapiHandles.h"
#include "codec/asnkit/big_integer.h"
#include "codec/asnkit/extensions.h"
#include "codec/corekit/blob.h"
#include "horodex/TSPRequest.h"
#include "horodex/TSPStamp.h"
#include "horodex/winhttp2.h"
#include "platform/capi/crypt_hash.h"
#include "platform/text/convert.h"
#include "policy/ClientPolicies.h"

namespace Velmora::PKI::TSP::Client {

// Owns one reference to a provider context; 0 is none.
class HashProvider {
 public:
  HashProvider() = default;
  explicit HashProvider(Platform::HCRYPTPROV handle) noexcept : m_handle(handle) {}
  HashProvider(const HashProvider&) = delete;
  HashProvider& operator=(const HashProvider&) = delete;
  ~HashProvider() { reset(); }
  Platform::HCRYPTPROV get() const noexcept { return m_handle; }
  // Releases the reference held; a release the platform refuses is thrown.
  void release();
  // Gives up the reference held without releasing it.
  Platform::HCRYPTPROV detach() noexcept {
    const Platform::HCRYPTPROV handle = m_handle;
    m_handle = 0;
    return handle;
  }
  // Takes one more reference to `handle` (or none for 0), after releasing the one held.
  void share(Platform::HCRYPTPROV handle);
  void reset(Platform::HCRYPTPROV handle = 0) noexcept;

 private:
  Platform::HCRYPTPROV m_handle = 0;
};

// Owns one hash object; 0 is none.
class HashObject {
 public:
  HashObject() = default;
  HashObject(const HashObject&) = delete;
  HashObject& operator=(const HashObject&) = delete;
  ~HashObject() { reset(); }
  Platform::HCRYPTHASH get() const noexcept { return m_handle; }
  Platform::HCRYPTHASH* put() noexcept {
    reset();
    return &m_handle;
  }
  explicit operator bool() const noexcept { return m_handle != 0; }
  // Gives up the object held without destroying it.
  Platform::HCRYPTHASH detach() noexcept {
    const Platform::HCRYPTHASH handle = m_handle;
    m_handle = 0;
    return handle;
  }
  void reset(Platform::HCRYPTHASH handle = 0) noexcept;

 private:
  Platform::HCRYPTHASH m_handle = 0;
};

struct CRequest::Impl {
  HashObject hash;  // running hash fed by AddData; none when no data is being hashed
  bool certReq = false;
  bool useNonce = false;
  Platform::DWORD flags = 0;
  std::string policyID;  // dotted OID; empty: no reqPolicy
  Platform::ALG_ID hashAlg = 0;
  std::string hashAlgOID;  // what the built request carries
  CBlob dataHash;
  CBlob encodedRequest;          // cached DER; empty: to be built
  ASN1::CBigInteger nonce;       // of the last built or imported request; empty: it had none
  ASN1::CExtensions extensions;  // of an imported request
  CertContextPtr clientCert;     // http.clientCert is the same pointer, not owned there
  CHttpSettings http;
  CStamp stamp;
  CBlob response;
  HashProvider hashProv;  // provider of the running (or last) hash
  CClientPolicies policies;

  // UTF-16 copies of the wide texts of `http`, for the `unsigned short` getters.
  Platform::Utf16String url16, serverUserName16, serverPassword16, proxy16, proxyUserName16,
      proxyPassword16, tlsRootFile16;

  // Empties the cached encoding and the HTTP status.
  void Invalidate() noexcept {
    encodedRequest.clear();
    http.httpStatus = 0;
  }
  // Refreshes the UTF-16 copies from `http`.
  void SyncUtf16();
  // Takes every value of `source` as the copy rules say; `source` is not this object. The policy
  // set is read afresh. On a failure this object is left as it was.
  void Assign(const Impl& source);

  void PutDataHashAlg(Platform::ALG_ID algId);
  void PutDataHashAlg(const char* oid);
  void PutPolicyID(const char* oid);
  // Builds and caches the encoding unless it is cached.
  void MakeRequest();
  // Throws the code of the first policy rule the request breaks.
  void CheckPolicies() const;
};

// A provider context supporting `algId`, with one reference for the caller; 0 when none does
// (the thread's last error then says why).
Platform::HCRYPTPROV AcquireHashProvider(Platform::ALG_ID algId);

// Whether a stamp's `time` lies in the closed window from t0 - A to t0 + A, where A is
// `accuracyMs` milliseconds (the StampAccuracy policy). The span is computed in 64 bits, so every
// value the policy can hold means what it says (up to about 49.7 days either way) instead of
// wrapping to a tiny window above 4294967 ms.
bool StampTimeInWindow(const CDateTime& time, const CDateTime& t0, Platform::DWORD accuracyMs);

// An integer of `length` random bytes, read as two's complement (so possibly negative).
ASN1::CBigInteger GenerateNonce(unsigned long length);

}  // namespace Velmora::PKI::TSP::Client
