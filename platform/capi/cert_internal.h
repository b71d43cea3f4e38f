// Inside the certificate contexts and stores: what a context is made of, and the few calls the
// stores make on contexts.
//
// A context is a CERT_CONTEXT with a reference count, its properties and a pointer to the
// immutable decoded certificate, which every copy of the certificate shares (a store's copy of a
// context is a new context over the same decoded certificate, as the platform's store elements
// are). A context that lies in a store keeps that store's memory alive; the store holds one
// reference to each of its contexts until it is closed.
#pragma once

#include <openssl/x509.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "codec/asnkit/certificate.h"
#include "platform/capi/wincrypt.h"

namespace Velmora::Platform::Capi {

struct StoreImpl;
struct ChainFacts;  // cert_chain_internal.h

// The decoded certificate and the CERT_INFO over it, shared by every context of one certificate.
class CertData {
 public:
  // Decodes the certificate (the reader's code is thrown for bad bytes).
  explicit CertData(const BYTE* encoded, DWORD length);
  ~CertData();
  CertData(const CertData&) = delete;
  CertData& operator=(const CertData&) = delete;

  const ASN1::CCertificate& certificate() const noexcept { return m_certificate; }
  const CERT_INFO& info() const noexcept { return m_info; }
  std::span<const BYTE> encoded() const noexcept { return m_certificate.encode().span(); }

  // OpenSSL's X509 of the certificate, parsed on the first call and kept; null when OpenSSL
  // refuses the bytes.
  X509* x509() const;

  // The name match keys (cert_name_match.h) of the subject and issuer, made on first use.
  const std::string& subjectKey() const;
  const std::string& issuerKey() const;

  // Whether this certificate's signature verifies under the key of the decoded certificate
  // `issuer`, as kept by keepSignedBy; nothing when not known. Both certificates are immutable,
  // so a verdict found for one pair holds for as long as both live; an entry names its issuer
  // by ownership (a weak pointer), so a freed issuer's memory taken by another certificate is
  // never mistaken for it.
  std::optional<bool> signedBy(const std::shared_ptr<const CertData>& issuer) const;
  void keepSignedBy(const std::shared_ptr<const CertData>& issuer, bool verdict) const;

  // What the chain engine reads of this certificate's extensions and names, read on first use
  // (cert_chain_facts.cpp).
  const ChainFacts& chainFacts() const;

 private:
  ASN1::CCertificate m_certificate;
  CERT_INFO m_info{};
  std::vector<BYTE> m_serialLittleEndian;
  std::vector<CERT_EXTENSION> m_extensions;
  mutable std::mutex m_x509Mutex;
  mutable X509* m_x509 = nullptr;
  mutable bool m_x509Tried = false;
  mutable std::once_flag m_subjectKeyOnce;
  mutable std::once_flag m_issuerKeyOnce;
  mutable std::string m_subjectKey;
  mutable std::string m_issuerKey;
  mutable std::mutex m_signedByMutex;
  mutable std::vector<std::pair<std::weak_ptr<const CertData>, bool>> m_signedBy;
  mutable std::once_flag m_chainFactsOnce;
  mutable std::shared_ptr<const ChainFacts> m_chainFacts;
};

// A key provider information property, held as values.
struct KeyProvInfo {
  struct Param {
    DWORD id = 0;
    std::vector<BYTE> data;
    DWORD flags = 0;
  };
  std::optional<std::wstring> container;
  std::optional<std::wstring> provider;
  DWORD provType = 0;
  DWORD flags = 0;
  std::vector<Param> params;
  DWORD keySpec = 0;
};

using PropertyValue = std::variant<std::vector<BYTE>, KeyProvInfo>;

struct CertContextImpl : CERT_CONTEXT {
  explicit CertContextImpl(std::shared_ptr<const CertData> certificate);

  std::atomic<long> refs{1};
  std::shared_ptr<const CertData> data;
  StoreImpl* store = nullptr;  // holds a memory reference of the store
  mutable std::mutex propertyMutex;
  std::map<DWORD, PropertyValue> properties;
};

inline CertContextImpl* ImplOf(PCCERT_CONTEXT context) noexcept {
  return static_cast<CertContextImpl*>(const_cast<CERT_CONTEXT*>(context));
}

// A new context over the same certificate, with a copy of the properties, lying in `store`
// (which gains a memory reference). Its count is 1.
CertContextImpl* CopyContextInto(const CertContextImpl& source, StoreImpl* store);

// The decoded certificate of an encoding, shared with the contexts made lately of the same bytes
// (the reader's code is thrown for bad bytes).
std::shared_ptr<const CertData> DecodedCertificate(const BYTE* encoded, DWORD length);

// The key identifier of the certificate (see CERT_KEY_IDENTIFIER_PROP_ID), its SHA-1 hash; both
// cached as properties on first use.
std::vector<BYTE> KeyIdentifierOf(const CertContextImpl& context);
std::vector<BYTE> Sha1HashOf(const CertContextImpl& context);

// Equality of two little-endian integers as the platform compares them: insignificant sign bytes
// (trailing 0x00 before a byte below 0x80, trailing 0xFF before one of 0x80 or more) ignored.
bool SameIntegerBlob(const CRYPT_INTEGER_BLOB& a, const CRYPT_INTEGER_BLOB& b) noexcept;

// Drops one memory reference of a store (held by each context in it and by its open handles);
// the last one frees it.
void ReleaseStoreMemory(StoreImpl* store) noexcept;

}  // namespace Velmora::Platform::Capi
