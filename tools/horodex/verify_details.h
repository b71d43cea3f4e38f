// What verify adds to a failed check's line: the algorithms the weak-algorithm rule refused, what
// a refused response said, and whether a request was given where a stamp was expected.
#pragma once

#include <string>

#include "codec/corekit/blob.h"
#include "platform/capi/wincrypt.h"

namespace Horodex {

// What the weak-algorithm rule refused in a stamp, for its failure line: the token's own
// algorithms for its signature check, the certificate signed weakly or the TSA's key for the
// chain's. Only a hint: the failure stands without it.
// `built` is the chain judged, null for the signature check.
std::string WeakAlgorithmDetail(const Velmora::CBlob& stampBytes, bool chain,
                                Velmora::Platform::PCCERT_CHAIN_CONTEXT built,
                                Velmora::Platform::PCCERT_CONTEXT tsa);

// What a response that refused the request says: its status, and whether a token came with it
// (a refusal's token is never used).
std::string RefusalDetail(unsigned int status, const Velmora::CBlob& response);

// Whether the bytes are a time-stamp request (given where a stamp was expected).
bool IsRequest(const Velmora::CBlob& bytes);

}  // namespace Horodex
