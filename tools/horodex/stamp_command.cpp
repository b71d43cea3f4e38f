// horodex stamp: the options and settings applied to a request, the file hashed into it (or a
// signature's signers stamped), the TSAs asked in turn, the response written and the report.
#include "tools/horodex/stamp_command.h"

#include <optional>

#include "horodex/TSPRequest.h"
#include "horodex/TSPStamp.h"
#include "platform/errors/atl_exception.h"
#include "tools/horodex/exit_codes.h"
#include "tools/horodex/file_hash.h"
#include "tools/horodex/file_problem.h"
#include "tools/horodex/request_options.h"
#include "tools/horodex/signature_command.h"
#include "tools/horodex/stamp_options.h"
#include "tools/horodex/stamp_report.h"
#include "tools/horodex/tsa_exchange.h"
#include "tools/horodex/user_settings.h"

namespace Horodex {

namespace {

using Velmora::PKI::TSP::Client::CertContextPtr;
using Velmora::PKI::TSP::Client::CRequest;
using Velmora::PKI::TSP::Client::CStamp;
namespace P = Velmora::Platform;

}  // namespace

int RunStamp(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  StampOptions o;
  if (!ReadStampOptions(args, o, err)) {
    return kExitUsage;
  }
  const std::optional<UserSettings> settings = LoadUserSettings("stamp", err);
  if (!settings) {
    return kExitFile;
  }
  if (const int code = FinishRequestOptions(o.request, *settings, "horodex stamp", err);
      code != kExitOk) {
    return code;
  }
  if (o.hash.empty()) {
    o.hash = settings->hash;
  }
  std::vector<std::string> inputs = RequestInputFiles(o.request);
  inputs.push_back(o.signature.empty() ? o.file : o.signature);
  if (const int code = CheckOutput(o.output, inputs, "horodex stamp", err); code != kExitOk) {
    return code;
  }
  // With -o - the response goes to standard output, and the report to standard error.
  std::ostream& report = o.output == "-" ? err : out;
  try {
    CRequest request;
    CertContextPtr clientCert;
    if (const int code = ApplyRequestOptions(request, o.request, clientCert, "horodex stamp", err);
        code != kExitOk) {
      return code;
    }
    if (!o.hash.empty()) {
      const std::string oid = HashOid(o.hash);
      if (oid.empty()) {
        err << "horodex stamp: unknown hash algorithm '" << o.hash << "'\n";
        return kExitUsage;
      }
      request.put_DataHashAlg(oid.c_str());
      WarnWeakHash(oid, "stamp", err);
    }
    if (!o.signature.empty()) {
      return StampSignature(o.signature, o.signers, request, o.request, o.output, o.json, out, err);
    }
    if (!HashFile(request, o.file, "stamp", err)) {
      return kExitFile;
    }
    const StampOutcome outcome = SendToTsas(request, o.request, "horodex stamp", err);
    if (outcome.stamp == nullptr) {
      if (!outcome.told) {
        outcome.failure.write(err, o.json);
      }
      return outcome.exit;
    }
    const CStamp& stamp = *outcome.stamp;
    if (!WriteOutput(o.output, request.get_Response())) {
      err << "horodex stamp: " << CannotWrite(o.output) << "\n";
      return kExitFile;
    }
    StampReport(stamp, outcome, o).write(report, o.json);
    return kExitOk;
  } catch (const P::CAtlException& e) {
    err << "horodex stamp: cannot make the request (" << ErrorText(e) << ")\n";
    return kExitBadMessage;
  }
}

}  // namespace Horodex
