// ers show: a record read and its chains of archive time stamps printed.
#include <optional>
#include <vector>

#include "codec/evidence/evidence_record.h"
#include "platform/errors/atl_exception.h"
#include "tools/horodex/ers_report.h"
#include "tools/horodex/ers_subcommands.h"
#include "tools/horodex/exit_codes.h"
#include "tools/horodex/file_hash.h"
#include "tools/horodex/file_problem.h"
#include "tools/horodex/help_text.h"

namespace Horodex {

namespace P = Velmora::Platform;
namespace ERS = Velmora::PKI::ERS;
using Velmora::CBlob;

int ShowRecord(const ErsOptions& o, std::ostream& out, std::ostream& err) {
  if (o.operands.size() != 1) {
    err << CommandHelp("ers");
    return kExitUsage;
  }
  const std::optional<std::vector<unsigned char>> bytes = ReadFileBytes(o.operands[0]);
  if (!bytes) {
    err << "horodex ers show: " << CannotRead(o.operands[0]) << "\n";
    return kExitFile;
  }
  ERS::CEvidenceRecord record;
  try {
    record.decode(CBlob(*bytes));
  } catch (const P::CAtlException& e) {
    err << "horodex ers show: " << o.operands[0] << ": " << ErrorText(e.hr()) << "\n";
    return kExitBadMessage;
  }
  WriteRecord(record, o.json, out);
  return kExitOk;
}

}  // namespace Horodex
