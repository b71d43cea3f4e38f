// The time stamp over an evidence tree's root that ers stamp and ers renew get.
#include "tools/horodex/ers_root_stamp.h"

#include <filesystem>

#include "tools/horodex/exit_codes.h"
#include "tools/horodex/file_problem.h"
#include "tools/horodex/tsa_exchange.h"
#include "tools/horodex/user_settings.h"

namespace Horodex {

namespace fs = std::filesystem;
using Velmora::CBlob;
using namespace Velmora::PKI::TSP::Client;

// The request options on a new request, the user's settings under them, and the output folder
// made (a record is written there, so it must take files): 0, or the exit code after a message,
// before anything is hashed or sent.
int PrepareErsRequest(const std::string& command, ErsOptions& o, CRequest& request,
                      CertContextPtr& clientCert, std::ostream& err) {
  const std::string who = "horodex ers " + command;
  const std::optional<UserSettings> settings = LoadUserSettings(command, err);
  if (!settings) {
    return kExitFile;
  }
  if (const int code = FinishRequestOptions(o.request, *settings, who, err); code != kExitOk) {
    return code;
  }
  if (!o.out.empty()) {
    std::error_code ec;
    fs::create_directories(o.out, ec);
    const std::string probe = (fs::path(o.out) / ".probe").string();
    if (const std::string problem = ec ? ec.message() : WriteProblem(probe); !problem.empty()) {
      err << who << ": cannot write in " << o.out << ": " << problem << "; nothing sent\n";
      return kExitFile;
    }
  }
  if (const int code = ApplyRequestOptions(request, o.request, clientCert, who, err);
      code != kExitOk) {
    return code;
  }
  if (o.request.tsas.empty() && request.get_TSAAddress()[0] == L'\0') {
    err << who << ": no TSA: give --tsa URL, or tsa = URL in " << UserSettingsPath() << "\n";
    return kExitUsage;
  }
  return kExitOk;
}

// Stamps the tree's root through the TSAs in turn (the request's options set), verifies the stamp
// unless --no-verify, and puts it under the tree. The URL that answered, or nothing with the exit
// code in `status` after the failure was told.
std::optional<std::string> StampTreeRoot(CEvidenceTree& tree, const std::string& oid,
                                         CRequest& request, const ErsOptions& o,
                                         const std::string& who, const std::string& undone,
                                         std::ostream& err, int& status) {
  const CBlob root = tree.Root();
  request.put_DataHashAlg(oid.c_str());
  request.put_DataHash(root.pbData(), root.cbData());
  const StampOutcome outcome = SendToTsas(request, o.request, who, err);
  if (outcome.stamp == nullptr) {
    if (!outcome.told) {
      outcome.failure.write(err, o.json);
    }
    if (!o.json) {  // the failure's JSON object says so
      err << who << ": " << undone << "\n";
    }
    status = outcome.exit;
    return std::nullopt;
  }
  const CBlob response = request.get_Response();
  tree.PutTimeStamp(response.pbData(), response.cbData());
  return outcome.answeredBy;
}

}  // namespace Horodex
