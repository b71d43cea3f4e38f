// Time-stamp tokens with chosen fields for the stamp tests: a TSTInfo written with the test DER
// builder, signed by the ECDSA TSA of the OpenSSL fixtures (token_forge.h), and responses wrapped
// around tokens or standing alone. Also the readers the stamp tests share.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "codec/asnkit/pki_status.h"
#include "codec/corekit/blob.h"
#include "horodex/TSPStamp.h"
#include "platform/capi/wincrypt.h"
#include "tests/common/der_build.h"
#include "tests/common/ossl.h"
#include "tests/common/token_forge.h"
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
  std::optional<V> tsaGeneralName;           // or this GeneralName as sent
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
  } else if (f.tsaGeneralName) {
    fields = Join({fields, Ctx(0, *f.tsaGeneralName)});
  }
  return Tlv(Der::Tags::Sequence, fields);
}

struct SignOptions {
  bool certificates = true;       // the TSA's certificate and the CA's in the SignedData
  std::vector<CBlob> certValues;  // certificates of an unsigned certificate-values attribute
};

// A TimeStampToken over `tstInfo`, signed by the fixtures' ECDSA TSA.
inline CBlob SignTstInfo(const V& tstInfo, const SignOptions& options = {}) {
  Forge::TokenSpec spec;
  spec.tstInfo = tstInfo;
  if (options.certificates) {
    spec.certificates = {Forge::FixtureCertificate("ec"), Forge::FixtureCertificate("ca")};
  }
  if (!options.certValues.empty()) {
    spec.unsignedAttributes = {Forge::CertificateValuesAttribute(options.certValues)};
  }
  return Forge::ForgeToken(spec);
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
