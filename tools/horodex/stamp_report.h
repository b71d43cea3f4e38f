// What `horodex stamp` prints of the stamp it got: result, time, serial number, TSA, policy, the
// TSA that answered, the output and the revocation of the TSA's chain.
#pragma once

#include "horodex/TSPStamp.h"
#include "tools/horodex/field_list.h"
#include "tools/horodex/stamp_options.h"
#include "tools/horodex/tsa_exchange.h"

namespace Horodex {

FieldList StampReport(const Velmora::PKI::TSP::Client::CStamp& stamp, const StampOutcome& outcome,
                      const StampOptions& o);

}  // namespace Horodex
