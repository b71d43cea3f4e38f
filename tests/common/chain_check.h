// A chain judged as a stamp's verification judges it, next to `openssl verify` on the same
// certificates: for the tests of the chain engine's path rules.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/capi/wincrypt.h"
#include "tests/common/scratch.h"
#include "tests/common/test_ca.h"

namespace Velmora::Testing {

struct ChainVerdict {
  Platform::DWORD error = 0;  // the time-stamping policy's dwError at the current time
  Platform::LONG element = -1;
  Platform::DWORD chainErrors = 0;                   // the chain's CERT_TRUST_* error bits
  std::vector<std::vector<unsigned char>> elements;  // the chain's certificates, subject first
};

// A root installed in the user's "Root" folder of a private folder (the system trust store
// emptied) for as long as this lives.
class InstalledRoot {
 public:
  explicit InstalledRoot(const TestCert& root);
  ~InstalledRoot();
  InstalledRoot(const InstalledRoot&) = delete;
  InstalledRoot& operator=(const InstalledRoot&) = delete;

  // The chain of `subject` with `extra` as the token's certificates.
  ChainVerdict judge(const TestCert& subject, const std::vector<const TestCert*>& extra) const;
  // Whether `openssl verify -attime <now> <options>` accepts `subject` with the root as the only
  // trusted certificate and `extra` as untrusted ones.
  bool opensslAccepts(const TestCert& subject, const std::vector<const TestCert*>& extra,
                      const std::string& options = {}) const;

 private:
  TempDir m_dir;
  std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

}  // namespace Velmora::Testing
