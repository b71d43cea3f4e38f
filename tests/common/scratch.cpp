#include "tests/common/scratch.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

namespace Velmora::Testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "horodex-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot create a temporary folder from " + pattern);
  }
  m_path = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

std::vector<unsigned char> ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw std::runtime_error("cannot read " + path.string());
  }
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string ReadFileText(const std::filesystem::path& path) {
  const auto bytes = ReadFileBytes(path);
  return {bytes.begin(), bytes.end()};
}

void WriteFileBytes(const std::filesystem::path& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    throw std::runtime_error("cannot write " + path.string());
  }
}

CommandResult RunCommand(const std::string& command) {
  struct PipeCloser {
    void operator()(std::FILE* pipe) const { pclose(pipe); }
  };
  const std::string full = "(" + command + ") 2>&1";
  std::unique_ptr<std::FILE, PipeCloser> pipe(popen(full.c_str(), "r"));
  if (!pipe) {
    throw std::runtime_error("cannot run: " + command);
  }
  CommandResult result;
  std::array<char, 4096> buffer{};
  std::size_t n = 0;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0) {
    result.output.append(buffer.data(), n);
  }
  const int status = pclose(pipe.release());
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

}  // namespace Velmora::Testing
