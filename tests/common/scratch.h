// Test helpers: a temporary folder, files as bytes, running a shell command.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace Velmora::Testing {

// A new folder under the system's temporary folder, removed with its contents when destroyed.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const noexcept { return m_path; }
  std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

 private:
  std::filesystem::path m_path;
};

// The whole file; a missing or unreadable file throws std::runtime_error naming it.
std::vector<unsigned char> ReadFileBytes(const std::filesystem::path& path);
std::string ReadFileText(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::vector<unsigned char>& bytes);

struct CommandResult {
  int exitCode = -1;
  std::string output;  // standard output and standard error together
};
// Runs `command` with /bin/sh and collects what it prints.
CommandResult RunCommand(const std::string& command);
// Whether the command printed `text`.
inline bool Has(const CommandResult& result, const std::string& text) {
  return result.output.find(text) != std::string::npos;
}
// The text quoted for /bin/sh.
std::string ShellQuote(const std::string& text);

}  // namespace Velmora::Testing
