// Returned narrow and wide texts, read through c_str(); the text lives as long as the proxy.
#pragma once

#include <string>
#include <utility>

namespace Velmora {

class CStringProxy {
 public:
  CStringProxy() = default;
  explicit CStringProxy(std::string text) : m_text(std::move(text)) {}
  const char* c_str() const noexcept { return m_text.c_str(); }
  const std::string& str() const noexcept { return m_text; }

 private:
  std::string m_text;
};

class CWStringProxy {
 public:
  CWStringProxy() = default;
  explicit CWStringProxy(std::wstring text) : m_text(std::move(text)) {}
  const wchar_t* c_str() const noexcept { return m_text.c_str(); }
  const std::wstring& str() const noexcept { return m_text; }

 private:
  std::wstring m_text;
};

}  // namespace Velmora
