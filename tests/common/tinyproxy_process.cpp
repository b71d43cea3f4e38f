#include "tests/common/tinyproxy_process.h"

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace Velmora::Testing {

namespace {

constexpr const char* kProgram = "/usr/bin/tinyproxy";

}  // namespace

bool TinyproxyProcess::Available() {
  return access(kProgram, X_OK) == 0;
}

TinyproxyProcess::TinyproxyProcess(const std::string& user, const std::string& password) {
  if (!Available()) {
    throw std::runtime_error("tinyproxy is not installed (scripts/setup installs it)");
  }
  // The port is chosen here and handed to tinyproxy; should another program take it in
  // between, tinyproxy fails to start and the next try takes another port.
  for (int attempt = 0; attempt < 3; ++attempt) {
    m_port = FreeLoopbackPort();
    const auto config = m_dir.path() / "tinyproxy.conf";
    {
      std::ofstream out(config);
      out << "Port " << m_port << "\n"
          << "Listen 127.0.0.1\n"
          << "Allow 127.0.0.1\n"
          << "Timeout 30\n"
          << "MaxClients 16\n"
          << "LogLevel Info\n"
          << "LogFile \"" << (m_dir.path() / "tinyproxy.log").string() << "\"\n"
          << "PidFile \"" << (m_dir.path() / "tinyproxy.pid").string() << "\"\n";
      if (!user.empty()) {
        out << "BasicAuth " << user << " " << password << "\n";
      }
    }
    m_process = std::make_unique<ChildProcess>(
        kProgram, std::vector<std::string>{"-d", "-c", config.string()},
        (m_dir.path() / "stderr.log").string());
    if (WaitForListener(m_port, std::chrono::seconds(5)) && m_process->Running()) {
      return;
    }
    m_process.reset();
  }
  throw std::runtime_error("tinyproxy did not start");
}

std::string TinyproxyProcess::Url() const {
  return "http://127.0.0.1:" + std::to_string(m_port);
}

std::wstring TinyproxyProcess::WideUrl() const {
  const std::string url = Url();
  return std::wstring(url.begin(), url.end());
}

std::string TinyproxyProcess::Log() const {
  std::ifstream in(m_dir.path() / "tinyproxy.log");
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace Velmora::Testing
