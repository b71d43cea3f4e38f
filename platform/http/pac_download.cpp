#include "platform/http/pac_download.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/http/handles.h"
#include "platform/http/proxy_report.h"

namespace Velmora::Platform {

namespace {

struct Transfer {
  std::string body;
  bool tooLarge = false;
  long maxAge = -1;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const std::size_t bytes = size * count;
  if (transfer->body.size() + bytes > kMaxPacScriptBytes) {
    transfer->tooLarge = true;
    return 0;
  }
  transfer->body.append(data, bytes);
  return bytes;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

// Cache-Control's max-age, or 0 for no-cache and no-store.
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const std::size_t bytes = size * count;
  const std::string line = Lower(std::string_view(data, bytes));
  if (line.rfind("cache-control:", 0) == 0) {
    if (line.find("no-cache") != std::string::npos || line.find("no-store") != std::string::npos) {
      transfer->maxAge = 0;
    } else if (const std::size_t at = line.find("max-age="); at != std::string::npos) {
      long value = 0;
      for (std::size_t i = at + 8;
           i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])) &&
           value < 100000000;
           ++i) {
        value = value * 10 + (line[i] - '0');
      }
      transfer->maxAge = value;
    }
  }
  return bytes;
}

[[noreturn]] void Fail(DWORD code, const std::string& note) {
  LastProxyDiscovery().notes.push_back(note);
  FailWith(code);
}

// Script types WinHTTP runs; a server that names another type (a web page, an image) did not
// send a script.
bool ScriptType(const char* contentType) {
  if (contentType == nullptr) {
    return true;
  }
  std::string type = Lower(contentType);
  type = type.substr(0, type.find(';'));
  type.erase(std::remove(type.begin(), type.end(), ' '), type.end());
  static constexpr const char* kTypes[] = {"application/x-ns-proxy-autoconfig",
                                           "application/x-javascript",
                                           "application/javascript",
                                           "text/javascript",
                                           "text/plain",
                                           "application/octet-stream",
                                           ""};
  return std::any_of(std::begin(kTypes), std::end(kTypes),
                     [&](const char* known) { return type == known; });
}

}  // namespace

DownloadedScript DownloadPacScript(const std::string& given, const SessionState& session) {
  std::string url = given;
  const std::string lower = Lower(url);
  if (!url.empty() && url.front() == '/') {
    url = "file://" + url;
  } else if (lower.rfind("file:/", 0) == 0 && lower.rfind("file://", 0) != 0) {
    url = "file://" + url.substr(5);
  } else if (lower.rfind("http://", 0) != 0 && lower.rfind("https://", 0) != 0 &&
             lower.rfind("file://", 0) != 0) {
    Fail(ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT,
         "script URL \"" + given + "\" is not an http, https or file: URL");
  }
  EnsureCurlInitialised();
  CurlEasy easy(curl_easy_init());
  if (!easy) {
    FailWith(ERROR_NOT_ENOUGH_MEMORY);
  }
  Transfer transfer;
  CURL* handle = easy.get();
  SetUpTransfer(handle, {url.c_str(), "http,https,file", 5L, session.userAgent.c_str()});
  SetOpt(handle, CURLOPT_NOPROXY, "*");
  SetOpt(handle, CURLOPT_WRITEFUNCTION, OnBody);
  SetOpt(handle, CURLOPT_WRITEDATA, &transfer);
  SetOpt(handle, CURLOPT_HEADERFUNCTION, OnHeader);
  SetOpt(handle, CURLOPT_HEADERDATA, &transfer);
  SetOpt(handle, CURLOPT_CONNECTTIMEOUT_MS, session.timeouts.connectMs);
  const long total = session.timeouts.connectMs == 0 || session.timeouts.receiveMs == 0
                         ? 0
                         : session.timeouts.connectMs + session.timeouts.receiveMs;
  SetOpt(handle, CURLOPT_TIMEOUT_MS, total);
  // Automatic logon to the script's server: Negotiate with the user's own credentials, once it
  // asks (on its own, libcurl would send the user's ticket with the first request).
  SetOpt(handle, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_NEGOTIATE | CURLAUTH_ONLY));
  SetOpt(handle, CURLOPT_USERPWD, ":");
  curl_blob extraCa{const_cast<char*>(session.extraCaPem.data()), session.extraCaPem.size(),
                    CURL_BLOB_COPY};
  SetOpt(handle, CURLOPT_CAINFO_BLOB, session.extraCaPem.empty() ? nullptr : &extraCa);
  const CURLcode result = curl_easy_perform(handle);
  if (transfer.tooLarge) {
    Fail(ERROR_WINHTTP_BAD_AUTO_PROXY_SCRIPT, "script " + given + " is larger than 1 MiB");
  }
  if (result != CURLE_OK) {
    Fail(ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT,
         "script " + given + " could not be downloaded: " + curl_easy_strerror(result));
  }
  long status = 0;
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
  if (lower.rfind("http", 0) == 0 && status != 200) {
    Fail(ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT,
         "script " + given + " could not be downloaded: status " + std::to_string(status));
  }
  const char* contentType = nullptr;
  curl_easy_getinfo(handle, CURLINFO_CONTENT_TYPE, &contentType);
  if (!ScriptType(contentType) || transfer.body.find('\0') != std::string::npos) {
    Fail(ERROR_WINHTTP_UNHANDLED_SCRIPT_TYPE,
         "script " + given + " is not a proxy script (type " +
             (contentType != nullptr ? contentType : "binary") + ")");
  }
  return {std::move(transfer.body), transfer.maxAge};
}

}  // namespace Velmora::Platform
