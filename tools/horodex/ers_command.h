// horodex ers: evidence records (RFC 4998). `stamp` puts many files under one time stamp and
// writes a record per file, `verify` checks records against their files, `renew` renews records
// by time stamp or by hash tree, `show` prints a record. `horodex stamp --evidence`,
// `horodex renew` and `horodex verify|show RECORD.ers` come here too.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace Horodex {

// args[0] is the subcommand.
int RunErs(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Whether a command line of `command` is about evidence records: `stamp` with --evidence, or
// `verify`/`show` whose first operand ends in ".ers".
bool IsEvidenceCommand(const std::string& command, const std::vector<std::string>& args);

}  // namespace Horodex
