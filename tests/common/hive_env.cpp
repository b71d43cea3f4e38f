#include "tests/common/hive_env.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "platform/text/convert.h"

namespace Velmora::Testing {

ConfigEnvironment::ConfigEnvironment()
    : m_root(m_dir.path() / "root"),
      m_config(m_dir.path() / "config"),
      m_state(m_dir.path() / "state") {
  std::filesystem::create_directories(m_root);
  std::filesystem::create_directories(m_config);
  std::filesystem::create_directories(m_state);
  setenv("VELMORA_ROOT", m_root.c_str(), 1);
  setenv("XDG_CONFIG_HOME", m_config.c_str(), 1);
  setenv("XDG_STATE_HOME", m_state.c_str(), 1);
}

std::string ConfigEnvironment::PolicyHive(bool machine, const std::string& values) {
  return std::string("Windows Registry Editor Version 5.00\n[") +
         (machine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER") +
         "\\Software\\Policies\\Velmora\\TSP]\n" + values;
}

void ConfigEnvironment::Write(const std::filesystem::path& path, const std::string& text) {
  WriteBytes(path, {text.begin(), text.end()});
}

void ConfigEnvironment::WriteBytes(const std::filesystem::path& path,
                                   const std::vector<unsigned char>& bytes) {
  std::filesystem::create_directories(path.parent_path());
  WriteFileBytes(path, bytes);
}

std::vector<unsigned char> RegeditBytes(const std::string& utf8) {
  std::string crlf;
  for (const char c : utf8) {
    if (c == '\n') {
      crlf += '\r';
    }
    crlf += c;
  }
  std::vector<unsigned char> bytes = {0xFF, 0xFE};
  for (const Platform::WCHAR16 unit : Platform::Utf8ToUtf16(crlf)) {
    bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
    bytes.push_back(static_cast<unsigned char>(unit >> 8));
  }
  return bytes;
}

StderrCapture::StderrCapture() {
  const int fd = ::open((m_dir.path() / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) {
    throw std::runtime_error("cannot capture standard error");
  }
  m_saved = ::dup(STDERR_FILENO);
  ::dup2(fd, STDERR_FILENO);
  ::close(fd);
}

StderrCapture::~StderrCapture() {
  ::dup2(m_saved, STDERR_FILENO);
  ::close(m_saved);
}

std::string StderrCapture::text() const {
  return ReadFileText(m_dir.path() / "stderr");
}

}  // namespace Velmora::Testing
