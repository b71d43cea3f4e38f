// What `horodex stamp` prints of the stamp it got.
#include "tools/horodex/stamp_report.h"

#include "platform/text/convert.h"
#include "tools/horodex/show_command.h"

namespace Horodex {

using Velmora::CBlob;
using Velmora::PKI::TSP::Client::CStamp;
namespace P = Velmora::Platform;

FieldList StampReport(const CStamp& stamp, const StampOutcome& outcome, const StampOptions& o) {
  const CBlob tsaName = StampBytes(stamp, &CStamp::get_TSABlob);
  FieldList fields;
  fields.text("result", "Result", o.request.verify ? "verified" : "not verified (--no-verify)");
  fields.time("time", "Time", stamp.get_Time());
  fields.text("serialNumber", "Serial number",
              StampBytes(stamp, &CStamp::get_SerialNumber).writeToHexString(0).str());
  fields.optionalText("tsa", "TSA", tsaName.empty() ? "" : P::WideToUtf8(stamp.get_TSA()));
  fields.text("policy", "Policy", stamp.get_PolicyID());
  fields.text("tsaUrl", "Answered by", outcome.answeredBy);
  fields.text("output", "Written to", o.output);
  fields.alwaysInJson({"revocation"});  // null when the stamp was not verified
  AddRevocation(fields, outcome.revocation);
  return fields;
}

}  // namespace Horodex
