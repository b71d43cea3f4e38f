// VerifySignatureStamps: every signer of a CMS signature, its time stamps, and its certificate's
// chain at the earliest genTime those stamps prove.
#include <optional>

#include "TSP/cades/signed_message_parts.h"
#include "TSP/horodex/ChainJudgement.h"
#include "codec/cms/signature_check.h"
#include "codec/cms/signature_time_stamps.h"
#include "horodex/SignatureStamp.h"
#include "platform/capi/wincrypt_chain.h"
#include "platform/text/convert.h"
#include "support/errors.h"

namespace Velmora::PKI::TSP::Client {

using Platform::HRESULT;

namespace {

constexpr const char* kTraceSource = "Velmora::PKI::TSP::Client::VerifySignatureStamps";

// The message's certificates, the caller's stores and the user's "AddressBook" in one store.
CertStoreHandle MaterialOf(const CertStoreHandle& message, void** stores, unsigned long count) {
  CertStoreHandle collection;
  if (const HRESULT hr = collection.Open(Platform::CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
      Platform::FAILED(hr)) {
    Support::ThrowHResult(hr);
  }
  auto add = [&](const CertStoreHandle& member) {
    if (member && Platform::CertAddStoreToCollection(collection.get(), member.get(), 0, 0)) {
      (void)collection.AddMember(member);
    }
  };
  add(message);
  for (unsigned long i = 0; stores != nullptr && i < count; ++i) {
    CertStoreHandle member;
    if (stores[i] != nullptr && Platform::SUCCEEDED(member.Attach(stores[i]))) {
      add(member);
    }
  }
  // The address book is one more place to look; a user without one has nothing there.
  CertStoreHandle addressBook;
  if (Platform::SUCCEEDED(addressBook.Open(
          Platform::CERT_STORE_PROV_SYSTEM_W, 0, 0,
          Platform::CERT_STORE_READONLY_FLAG | Platform::CERT_SYSTEM_STORE_CURRENT_USER,
          L"AddressBook"))) {
    add(addressBook);
  }
  return collection;
}

CBlob Bytes(const CStamp& stamp, void (CStamp::*get)(unsigned char*, unsigned long*) const) {
  unsigned long size = 0;
  (stamp.*get)(nullptr, &size);
  CBlob bytes(size);
  (stamp.*get)(bytes.pbData(), &size);
  return bytes;
}

// One token of the signer whose signature value is `signature`.
CSignatureStampCheck CheckStamp(const CBlob& token, const CBlob& signature, void** stores,
                                unsigned long count, DWORD chainFlags) {
  CSignatureStampCheck check;
  check.token = token;
  try {
    CStamp stamp;
    stamp.Import(token.pbData(), static_cast<unsigned long>(token.cbData()), nullptr);
    check.hasTime = true;
    check.genTime = stamp.get_Time();
    check.hashOid = stamp.get_DataHashAlgOID();
    check.tsa = Platform::WideToUtf8(stamp.get_TSA());
    if (HashOf(stamp.get_DataHashAlg(), signature) != Bytes(stamp, &CStamp::get_DataHash)) {
      check.result = Support::HORODEX_E_SIGNATURE_STAMP_MISMATCH;
      return check;
    }
    const Platform::CERT_CONTEXT* tsa = stamp.get_TSACertificate(stores, count);
    if (tsa == nullptr) {
      check.result = Platform::CRYPT_E_NOT_FOUND;
      return check;
    }
    check.tsa = SignerName(ASN1::CSignerInfo(), tsa);
    check.result = stamp.Verify(tsa, nullptr);
    if (check.result == Platform::S_OK) {
      check.result = stamp.VerifyCertificate(tsa, stores, count, chainFlags, nullptr);
    }
  } catch (const Platform::CAtlException& e) {
    check.result = e.m_hr;
  }
  return check;
}

HRESULT SignatureResult(ASN1::SignatureCheck check) {
  switch (check) {
    case ASN1::SignatureCheck::Valid:
      return Platform::S_OK;
    case ASN1::SignatureCheck::Unsupported:
      return Platform::NTE_BAD_ALGID;
    case ASN1::SignatureCheck::Invalid:
      break;
  }
  return Platform::NTE_BAD_SIGNATURE;
}

}  // namespace

HRESULT CSignerCheck::result() const noexcept {
  if (signature != Platform::S_OK) {
    return signature;
  }
  if (chain != Platform::S_OK) {
    return chain;
  }
  for (const CSignatureStampCheck& stamp : stamps) {
    if (stamp.result != Platform::S_OK) {
      return stamp.result;
    }
  }
  return Platform::S_OK;
}

HRESULT CSignatureReport::result() const noexcept {
  if (signers.empty()) {
    return Platform::CRYPT_E_NO_SIGNER;
  }
  for (const CSignerCheck& signer : signers) {
    if (const HRESULT hr = signer.result(); hr != Platform::S_OK) {
      return hr;
    }
  }
  return Platform::S_OK;
}

CSignatureReport VerifySignatureStamps(const unsigned char* message, std::size_t length,
                                       const unsigned char* content, std::size_t contentLength,
                                       void** stores, unsigned long count, DWORD chainFlags) {
  const MessageBytes bytes = ReadMessageBytes(message, length);
  ASN1::CSignedData decoded;
  decoded.decode(bytes.contentInfo);
  CBlob detached;
  const CBlob* signedContent = decoded.get_eContent();
  if (signedContent == nullptr) {
    if (content == nullptr) {
      Support::ThrowHResult(Platform::E_INVALIDARG);  // a detached signature needs its data
    }
    detached = CBlob(std::span<const unsigned char>(content, contentLength));
    signedContent = &detached;
  }
  const CertStoreHandle certificates = CertificatesOf(decoded);
  const CertStoreHandle material = MaterialOf(certificates, stores, count);

  CSignatureReport report;
  std::size_t index = 0;
  for (const ASN1::CSignerInfo* signer : SignersOf(decoded)) {
    CSignerCheck& check = report.signers.emplace_back();
    check.index = index++;
    const CertContextPtr certificate = FindSignerCertificate(*signer, material.get());
    check.signer = SignerName(*signer, certificate.get());

    std::optional<CDateTime> earliest;
    try {
      for (const CBlob& token : ASN1::SignatureTimeStamps(*signer)) {
        check.stamps.push_back(
            CheckStamp(token, ASN1::StampableSignature(*signer), stores, count, chainFlags));
        const CSignatureStampCheck& stamp = check.stamps.back();
        if (stamp.result == Platform::S_OK && (!earliest || stamp.genTime < *earliest)) {
          earliest = stamp.genTime;
        }
      }
    } catch (const Platform::CAtlException& e) {
      // An attribute value that is not a token, or a signature that cannot have been stamped.
      CSignatureStampCheck& failed = check.stamps.emplace_back();
      failed.result = e.m_hr;
    }
    check.chainAtStampTime = earliest.has_value();
    check.chainTime = earliest.value_or(CDateTime::Now());

    if (!certificate) {
      check.signature = Platform::CRYPT_E_SIGNER_NOT_FOUND;
      check.chain = Platform::CRYPT_E_SIGNER_NOT_FOUND;
      continue;
    }
    const std::span<const unsigned char> certificateDer(certificate->pbCertEncoded,
                                                        certificate->cbCertEncoded);
    check.signature = SignatureResult(
        ASN1::CheckSignerInfo(*signer, decoded.get_eContentType(), signedContent, certificateDer));
    try {
      check.chain =
          JudgeChainAt(certificate.get(), material.get(), check.chainTime, decoded.get_crls(),
                       Platform::CERT_CHAIN_POLICY_BASE, kTraceSource, chainFlags)
              .code;
    } catch (const Platform::CAtlException& e) {
      check.chain = e.m_hr;
    }
  }
  return report;
}

}  // namespace Velmora::PKI::TSP::Client
