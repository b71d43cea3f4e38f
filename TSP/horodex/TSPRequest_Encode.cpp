// CRequest: building the TimeStampReq (with a fresh nonce), Export and Import.
#include <cstring>

#include "TSP/horodex/TSPRequest_Impl.h"
#include "codec/stampmsg/request.h"
#include "support/errors.h"
#include "support/oid_info.h"
#include "support/trace.h"

namespace Velmora::PKI::TSP::Client {

using Platform::DWORD;
using Support::ThrowHResult;
using Support::ThrowLastError;

namespace {

constexpr const char* kMakeRequest = "Velmora::PKI::TSP::Client::CRequest::Impl::MakeRequest";
// The longest nonce a request draws. A NonceLength policy above it is refused as a bad policy
// value rather than drawn: a few gigabytes of "nonce" would only exhaust memory, and no TSA
// takes a nonce of more than a few dozen bytes.
constexpr Platform::DWORD kMaxNonceLength = 1024;

}  // namespace

ASN1::CBigInteger GenerateNonce(unsigned long length) {
  Platform::HCRYPTPROV handle = 0;
  if (!Platform::CryptAcquireContextW(&handle, nullptr, nullptr, Platform::PROV_GOST_2001_DH,
                                      Platform::CRYPT_VERIFYCONTEXT) &&
      !Platform::CryptAcquireContextW(&handle, nullptr, nullptr, Platform::PROV_RSA_FULL,
                                      Platform::CRYPT_VERIFYCONTEXT)) {
    ThrowLastError();
  }
  const HashProvider provider(handle);  // released on every path; a failed release is ignored
  ASN1::CBigInteger nonce(length);
  if (length != 0 &&
      !Platform::CryptGenRandom(handle, static_cast<DWORD>(length), nonce.pbData())) {
    ThrowLastError();
  }
  return nonce;
}

void CRequest::Impl::MakeRequest() {
  if (!encodedRequest.empty()) {
    return;
  }
  HORODEX_TRACE(VelmoraTraceGeneral, 2, kMakeRequest, "Making request...\n");
  extensions = ASN1::CExtensions();
  if (hash) {
    DWORD size = 0;
    if (!Platform::CryptGetHashParam(hash.get(), Platform::HP_HASHVAL, nullptr, &size, 0)) {
      ThrowLastError();
    }
    CBlob value(size);
    if (!Platform::CryptGetHashParam(hash.get(), Platform::HP_HASHVAL, value.pbData(), &size, 0)) {
      ThrowLastError();
    }
    value.resize_to(size);
    dataHash = std::move(value);
    hash.reset();
  }
  if (dataHash.empty()) {
    ThrowHResult(Support::HORODEX_E_NO_DATA_HASH);
  }
  ASN1::CAlgorithmIdentifierEx algorithm;
  algorithm.put_algorithm(hashAlgOID.c_str());
  HORODEX_TRACE(VelmoraTraceGeneral, 2, kMakeRequest, "Initializing request...\n");
  TSP::CRequest request(algorithm, dataHash, certReq);
  if (!policyID.empty()) {
    request.put_reqPolicy(policyID.c_str());
  }
  if (useNonce) {
    if (policies.NonceLength > kMaxNonceLength) {
      ThrowHResult(Support::HResultFromWin32(Platform::ERROR_INVALID_DATA));
    }
    const ASN1::CBigInteger drawn = GenerateNonce(policies.NonceLength).abs();
    request.put_nonce(&drawn);
  }
  HORODEX_TRACE(VelmoraTraceGeneral, 2, kMakeRequest, "Encoding request...\n");
  CBlob encoded = request.encode();
  const ASN1::CBigInteger* carried = request.get_nonce();
  nonce = carried != nullptr ? *carried : ASN1::CBigInteger();
  encodedRequest = std::move(encoded);
  HORODEX_TRACE(VelmoraTraceGeneral, 2, kMakeRequest, "Making request... OK.\n");
}

void CRequest::Export(unsigned char* buffer, unsigned long* length) {
  if (length == nullptr) {
    ThrowHResult(Platform::E_POINTER);
  }
  m_impl->MakeRequest();
  const CBlob& encoded = m_impl->encodedRequest;
  const unsigned long capacity = *length;
  *length = encoded.cbData();
  if (buffer == nullptr) {
    return;
  }
  if (encoded.cbData() > capacity) {
    Support::ThrowWin32Error(Platform::ERROR_MORE_DATA);
  }
  std::memcpy(buffer, encoded.pbData(), encoded.cbData());
}

void CRequest::Import(const unsigned char* data, unsigned long length) {
  if (data == nullptr && length != 0) {
    ThrowHResult(Platform::E_INVALIDARG);
  }
  // Decoded and looked up before anything is stored: bytes that are not a TimeStampReq leave the
  // request as it was, rather than caching them as the request's encoding.
  CBlob bytes(data, length);
  TSP::CRequest decoded;
  decoded.decode(bytes);

  const ASN1::CAlgorithmIdentifierEx& algorithm = decoded.get_hashAlgorithm();
  Platform::ALG_ID algId = algorithm.get_algId();
  if (algId == 0) {
    const Platform::CRYPT_OID_INFO* info =
        Support::FindOIDInfo(Platform::CRYPT_OID_INFO_OID_KEY, algorithm.get_algorithm(), 0);
    if (info != nullptr && info->Algid != 0) {
      algId = info->Algid;
    } else {
      Platform::SetLastError(static_cast<DWORD>(Platform::NTE_BAD_ALGID));
    }
  }
  ASN1::CExtensions imported;
  if (const ASN1::CExtensions* extensions = decoded.get_extensions()) {
    for (const ASN1::CExtension& extension : *extensions) {
      imported.insert(extension);
    }
  }
  std::string policy = decoded.get_reqPolicy() != nullptr ? decoded.get_reqPolicy() : "";
  std::string oid = algorithm.get_algorithm();
  CBlob hashValue = decoded.get_hashedMessage();
  const ASN1::CBigInteger* carried = decoded.get_nonce();
  ASN1::CBigInteger nonce = carried != nullptr ? *carried : ASN1::CBigInteger();

  Impl& r = *m_impl;
  r.encodedRequest = std::move(bytes);
  r.certReq = decoded.get_certReq();
  r.useNonce = carried != nullptr;
  if (decoded.get_reqPolicy() != nullptr) {
    r.policyID.swap(policy);
  }
  r.hashAlg = algId;
  r.hashAlgOID.swap(oid);
  r.dataHash = std::move(hashValue);
  r.nonce = std::move(nonce);
  r.extensions = std::move(imported);
  // A hash still running would otherwise be finished by the next build and silently replace the
  // imported hash value with the hash of data fed before the import.
  r.hash.reset();
}

}  // namespace Velmora::PKI::TSP::Client
