// Option values more than one command reads: time-outs and TSA addresses.
#include "tools/horodex/command_options.h"

#include <cctype>

namespace Horodex {

std::optional<unsigned long> TimeoutMs(const std::string& seconds) {
  // Digits, then at most three more after a point: millisecond steps, nothing finer.
  unsigned long whole = 0;
  std::size_t i = 0;
  for (; i < seconds.size() && std::isdigit(static_cast<unsigned char>(seconds[i])); ++i) {
    whole = whole * 10 + static_cast<unsigned long>(seconds[i] - '0');
    if (whole > kMaxTimeoutSeconds) {
      return std::nullopt;
    }
  }
  if (i == 0) {
    return std::nullopt;
  }
  unsigned long ms = whole * 1000;
  if (i < seconds.size() && seconds[i] == '.') {
    unsigned long scale = 100;
    for (++i; i < seconds.size() && std::isdigit(static_cast<unsigned char>(seconds[i])); ++i) {
      if (scale == 0) {
        return std::nullopt;
      }
      ms += static_cast<unsigned long>(seconds[i] - '0') * scale;
      scale /= 10;
    }
  }
  if (i != seconds.size() || ms == 0 || ms > kMaxTimeoutSeconds * 1000) {
    return std::nullopt;
  }
  return ms;
}

bool UsableTsaUrl(const std::string& url) {
  std::string lower;
  for (const char c : url.substr(0, 8)) {
    lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  std::size_t host = 0;
  if (lower.starts_with("https://")) {
    host = 8;
  } else if (lower.starts_with("http://")) {
    host = 7;
  } else {
    return false;
  }
  // A host of at least one character before the port, path or query; no blanks anywhere.
  for (const char c : url) {
    if (std::isspace(static_cast<unsigned char>(c)) ||
        std::iscntrl(static_cast<unsigned char>(c))) {
      return false;
    }
  }
  return host < url.size() && url[host] != '/' && url[host] != ':' && url[host] != '?' &&
         url[host] != '#';
}

}  // namespace Horodex
