// The time-stamp answers of the test TSA, made by OpenSSL's responder (TS_RESP_CTX): granted
// responses (SHA-256/384/512 and SHA-1 imprints, and GOST R 34.11 ones where the gost engine is
// installed; signed with the digest that fits the TSA's key, any of a few policies, accuracy 1 s,
// the TSA and CA certificates when asked), rejections with a chosen failInfo, bare tokens, and
// answers for another nonce, without a nonce or for other data.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "ossl_ptr.h"
#include "pki.h"

namespace TestTsa {

enum class NonceVariant { asked, other, none };

class Responder {
 public:
  // `clockOffsetSeconds` moves every genTime by that much.
  Responder(const Identity& tsa, const X509* caCert, long clockOffsetSeconds);

  // How one answer departs from an honest one.
  struct Answer {
    NonceVariant nonce = NonceVariant::asked;
    long offsetSeconds = 0;     // added to the clock offset
    bool tokenOnly = false;     // the bare token instead of the TimeStampResp
    bool otherData = false;     // a stamp for another hash value (last byte flipped)
    bool microseconds = false;  // genTime to the microsecond instead of the millisecond
  };

  // The DER of a TimeStampResp to `request` (an unreadable request gets OpenSSL's rejection),
  // or of the bare token, as `answer` says.
  std::string Respond(const std::string& request, const Answer& answer);

  // DER CRLs and OCSP responses that every token carries from now on (revocation_info.h).
  void SetRevocationInfo(std::vector<std::string> items) { m_revocationInfo = std::move(items); }

  // A TimeStampResp with status rejection (2), the given failInfo bit and status text.
  static std::string Rejection(int failInfoBit, const std::string& text);

 private:
  static int CurrentTime(TS_RESP_CTX* ctx, void* data, long* seconds, long* microseconds);
  static ASN1_INTEGER* NextSerial(TS_RESP_CTX* ctx, void* data);

  std::mutex m_lock;
  TsRespCtxPtr m_ctx;
  long m_clockOffset;
  long m_callOffset = 0;
  long m_serial = 0x1000;
  std::vector<std::string> m_revocationInfo;
};

}  // namespace TestTsa
