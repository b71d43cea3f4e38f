// A chain judged as a stamp's verification judges it, next to `openssl verify` on the same
// certificates: for the tests of the chain engine's path rules.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/capi/wincrypt.h"
#include "platform/capi/wincrypt_revocation.h"
#include "tests/common/saved_environment.h"
#include "tests/common/scratch.h"
#include "tests/common/test_ca.h"

namespace Velmora::Testing {

struct ChainVerdict {
  Platform::DWORD error = 0;     // the time-stamping policy's dwError; ~0u when no chain is built
  Platform::DWORD required = 0;  // the same with revocation checking required
  Platform::LONG element = -1;
  Platform::DWORD chainErrors = 0;                   // the chain's CERT_TRUST_* error bits
  std::vector<std::vector<unsigned char>> elements;  // the chain's certificates, subject first
  Platform::CERT_REVOCATION_INFO revocation{};       // of the subject's element, when checked
};

// The chain of `subject` with `extra` as the token's certificates and `crls` (DER) beside them
// (built with `chainFlags` beside the stamp's own), judged by the time-stamping policy at
// `genTime` (none: without the time flag), as the stamp's verification does.
ChainVerdict JudgeChain(const TestCert& subject, const std::vector<const TestCert*>& extra,
                        std::optional<std::time_t> genTime = std::time(nullptr),
                        Platform::DWORD chainFlags = 0,
                        const std::vector<std::vector<unsigned char>>& crls = {});

// A root installed in the user's "Root" folder of a private folder (the system trust store
// emptied) for as long as this lives.
class InstalledRoot {
 public:
  explicit InstalledRoot(const TestCert& root);

  // The chain of `subject` with `extra` as the token's certificates, judged now.
  ChainVerdict judge(const TestCert& subject, const std::vector<const TestCert*>& extra) const {
    return JudgeChain(subject, extra);
  }
  // Whether `openssl verify -attime <now> <options>` accepts `subject` with the root as the only
  // trusted certificate and `extra` as untrusted ones.
  bool opensslAccepts(const TestCert& subject, const std::vector<const TestCert*>& extra,
                      const std::string& options = {}) const;

 private:
  SavedEnvironment m_env{{"XDG_DATA_HOME", "VELMORA_ROOT", "SSL_CERT_FILE"}};
  TempDir m_dir;
};

}  // namespace Velmora::Testing
