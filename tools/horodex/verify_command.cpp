// horodex verify of time stamps: the options read, the trust anchors and the caller's stores
// opened, every stamp checked against its data, and the verdicts written; a CMS signature goes to
// the signature's verification.
#include "tools/horodex/verify_command.h"

#include <filesystem>
#include <optional>

#include "codec/corekit/blob.h"
#include "tools/horodex/certificate_bundle.h"
#include "tools/horodex/exit_codes.h"
#include "tools/horodex/file_problem.h"
#include "tools/horodex/signature_command.h"
#include "tools/horodex/terminal.h"
#include "tools/horodex/trusted_roots.h"
#include "tools/horodex/verify_checks.h"
#include "tools/horodex/verify_options.h"
#include "tools/horodex/verify_report.h"

namespace Horodex {
namespace {

// The data file of `stamp` in the folder of --data-dir: its name without the last extension
// (doc.txt.tsr stamps doc.txt, a.tsr stamps a).
std::string DataFileOf(const std::string& dataDir, const std::string& stamp) {
  return (std::filesystem::path(dataDir) / std::filesystem::path(stamp).stem()).string();
}

// Whether the command line names one file and that file is a CMS signature.
bool NamesOneSignature(const std::vector<std::string>& args) {
  const std::vector<std::string> files = VerifyOperands(args);
  if (files.size() != 1) {
    return false;
  }
  const std::optional<std::vector<unsigned char>> bytes = ReadFileBytes(files[0]);
  return bytes && SignatureOf(Velmora::CBlob(*bytes)).has_value();
}

}  // namespace

int RunVerify(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (NamesOneSignature(args)) {
    return RunVerifySignature(args, out, err);
  }
  VerifyOptions o;
  if (!ReadVerifyOptions(args, o, err)) {
    return kExitUsage;
  }
  // Trust anchors and the caller's stores.
  if (!TrustCaFilesOrSettings(o.caFiles, "verify", err)) {
    return kExitFile;
  }
  const std::optional<CallerStores> stores =
      OpenCallerStores(o.bundles, o.crlFiles, "horodex verify", err);
  if (!stores) {
    return kExitFile;
  }
  const std::vector<void*>& storeHandles = stores->handles;

  std::vector<Verdict> verdicts;
  int status = kExitOk;  // the first failing stamp's
  for (const std::string& stamp : o.stamps) {
    const std::string data = o.dataDir.empty() ? o.dataPath : DataFileOf(o.dataDir, stamp);
    verdicts.push_back(CheckStamp(o, stamp, data, storeHandles));
    status = status != kExitOk ? status : verdicts.back().status;
  }
  const bool colour = !o.json && ColourWanted(out);
  if (o.stamps.size() > 1) {
    o.json ? WriteSummaryJson(o.stamps, verdicts, o.signatureOnly, out)
           : WriteSummaryText(o.stamps, verdicts, o.signatureOnly, colour, out);
    return status;
  }
  const Verdict& verdict = verdicts.front();
  if (!verdict.error.empty()) {
    err << "horodex verify: " << verdict.error << "\n";
    return verdict.status;
  }
  o.json ? WriteVerdictJson(verdict, !o.signatureOnly, out)
         : WriteVerdictText(verdict, colour, out);
  return status;
}

}  // namespace Horodex
