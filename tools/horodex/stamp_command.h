// `horodex stamp FILE --tsa URL ... -o OUT.tsr`: hashes the file into a request (CRequest), sends
// it to the TSA, verifies the stamp's signature and the TSA's chain, writes the TSA's response
// and prints the time, serial number and TSA. The exit code tells apart a policy refusal, a
// transport failure, a TSA's refusal, a reply that does not answer the request and a stamp that
// does not verify (exit_codes.h).
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace Horodex {

int RunStamp(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace Horodex
