// Owners for the platform's certificate contexts and CMS messages: each frees its handle once,
// on every path.
#pragma once

#include <memory>

#include "platform/base/free_with.h"
#include "platform/capi/wincrypt.h"

namespace Velmora::PKI::TSP::Client {

inline void CloseMessage(void* message) noexcept {
  Platform::CryptMsgClose(message);
}
using CertContextPtr = std::unique_ptr<const Platform::CERT_CONTEXT,
                                       Platform::FreeWith<Platform::CertFreeCertificateContext>>;
using CryptMsgPtr = std::unique_ptr<void, Platform::FreeWith<CloseMessage>>;

}  // namespace Velmora::PKI::TSP::Client
