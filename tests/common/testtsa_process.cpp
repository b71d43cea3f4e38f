#include "tests/common/testtsa_process.h"

#include <chrono>
#include <fstream>
#include <stdexcept>

namespace Velmora::Testing {

std::string TestTsaProgram() {
  return std::string(HORODEX_BINARY_DIR) + "/tools/testtsa/horodex-testtsa";
}

TestTsaProcess::TestTsaProcess(const TestTsaOptions& options) : m_tls(options.tls) {
  std::vector<std::string> arguments{"--dir",
                                     (m_dir.path() / "pki").string(),
                                     "--log",
                                     (m_dir.path() / "requests.log").string(),
                                     "--watch-stdin",
                                     "--clock-offset",
                                     std::to_string(options.clockOffsetSeconds)};
  if (options.tls) {
    arguments.emplace_back("--tls");
  }
  if (options.requireClientCert) {
    arguments.emplace_back("--require-client-cert");
  }
  arguments.insert(arguments.end(), options.extraArguments.begin(), options.extraArguments.end());
  m_process = std::make_unique<ChildProcess>(TestTsaProgram(), arguments,
                                             (m_dir.path() / "stderr.log").string());
  // Making its PKI takes a second on an idle machine, many more on a loaded one under ASan.
  const std::string line = m_process->FirstLine(std::chrono::seconds(60));
  m_port = std::stoi(line);
  if (m_port <= 0) {
    throw std::runtime_error("horodex-testtsa printed no port: " + line);
  }
}

std::string TestTsaProcess::Url(const std::string& path) const {
  return std::string(m_tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(m_port) + path;
}

std::wstring TestTsaProcess::WideUrl(const std::string& path) const {
  const std::string url = Url(path);
  return std::wstring(url.begin(), url.end());
}

std::vector<LoggedRequest> TestTsaProcess::Requests() const {
  std::vector<LoggedRequest> requests;
  std::ifstream in(m_dir.path() / "requests.log");
  std::string line;
  while (std::getline(in, line)) {
    LoggedRequest request;
    std::size_t start = 0;
    while (start <= line.size()) {
      std::size_t end = line.find('\t', start);
      if (end == std::string::npos) {
        end = line.size();
      }
      const std::string field = line.substr(start, end - start);
      const std::size_t eq = field.find('=');
      if (eq != std::string::npos) {
        request[field.substr(0, eq)] = field.substr(eq + 1);
      }
      start = end + 1;
    }
    requests.push_back(std::move(request));
  }
  return requests;
}

std::vector<LoggedRequest> TestTsaProcess::RequestsTo(const std::string& target) const {
  std::vector<LoggedRequest> matching;
  for (LoggedRequest& request : Requests()) {
    if (request["target"] == target) {
      matching.push_back(std::move(request));
    }
  }
  return matching;
}

}  // namespace Velmora::Testing
