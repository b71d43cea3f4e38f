// OpenSSL's `ts -reply` behind a small HTTP server (tests/data/openssl/ts_http.py), with the TSA of
// the OpenSSL fixtures (tsp_fixtures.h): the second TSA the tool's tests stamp at.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>

#include "tests/common/child_process.h"
#include "tests/common/tsp_fixtures.h"

namespace Velmora::Testing {

class OpenSslHttpTsa {
 public:
  OpenSslHttpTsa()
      : m_process("/usr/bin/python3",
                  {std::string(HORODEX_SOURCE_DIR) + "/tests/data/openssl/ts_http.py",
                   OpenSslTsaDir().string()}),
        m_port(m_process.FirstLine(std::chrono::seconds(20))) {}
  std::string Url() const { return "http://127.0.0.1:" + m_port + "/"; }
  static std::filesystem::path Root() { return OpenSslTsaDir() / "ca.pem"; }

 private:
  ChildProcess m_process;
  std::string m_port;
};

}  // namespace Velmora::Testing
