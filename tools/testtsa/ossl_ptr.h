// Owners for the OpenSSL objects the test TSA holds.
#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/ts.h>
#include <openssl/x509.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace TestTsa {

template <auto Free>
struct Freer {
  template <typename T>
  void operator()(T* p) const noexcept {
    Free(p);
  }
};
using X509Ptr = std::unique_ptr<X509, Freer<X509_free>>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY_free>>;
using BioPtr = std::unique_ptr<BIO, Freer<BIO_free>>;
using SslCtxPtr = std::unique_ptr<SSL_CTX, Freer<SSL_CTX_free>>;
using SslPtr = std::unique_ptr<SSL, Freer<SSL_free>>;
using TsRespCtxPtr = std::unique_ptr<TS_RESP_CTX, Freer<TS_RESP_CTX_free>>;
using TsRespPtr = std::unique_ptr<TS_RESP, Freer<TS_RESP_free>>;
using TsReqPtr = std::unique_ptr<TS_REQ, Freer<TS_REQ_free>>;

// Throws std::runtime_error naming what failed, when `ok` is false.
inline void Require(bool ok, const std::string& what) {
  if (!ok) {
    throw std::runtime_error(what + " failed");
  }
}

}  // namespace TestTsa
