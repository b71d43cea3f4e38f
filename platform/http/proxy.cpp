// Proxy lists and bypass lists, and the user's proxy configuration: the proxy environment
// variables, else the desktop's settings.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/http/desktop_proxy.h"
#include "platform/http/handles.h"
#include "platform/http/proxy_report.h"
#include "platform/text/convert.h"

namespace Velmora::Platform {

namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  });
  return out;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::vector<std::string_view> Split(std::string_view text, std::string_view separators) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of(separators, start);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    if (end > start) {
      pieces.push_back(text.substr(start, end - start));
    }
    start = end + 1;
  }
  return pieces;
}

// "host[:port]" with an optional "http://" or "https://" before it and nothing after it but an
// optional "/"; anything else is not a proxy.
std::string ProxyUrlOf(std::string_view entry) {
  std::string scheme = "http";
  const std::string lower = Lower(entry);
  if (StartsWith(lower, "http://")) {
    entry.remove_prefix(7);
  } else if (StartsWith(lower, "https://")) {
    scheme = "https";
    entry.remove_prefix(8);
  } else if (entry.find("://") != std::string_view::npos) {
    FailWith(ERROR_WINHTTP_UNRECOGNIZED_SCHEME);
  }
  if (!entry.empty() && entry.back() == '/') {
    entry.remove_suffix(1);
  }
  if (entry.empty() || entry.find_first_of("/?#@\\") != std::string_view::npos) {
    FailWith(ERROR_WINHTTP_INVALID_URL);
  }
  for (const char c : entry) {
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) {
      FailWith(ERROR_WINHTTP_INVALID_URL);
    }
  }
  return scheme + "://" + std::string(entry);
}

// The first pattern of the bypass list that covers the host, or null.
const std::string* MatchingRule(const std::vector<std::string>& bypass, const std::string& host) {
  const std::string name = Lower(host);
  for (const std::string& pattern : bypass) {
    if (pattern == "*") {
      return &pattern;
    }
    if (pattern == "<local>") {
      if (name.find('.') == std::string::npos && name.find(':') == std::string::npos) {
        return &pattern;
      }
      continue;
    }
    std::string_view suffix = pattern;
    bool subdomainsOnly = false;
    if (StartsWith(suffix, "*.")) {
      suffix.remove_prefix(1);
      subdomainsOnly = true;
    } else if (StartsWith(suffix, ".")) {
      subdomainsOnly = true;
    }
    if (subdomainsOnly) {
      // ".example.org" and "*.example.org" cover example.org and the hosts under it.
      if (name == suffix.substr(1) || (name.size() > suffix.size() && name.ends_with(suffix))) {
        return &pattern;
      }
      continue;
    }
    if (name == pattern || (name.size() > pattern.size() && name.ends_with(pattern) &&
                            name[name.size() - pattern.size() - 1] == '.')) {
      return &pattern;
    }
  }
  return nullptr;
}

wchar_t* CopyForCaller(const std::wstring& text) {
  void* memory = std::malloc((text.size() + 1) * sizeof(wchar_t));
  if (memory == nullptr) {
    FailWith(ERROR_NOT_ENOUGH_MEMORY);
  }
  auto* out = static_cast<wchar_t*>(memory);
  std::wmemcpy(out, text.c_str(), text.size() + 1);
  return out;
}

const char* Environment(const char* lower, const char* upper) {
  const char* value = std::getenv(lower);
  if ((value == nullptr || *value == '\0') && upper != nullptr) {
    value = std::getenv(upper);
  }
  return value != nullptr && *value != '\0' ? value : nullptr;
}

// A proxy variable's value in list form: its scheme and host with port, without user
// information (credentials for the proxy are the caller's to set). Empty for a proxy of another
// kind than http or https (socks5:// ...), which the client cannot use.
std::string ListFormOf(std::string_view value) {
  std::string scheme;
  if (const std::size_t sep = value.find("://"); sep != std::string_view::npos) {
    scheme = Lower(value.substr(0, sep + 3));
    if (scheme != "http://" && scheme != "https://") {
      return {};
    }
    value.remove_prefix(sep + 3);
  }
  if (const std::size_t slash = value.find_first_of("/?#"); slash != std::string_view::npos) {
    value = value.substr(0, slash);
  }
  if (const std::size_t at = value.rfind('@'); at != std::string_view::npos) {
    value.remove_prefix(at + 1);
  }
  return scheme + std::string(value);
}

// The desktop's configuration, when it has one other than none.
BOOL DesktopConfig(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG& config) {
  ProxyDiscoveryReport& report = LastProxyDiscovery();
  const std::optional<DesktopProxy> desktop = ReadDesktopProxy();
  if (!desktop) {
    report.source = "none";
    FailWith(ERROR_FILE_NOT_FOUND);
  }
  report.source = desktop->source;
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG result{};
  result.fAutoDetect = desktop->autoDetect ? TRUE : FALSE;
  try {
    const std::pair<const std::string*, wchar_t**> fields[] = {
        {&desktop->scriptUrl, &result.lpszAutoConfigUrl},
        {&desktop->proxy, &result.lpszProxy},
        {&desktop->bypass, &result.lpszProxyBypass}};
    for (const auto& [text, out] : fields) {
      if (!text->empty()) {
        *out = CopyForCaller(NarrowToWide(*text));
      }
    }
  } catch (...) {
    GlobalFree(result.lpszAutoConfigUrl);
    GlobalFree(result.lpszProxy);
    GlobalFree(result.lpszProxyBypass);
    throw;
  }
  config = result;
  return TRUE;
}

}  // namespace

ProxyDiscoveryReport& LastProxyDiscovery() noexcept {
  thread_local ProxyDiscoveryReport report;
  return report;
}

std::string BypassRuleFor(const std::string& bypassList, const std::string& host) {
  const std::vector<std::string> patterns = ParseProxySetting({}, bypassList).bypass;
  const std::string* rule = MatchingRule(patterns, host);
  return rule != nullptr ? *rule : std::string();
}

ProxySetting ParseProxySetting(const std::string& proxyList, const std::string& bypassList) {
  ProxySetting setting;
  for (std::string_view entry : Split(proxyList, "; \t\r\n")) {
    ProxyEntry parsed;
    const std::size_t equals = entry.find('=');
    if (equals != std::string_view::npos) {
      const std::string which = Lower(entry.substr(0, equals));
      entry.remove_prefix(equals + 1);
      if (which == "http") {
        parsed.forScheme = INTERNET_SCHEME_HTTP;
      } else if (which == "https") {
        parsed.forScheme = INTERNET_SCHEME_HTTPS;
      } else {
        continue;  // a proxy for another protocol (ftp=, socks=) serves no request of ours
      }
    }
    parsed.url = ProxyUrlOf(entry);
    setting.entries.push_back(std::move(parsed));
  }
  for (std::string_view pattern : Split(bypassList, ";, \t\r\n")) {
    setting.bypass.push_back(Lower(pattern));
  }
  return setting;
}

std::string ProxyFor(const ProxySetting& setting, int scheme, const std::string& host) {
  if (MatchingRule(setting.bypass, host) != nullptr) {
    return {};
  }
  const ProxyEntry* general = nullptr;
  for (const ProxyEntry& entry : setting.entries) {
    if (entry.forScheme == scheme) {
      return entry.url;
    }
    if (entry.forScheme == 0 && general == nullptr) {
      general = &entry;
    }
  }
  return general != nullptr ? general->url : std::string();
}

BOOL WinHttpGetIEProxyConfigForCurrentUser(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG* config) {
  return Guarded(FALSE, [&]() -> BOOL {
    if (config == nullptr) {
      FailWith(ERROR_INVALID_PARAMETER);
    }
    // http_proxy only in lower case: a CGI program gets the client's "Proxy:" header as
    // HTTP_PROXY, and must never be steered by it.
    const char* http = Environment("http_proxy", nullptr);
    const char* https = Environment("https_proxy", "HTTPS_PROXY");
    const char* all = Environment("all_proxy", "ALL_PROXY");
    const char* none = Environment("no_proxy", "NO_PROXY");
    ProxyDiscoveryReport& report = LastProxyDiscovery();
    report = {};
    if (http == nullptr && https == nullptr && all == nullptr) {
      return DesktopConfig(*config);
    }
    report.source = "environment";
    std::string list;
    const auto add = [&list](const char* prefix, const char* value) {
      if (value == nullptr) {
        return;
      }
      const std::string entry = ListFormOf(value);
      if (!entry.empty()) {
        list += list.empty() ? "" : ";";
        list += prefix + entry;
      }
    };
    add("http=", http);
    add("https=", https);
    add("", all);
    if (list.empty()) {
      report.notes.push_back("the proxy variables name no http or https proxy");
      report.source = "none";
      FailWith(ERROR_FILE_NOT_FOUND);
    }
    std::string bypass = none != nullptr ? none : "";
    std::replace(bypass.begin(), bypass.end(), ',', ';');

    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG result{};
    result.fAutoDetect = FALSE;
    try {
      result.lpszProxy = CopyForCaller(NarrowToWide(list));
      if (!bypass.empty()) {
        result.lpszProxyBypass = CopyForCaller(NarrowToWide(bypass));
      }
    } catch (...) {
      GlobalFree(result.lpszProxy);
      throw;
    }
    *config = result;
    return TRUE;
  });
}

void* GlobalFree(void* memory) noexcept {
  std::free(memory);
  return nullptr;
}

}  // namespace Velmora::Platform
