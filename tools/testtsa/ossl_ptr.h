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

#include "tools/testpki/test_pki.h"

namespace TestTsa {

using TestPki::Freer;
using X509Ptr = TestPki::CertPtr;
using PkeyPtr = TestPki::KeyPtr;
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
