// What `horodex verify` prints of a CMS signature: each signer with its signature, its stamps
// and its chain, as text or as one JSON object.
#pragma once

#include <ostream>

#include "horodex/SignatureStamp.h"

namespace Horodex {

void WriteSignatureText(const Velmora::PKI::TSP::Client::CSignatureReport& report, bool colour,
                        std::ostream& out);
void WriteSignatureJson(const Velmora::PKI::TSP::Client::CSignatureReport& report,
                        const Velmora::PKI::TSP::Client::CSignedMessage& message,
                        std::ostream& out);

}  // namespace Horodex
