// SendRequest: one POST exchange with the TSA, in the order the platform's HTTP client expects:
// URL, session, proxy, connection, request, logon policy, client certificate, the send loop,
// then the body.
#include <memory>
#include <vector>

#include "support/errors.h"
#include "support/trace.h"
#include "transport/send_request_parts.h"

namespace Velmora::PKI {

using namespace Platform;
using Transport::InternetHandle;
using Transport::TargetUrl;

namespace {

constexpr const char* kFunction = "SendRequest";
constexpr DWORD kReadChunk = 65536;

std::wstring Slice(const wchar_t* text, DWORD length) {
  return text == nullptr ? std::wstring() : std::wstring(text, length);
}

// Splits the working copy's URL; a URL's user name and password fill empty server credentials.
TargetUrl SplitUrl(CHttpSettings& work) {
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  if (!WinHttpCrackUrl(work.url.c_str(), static_cast<DWORD>(work.url.size()), 0, &parts)) {
    Support::ThrowLastError();
  }
  TargetUrl target;
  target.scheme = parts.nScheme;
  target.schemeText = Slice(parts.lpszScheme, parts.dwSchemeLength);
  target.host = Slice(parts.lpszHostName, parts.dwHostNameLength);
  target.port = parts.nPort;
  target.objectName = Slice(parts.lpszUrlPath, parts.dwUrlPathLength) +
                      Slice(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (parts.dwUrlPathLength > 0) {
    target.objectName.erase(0, 1);
  }
  if (parts.dwUserNameLength > 0 && work.serverUserName.empty()) {
    work.serverUserName = Slice(parts.lpszUserName, parts.dwUserNameLength);
    if (parts.lpszPassword != nullptr) {
      work.serverPassword = Slice(parts.lpszPassword, parts.dwPasswordLength);
    }
  }
  return target;
}

// The Linux settings of the session: time-outs and the extra trusted CA file.
void ApplySessionSettings(const CHttpSettings& work, HINTERNET session) {
  if (!WinHttpSetTimeouts(session, 0, work.timeouts.connectMs, work.timeouts.sendMs,
                          work.timeouts.receiveMs)) {
    Support::ThrowLastError();
  }
  if (!WinHttpSetOption(session, WINHTTP_OPTION_EXTRA_CA_FILE, work.extraCaFile.c_str(),
                        static_cast<DWORD>((work.extraCaFile.size() + 1) * sizeof(wchar_t)))) {
    Support::ThrowLastError();
  }
}

void SetClientCertificate(const CHttpSettings& work, HINTERNET request, int scheme) {
  if (work.clientCert != nullptr) {
    if (!WinHttpSetOption(request, WINHTTP_OPTION_CLIENT_CERT_CONTEXT, work.clientCert,
                          sizeof(CERT_CONTEXT))) {
      Support::ThrowLastError();
    }
    return;
  }
  if (scheme != INTERNET_SCHEME_HTTPS) {
    return;
  }
  if (!WinHttpSetOption(request, WINHTTP_OPTION_CLIENT_CERT_CONTEXT, WINHTTP_NO_CLIENT_CERT_CONTEXT,
                        0)) {
    HORODEX_TRACE(VelmoraTraceGeneral, 2, kFunction,
                  "WinHttpSetOption(WINHTTP_NO_CLIENT_CERT_CONTEXT) failed with error value "
                  "0x%08x. It seems that this version of WinHTTP does not support optional "
                  "client certificates.\n",
                  GetLastError());
  } else {
    HORODEX_TRACE(VelmoraTraceGeneral, 2, kFunction,
                  "WinHttpSetOption(WINHTTP_NO_CLIENT_CERT_CONTEXT) succeeded\n");
  }
}

CBlob ReadBody(HINTERNET request) {
  std::vector<unsigned char> reply;
  const auto buffer = std::make_unique_for_overwrite<unsigned char[]>(kReadChunk);
  for (;;) {
    DWORD read = 0;
    if (!WinHttpReadData(request, buffer.get(), kReadChunk, &read)) {
      Support::ThrowLastError();
    }
    if (read == 0) {
      break;
    }
    reply.insert(reply.end(), buffer.get(), buffer.get() + read);
  }
  return CBlob(std::move(reply));
}

}  // namespace

CBlob SendRequest(CHttpSettings& settings, const wchar_t* headers, const CBlob& body,
                  bool noAutoProxy, const wchar_t* userAgent) {
  settings.httpStatus = 0;
  CHttpSettings work(settings);

  const TargetUrl target = SplitUrl(work);

  if (!settings.session) {
    HINTERNET session = WinHttpOpen(userAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
    if (session == nullptr) {
      Support::ThrowLastError();
    }
    settings.session.reset(session);
  }
  HINTERNET session = settings.session.get();
  ApplySessionSettings(work, session);

  Transport::ChooseProxy(work, session, target, noAutoProxy);

  const InternetHandle connection(WinHttpConnect(session, target.host.c_str(), target.port, 0));
  if (!connection) {
    Support::ThrowLastError();
  }
  const InternetHandle request(WinHttpOpenRequest(
      connection.get(), L"POST", target.objectName.c_str(), nullptr, nullptr, nullptr,
      target.scheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
  if (!request) {
    Support::ThrowLastError();
  }
  const DWORD logon = WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH;
  if (!WinHttpSetOption(request.get(), WINHTTP_OPTION_AUTOLOGON_POLICY, &logon, sizeof logon)) {
    Support::ThrowLastError();
  }
  SetClientCertificate(work, request.get(), target.scheme);

  Transport::RunSendLoop(work, settings.httpStatus, request.get(), headers, body);

  if (settings.httpStatus >= 200 && settings.httpStatus <= 299) {
    return ReadBody(request.get());
  }
  return CBlob();
}

}  // namespace Velmora::PKI
