// The user's defaults for horodex, from $XDG_CONFIG_HOME/velmora/horodex.conf (~/.config when
// the variable is not an absolute path), an INI file read by the platform's INI reader:
//
//   [defaults]
//   tsa = https://freetsa.org/tsr       ; one line per TSA, tried in this order
//   tsa = http://timestamp.digicert.com
//   hash = sha256                       ; a name or a dotted OID, as --hash takes it
//   cert-req = yes                      ; yes or no (true/false, 1/0, on/off)
//   ca = ~/certs/freetsa-cacert.pem     ; one line per file; relative to the file's folder
//   timeout = 30                        ; seconds, as --timeout takes it
//
// stamp takes all of them, query hash and cert-req, verify ca. An option given on the command
// line replaces the file's value (every --tsa replaces the file's whole list, every --ca the
// file's CA files); the administrator's policies are checked on the result, as on any request:
// their restrictions (allowed and denied lists, required nonce...) always hold, their defaults
// (DefaultTSPURL, DefaultHashAlg, DefaultCertReq) stand where neither the line nor the file
// give a value.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace Horodex {

struct UserSettings {
  std::vector<std::string> tsas;
  std::string hash;
  std::optional<bool> certReq;
  std::vector<std::string> caFiles;
  std::optional<unsigned long> timeoutMs;
};

// Where the file is looked for; empty when neither XDG_CONFIG_HOME nor HOME names a folder.
std::string UserSettingsPath();

// The settings (all empty without a file), or nothing after a message on `err` that names the
// file, and the line where there is one: a file that exists but cannot be read, is not text, has
// a line that is not INI, or a section, key or value the tool does not take.
std::optional<UserSettings> LoadUserSettings(const std::string& command, std::ostream& err);

}  // namespace Horodex
