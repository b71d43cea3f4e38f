#include "platform/http/pac_answer.h"

#include <cctype>
#include <sstream>

#include "platform/http/handles.h"
#include "platform/http/proxy_report.h"

namespace Velmora::Platform {

namespace {

[[noreturn]] void Fail(DWORD code, const std::string& note) {
  LastProxyDiscovery().notes.push_back(note);
  FailWith(code);
}

}  // namespace

std::vector<PacProxy> ParsePacAnswer(const std::string& answer, bool& direct) {
  std::vector<PacProxy> candidates;
  direct = false;
  bool any = false;
  std::size_t start = 0;
  while (start <= answer.size() && !direct) {
    std::size_t end = answer.find(';', start);
    end = end == std::string::npos ? answer.size() : end;
    std::istringstream words(answer.substr(start, end - start));
    start = end + 1;
    std::string keyword;
    std::string where;
    std::string extra;
    if (!(words >> keyword)) {
      continue;
    }
    any = true;
    for (char& c : keyword) {
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (keyword == "DIRECT" && !(words >> extra)) {
      direct = true;
      continue;
    }
    const bool known = keyword == "PROXY" || keyword == "HTTP" || keyword == "HTTPS" ||
                       keyword.rfind("SOCKS", 0) == 0;
    if (!known || !(words >> where) || words >> extra) {
      Fail(ERROR_WINHTTP_SCRIPT_EXECUTION_ERROR, "malformed script answer \"" + answer + "\"");
    }
    if (keyword.rfind("SOCKS", 0) == 0) {
      continue;  // a SOCKS proxy serves no request of ours
    }
    const std::size_t colon = where.rfind(':');
    const std::string port = colon == std::string::npos ? std::string() : where.substr(colon + 1);
    const std::string host = colon == std::string::npos ? where : where.substr(0, colon);
    const bool validPort = !port.empty() && port.size() <= 5 &&
                           port.find_first_not_of("0123456789") == std::string::npos &&
                           std::stol(port) >= 1 && std::stol(port) <= 65535;
    if (host.empty() || !validPort || host.find_first_of("/?#@\\") != std::string::npos) {
      Fail(ERROR_WINHTTP_SCRIPT_EXECUTION_ERROR, "malformed script answer \"" + answer + "\"");
    }
    const std::string bare =
        host.size() > 2 && host.front() == '[' ? host.substr(1, host.size() - 2) : host;
    candidates.push_back({(keyword == "HTTPS" ? "https://" : "http://") + where, bare, port});
  }
  if (!any) {
    Fail(ERROR_WINHTTP_SCRIPT_EXECUTION_ERROR, "the script's answer is empty");
  }
  return candidates;
}

}  // namespace Velmora::Platform
