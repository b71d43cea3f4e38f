// The checks `horodex verify` runs on one time stamp (imported, matches data, TSA certificate
// found, signature, chain), each with its outcome, and the exit status of the first that failed.
#pragma once

#include <string>
#include <vector>

#include "platform/capi/wincrypt.h"
#include "tools/horodex/exit_codes.h"
#include "tools/horodex/revocation_report.h"
#include "tools/horodex/verify_options.h"

namespace Horodex {

// The outcome of one check.
struct Check {
  enum class State { Passed, Failed, NotRun, NotChecked };
  const char* key;    // JSON member name
  const char* label;  // text label
  int exitCode;       // the exit status when this is the first check that fails
  State state = State::NotRun;
  Velmora::Platform::HRESULT code = 0;
  std::string detail = {};  // what passed, or why it was skipped
};

// What came of one stamp: its checks and its exit status; `error` tells why it could not be
// checked to the end (a file that cannot be read, a stamp that does not decode).
struct Verdict {
  std::vector<Check> checks;
  int status = kExitOk;
  std::string error;
  std::vector<RevocationLine> revocation = {};  // of the chain's certificates below the root
  std::vector<std::string> warnings = {};       // what does not change the verdict
};

// Every check on the stamp at `stampPath`, against the data file `dataPath` (or the digest or
// request of the options).
Verdict CheckStamp(const VerifyOptions& o, const std::string& stampPath,
                   const std::string& dataPath, const std::vector<void*>& storeHandles);

}  // namespace Horodex
