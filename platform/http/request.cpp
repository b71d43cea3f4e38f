// Sending a request and reading what came back: status, challenge schemes and body.
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/http/handles.h"

namespace Velmora::Platform {

namespace {

const Reply& ReplyOf(const RequestObject& request) {
  if (!request.reply) {
    FailWith(request.sendError != 0 ? request.sendError : ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
  }
  return *request.reply;
}

DWORD SchemeNamed(std::string_view token) {
  struct Named {
    const char* name;
    DWORD scheme;
  };
  static constexpr Named kSchemes[] = {{"Basic", WINHTTP_AUTH_SCHEME_BASIC},
                                       {"NTLM", WINHTTP_AUTH_SCHEME_NTLM},
                                       {"Passport1.4", WINHTTP_AUTH_SCHEME_PASSPORT},
                                       {"Digest", WINHTTP_AUTH_SCHEME_DIGEST},
                                       {"Negotiate", WINHTTP_AUTH_SCHEME_NEGOTIATE}};
  for (const Named& named : kSchemes) {
    if (token.size() == std::strlen(named.name) &&
        strncasecmp(token.data(), named.name, token.size()) == 0) {
      return named.scheme;
    }
  }
  return 0;
}

// The schemes of one challenge header's value: comma-separated pieces outside quotes, each a new
// challenge when it starts with a token that is not followed by "=" (an auth-param).
void CollectSchemes(std::string_view value, DWORD* supported, DWORD* first) {
  std::size_t start = 0;
  bool quoted = false;
  for (std::size_t i = 0; i <= value.size(); ++i) {
    if (i < value.size()) {
      if (value[i] == '"' && (i == 0 || value[i - 1] != '\\')) {
        quoted = !quoted;
      }
      if (quoted || value[i] != ',') {
        continue;
      }
    }
    std::string_view piece = value.substr(start, i - start);
    start = i + 1;
    const std::size_t begin = piece.find_first_not_of(" \t");
    if (begin == std::string_view::npos) {
      continue;
    }
    piece.remove_prefix(begin);
    const std::size_t tokenEnd = piece.find_first_of(" \t=");
    const std::string_view token = piece.substr(0, tokenEnd);
    if (tokenEnd != std::string_view::npos) {
      const std::size_t next = piece.find_first_not_of(" \t", tokenEnd);
      if (next != std::string_view::npos && piece[next] == '=') {
        continue;  // name=value of the challenge before
      }
    }
    const DWORD scheme = SchemeNamed(token);
    if (scheme != 0) {
      if (*supported == 0) {
        *first = scheme;
      }
      *supported |= scheme;
    }
  }
}

}  // namespace

DWORD OfferedSchemes(const Reply& reply, DWORD* first) {
  std::string_view header;
  if (reply.status == 401) {
    header = "WWW-Authenticate:";
  } else if (reply.status == 407) {
    header = "Proxy-Authenticate:";
  } else {
    return 0;
  }
  DWORD supported = 0;
  *first = 0;
  for (const std::string& line : reply.headers) {
    if (line.size() >= header.size() &&
        strncasecmp(line.c_str(), header.data(), header.size()) == 0) {
      CollectSchemes(std::string_view(line).substr(header.size()), &supported, first);
    }
  }
  return supported;
}

BOOL WinHttpSendRequest(HINTERNET request, const wchar_t* headers, DWORD headersLength,
                        const void* optional, DWORD optionalLength, DWORD totalLength,
                        DWORD_PTR context) {
  return Guarded(FALSE, [&]() -> BOOL {
    auto& object = ObjectOf<RequestObject, HttpObjectKind::request>(request);
    static_cast<void>(context);
    if (totalLength != optionalLength || (optional == nullptr && optionalLength != 0)) {
      FailWith(ERROR_INVALID_PARAMETER);
    }
    std::size_t length = 0;
    if (headers != nullptr) {
      length = headersLength == static_cast<DWORD>(-1) ? std::wcslen(headers) : headersLength;
    }
    const std::string headerText = Utf8Of(headers, length, ERROR_WINHTTP_INVALID_HEADER);
    PerformRequest(object, headerText, static_cast<const unsigned char*>(optional), optionalLength);
    if (!object.reply) {
      FailWith(object.sendError);
    }
    return TRUE;
  });
}

BOOL WinHttpReceiveResponse(HINTERNET request, void* reserved) {
  return Guarded(FALSE, [&]() -> BOOL {
    const auto& object = ObjectOf<RequestObject, HttpObjectKind::request>(request);
    if (reserved != nullptr) {
      FailWith(ERROR_INVALID_PARAMETER);
    }
    ReplyOf(object);
    return TRUE;
  });
}

BOOL WinHttpQueryHeaders(HINTERNET request, DWORD infoLevel, const wchar_t* name, void* buffer,
                         DWORD* bufferLength, DWORD* index) {
  return Guarded(FALSE, [&]() -> BOOL {
    const auto& object = ObjectOf<RequestObject, HttpObjectKind::request>(request);
    if (infoLevel != (WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER) || name != nullptr ||
        index != nullptr || bufferLength == nullptr) {
      FailWith(ERROR_INVALID_PARAMETER);
    }
    const Reply& reply = ReplyOf(object);
    if (buffer == nullptr || *bufferLength < sizeof(DWORD)) {
      *bufferLength = sizeof(DWORD);
      FailWith(ERROR_INSUFFICIENT_BUFFER);
    }
    const auto status = static_cast<DWORD>(reply.status);
    std::memcpy(buffer, &status, sizeof status);
    *bufferLength = sizeof(DWORD);
    return TRUE;
  });
}

BOOL WinHttpQueryAuthSchemes(HINTERNET request, DWORD* supportedSchemes, DWORD* firstScheme,
                             DWORD* target) {
  return Guarded(FALSE, [&]() -> BOOL {
    const auto& object = ObjectOf<RequestObject, HttpObjectKind::request>(request);
    if (supportedSchemes == nullptr || firstScheme == nullptr || target == nullptr) {
      FailWith(ERROR_INVALID_PARAMETER);
    }
    const Reply& reply = ReplyOf(object);
    DWORD first = 0;
    const DWORD supported = OfferedSchemes(reply, &first);
    if (supported == 0) {
      FailWith(ERROR_INVALID_OPERATION);
    }
    *supportedSchemes = supported;
    *firstScheme = first;
    *target = reply.status == 407 ? WINHTTP_AUTH_TARGET_PROXY : WINHTTP_AUTH_TARGET_SERVER;
    return TRUE;
  });
}

BOOL WinHttpReadData(HINTERNET request, void* buffer, DWORD bytesToRead, DWORD* bytesRead) {
  return Guarded(FALSE, [&]() -> BOOL {
    auto& object = ObjectOf<RequestObject, HttpObjectKind::request>(request);
    if (bytesRead == nullptr || (buffer == nullptr && bytesToRead != 0)) {
      FailWith(ERROR_INVALID_PARAMETER);
    }
    ReplyOf(object);
    Reply& reply = *object.reply;
    const std::size_t count =
        std::min<std::size_t>(bytesToRead, reply.body.size() - reply.readOffset);
    if (count > 0) {
      std::memcpy(buffer, reply.body.data() + reply.readOffset, count);
    }
    reply.readOffset += count;
    *bytesRead = static_cast<DWORD>(count);
    return TRUE;
  });
}

}  // namespace Velmora::Platform
