// `horodex show [--json] FILE`: decodes a request, a response or a bare token and prints its
// fields.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "codec/corekit/blob.h"
#include "tools/horodex/field_list.h"

namespace Horodex {

int RunShow(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The fields of a TimeStampResp, a bare TimeStampToken or a TimeStampReq, tried in that order.
// Bytes that are none of them throw the token decoder's CAtlException.
FieldList DescribeMessage(const Velmora::CBlob& bytes);

}  // namespace Horodex
