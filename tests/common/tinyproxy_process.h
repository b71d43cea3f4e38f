// Debian's tinyproxy as the tests' forward proxy: started on a free loopback port with a
// generated configuration (loopback only, optional Basic authentication, log in a temporary
// folder), stopped when the owner goes. Proxied requests carry its "Via" header.
#pragma once

#include <memory>
#include <string>

#include "tests/common/child_process.h"
#include "tests/common/scratch.h"

namespace Velmora::Testing {

class TinyproxyProcess {
 public:
  // With a user name, the proxy demands Basic authentication with it and `password` (407).
  explicit TinyproxyProcess(const std::string& user = {}, const std::string& password = {});

  int port() const noexcept { return m_port; }
  // "http://127.0.0.1:PORT"
  std::string Url() const;
  std::wstring WideUrl() const;
  // The proxy's own log.
  std::string Log() const;

  // Whether tinyproxy is installed; tests that need it say so when it is not.
  static bool Available();

 private:
  TempDir m_dir;
  std::unique_ptr<ChildProcess> m_process;
  int m_port = 0;
};

}  // namespace Velmora::Testing
