// The time stamp over an evidence tree's root that ers stamp and ers renew get: the request made
// from the options and the user's settings, and the root sent to the TSAs.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "TSP/horodex/CapiHandles.h"
#include "horodex/EvidenceRecord.h"
#include "horodex/TSPRequest.h"
#include "tools/horodex/ers_options.h"

namespace Horodex {

// The request options on a new request, the user's settings under them, and the output folder
// made (a record is written there, so it must take files): 0, or the exit code after a message,
// before anything is hashed or sent.
int PrepareErsRequest(const std::string& command, ErsOptions& o,
                      Velmora::PKI::TSP::Client::CRequest& request,
                      Velmora::PKI::TSP::Client::CertContextPtr& clientCert, std::ostream& err);

// Stamps the tree's root through the TSAs in turn (the request's options set), verifies the stamp
// unless --no-verify, and puts it under the tree. The URL that answered, or nothing with the exit
// code in `status` after the failure was told, with `undone` ("no record written") in text.
std::optional<std::string> StampTreeRoot(Velmora::PKI::TSP::Client::CEvidenceTree& tree,
                                         const std::string& oid,
                                         Velmora::PKI::TSP::Client::CRequest& request,
                                         const ErsOptions& o, const std::string& who,
                                         const std::string& undone, std::ostream& err, int& status);

}  // namespace Horodex
