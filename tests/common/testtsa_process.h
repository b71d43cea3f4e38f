// horodex-testtsa for the tests: started on a free loopback port with its throwaway PKI in a
// temporary folder, its request log read back, stopped when the owner goes.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/common/child_process.h"
#include "tests/common/scratch.h"

namespace Velmora::Testing {

struct TestTsaOptions {
  bool tls = false;
  bool requireClientCert = false;
  long clockOffsetSeconds = 0;
  std::vector<std::string> extraArguments;
};

// One logged request: method, target, authorization, via, user-agent, content-type, body (its
// length), bodyhex (the body in hex, up to 1 KiB), conn (the connection's number), seq.
using LoggedRequest = std::map<std::string, std::string>;

class TestTsaProcess {
 public:
  explicit TestTsaProcess(const TestTsaOptions& options = {});

  int port() const noexcept { return m_port; }
  // "http://127.0.0.1:PORT" or "https://..." followed by `path`.
  std::string Url(const std::string& path = "/") const;
  std::wstring WideUrl(const std::string& path = "/") const;
  // A file of its PKI: ca.pem, tsa.pem, client.pem, client.key, client.der, stranger-client.pem ...
  std::filesystem::path File(const std::string& name) const { return m_dir.path() / "pki" / name; }
  // Every request it has logged so far, in order, and those to one target.
  std::vector<LoggedRequest> Requests() const;
  std::vector<LoggedRequest> RequestsTo(const std::string& target) const;
  bool Running() { return m_process->Running(); }

 private:
  TempDir m_dir;
  bool m_tls;
  std::unique_ptr<ChildProcess> m_process;
  int m_port = 0;
};

// A suite whose tests share one horodex-testtsa, started before the first and stopped after the
// last.
class TestTsaSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { tsa = std::make_unique<TestTsaProcess>(); }
  static void TearDownTestSuite() { tsa.reset(); }
  static inline std::unique_ptr<TestTsaProcess> tsa;
};

// The path of the horodex-testtsa program of this build.
std::string TestTsaProgram();

}  // namespace Velmora::Testing
