// `horodex show [--json] FILE`: imports a response or a bare token into a time stamp (CStamp), or
// decodes a request, and prints its fields.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "codec/corekit/blob.h"
#include "codec/corekit/datetime.h"
#include "horodex/TSPStamp.h"
#include "tools/horodex/field_list.h"
#include "tools/horodex/time_text.h"

namespace Horodex {

int RunShow(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The fields of a TimeStampResp or a bare TimeStampToken as an imported stamp gives them, else of
// a TimeStampReq. Bytes that are none of them throw the stamp import's CAtlException.
FieldList DescribeMessage(const Velmora::CBlob& bytes);

// A byte property of a stamp (get_SerialNumber, get_TSABlob...), read by the size-query rule.
Velmora::CBlob StampBytes(const Velmora::PKI::TSP::Client::CStamp& stamp,
                          void (Velmora::PKI::TSP::Client::CStamp::*get)(unsigned char*,
                                                                         unsigned long*) const);

// The names of the failure bits of a refusal ("badAlg, unacceptedPolicy"; "none" for 0).
std::string FailInfoNames(unsigned int bits);
// The same as a field: "none" for people, null in JSON when no bit is set.
void AddFailInfoNames(FieldList& fields, std::string key, std::string label, unsigned int bits);

}  // namespace Horodex
