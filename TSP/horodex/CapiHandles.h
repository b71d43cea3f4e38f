// Owners for the platform's certificate contexts and CMS messages: each frees its handle once,
// on every path.
#pragma once

#include <memory>

#include "platform/capi/wincrypt.h"

namespace Velmora::PKI::TSP::Client {

struct CertContextFree {
  void operator()(Platform::PCCERT_CONTEXT context) const noexcept {
    Platform::CertFreeCertificateContext(context);
  }
};
using CertContextPtr = std::unique_ptr<const Platform::CERT_CONTEXT, CertContextFree>;

struct CryptMsgCloser {
  void operator()(void* message) const noexcept { Platform::CryptMsgClose(message); }
};
using CryptMsgPtr = std::unique_ptr<void, CryptMsgCloser>;

}  // namespace Velmora::PKI::TSP::Client
