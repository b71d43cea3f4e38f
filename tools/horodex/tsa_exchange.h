// A request's way to a verified stamp: the TSAs in turn (the next one after a failure it may not
// share), then the stamp's signature and its TSA certificate's chain, revocation included.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "horodex/TSPRequest.h"
#include "horodex/TSPStamp.h"
#include "tools/horodex/field_list.h"
#include "tools/horodex/request_options.h"
#include "tools/horodex/revocation_report.h"

namespace Horodex {

struct StampOutcome {
  Velmora::PKI::TSP::Client::CStamp* stamp = nullptr;  // the request's stamp; null on failure
  int exit = 0;                                        // the exit code of a failure
  FieldList failure;                                   // what failed: stage, code, message...
  std::string answeredBy;                              // the URL of the TSA that answered
  std::vector<RevocationLine> revocation;              // of the chain below the root, verified
  bool told = false;  // the failure was told on the error stream already (nothing in `failure`)
};

// Sends the request (hash set, options applied) to the TSAs of the options, or to the policy's
// DefaultTSPURL when they name none, and verifies the stamp unless --no-verify. A failure that
// stops the run is in `failure` with its exit code (a missing TSA is reported on `err` at once);
// each TSA passed over is told on `err`.
StampOutcome SendToTsas(Velmora::PKI::TSP::Client::CRequest& request, const RequestOptions& o,
                        const std::string& who, std::ostream& err);

// The revocation lines as one field of a report.
void AddRevocation(FieldList& fields, const std::vector<RevocationLine>& lines);

}  // namespace Horodex
