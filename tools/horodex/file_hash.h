// What the commands that stamp or make requests for a file share: the hash algorithm named on the
// command line, feeding a file to a request (with a progress bar on a terminal for large files),
// and the text of a failure code.
#pragma once

#include <functional>
#include <ostream>
#include <string>

#include "horodex/TSPRequest.h"
#include "platform/base/types.h"

namespace Horodex {

// The dotted OID of a hash algorithm given by OID or by its usual name ("sha256", "SHA-256",
// "streebog256"...);
// empty when the name is unknown.
std::string HashOid(const std::string& given);

// A warning on `err` when the dotted OID is SHA-1 or MD5, which a user only names on purpose:
// their imprints are refused by a growing number of verifiers and TSAs.
void WarnWeakHash(const std::string& oid, const std::string& command, std::ostream& err);

// Feeds the file to the request piece by piece (an empty file too). Files from 64 MiB on show a
// progress bar on `err` when standard error is a terminal. False, with a message naming
// `command`, when the file cannot be opened or read; the request's failures are thrown.
// Feeds the file (standard input for "-") to `sink` in pieces, with a progress bar on a terminal
// for files from 64 MiB. False after a message on `err` naming the file when it cannot be read.
bool FeedFile(const std::string& path, const std::string& command, std::ostream& err,
              const std::function<void(const unsigned char*, std::size_t)>& sink);
bool HashFile(Velmora::PKI::TSP::Client::CRequest& request, const std::string& path,
              const std::string& command, std::ostream& err);

// "0xC2100100".
std::string CodeText(Velmora::Platform::HRESULT hr);
// The code's message in the user's language.
std::string ErrorMessage(Velmora::Platform::HRESULT hr);
// "0xC2100100: <the code's message>".
std::string ErrorText(Velmora::Platform::HRESULT hr);

}  // namespace Horodex
