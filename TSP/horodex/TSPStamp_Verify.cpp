// Verification of a stamp: the token's signature and the TSA certificate's chain.
#include "horodex/TSPStamp.h"
#include "support/errors.h"

namespace Velmora::PKI::TSP::Client {

int CStamp::Verify(const Platform::CERT_CONTEXT* /*certificate*/, char* /*list*/) const {
  return Platform::E_NOTIMPL;
}

const Platform::CERT_CONTEXT* CStamp::get_TSACertificate(void** /*stores*/,
                                                         unsigned long /*count*/) const {
  return nullptr;
}

int CStamp::VerifyCertificate(const Platform::CERT_CONTEXT* /*certificate*/, void** /*stores*/,
                              unsigned long /*count*/) const {
  return Platform::E_NOTIMPL;
}

}  // namespace Velmora::PKI::TSP::Client
