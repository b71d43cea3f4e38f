// Environment variables saved for as long as this lives and put back as they were, set or unset,
// when it goes: for tests that set or clear them.
#pragma once

#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace Velmora::Testing {

// The variables that name a proxy, as libcurl and the platform's proxy discovery read them.
inline constexpr const char* kProxyVariables[] = {"http_proxy", "https_proxy", "HTTPS_PROXY",
                                                  "all_proxy",  "ALL_PROXY",   "no_proxy",
                                                  "NO_PROXY",   "HTTP_PROXY"};

class SavedEnvironment {
 public:
  // Saves the variables; with `clear`, unsets them too.
  explicit SavedEnvironment(std::initializer_list<const char*> names, bool clear = false)
      : SavedEnvironment(std::span<const char* const>(names.begin(), names.size()), clear) {}
  explicit SavedEnvironment(std::span<const char* const> names, bool clear = false) {
    for (const char* name : names) {
      const char* value = std::getenv(name);
      m_saved.emplace_back(name,
                           value != nullptr ? std::optional<std::string>(value) : std::nullopt);
      if (clear) {
        unsetenv(name);
      }
    }
  }
  ~SavedEnvironment() { restore(); }
  SavedEnvironment(const SavedEnvironment&) = delete;
  SavedEnvironment& operator=(const SavedEnvironment&) = delete;

 protected:
  // Puts the saved values back now rather than at the end.
  void restore() {
    for (const auto& [name, value] : m_saved) {
      value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
    }
    m_saved.clear();
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

}  // namespace Velmora::Testing
