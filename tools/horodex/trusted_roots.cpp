// The --ca files of a command, or of the user's settings, made trusted roots for the run.
#include "tools/horodex/trusted_roots.h"

#include <optional>

#include "platform/capi/wincrypt.h"
#include "platform/errors/winerror.h"
#include "tools/horodex/file_hash.h"
#include "tools/horodex/file_problem.h"
#include "tools/horodex/user_settings.h"

namespace Horodex {

bool TrustRootFiles(const std::vector<std::string>& files, const std::string& who,
                    std::ostream& err) {
  namespace P = Velmora::Platform;
  for (const std::string& file : files) {
    const P::HRESULT hr = P::CertAddTrustedRootsFromFile(file.c_str());
    if (P::SUCCEEDED(hr)) {
      continue;
    }
    err << who << ": --ca ";
    if (const std::string problem = ReadProblem(file); !problem.empty()) {
      err << CannotRead(file) << "\n";
    } else if (hr == P::CRYPT_E_NOT_FOUND) {
      err << file << " holds no certificate (a PEM \"CERTIFICATE\" block or one DER certificate)\n";
    } else {
      err << file << ": cannot take its certificates (" << ErrorText(hr) << ")\n";
    }
    return false;
  }
  return true;
}

bool TrustCaFilesOrSettings(std::vector<std::string>& caFiles, const std::string& command,
                            std::ostream& err) {
  const std::optional<UserSettings> settings = LoadUserSettings(command, err);
  if (!settings) {
    return false;
  }
  if (caFiles.empty()) {
    caFiles = settings->caFiles;
  }
  return TrustRootFiles(caFiles, "horodex " + command, err);
}

}  // namespace Horodex
