// Why a path cannot be read or written, and files read and written whole.
#include "tools/horodex/file_problem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "tools/horodex/exit_codes.h"

namespace Horodex {

namespace {

std::string Reason(int error) {
  return std::strerror(error);
}

}  // namespace

std::string ReadProblem(const std::string& path) {
  if (path == "-") {
    return {};
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    return Reason(errno);
  }
  if (S_ISDIR(st.st_mode)) {
    return Reason(EISDIR);
  }
  if (::access(path.c_str(), R_OK) != 0) {
    return Reason(errno);
  }
  return {};
}

std::string WriteProblem(const std::string& path) {
  if (path == "-") {
    return {};
  }
  if (path.empty()) {
    return Reason(ENOENT);
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      return Reason(EISDIR);
    }
    return ::access(path.c_str(), W_OK) == 0 ? std::string() : Reason(errno);
  }
  if (errno != ENOENT) {
    return Reason(errno);
  }
  // A new file: its folder must exist and take new entries.
  std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (folder.empty()) {
    folder = ".";
  }
  if (::stat(folder.c_str(), &st) != 0) {
    return Reason(errno);
  }
  if (!S_ISDIR(st.st_mode)) {
    return Reason(ENOTDIR);
  }
  return ::access(folder.c_str(), W_OK | X_OK) == 0 ? std::string() : Reason(errno);
}

std::string CannotRead(const std::string& path, const std::string& fallback) {
  const std::string problem = ReadProblem(path);
  return "cannot read " + path + ": " + (problem.empty() ? fallback : problem);
}

std::string CannotWrite(const std::string& path, const std::string& fallback) {
  const std::string problem = WriteProblem(path);
  return "cannot write " + path + ": " + (problem.empty() ? fallback : problem);
}

int CheckOutput(const std::string& output, const std::vector<std::string>& inputs,
                const std::string& who, std::ostream& err) {
  for (const std::string& input : inputs) {
    if (SameFile(input, output)) {
      err << who << ": -o " << output << " is an input file too; nothing was done\n";
      return kExitUsage;
    }
  }
  if (const std::string problem = WriteProblem(output); !problem.empty()) {
    err << who << ": cannot write " << output << ": " << problem << "; nothing was done\n";
    return kExitFile;
  }
  return kExitOk;
}

bool WriteOutput(const std::string& output, const Velmora::CBlob& bytes) {
  const auto* data = reinterpret_cast<const char*>(bytes.pbData());
  const auto size = static_cast<std::streamsize>(bytes.cbData());
  if (output == "-") {
    std::cout.write(data, size);
    std::cout.flush();
    return static_cast<bool>(std::cout);
  }
  return WriteAtomically(output, bytes.pbData(), bytes.cbData());
}

bool WriteAtomically(const std::string& path, const unsigned char* bytes, std::size_t size) {
  const std::string temporary = path + ".tmp" + std::to_string(getpid());
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(size));
    out.close();
    if (!out) {
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(temporary, path, ec);
  if (ec) {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
  }
  return !ec;
}

std::optional<std::vector<unsigned char>> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  if (in.bad()) {
    return std::nullopt;
  }
  return bytes;
}

bool SameFile(const std::string& a, const std::string& b) {
  if (a == "-" || b == "-") {
    return false;
  }
  std::error_code error;
  return std::filesystem::equivalent(a, b, error) && !error;
}

}  // namespace Horodex
