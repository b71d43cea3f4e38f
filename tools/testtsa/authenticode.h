// The Authenticode mode of the test TSA: the client posts the Base64 text of a time-stamp request
//   SEQUENCE { OID 1.3.6.1.4.1.311.3.2.1, [SET OF Attribute,]
//              SEQUENCE { OID 1.2.840.113549.1.7.1, [0] EXPLICIT OCTET STRING content } }
// and gets back the Base64 text of a PKCS #7 SignedData over the content, signed by the TSA key
// with the signed attributes contentType, signingTime and messageDigest, carrying the TSA and CA
// certificates: what an Authenticode signer puts into its countersignature.
#pragma once

#include <string>

#include "pki.h"

namespace TestTsa {

struct AuthenticodeAnswer {
  int status = 200;       // 400 when the request does not read
  std::string body;       // Base64 text, 64 characters to a line
  std::string structure;  // the decoded request's structure, e.g. SEQ{OID:...,SEQ{...}}
  std::string sentHex;    // the request's text exactly as posted, in hex
};

// `tsa` and `ca` must outlive every call.
void SetAuthenticodeSigner(const Identity& tsa, const X509* ca);
AuthenticodeAnswer AnswerAuthenticode(const std::string& requestText);

}  // namespace TestTsa
