// The options of `horodex stamp`, and their reader.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "tools/horodex/request_options.h"

namespace Horodex {

struct StampOptions {
  std::string file, hash, output;
  std::string signature;             // a CMS signature whose signers are stamped
  std::vector<std::size_t> signers;  // which of them (--signer); all when empty
  bool json = false;
  RequestOptions request;
};

// False with a message when the command line is not one this command takes.
bool ReadStampOptions(const std::vector<std::string>& args, StampOptions& o, std::ostream& err);

}  // namespace Horodex
