// WinHttpCrackUrl: scheme "://" [user [":" password] "@"] host [":" port] [path] ["?" query]
// ["#" fragment], with the host an IPv6 literal in brackets or a run of other characters.
#include <cwctype>
#include <string_view>

#include "platform/http/handles.h"

namespace Velmora::Platform {

namespace {

bool EqualsIgnoringCase(std::wstring_view text, std::wstring_view lower) {
  if (text.size() != lower.size()) {
    return false;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (std::towlower(static_cast<wint_t>(text[i])) != static_cast<wint_t>(lower[i])) {
      return false;
    }
  }
  return true;
}

// Characters that never belong in a URL that goes on the wire: controls (CR and LF among them,
// which would split the request line), white space and DEL.
bool IsForbidden(wchar_t c) {
  return c <= 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F);
}

struct Piece {
  const wchar_t* text = nullptr;
  DWORD length = 0;
};

Piece PieceOf(std::wstring_view whole, std::size_t from, std::size_t to) {
  if (from >= to) {
    return {};
  }
  return {whole.data() + from, static_cast<DWORD>(to - from)};
}

}  // namespace

BOOL WinHttpCrackUrl(const wchar_t* url, DWORD length, DWORD flags, URL_COMPONENTS* components) {
  return Guarded(FALSE, [&]() -> BOOL {
    if (url == nullptr || components == nullptr || flags != 0) {
      FailWith(ERROR_INVALID_PARAMETER);
    }
    const std::wstring_view text =
        length == 0 ? std::wstring_view(url) : std::wstring_view(url, length);

    const std::size_t schemeEnd = text.find(L"://");
    if (schemeEnd == std::wstring_view::npos) {
      FailWith(ERROR_WINHTTP_UNRECOGNIZED_SCHEME);
    }
    const std::wstring_view scheme = text.substr(0, schemeEnd);
    int schemeNumber = 0;
    if (EqualsIgnoringCase(scheme, L"http")) {
      schemeNumber = INTERNET_SCHEME_HTTP;
    } else if (EqualsIgnoringCase(scheme, L"https")) {
      schemeNumber = INTERNET_SCHEME_HTTPS;
    } else {
      FailWith(ERROR_WINHTTP_UNRECOGNIZED_SCHEME);
    }
    for (const wchar_t c : text) {
      if (IsForbidden(c)) {
        FailWith(ERROR_WINHTTP_INVALID_URL);
      }
    }

    const std::size_t authorityStart = schemeEnd + 3;
    std::size_t authorityEnd = text.find_first_of(L"/?#", authorityStart);
    if (authorityEnd == std::wstring_view::npos) {
      authorityEnd = text.size();
    }
    const std::wstring_view authority = text.substr(authorityStart, authorityEnd - authorityStart);

    // User information ends at the last "@" of the authority.
    Piece user;
    Piece password;
    std::size_t hostStart = authorityStart;
    if (const std::size_t at = authority.rfind(L'@'); at != std::wstring_view::npos) {
      const std::size_t infoEnd = authorityStart + at;
      const std::size_t colon = text.substr(authorityStart, at).find(L':');
      if (colon == std::wstring_view::npos) {
        user = PieceOf(text, authorityStart, infoEnd);
      } else {
        user = PieceOf(text, authorityStart, authorityStart + colon);
        password = PieceOf(text, authorityStart + colon + 1, infoEnd);
      }
      hostStart = infoEnd + 1;
    }

    Piece host;
    std::size_t portStart = std::wstring_view::npos;
    if (hostStart < authorityEnd && text[hostStart] == L'[') {
      const std::size_t close = text.find(L']', hostStart);
      if (close == std::wstring_view::npos || close > authorityEnd) {
        FailWith(ERROR_WINHTTP_INVALID_URL);
      }
      for (std::size_t i = hostStart + 1; i < close; ++i) {
        if (!std::iswxdigit(static_cast<wint_t>(text[i])) && text[i] != L':' && text[i] != L'.') {
          FailWith(ERROR_WINHTTP_INVALID_URL);
        }
      }
      host = PieceOf(text, hostStart + 1, close);
      if (close + 1 < authorityEnd) {
        if (text[close + 1] != L':') {
          FailWith(ERROR_WINHTTP_INVALID_URL);
        }
        portStart = close + 2;
      }
    } else {
      const std::size_t colon = text.substr(hostStart, authorityEnd - hostStart).find(L':');
      const std::size_t hostEnd =
          colon == std::wstring_view::npos ? authorityEnd : hostStart + colon;
      host = PieceOf(text, hostStart, hostEnd);
      if (colon != std::wstring_view::npos) {
        portStart = hostEnd + 1;
      }
      for (std::size_t i = hostStart; i < hostEnd; ++i) {
        if (text[i] == L'[' || text[i] == L']' || text[i] == L'\\' || text[i] == L'%') {
          FailWith(ERROR_WINHTTP_INVALID_URL);
        }
      }
    }
    if (host.length == 0) {
      FailWith(ERROR_WINHTTP_INVALID_URL);
    }

    INTERNET_PORT port = schemeNumber == INTERNET_SCHEME_HTTPS ? INTERNET_DEFAULT_HTTPS_PORT
                                                               : INTERNET_DEFAULT_HTTP_PORT;
    if (portStart != std::wstring_view::npos) {
      if (portStart >= authorityEnd || authorityEnd - portStart > 5) {
        FailWith(ERROR_WINHTTP_INVALID_URL);
      }
      unsigned long value = 0;
      for (std::size_t i = portStart; i < authorityEnd; ++i) {
        if (text[i] < L'0' || text[i] > L'9') {
          FailWith(ERROR_WINHTTP_INVALID_URL);
        }
        value = value * 10 + static_cast<unsigned long>(text[i] - L'0');
      }
      if (value == 0 || value > 65535) {
        FailWith(ERROR_WINHTTP_INVALID_URL);
      }
      port = static_cast<INTERNET_PORT>(value);
    }

    std::size_t pathEnd = text.find_first_of(L"?#", authorityEnd);
    if (pathEnd == std::wstring_view::npos) {
      pathEnd = text.size();
    }
    std::size_t extraEnd = text.find(L'#', pathEnd);
    if (extraEnd == std::wstring_view::npos) {
      extraEnd = text.size();
    }
    Piece path = PieceOf(text, authorityEnd, pathEnd);
    if (path.length == 0) {
      // An absent path points at the end of the authority, so that "host and port" can be
      // sliced from the URL up to the path's start.
      path.text = text.data() + authorityEnd;
    }
    const Piece extra =
        pathEnd < text.size() && text[pathEnd] == L'?' ? PieceOf(text, pathEnd, extraEnd) : Piece{};

    components->dwStructSize = sizeof(URL_COMPONENTS);
    components->lpszScheme = text.data();
    components->dwSchemeLength = static_cast<DWORD>(schemeEnd);
    components->nScheme = schemeNumber;
    components->lpszHostName = host.text;
    components->dwHostNameLength = host.length;
    components->nPort = port;
    components->lpszUserName = user.text;
    components->dwUserNameLength = user.length;
    components->lpszPassword = password.text;
    components->dwPasswordLength = password.length;
    components->lpszUrlPath = path.text;
    components->dwUrlPathLength = path.length;
    components->lpszExtraInfo = extra.text;
    components->dwExtraInfoLength = extra.length;
    return TRUE;
  });
}

}  // namespace Velmora::Platform
