// Time-stamp tokens with chosen fields for the stamp tests: a TSTInfo written with the codec's DER
// writer, signed by the ECDSA TSA of the OpenSSL fixtures through OpenSSL's CMS code, and
// responses wrapped around tokens or standing alone. Also the readers the stamp tests share.
#pragma once

#include <openssl/cms.h>
#include <openssl/pem.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "codec/asnkit/pki_status.h"
#include "codec/corekit/blob.h"
#include "horodex/TSPStamp.h"
#include "platform/capi/wincrypt.h"
#include "tests/common/der_build.h"
#include "tests/common/ossl.h"
#include "tests/common/tsp_fixtures.h"

namespace Velmora::Testing::Stamps {

using namespace DerBuild;

inline constexpr const char* kSha256 = "2.16.840.1.101.3.4.2.1";
inline constexpr const char* kTstInfo = "1.2.840.113549.1.9.16.1.4";

struct Accuracy {
  unsigned long seconds = 0, millis = 0, micros = 0;
};

// The fields of a TSTInfo; the defaults make a plain, valid one.
struct TstFields {
  std::string policy = "1.2.3.4.1";
  std::string hashOid = kSha256;
  V hash = V(32, 0xAB);
  std::uint64_t serial = 1;
  std::string genTime = "20260101120000Z";
  std::optional<Accuracy> accuracy;
  bool ordering = false;
  std::optional<std::uint64_t> nonce;
  std::optional<std::string> tsaCommonName;  // a directoryName with this CN
};

// INTEGER content under an implicit context tag [n] (the millis and micros of an Accuracy).
inline V ImplicitInt(std::uint32_t n, std::uint64_t value) {
  V integer = Int(value);
  integer[0] = static_cast<std::uint8_t>(0x80 | n);
  return integer;
}

inline V NameWithCn(const std::string& cn) {
  return Seq({Set({Seq({Oid("2.5.4.3"), Tlv(Der::Tags::Utf8String, V(cn.begin(), cn.end()))})})});
}

inline V TstInfoDer(const TstFields& f) {
  V fields =
      Join({Int(1), Oid(f.policy.c_str()), Seq({Seq({Oid(f.hashOid.c_str())}), Octets(f.hash)}),
            Int(f.serial), Time(f.genTime)});
  if (f.accuracy) {
    V accuracy;
    if (f.accuracy->seconds != 0) {
      accuracy = Join({accuracy, Int(f.accuracy->seconds)});
    }
    if (f.accuracy->millis != 0) {
      accuracy = Join({accuracy, ImplicitInt(0, f.accuracy->millis)});
    }
    if (f.accuracy->micros != 0) {
      accuracy = Join({accuracy, ImplicitInt(1, f.accuracy->micros)});
    }
    fields = Join({fields, Tlv(Der::Tags::Sequence, accuracy)});
  }
  if (f.ordering) {
    fields = Join({fields, Bool(true)});
  }
  if (f.nonce) {
    fields = Join({fields, Int(*f.nonce)});
  }
  if (f.tsaCommonName) {
    fields = Join({fields, Ctx(0, Ctx(4, NameWithCn(*f.tsaCommonName)))});
  }
  return Tlv(Der::Tags::Sequence, fields);
}

template <typename T, auto Free>
using Owned = std::unique_ptr<T, OsslDeleter<Free>>;

inline Owned<X509, X509_free> LoadPemCertificate(const std::string& name) {
  const std::string path = (OpenSslTsaDir() / name).string();
  Owned<BIO, BIO_free> bio(BIO_new_file(path.c_str(), "r"));
  Owned<X509, X509_free> certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  if (!certificate) {
    throw std::runtime_error("cannot read " + path);
  }
  return certificate;
}

struct SignOptions {
  bool certificates = true;       // the TSA's certificate and the CA's in the SignedData
  std::vector<CBlob> certValues;  // certificates of an unsigned certificate-values attribute
};

// A TimeStampToken over `tstInfo`, signed by the fixtures' ECDSA TSA with OpenSSL's CMS code.
inline CBlob SignTstInfo(const V& tstInfo, const SignOptions& options = {}) {
  const std::string keyPath = (OpenSslTsaDir() / "ec.key").string();
  Owned<BIO, BIO_free> keyBio(BIO_new_file(keyPath.c_str(), "r"));
  Owned<EVP_PKEY, EVP_PKEY_free> key(
      PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
  auto signer = LoadPemCertificate("ec.pem");
  auto ca = LoadPemCertificate("ca.pem");
  struct StackFree {
    void operator()(STACK_OF(X509) * stack) const noexcept { sk_X509_free(stack); }
  };
  std::unique_ptr<STACK_OF(X509), StackFree> chain(sk_X509_new_null());
  sk_X509_push(chain.get(), ca.get());

  Owned<BIO, BIO_free> content(BIO_new_mem_buf(tstInfo.data(), static_cast<int>(tstInfo.size())));
  const unsigned flags = CMS_BINARY | CMS_PARTIAL | CMS_NOSMIMECAP |
                         (options.certificates ? 0u : static_cast<unsigned>(CMS_NOCERTS));
  Owned<CMS_ContentInfo, CMS_ContentInfo_free> cms(CMS_sign(
      signer.get(), key.get(), options.certificates ? chain.get() : nullptr, nullptr, flags));
  Owned<ASN1_OBJECT, ASN1_OBJECT_free> type(OBJ_txt2obj(kTstInfo, 1));
  if (!cms || CMS_set1_eContentType(cms.get(), type.get()) != 1 ||
      CMS_final(cms.get(), content.get(), nullptr, CMS_BINARY) != 1) {
    throw std::runtime_error("OpenSSL could not sign the TSTInfo");
  }
  if (!options.certValues.empty()) {
    V sequence;
    for (const CBlob& certificate : options.certValues) {
      sequence = Join({sequence, certificate.bytes()});
    }
    sequence = Tlv(Der::Tags::Sequence, sequence);
    CMS_SignerInfo* info = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms.get()), 0);
    Owned<ASN1_OBJECT, ASN1_OBJECT_free> certValues(OBJ_txt2obj("1.2.840.113549.1.9.16.2.23", 1));
    if (CMS_unsigned_add1_attr_by_OBJ(info, certValues.get(), V_ASN1_SEQUENCE, sequence.data(),
                                      static_cast<int>(sequence.size())) != 1) {
      throw std::runtime_error("OpenSSL could not add the certificate values");
    }
  }
  return DerOf(cms.get(), i2d_CMS_ContentInfo);
}

inline CBlob Token(const TstFields& fields, const SignOptions& options = {}) {
  return SignTstInfo(TstInfoDer(fields), options);
}

// TimeStampResp ::= SEQUENCE { status PKIStatusInfo, timeStampToken OPTIONAL }
inline CBlob Response(const ASN1::CPKIStatusInfo& status, const CBlob* token = nullptr) {
  return CBlob(Seq({status.encode().bytes(), token != nullptr ? token->bytes() : V()}));
}

inline CBlob Response(unsigned long status, const CBlob* token = nullptr) {
  return Response(ASN1::CPKIStatusInfo(status), token);
}

// A byte property of a stamp, read by the size-query rule.
inline CBlob StampBytes(const PKI::TSP::Client::CStamp& stamp,
                        void (PKI::TSP::Client::CStamp::*get)(unsigned char*, unsigned long*)
                            const) {
  unsigned long length = 0;
  (stamp.*get)(nullptr, &length);
  CBlob bytes(length);
  (stamp.*get)(bytes.pbData(), &length);
  return bytes;
}

// The certificates of a store, in enumeration order.
inline std::vector<CBlob> StoreCertificates(void* store) {
  std::vector<CBlob> certificates;
  Platform::PCCERT_CONTEXT context = nullptr;
  while ((context = Platform::CertEnumCertificatesInStore(store, context)) != nullptr) {
    certificates.emplace_back(context->pbCertEncoded, context->cbCertEncoded);
  }
  return certificates;
}

}  // namespace Velmora::Testing::Stamps
