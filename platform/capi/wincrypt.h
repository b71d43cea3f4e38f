// Certificate contexts, certificate stores and CMS decode messages of the platform layer: the
// CryptoAPI operations the library is written against, under their own names, types and error
// conventions, on our own DER codec (and on OpenSSL only where a certificate must be handed to
// its chain or signature code).
//
// Conventions every operation here keeps:
//   - A failure returns FALSE or null and sets the calling thread's last error
//     (Platform::GetLastError): E_INVALIDARG for a null or malformed argument, CRYPT_E_NOT_FOUND
//     when a search finds nothing, ERROR_MORE_DATA when a caller's buffer is too small, the
//     decoder's CRYPT_E_ASN1_* code when bytes do not decode, E_OUTOFMEMORY when memory runs out.
//     Success leaves the last error alone, as the platform does, unless said otherwise.
//   - Variable-size results follow the size-query protocol: a null buffer asks for the size, which
//     is stored in *pcbData; a buffer smaller than *pcbData fails with ERROR_MORE_DATA after
//     *pcbData was set to the size needed. Structures laid out in a caller's buffer (attribute
//     lists, certificate identifiers, key provider information) point into that same buffer, which
//     must be aligned for pointers (any buffer from malloc or new is); a misaligned one is refused
//     with E_INVALIDARG.
//   - Handles (HCERTSTORE, HCRYPTMSG) are opaque pointers counted by reference: each open or
//     duplicate is matched by one close. Certificate contexts are counted the same way: each
//     create, duplicate, enumeration or find result is matched by one CertFreeCertificateContext.
//     The counts are atomic, and stores and messages may be shared between threads; a store
//     guards its list with a lock. Contexts and handles must come from this layer.
//   - Only X.509/PKCS #7 ASN.1 encodings exist here (X509_ASN_ENCODING, PKCS_7_ASN_ENCODING).
#pragma once

#include <cstdint>
#include <memory>

#include "platform/base/types.h"

namespace Velmora::ASN1 {
class CSignedData;  // codec/cms/signed_data.h
}

namespace Velmora::Platform {

using LPCSTR = const char*;
using LPSTR = char*;
using LPWSTR = wchar_t*;
using LPCWSTR = const wchar_t*;
using ULONG_PTR = std::uintptr_t;
using HCRYPTPROV = ULONG_PTR;
using HCRYPTPROV_LEGACY = ULONG_PTR;
using HCERTSTORE = void*;
using HCRYPTMSG = void*;

// Encoding types.
inline constexpr DWORD X509_ASN_ENCODING = 0x00000001;
inline constexpr DWORD PKCS_7_ASN_ENCODING = 0x00010000;
inline constexpr DWORD CERT_ENCODING_TYPE_MASK = 0x0000FFFF;
inline constexpr DWORD CMSG_ENCODING_TYPE_MASK = 0xFFFF0000;

// ---------------------------------------------------------------------------------------------
// Certificate contexts

struct CRYPT_BIT_BLOB {
  DWORD cbData;
  BYTE* pbData;
  DWORD cUnusedBits;
};
using CERT_NAME_BLOB = CRYPT_DATA_BLOB;
using CRYPT_HASH_BLOB = CRYPT_DATA_BLOB;
using CRYPT_ATTR_BLOB = CRYPT_DATA_BLOB;
using PCRYPT_ATTR_BLOB = CRYPT_ATTR_BLOB*;

struct CRYPT_ALGORITHM_IDENTIFIER {
  LPSTR pszObjId;
  CRYPT_OBJID_BLOB Parameters;  // the parameters' DER; empty when absent
};

struct CERT_PUBLIC_KEY_INFO {
  CRYPT_ALGORITHM_IDENTIFIER Algorithm;
  CRYPT_BIT_BLOB PublicKey;
};

struct CERT_EXTENSION {
  LPSTR pszObjId;
  BOOL fCritical;
  CRYPT_OBJID_BLOB Value;  // the extnValue OCTET STRING's contents
};
using PCERT_EXTENSION = CERT_EXTENSION*;

// The decoded certificate. SerialNumber holds the INTEGER's content octets in little-endian
// order, as the platform keeps them (the byte received last comes first; sign bytes are kept).
// Issuer and Subject are the Names' DER as received. The times are the validity's instants.
struct CERT_INFO {
  DWORD dwVersion;  // CERT_V1, CERT_V2 or CERT_V3
  CRYPT_INTEGER_BLOB SerialNumber;
  CRYPT_ALGORITHM_IDENTIFIER SignatureAlgorithm;
  CERT_NAME_BLOB Issuer;
  FILETIME NotBefore;
  FILETIME NotAfter;
  CERT_NAME_BLOB Subject;
  CERT_PUBLIC_KEY_INFO SubjectPublicKeyInfo;
  CRYPT_BIT_BLOB IssuerUniqueId;
  CRYPT_BIT_BLOB SubjectUniqueId;
  DWORD cExtension;
  PCERT_EXTENSION rgExtension;
};
using PCERT_INFO = CERT_INFO*;
using PCCERT_INFO = const CERT_INFO*;

inline constexpr DWORD CERT_V1 = 0;
inline constexpr DWORD CERT_V2 = 1;
inline constexpr DWORD CERT_V3 = 2;

// A certificate context: the encoded certificate and its decoded information, both owned by the
// context and valid until its last reference is freed. hCertStore is the store that holds the
// context, or null for a context made by CertCreateCertificateContext.
struct CERT_CONTEXT {
  DWORD dwCertEncodingType;
  BYTE* pbCertEncoded;
  DWORD cbCertEncoded;
  PCERT_INFO pCertInfo;
  HCERTSTORE hCertStore;
};
using PCERT_CONTEXT = CERT_CONTEXT*;
using PCCERT_CONTEXT = const CERT_CONTEXT*;

// Makes a context from one DER certificate (the bytes are copied). `dwCertEncodingType` must
// include X509_ASN_ENCODING. Bytes that are not one whole certificate fail with the decoder's
// CRYPT_E_ASN1_* code. Free the result with CertFreeCertificateContext.
PCCERT_CONTEXT CertCreateCertificateContext(DWORD dwCertEncodingType, const BYTE* pbCertEncoded,
                                            DWORD cbCertEncoded);
// Takes one more reference to the context and returns it (the same pointer); null gives null.
PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT pCertContext);
// Drops one reference; the last one frees the context. Null is accepted. Always TRUE.
BOOL CertFreeCertificateContext(PCCERT_CONTEXT pCertContext);

// Whether the two certificates have the same issuer and serial number (byte-wise, as the
// platform compares them).
BOOL CertCompareCertificate(DWORD dwCertEncodingType, PCCERT_INFO pCertId1, PCCERT_INFO pCertId2);
// Whether two encoded names are the same bytes.
BOOL CertCompareCertificateName(DWORD dwCertEncodingType, const CERT_NAME_BLOB* pCertName1,
                                const CERT_NAME_BLOB* pCertName2);

// Context properties.
inline constexpr DWORD CERT_KEY_PROV_HANDLE_PROP_ID = 1;
inline constexpr DWORD CERT_KEY_PROV_INFO_PROP_ID = 2;
inline constexpr DWORD CERT_SHA1_HASH_PROP_ID = 3;
inline constexpr DWORD CERT_MD5_HASH_PROP_ID = 4;
inline constexpr DWORD CERT_HASH_PROP_ID = CERT_SHA1_HASH_PROP_ID;
inline constexpr DWORD CERT_KEY_CONTEXT_PROP_ID = 5;
inline constexpr DWORD CERT_KEY_SPEC_PROP_ID = 6;
inline constexpr DWORD CERT_FRIENDLY_NAME_PROP_ID = 11;
inline constexpr DWORD CERT_KEY_IDENTIFIER_PROP_ID = 20;
inline constexpr DWORD CERT_SHA256_HASH_PROP_ID = 107;

// Flags of CertSetCertificateContextProperty.
inline constexpr DWORD CERT_SET_PROPERTY_INHIBIT_PERSIST_FLAG = 0x40000000;
inline constexpr DWORD CERT_SET_PROPERTY_IGNORE_PERSIST_ERROR_FLAG = 0x80000000;

struct CRYPT_KEY_PROV_PARAM {
  DWORD dwParam;
  BYTE* pbData;
  DWORD cbData;
  DWORD dwFlags;
};
using PCRYPT_KEY_PROV_PARAM = CRYPT_KEY_PROV_PARAM*;

// The link from a certificate to its private key. Here pwszContainerName names the key (the
// path of its key file for the file-backed stores), pwszProvName the provider that holds it.
struct CRYPT_KEY_PROV_INFO {
  LPWSTR pwszContainerName;
  LPWSTR pwszProvName;
  DWORD dwProvType;
  DWORD dwFlags;
  DWORD cProvParam;
  PCRYPT_KEY_PROV_PARAM rgProvParam;
  DWORD dwKeySpec;
};

// Reads a property by the size-query protocol. CERT_SHA1_HASH_PROP_ID, CERT_MD5_HASH_PROP_ID,
// CERT_SHA256_HASH_PROP_ID and CERT_KEY_IDENTIFIER_PROP_ID (the subjectKeyIdentifier extension,
// else the SHA-1 hash of the subjectPublicKey bits) are worked out on first read and kept on the
// context. CERT_KEY_PROV_INFO_PROP_ID is laid out as a CRYPT_KEY_PROV_INFO with its texts and
// parameters after it; every other property is its bytes. A property the context does not have
// fails with CRYPT_E_NOT_FOUND.
BOOL CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, void* pvData,
                                       DWORD* pcbData);
// Sets (or, with null pvData, removes) a property. CERT_KEY_PROV_INFO_PROP_ID takes a
// const CRYPT_KEY_PROV_INFO*, every other identifier a const CRYPT_DATA_BLOB*; both are copied.
// Identifier 0 fails with E_INVALIDARG. Properties are shared by every reference to the context.
BOOL CertSetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, DWORD dwFlags,
                                       const void* pvData);
// The identifier of the property after `dwPropId` (0: the first), in increasing order; 0 when
// there is none.
DWORD CertEnumCertificateContextProperties(PCCERT_CONTEXT pCertContext, DWORD dwPropId);

// ---------------------------------------------------------------------------------------------
// Certificate stores

// Store providers: small numbers in the place of a name, as the platform spells them, or the
// names "Memory" and "Collection".
inline const LPCSTR CERT_STORE_PROV_MEMORY = reinterpret_cast<LPCSTR>(std::uintptr_t{2});
inline const LPCSTR CERT_STORE_PROV_SYSTEM_W = reinterpret_cast<LPCSTR>(std::uintptr_t{10});
inline const LPCSTR CERT_STORE_PROV_COLLECTION = reinterpret_cast<LPCSTR>(std::uintptr_t{11});
inline constexpr const char* sz_CERT_STORE_PROV_MEMORY = "Memory";
inline constexpr const char* sz_CERT_STORE_PROV_COLLECTION = "Collection";

// Open flags; the ones a memory or collection store has no use for are accepted and ignored.
inline constexpr DWORD CERT_STORE_NO_CRYPT_RELEASE_FLAG = 0x00000001;
inline constexpr DWORD CERT_STORE_DEFER_CLOSE_UNTIL_LAST_FREE_FLAG = 0x00000004;
inline constexpr DWORD CERT_STORE_READONLY_FLAG = 0x00008000;
inline constexpr DWORD CERT_STORE_CREATE_NEW_FLAG = 0x00002000;
inline constexpr DWORD CERT_SYSTEM_STORE_CURRENT_USER = 0x00010000;
inline constexpr DWORD CERT_SYSTEM_STORE_LOCAL_MACHINE = 0x00020000;

// Close flags.
inline constexpr DWORD CERT_CLOSE_STORE_FORCE_FLAG = 0x00000001;
inline constexpr DWORD CERT_CLOSE_STORE_CHECK_FLAG = 0x00000002;

// Add dispositions. "The same certificate" is one with the same encoded bytes.
inline constexpr DWORD CERT_STORE_ADD_NEW = 1;               // fail with CRYPT_E_EXISTS
inline constexpr DWORD CERT_STORE_ADD_USE_EXISTING = 2;      // keep the existing one
inline constexpr DWORD CERT_STORE_ADD_REPLACE_EXISTING = 3;  // replace it
inline constexpr DWORD CERT_STORE_ADD_ALWAYS = 4;            // add another copy
inline constexpr DWORD CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES = 5;

// CertAddStoreToCollection flags.
inline constexpr DWORD CERT_PHYSICAL_STORE_ADD_ENABLE_FLAG = 0x1;

// Find types and the pvFindPara each takes.
inline constexpr DWORD CERT_COMPARE_SHIFT = 16;
inline constexpr DWORD CERT_FIND_ANY = 0;                        // none
inline constexpr DWORD CERT_FIND_SHA1_HASH = 1u << 16;           // const CRYPT_HASH_BLOB*
inline constexpr DWORD CERT_FIND_HASH = CERT_FIND_SHA1_HASH;     //
inline constexpr DWORD CERT_FIND_ISSUER_NAME = (2u << 16) | 4;   // const CERT_NAME_BLOB*
inline constexpr DWORD CERT_FIND_SUBJECT_NAME = (2u << 16) | 7;  // const CERT_NAME_BLOB*
inline constexpr DWORD CERT_FIND_SUBJECT_CERT = 11u << 16;       // const CERT_INFO* (issuer,
                                                                 //  serial number)
inline constexpr DWORD CERT_FIND_EXISTING = 13u << 16;           // PCCERT_CONTEXT
inline constexpr DWORD CERT_FIND_KEY_IDENTIFIER = 15u << 16;     // const CRYPT_HASH_BLOB*
inline constexpr DWORD CERT_FIND_CERT_ID = 16u << 16;            // const CERT_ID*

struct CERT_ISSUER_SERIAL_NUMBER {
  CERT_NAME_BLOB Issuer;
  CRYPT_INTEGER_BLOB SerialNumber;  // little-endian, as in CERT_INFO
};

inline constexpr DWORD CERT_ID_ISSUER_SERIAL_NUMBER = 1;
inline constexpr DWORD CERT_ID_KEY_IDENTIFIER = 2;
inline constexpr DWORD CERT_ID_SHA1_HASH = 3;

struct CERT_ID {
  DWORD dwIdChoice;
  union {
    CERT_ISSUER_SERIAL_NUMBER IssuerSerialNumber;
    CRYPT_HASH_BLOB KeyId;
    CRYPT_HASH_BLOB HashId;
  };
};

// Opens a store. CERT_STORE_PROV_MEMORY: an empty store in memory. CERT_STORE_PROV_COLLECTION:
// an empty collection, which shows the certificates of the stores added to it.
// CERT_STORE_PROV_SYSTEM_W: the system store named by the wide text pvPara ("My", "Root" ...) of
// the location in dwFlags (CERT_SYSTEM_STORE_CURRENT_USER or _LOCAL_MACHINE), read from its
// folder of certificate files into memory (platform/capi/cert_system_store.cpp). Other providers
// fail with ERROR_CALL_NOT_IMPLEMENTED. Close with CertCloseStore.
HCERTSTORE CertOpenStore(LPCSTR lpszStoreProvider, DWORD dwEncodingType,
                         HCRYPTPROV_LEGACY hCryptProv, DWORD dwFlags, const void* pvPara);
// Takes one more reference to the store and returns it; null gives null.
HCERTSTORE CertDuplicateStore(HCERTSTORE hCertStore);
// Drops one reference; the last one closes the store: its certificates are released, and the
// store's memory is freed once no context of it is referenced any more. Null is accepted. With
// CERT_CLOSE_STORE_CHECK_FLAG, closing while contexts of the store are still referenced returns
// FALSE with CRYPT_E_PENDING_CLOSE (the store is closed all the same). CERT_CLOSE_STORE_FORCE_FLAG
// is accepted but frees nothing that is still referenced.
BOOL CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags);

// Adds a copy of the context (with its properties) to the store as `dwAddDisposition` says, and
// returns the store's context in *ppStoreContext when that is not null (free it). A collection
// adds to its first member added with CERT_PHYSICAL_STORE_ADD_ENABLE_FLAG, else fails with
// E_ACCESSDENIED. Unknown dispositions fail with E_INVALIDARG.
BOOL CertAddCertificateContextToStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext,
                                      DWORD dwAddDisposition, PCCERT_CONTEXT* ppStoreContext);
// The certificate after `pPrevCertContext` (null: the first), in the order they were added; a
// collection shows its members' certificates, member after member in priority order (higher
// first; equal priorities in the order added). The previous context is always freed; the result
// must be freed or passed back. At the end: null with CRYPT_E_NOT_FOUND.
PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pPrevCertContext);
// The next certificate after `pPrevCertContext` that matches the find type (see above); freeing
// rules as for enumeration. Nothing more: null with CRYPT_E_NOT_FOUND. An unknown find type
// fails with E_INVALIDARG.
PCCERT_CONTEXT CertFindCertificateInStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType,
                                          DWORD dwFindFlags, DWORD dwFindType,
                                          const void* pvFindPara, PCCERT_CONTEXT pPrevCertContext);
// Adds `hSiblingStore` (its own reference) to a collection. A store that is not a collection, or
// a member that would make the collection contain itself, fails with E_INVALIDARG.
BOOL CertAddStoreToCollection(HCERTSTORE hCollectionStore, HCERTSTORE hSiblingStore,
                              DWORD dwUpdateFlags, DWORD dwPriority);

// A CRL context: the encoded CRL, owned by the context and valid until its last reference is
// freed; hCertStore is the store that holds it. pCrlInfo is always null here: the chain engine
// reads the CRL itself (wincrypt_revocation.h says how it uses the CRLs of the stores it is given).
struct CRL_CONTEXT {
  DWORD dwCertEncodingType;
  BYTE* pbCrlEncoded;
  DWORD cbCrlEncoded;
  void* pCrlInfo;
  HCERTSTORE hCertStore;
};
using PCCRL_CONTEXT = const CRL_CONTEXT*;

// Adds one DER CRL (copied) to the store, as `dwAddDisposition` says for CRLs of the same bytes
// (CERT_STORE_ADD_NEW, _USE_EXISTING, _REPLACE_EXISTING, _ALWAYS; others fail with E_INVALIDARG),
// and returns the store's context in *ppCrlContext when that is not null (free it). Bytes that are
// not one CRL the chain engine can use fail with its CRYPT_E_ASN1_* code. A collection adds as
// CertAddCertificateContextToStore does.
BOOL CertAddEncodedCRLToStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType,
                              const BYTE* pbCrlEncoded, DWORD cbCrlEncoded, DWORD dwAddDisposition,
                              PCCRL_CONTEXT* ppCrlContext);
// The CRL after `pPrevCrlContext` (null: the first), in the order of certificate enumeration; the
// previous context is always freed. At the end: null with CRYPT_E_NOT_FOUND.
PCCRL_CONTEXT CertEnumCRLsInStore(HCERTSTORE hCertStore, PCCRL_CONTEXT pPrevCrlContext);
PCCRL_CONTEXT CertDuplicateCRLContext(PCCRL_CONTEXT pCrlContext);
// Drops one reference; the last one frees the context. Null is accepted. Always TRUE.
BOOL CertFreeCRLContext(PCCRL_CONTEXT pCrlContext);

// ---------------------------------------------------------------------------------------------
// CMS decode messages

inline constexpr DWORD CMSG_DATA = 1;
inline constexpr DWORD CMSG_SIGNED = 2;

// Parameters of CryptMsgGetParam and what pvData receives.
inline constexpr DWORD CMSG_TYPE_PARAM = 1;                 // DWORD: CMSG_SIGNED
inline constexpr DWORD CMSG_CONTENT_PARAM = 2;              // the eContent octets
inline constexpr DWORD CMSG_INNER_CONTENT_TYPE_PARAM = 4;   // NUL-terminated dotted OID text
inline constexpr DWORD CMSG_SIGNER_COUNT_PARAM = 5;         // DWORD
inline constexpr DWORD CMSG_SIGNER_CERT_INFO_PARAM = 7;     // CERT_INFO: Issuer, SerialNumber
inline constexpr DWORD CMSG_SIGNER_AUTH_ATTR_PARAM = 9;     // CRYPT_ATTRIBUTES
inline constexpr DWORD CMSG_SIGNER_UNAUTH_ATTR_PARAM = 10;  // CRYPT_ATTRIBUTES
inline constexpr DWORD CMSG_CERT_COUNT_PARAM = 11;          // DWORD: X.509 certificates
inline constexpr DWORD CMSG_CERT_PARAM = 12;                // one certificate's DER
inline constexpr DWORD CMSG_ENCODED_SIGNER = 28;            // the SignerInfo's DER as received
inline constexpr DWORD CMSG_SIGNER_CERT_ID_PARAM = 38;      // CERT_ID

struct CRYPT_ATTRIBUTE {
  LPSTR pszObjId;
  DWORD cValue;
  PCRYPT_ATTR_BLOB rgValue;  // each value's whole DER element
};
using PCRYPT_ATTRIBUTE = CRYPT_ATTRIBUTE*;

struct CRYPT_ATTRIBUTES {
  DWORD cAttr;
  PCRYPT_ATTRIBUTE rgAttr;
};
using PCRYPT_ATTRIBUTES = CRYPT_ATTRIBUTES*;

// Opens a message to decode. `dwMsgEncodingType` must include PKCS_7_ASN_ENCODING; `dwMsgType` 0
// takes the type from the data, CMSG_SIGNED insists on signed data; streaming and recipient
// information are not offered (E_NOTIMPL). Close with CryptMsgClose.
HCRYPTMSG CryptMsgOpenToDecode(DWORD dwMsgEncodingType, DWORD dwFlags, DWORD dwMsgType,
                               HCRYPTPROV_LEGACY hCryptProv, void* pRecipientInfo,
                               void* pStreamInfo);
// A decoded message over a SignedData that the caller decoded already (from a ContentInfo, as the
// final update would have), so that the same bytes are not decoded twice; the message shares it.
// Null gives E_INVALIDARG.
HCRYPTMSG CryptMsgOpenDecoded(std::shared_ptr<const ASN1::CSignedData> signedData);
// Feeds the encoded ContentInfo, in one or more parts; the part with fFinal TRUE decodes the
// whole. A message that is not signed data fails with CRYPT_E_INVALID_MSG_TYPE, malformed bytes
// with the decoder's code (the message then stays undecoded); an update after the final part
// fails with CRYPT_E_MSG_ERROR.
BOOL CryptMsgUpdate(HCRYPTMSG hCryptMsg, const BYTE* pbData, DWORD cbData, BOOL fFinal);
// Reads a parameter of a decoded message by the size-query protocol. `dwIndex` picks the signer
// (or the certificate for CMSG_CERT_PARAM); out of range: CRYPT_E_INVALID_INDEX. A message not yet
// decoded fails with CRYPT_E_STREAM_MSG_NOT_READY, an unknown parameter with
// CRYPT_E_INVALID_MSG_TYPE, the attributes of a signer that has none with
// CRYPT_E_ATTRIBUTES_MISSING.
BOOL CryptMsgGetParam(HCRYPTMSG hCryptMsg, DWORD dwParamType, DWORD dwIndex, void* pvData,
                      DWORD* pcbData);
// Takes one more reference to the message and returns it; null gives null.
HCRYPTMSG CryptMsgDuplicate(HCRYPTMSG hCryptMsg);
// Drops one reference; the last one frees the message. Null is accepted. Always TRUE.
BOOL CryptMsgClose(HCRYPTMSG hCryptMsg);

}  // namespace Velmora::Platform

// Chains, chain policies and certificate hashes.
#include "platform/capi/wincrypt_chain.h"  // IWYU pragma: export
