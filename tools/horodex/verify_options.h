// The options of `horodex verify` of time stamps, and their reader.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace Horodex {

struct VerifyOptions {
  std::vector<std::string> stamps, caFiles, bundles, crlFiles;
  std::string dataPath, digestHex, requestPath, dataDir, acceptExtensions;
  std::vector<unsigned char> digest;  // of digestHex
  bool hasAccept = false, json = false, offline = false;
  bool signatureOnly = false;  // no data: the signature and the chain alone
};

// False with a message when the command line is not one this command takes.
bool ReadVerifyOptions(const std::vector<std::string>& args, VerifyOptions& o, std::ostream& err);

// The files a verify command line names, its options and their values passed over.
std::vector<std::string> VerifyOperands(const std::vector<std::string>& args);

}  // namespace Horodex
