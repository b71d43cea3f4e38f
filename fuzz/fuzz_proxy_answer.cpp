// Reads any input as a proxy script's answer and, split at its first line feed, as a proxy list
// and bypass list: a refusal is the HttpFailure of its code; an answer that reads gives proxies
// with a host, a port from 1 to 65535 and an http or https URL, and the lists give proxy URLs.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/http/handles.h"
#include "platform/http/pac_answer.h"

namespace P = Velmora::Platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  try {
    bool direct = false;
    for (const P::PacProxy& proxy : P::ParsePacAnswer(input, direct)) {
      const long port = std::stol(proxy.port);
      if (proxy.host.empty() || port < 1 || port > 65535 ||
          (proxy.url.rfind("http://", 0) != 0 && proxy.url.rfind("https://", 0) != 0)) {
        __builtin_trap();
      }
    }
  } catch (const P::HttpFailure& failure) {
    if (failure.code != P::ERROR_WINHTTP_SCRIPT_EXECUTION_ERROR) {
      __builtin_trap();
    }
  }
  const std::size_t newline = input.find('\n');
  try {
    const P::ProxySetting setting = P::ParseProxySetting(
        input.substr(0, newline), newline == std::string::npos ? "" : input.substr(newline + 1));
    for (const P::ProxyEntry& entry : setting.entries) {
      if (entry.url.rfind("http://", 0) != 0 && entry.url.rfind("https://", 0) != 0) {
        __builtin_trap();
      }
    }
    P::ProxyFor(setting, P::INTERNET_SCHEME_HTTPS, "tsa.example.org");
  } catch (const P::HttpFailure&) {
    // a list that is not one
  }
  return 0;
}
