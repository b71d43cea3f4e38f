// The pieces of SendRequest: handle owners, the proxy choice and the send loop.
#pragma once

#include <memory>
#include <string>

#include "horodex/winhttp2.h"
#include "platform/base/free_with.h"

namespace Velmora::PKI::Transport {

// A connection or request handle, closed on every way out of the exchange.
using InternetHandle =
    std::unique_ptr<Platform::HttpObject, Platform::FreeWith<Platform::WinHttpCloseHandle>>;

// The TSA's URL as split for the exchange.
struct TargetUrl {
  int scheme = 0;  // INTERNET_SCHEME_HTTP or INTERNET_SCHEME_HTTPS
  std::wstring schemeText;
  std::wstring host;
  Platform::INTERNET_PORT port = 0;
  std::wstring objectName;
};

// Chooses the proxy of the working copy (explicit, discovered, or none) and sets it on the
// session when there is one. Failures throw.
void ChooseProxy(CHttpSettings& work, Platform::HINTERNET session, const TargetUrl& target,
                 bool noAutoProxy);

// Sends the request until a reply ends the exchange, answering authentication challenges on the
// way; the caller's status is updated after every reply. Failures throw.
void RunSendLoop(CHttpSettings& work, DWORD& callerStatus, Platform::HINTERNET request,
                 const wchar_t* headers, const CBlob& body);

}  // namespace Velmora::PKI::Transport
