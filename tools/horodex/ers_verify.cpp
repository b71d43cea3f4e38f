// ers verify: each record checked against the data file, with the exit status of the first failure.
#include <optional>
#include <vector>

#include "horodex/EvidenceRecord.h"
#include "platform/capi/wincrypt.h"
#include "platform/errors/winerror.h"
#include "tools/horodex/ers_report.h"
#include "tools/horodex/ers_subcommands.h"
#include "tools/horodex/exit_codes.h"
#include "tools/horodex/file_problem.h"
#include "tools/horodex/help_text.h"
#include "tools/horodex/trusted_roots.h"

namespace Horodex {

namespace P = Velmora::Platform;
using namespace Velmora::PKI::TSP::Client;

namespace {

// The exit status of a failed check, by the part of the record it checks.
int ExitOf(const std::string& part, P::HRESULT hr) {
  if (part == "record") {
    return kExitBadMessage;
  }
  if (part.ends_with("path")) {
    return hr == P::NTE_BAD_ALGID ? kExitBadMessage : kExitStampMismatch;
  }
  if (part.ends_with("signature")) {
    return hr == P::CRYPT_E_NOT_FOUND ? kExitNoTsaCertificate : kExitBadSignature;
  }
  if (part.ends_with("TSA chain")) {
    return kExitChainRefused;
  }
  return kExitNotVerified;  // order
}

}  // namespace

int VerifyRecords(const ErsOptions& o, std::ostream& out, std::ostream& err) {
  if (o.operands.empty() || o.dataFiles.size() != 1) {
    err << CommandHelp("ers");
    return kExitUsage;
  }
  if (!TrustRootFiles(o.request.caFiles, "horodex ers verify", err)) {
    return kExitFile;
  }
  const std::optional<std::vector<unsigned char>> data = ReadFileBytes(o.dataFiles[0]);
  if (!data) {
    err << "horodex ers verify: " << CannotRead(o.dataFiles[0]) << "\n";
    return kExitFile;
  }
  int status = kExitOk;
  for (const std::string& path : o.operands) {
    const std::optional<std::vector<unsigned char>> record = ReadFileBytes(path);
    if (!record) {
      err << "horodex ers verify: " << CannotRead(path) << "\n";
      status = status == kExitOk ? kExitFile : status;
      continue;
    }
    const CEvidenceReport report =
        VerifyEvidenceRecordData(record->data(), static_cast<unsigned long>(record->size()),
                                 data->data(), data->size(), nullptr, 0);
    int own = kExitOk;
    for (const CEvidenceCheck& check : report.checks) {
      if (check.result != 0 && own == kExitOk) {
        own = ExitOf(check.part, check.result);
      }
    }
    WriteRecordChecks(path, o.dataFiles[0], own, report, o.json, out);
    if (status == kExitOk) {
      status = own;
    }
  }
  return status;
}

}  // namespace Horodex
