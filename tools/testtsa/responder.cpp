#include "responder.h"

#include "gost.h"
#include "revocation_info.h"

#include <sys/time.h>

namespace TestTsa {

namespace {

template <typename T, typename I2d>
std::string DerOf(const T* object, I2d i2d) {
  unsigned char* out = nullptr;
  const int length = i2d(object, &out);
  Require(length > 0, "DER encoding");
  std::string der(reinterpret_cast<const char*>(out), static_cast<std::size_t>(length));
  OPENSSL_free(out);
  return der;
}

// The request with its nonce changed (plus one) or removed, and with `otherData` its hash value
// changed (last byte flipped); an unreadable request unchanged.
std::string Altered(const std::string& request, NonceVariant variant, bool otherData) {
  const auto* cursor = reinterpret_cast<const unsigned char*>(request.data());
  TsReqPtr parsed(d2i_TS_REQ(nullptr, &cursor, static_cast<long>(request.size())));
  if (!parsed) {
    return request;
  }
  if (otherData) {
    ASN1_OCTET_STRING* hash = TS_MSG_IMPRINT_get_msg(TS_REQ_get_msg_imprint(parsed.get()));
    const int length = ASN1_STRING_length(hash);
    if (length > 0) {
      std::string bytes(reinterpret_cast<const char*>(ASN1_STRING_get0_data(hash)),
                        static_cast<std::size_t>(length));
      bytes.back() = static_cast<char>(bytes.back() ^ 0x01);
      Require(ASN1_OCTET_STRING_set(hash, reinterpret_cast<const unsigned char*>(bytes.data()),
                                    length) == 1,
              "hash change");
    }
  }
  if (variant == NonceVariant::asked) {
    return DerOf(parsed.get(), i2d_TS_REQ);
  }
  if (variant == NonceVariant::other) {
    const ASN1_INTEGER* nonce = TS_REQ_get_nonce(parsed.get());
    std::unique_ptr<BIGNUM, Freer<BN_free>> value(
        nonce != nullptr ? ASN1_INTEGER_to_BN(nonce, nullptr) : BN_new());
    Require(value && BN_add_word(value.get(), 1) == 1, "nonce change");
    std::unique_ptr<ASN1_INTEGER, Freer<ASN1_INTEGER_free>> changed(
        BN_to_ASN1_INTEGER(value.get(), nullptr));
    Require(changed && TS_REQ_set_nonce(parsed.get(), changed.get()) == 1, "TS_REQ_set_nonce");
    return DerOf(parsed.get(), i2d_TS_REQ);
  }
  TsReqPtr bare(TS_REQ_new());
  Require(bare && TS_REQ_set_version(bare.get(), 1) == 1 &&
              TS_REQ_set_msg_imprint(bare.get(), TS_REQ_get_msg_imprint(parsed.get())) == 1 &&
              TS_REQ_set_cert_req(bare.get(), TS_REQ_get_cert_req(parsed.get())) == 1,
          "request without nonce");
  if (const ASN1_OBJECT* policy = TS_REQ_get_policy_id(parsed.get()); policy != nullptr) {
    Require(TS_REQ_set_policy_id(bare.get(), policy) == 1, "TS_REQ_set_policy_id");
  }
  return DerOf(bare.get(), i2d_TS_REQ);
}

}  // namespace

Responder::Responder(const Identity& tsa, const X509* caCert, long clockOffsetSeconds)
    : m_ctx(TS_RESP_CTX_new()), m_clockOffset(clockOffsetSeconds) {
  TS_RESP_CTX* ctx = m_ctx.get();
  Require(ctx != nullptr, "TS_RESP_CTX_new");
  Require(TS_RESP_CTX_set_signer_cert(ctx, tsa.cert.get()) == 1, "signer certificate");
  Require(TS_RESP_CTX_set_signer_key(ctx, tsa.key.get()) == 1, "signer key");
  const EVP_MD* digest = SigningDigest(tsa.key.get());  // GOST keys sign with GOST digests
  Require(TS_RESP_CTX_set_signer_digest(ctx, digest) == 1, "signer digest");
  Require(TS_RESP_CTX_set_ess_cert_id_digest(ctx, digest) == 1, "ESS digest");
  STACK_OF(X509)* chain = sk_X509_new_null();
  Require(chain != nullptr && sk_X509_push(chain, const_cast<X509*>(caCert)) > 0, "chain");
  const int certsSet = TS_RESP_CTX_set_certs(ctx, chain);  // copies the stack and its items
  sk_X509_free(chain);
  Require(certsSet == 1, "TS_RESP_CTX_set_certs");
  std::unique_ptr<ASN1_OBJECT, Freer<ASN1_OBJECT_free>> policy(OBJ_txt2obj("1.2.3.4.1", 1));
  Require(policy && TS_RESP_CTX_set_def_policy(ctx, policy.get()) == 1, "default policy");
  for (const char* other : {"1.2.3.4.5", "1.2.3.4.6"}) {
    std::unique_ptr<ASN1_OBJECT, Freer<ASN1_OBJECT_free>> extra(OBJ_txt2obj(other, 1));
    Require(extra && TS_RESP_CTX_add_policy(ctx, extra.get()) == 1, "policy");
  }
  for (const EVP_MD* md : {EVP_sha1(), EVP_sha256(), EVP_sha384(), EVP_sha512()}) {
    Require(TS_RESP_CTX_add_md(ctx, md) == 1, "TS_RESP_CTX_add_md");
  }
  if (GostEngineLoaded()) {
    for (const int nid :
         {NID_id_GostR3411_94, NID_id_GostR3411_2012_256, NID_id_GostR3411_2012_512}) {
      Require(TS_RESP_CTX_add_md(ctx, EVP_get_digestbynid(nid)) == 1, "TS_RESP_CTX_add_md");
    }
  }
  Require(TS_RESP_CTX_set_accuracy(ctx, 1, 0, 0) == 1, "accuracy");
  Require(TS_RESP_CTX_set_clock_precision_digits(ctx, 3) == 1, "precision");
  TS_RESP_CTX_add_flags(ctx, TS_ORDERING | TS_TSA_NAME | TS_ESS_CERT_ID_CHAIN);
  TS_RESP_CTX_set_serial_cb(ctx, &Responder::NextSerial, this);
  TS_RESP_CTX_set_time_cb(ctx, &Responder::CurrentTime, this);
}

int Responder::CurrentTime(TS_RESP_CTX* /*ctx*/, void* data, long* seconds, long* microseconds) {
  const auto* self = static_cast<const Responder*>(data);
  timeval now{};
  gettimeofday(&now, nullptr);
  *seconds = now.tv_sec + self->m_clockOffset + self->m_callOffset;
  *microseconds = now.tv_usec;
  return 1;
}

ASN1_INTEGER* Responder::NextSerial(TS_RESP_CTX* /*ctx*/, void* data) {
  auto* self = static_cast<Responder*>(data);
  ASN1_INTEGER* serial = ASN1_INTEGER_new();
  if (serial != nullptr && ASN1_INTEGER_set(serial, ++self->m_serial) != 1) {
    ASN1_INTEGER_free(serial);
    return nullptr;
  }
  return serial;
}

std::string Responder::Respond(const std::string& request, const Answer& answer) {
  const bool altered = answer.nonce != NonceVariant::asked || answer.otherData;
  const std::string input = altered ? Altered(request, answer.nonce, answer.otherData) : request;
  const bool tokenOnly = answer.tokenOnly;
  BioPtr in(BIO_new_mem_buf(input.data(), static_cast<int>(input.size())));
  Require(in != nullptr, "BIO_new_mem_buf");
  const std::lock_guard<std::mutex> guard(m_lock);
  m_callOffset = answer.offsetSeconds;
  Require(TS_RESP_CTX_set_clock_precision_digits(m_ctx.get(), answer.microseconds ? 6 : 3) == 1,
          "precision");
  TsRespPtr response(TS_RESP_create_response(m_ctx.get(), in.get()));
  Require(response != nullptr, "TS_RESP_create_response");
  const PKCS7* token = TS_RESP_get_token(response.get());
  if (tokenOnly) {
    Require(token != nullptr, "token of a rejected request");
    return WithRevocationInfo(DerOf(token, i2d_PKCS7), m_revocationInfo);
  }
  if (token == nullptr || m_revocationInfo.empty()) {
    return DerOf(response.get(), i2d_TS_RESP);
  }
  // TimeStampResp ::= SEQUENCE { status PKIStatusInfo, timeStampToken }
  const std::string body = DerOf(TS_RESP_get_status_info(response.get()), i2d_TS_STATUS_INFO) +
                           WithRevocationInfo(DerOf(token, i2d_PKCS7), m_revocationInfo);
  return DerElement(0x30, body);
}

std::string Responder::Rejection(int failInfoBit, const std::string& text) {
  // TimeStampResp ::= SEQUENCE { status PKIStatusInfo }
  // PKIStatusInfo ::= SEQUENCE { status INTEGER, statusString PKIFreeText, failInfo BIT STRING }
  // PKIFreeText ::= SEQUENCE OF UTF8String
  // OpenSSL 3.0 has no setters for the text and failInfo of a status, so the few bytes are
  // written here; OpenSSL encodes the named bit string.
  Require(text.size() < 100, "short status text");
  std::unique_ptr<ASN1_BIT_STRING, Freer<ASN1_BIT_STRING_free>> failInfo(ASN1_BIT_STRING_new());
  Require(failInfo && ASN1_BIT_STRING_set_bit(failInfo.get(), failInfoBit, 1) == 1, "failInfo bit");
  const std::string failDer = DerOf(failInfo.get(), i2d_ASN1_BIT_STRING);
  const auto tlv = [](char tag, const std::string& content) {
    return std::string(1, tag) + static_cast<char>(content.size()) + content;
  };
  const std::string statusInfo =
      tlv('\x30', std::string("\x02\x01\x02", 3) + tlv('\x30', tlv('\x0C', text)) + failDer);
  return tlv('\x30', statusInfo);
}

}  // namespace TestTsa
