// The --ca files of a command: every certificate in them becomes a trusted root for this run.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace Horodex {

// Adds the certificates of each file as trusted roots. False after a message naming the file and
// what is wrong with it (not readable, no certificate in it, a certificate that does not decode);
// `who` starts the message ("horodex verify").
bool TrustRootFiles(const std::vector<std::string>& files, const std::string& who,
                    std::ostream& err);

// The same for the files of --ca, or of the user's settings when --ca names none (`caFiles` is
// then filled from them). False after a message; `command` is the settings' section ("verify").
bool TrustCaFilesOrSettings(std::vector<std::string>& caFiles, const std::string& command,
                            std::ostream& err);

}  // namespace Horodex
