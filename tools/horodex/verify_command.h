// `horodex verify STAMP... (--data FILE | --digest HEX | --request REQ | --data-dir DIR |
// --signature-only)
// [--ca CERTFILE]... [--certs BUNDLE]... [--accept-ext OIDS|*] [--json]`: imports each time stamp
// and runs every check on it, one line each (or one JSON object):
//
//   imported               the file is a TimeStampResp with a token, or a bare token
//   matches data           its message imprint is the hash of FILE (under the token's hash
//                          algorithm) or HEX; with --request, it answers REQ (hash and nonce);
//                          "skipped" when none of the three is given
//   TSA certificate found  the certificate its signing-certificate attribute (or CMS signer id)
//                          names, in the token, the --certs bundles or the user's "AddressBook"
//   signature              content type, signature and critical extensions (CStamp::Verify; the
//                          extensions named by --accept-ext, ";"-separated OIDs or "*", pass)
//   chain                  the TSA certificate's chain judged at the stamp's time by the
//                          time-stamping chain policy (CStamp::VerifyCertificate)
//
// Trust anchors are the system's plus every certificate of the --ca files; certificates from the
// token or from --certs are only material for building the chain, never trusted. The exit status
// is 0 only when every check passes; otherwise it names the first check that failed
// (exit_codes.h), or 2 for a file that cannot be read.
//
// Several stamps take their data from --data-dir: the stamp's file name without its last
// extension, in DIR. Each gets a line with its outcome ("verified", or "failed (exit N...)") with
// its checks below it, and a summary line ends the report; the exit status is that of the first
// stamp that failed. JSON: {"valid", "verified", "failed", "stamps": [one object per stamp, with
// "file" and "exit"]}. The --ca files, when none is given, are the user's settings' (see
// user_settings.h).
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace Horodex {

int RunVerify(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace Horodex
