// Test helpers for configuration read from files: a temporary machine root and user folders
// named by the environment (VELMORA_ROOT, XDG_CONFIG_HOME, XDG_STATE_HOME), with the registry
// hives and Trace.ini files written into them, and a capture of standard error.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/common/saved_environment.h"
#include "tests/common/scratch.h"

namespace Velmora::Testing {

// Points the environment at fresh folders for its lifetime, and back afterwards.
class ConfigEnvironment {
 public:
  ConfigEnvironment();

  const std::filesystem::path& root() const noexcept { return m_root; }      // VELMORA_ROOT
  const std::filesystem::path& config() const noexcept { return m_config; }  // XDG_CONFIG_HOME
  const std::filesystem::path& state() const noexcept { return m_state; }    // XDG_STATE_HOME
  std::filesystem::path machineHive() const { return m_root / "etc/velmora/machine.reg"; }
  std::filesystem::path userHive() const { return m_config / "velmora/user.reg"; }
  std::filesystem::path commonIni() const { return m_root / "etc/velmora/Trace.ini"; }
  std::filesystem::path userIni() const { return m_config / "velmora/Trace.ini"; }
  std::filesystem::path commonLogs() const { return m_root / "var/log/velmora"; }
  std::filesystem::path userLogs() const { return m_state / "velmora/LogFiles"; }
  std::filesystem::path scratch() const { return m_dir.path(); }

  // The time-stamp client's policy hive: `values` under the policy key of the machine or the user.
  static std::string PolicyHive(bool machine, const std::string& values);
  void MachinePolicies(const std::string& values) const {
    Write(machineHive(), PolicyHive(true, values));
  }
  void UserPolicies(const std::string& values) const {
    Write(userHive(), PolicyHive(false, values));
  }

  // Writes UTF-8 text (or bytes) to a file, making its folder.
  static void Write(const std::filesystem::path& path, const std::string& text);
  static void WriteBytes(const std::filesystem::path& path,
                         const std::vector<unsigned char>& bytes);

 private:
  SavedEnvironment m_env{{"VELMORA_ROOT", "XDG_CONFIG_HOME", "XDG_STATE_HOME"}};
  TempDir m_dir;
  std::filesystem::path m_root;
  std::filesystem::path m_config;
  std::filesystem::path m_state;
};

// The bytes of `utf8` as the registry editor saves a file: UTF-16LE after its byte-order mark,
// every LF written as CR LF.
std::vector<unsigned char> RegeditBytes(const std::string& utf8);

// Sends standard error to a file while it lives; text() is what was written so far.
class StderrCapture {
 public:
  StderrCapture();
  ~StderrCapture();
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;
  std::string text() const;

 private:
  TempDir m_dir;
  int m_saved = -1;
};

}  // namespace Velmora::Testing
