// The send loop: the request goes out once without credentials and once more after every
// challenge whose status differs from the previous pass's; the first challenge that repeats the
// previous status, offers none of our scheme, or cannot be read ends the exchange with that
// status. Resends asked for by the client neither count nor change the remembered status.
#include "support/errors.h"
#include "transport/send_request_parts.h"

namespace Velmora::PKI::Transport {

using namespace Platform;

namespace {

const wchar_t* PasswordOrNone(const std::wstring& password) {
  return password.empty() ? nullptr : password.c_str();
}

// Answers one challenge of `target`; false when our scheme is not among those offered.
bool AnswerChallenge(HINTERNET request, DWORD target, DWORD offered, DWORD scheme,
                     const std::wstring& user, const std::wstring& password) {
  if (scheme == 0 || (offered & scheme) == 0) {
    return false;
  }
  if (user.empty() &&
      (scheme == WINHTTP_AUTH_SCHEME_NTLM || scheme == WINHTTP_AUTH_SCHEME_NEGOTIATE)) {
    // The logged-on user's own credentials.
    const DWORD logon = WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;
    if (!WinHttpSetOption(request, WINHTTP_OPTION_AUTOLOGON_POLICY, &logon, sizeof logon)) {
      Support::ThrowLastError();
    }
    return true;
  }
  if (!WinHttpSetCredentials(request, target, scheme, user.c_str(), password.c_str(), nullptr)) {
    Support::ThrowLastError();
  }
  return true;
}

}  // namespace

void RunSendLoop(CHttpSettings& work, DWORD& callerStatus, HINTERNET request,
                 const wchar_t* headers, const CBlob& body) {
  DWORD previous = 0;
  for (;;) {
    if (previous != 0 && !work.proxyUserName.empty()) {
      if (!WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, work.proxyAuthScheme,
                                 work.proxyUserName.c_str(), PasswordOrNone(work.proxyPassword),
                                 nullptr)) {
        Support::ThrowLastError();
      }
    }

    const bool replied = WinHttpSendRequest(request, headers, static_cast<DWORD>(-1), body.pbData(),
                                            static_cast<DWORD>(body.cbData()),
                                            static_cast<DWORD>(body.cbData()), 0) &&
                         WinHttpReceiveResponse(request, nullptr);
    if (!replied) {
      const DWORD error = GetLastError();
      if (error == ERROR_WINHTTP_RESEND_REQUEST) {
        continue;
      }
      if (error != ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED) {
        Support::ThrowLastError();
      }
      // Go on: the status query tells whether a reply came after all.
    }

    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             nullptr, &status, &size, nullptr)) {
      Support::ThrowLastError();
    }
    callerStatus = status;

    DWORD offered = 0;
    DWORD first = 0;
    DWORD target = 0;
    const bool challenged = WinHttpQueryAuthSchemes(request, &offered, &first, &target);
    if (!challenged && GetLastError() != ERROR_INVALID_OPERATION) {
      Support::ThrowLastError();
    }

    if (status != 401 && status != 407) {
      return;
    }
    if (!challenged) {
      return;
    }
    const bool answered = target == WINHTTP_AUTH_TARGET_SERVER
                              ? AnswerChallenge(request, target, offered, work.serverAuthScheme,
                                                work.serverUserName, work.serverPassword)
                              : AnswerChallenge(request, target, offered, work.proxyAuthScheme,
                                                work.proxyUserName, work.proxyPassword);
    if (!answered || status == previous) {
      return;
    }
    previous = status;
  }
}

}  // namespace Velmora::PKI::Transport
