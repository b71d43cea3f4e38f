// The ers subcommands, each given the options read (ers_options.h); each returns the exit code.
#pragma once

#include <ostream>

#include "tools/horodex/ers_options.h"

namespace Horodex {

// Puts the files under one time stamp and writes a record per file into the -o folder.
int StampRecords(const ErsOptions& o, std::ostream& out, std::ostream& err);
// Checks each record against the --data file.
int VerifyRecords(const ErsOptions& o, std::ostream& out, std::ostream& err);
// Renews the records by time stamp, or by hash tree with --hash and a --data file per record.
int RenewRecords(const ErsOptions& o, std::ostream& out, std::ostream& err);
// Prints a record's chains of archive time stamps.
int ShowRecord(const ErsOptions& o, std::ostream& out, std::ostream& err);

}  // namespace Horodex
