// The options of the ers commands (stamp, verify, renew, show), and their reader.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "tools/horodex/request_options.h"

namespace Horodex {

struct ErsOptions {
  std::vector<std::string> operands, dataFiles;
  std::string out, hash, filesFrom;
  bool json = false, nulSeparated = false;
  RequestOptions request;  // the TSAs, the connection, the request and its verification
};

// Reads the options after the subcommand `command` (args[0]); false with a message on a bad one.
bool ReadErsOptions(const std::string& command, const std::vector<std::string>& args, ErsOptions& o,
                    std::ostream& err);

}  // namespace Horodex
