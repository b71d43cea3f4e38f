// Sessions, connections and requests: opening, options, time-outs, credentials and closing.
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <climits>
#include <cstddef>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <string_view>

#include "platform/base/free_with.h"
#include "platform/errors/atl_exception.h"
#include "platform/http/handles.h"
#include "platform/text/convert.h"

namespace Velmora::Platform {

namespace {

std::wstring_view ViewOf(const wchar_t* text) {
  return text == nullptr ? std::wstring_view() : std::wstring_view(text);
}

std::string ReadWholeFile(const std::string& path, DWORD failure) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    FailWith(failure);
  }
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    FailWith(failure);
  }
  return bytes;
}

template <auto Free>
using OpenSslFree = Velmora::Platform::FreeWith<Free>;

// The client certificate must parse, and its key must parse and belong to it: a mismatch is
// reported here, where its cause is plain, rather than as a failed TLS handshake later.
// The key file that the context's key provider information names.
std::string KeyFileOf(PCCERT_CONTEXT context) {
  DWORD size = 0;
  if (!CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size) ||
      size < sizeof(CRYPT_KEY_PROV_INFO)) {
    FailWith(ERROR_WINHTTP_CLIENT_CERT_NO_PRIVATE_KEY);
  }
  std::vector<std::max_align_t> buffer((size + sizeof(std::max_align_t) - 1) /
                                       sizeof(std::max_align_t));
  if (!CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(),
                                         &size)) {
    FailWith(ERROR_WINHTTP_CLIENT_CERT_NO_PRIVATE_KEY);
  }
  const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
  const std::wstring_view path = ViewOf(info->pwszContainerName);
  if (path.empty()) {
    FailWith(ERROR_WINHTTP_CLIENT_CERT_NO_PRIVATE_KEY);
  }
  return Utf8Of(path.data(), path.size(), ERROR_WINHTTP_CLIENT_CERT_NO_PRIVATE_KEY);
}

ClientCertificate CheckedClientCertificate(PCCERT_CONTEXT given) {
  if (given->pbCertEncoded == nullptr || given->cbCertEncoded == 0 ||
      given->cbCertEncoded > INT_MAX) {
    FailWith(ERROR_INVALID_PARAMETER);
  }
  ClientCertificate cert;
  cert.der.assign(given->pbCertEncoded, given->pbCertEncoded + given->cbCertEncoded);
  const unsigned char* cursor = cert.der.data();
  std::unique_ptr<X509, OpenSslFree<X509_free>> x509(
      d2i_X509(nullptr, &cursor, static_cast<long>(cert.der.size())));
  if (!x509 || cursor != cert.der.data() + cert.der.size()) {
    FailWith(ERROR_INVALID_DATA);
  }

  cert.keyFile = KeyFileOf(given);
  const std::string key = ReadWholeFile(cert.keyFile, ERROR_WINHTTP_CLIENT_CERT_NO_PRIVATE_KEY);
  std::unique_ptr<EVP_PKEY, OpenSslFree<EVP_PKEY_free>> pkey;
  if (key.find("-----BEGIN") != std::string::npos) {
    cert.keyType = "PEM";
    std::unique_ptr<BIO, OpenSslFree<BIO_free>> bio(
        BIO_new_mem_buf(key.data(), static_cast<int>(key.size())));
    if (!bio) {
      FailWith(ERROR_NOT_ENOUGH_MEMORY);
    }
    // No password callback: an encrypted key cannot be used and fails here.
    pkey.reset(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, const_cast<char*>("")));
  } else {
    cert.keyType = "DER";
    const auto* keyCursor = reinterpret_cast<const unsigned char*>(key.data());
    pkey.reset(d2i_AutoPrivateKey(nullptr, &keyCursor, static_cast<long>(key.size())));
  }
  if (!pkey || X509_check_private_key(x509.get(), pkey.get()) != 1) {
    FailWith(ERROR_WINHTTP_CLIENT_CERT_NO_PRIVATE_KEY);
  }
  return cert;
}

void SetProxyOption(SessionState& session, const WINHTTP_PROXY_INFO& info) {
  if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NO_PROXY) {
    session.proxy.reset();
    return;
  }
  if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY || info.lpszProxy == nullptr) {
    FailWith(ERROR_INVALID_PARAMETER);
  }
  const std::wstring_view list = ViewOf(info.lpszProxy);
  const std::wstring_view bypass = ViewOf(info.lpszProxyBypass);
  session.proxy = ParseProxySetting(Utf8Of(list.data(), list.size(), ERROR_WINHTTP_INVALID_URL),
                                    Utf8Of(bypass.data(), bypass.size(), ERROR_INVALID_PARAMETER));
}

long TimeoutOf(int milliseconds) {
  return milliseconds <= 0 ? 0 : milliseconds;  // 0 and -1 wait without limit
}

}  // namespace

std::string Utf8Of(const wchar_t* text, std::size_t length, DWORD code) {
  if (text == nullptr || length == 0) {
    return {};
  }
  try {
    return WideToUtf8(std::wstring_view(text, length));
  } catch (const CAtlException&) {
    FailWith(code);
  }
}

HINTERNET WinHttpOpen(const wchar_t* userAgent, DWORD accessType, const wchar_t* proxy,
                      const wchar_t* proxyBypass, DWORD flags) {
  return Guarded(HINTERNET{nullptr}, [&]() -> HINTERNET {
    if (flags != 0 || (accessType != WINHTTP_ACCESS_TYPE_NO_PROXY &&
                       accessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY)) {
      FailWith(ERROR_INVALID_PARAMETER);
    }
    EnsureCurlInitialised();
    auto state = std::make_shared<SessionState>();
    state->easy.reset(curl_easy_init());
    if (!state->easy) {
      FailWith(ERROR_NOT_ENOUGH_MEMORY);
    }
    const std::wstring_view agent = ViewOf(userAgent);
    state->userAgent = Utf8Of(agent.data(), agent.size(), ERROR_INVALID_PARAMETER);
    if (accessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY) {
      SetProxyOption(*state, {accessType, proxy, proxyBypass});
    }
    auto session = std::make_unique<SessionObject>();
    session->state = std::move(state);
    return session.release();
  });
}

HINTERNET WinHttpConnect(HINTERNET session, const wchar_t* serverName, INTERNET_PORT port,
                         DWORD reserved) {
  return Guarded(HINTERNET{nullptr}, [&]() -> HINTERNET {
    auto& owner = ObjectOf<SessionObject, HttpObjectKind::session>(session);
    const std::wstring_view name = ViewOf(serverName);
    if (reserved != 0 || name.empty()) {
      FailWith(ERROR_INVALID_PARAMETER);
    }
    auto connection = std::make_unique<ConnectionObject>();
    connection->session = owner.state;
    connection->host = Utf8Of(name.data(), name.size(), ERROR_WINHTTP_INVALID_URL);
    for (const char c : connection->host) {
      if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F || c == '/' || c == '@' || c == '?' ||
          c == '#' || c == '[' || c == ']' || c == '\\' || c == '%') {
        FailWith(ERROR_WINHTTP_INVALID_URL);
      }
    }
    connection->port = port;
    return connection.release();
  });
}

HINTERNET WinHttpOpenRequest(HINTERNET connect, const wchar_t* verb, const wchar_t* objectName,
                             const wchar_t* version, const wchar_t* referrer,
                             const wchar_t** acceptTypes, DWORD flags) {
  return Guarded(HINTERNET{nullptr}, [&]() -> HINTERNET {
    auto& connection = ObjectOf<ConnectionObject, HttpObjectKind::connection>(connect);
    if (version != nullptr || referrer != nullptr || acceptTypes != nullptr ||
        (flags & ~WINHTTP_FLAG_SECURE) != 0) {
      FailWith(ERROR_INVALID_PARAMETER);
    }
    auto request = std::make_unique<RequestObject>();
    const std::wstring_view method = ViewOf(verb);
    if (method.empty() || method == L"GET") {
      request->post = false;
    } else if (method != L"POST") {
      FailWith(ERROR_INVALID_PARAMETER);
    }
    const std::wstring_view object = ViewOf(objectName);
    const std::string target = Utf8Of(object.data(), object.size(), ERROR_WINHTTP_INVALID_URL);
    for (const char c : target) {
      if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F || c == '#') {
        FailWith(ERROR_WINHTTP_INVALID_URL);
      }
    }
    request->target = target.empty() || target.front() != '/' ? "/" + target : target;
    request->session = connection.session;
    request->host = connection.host;
    request->secure = (flags & WINHTTP_FLAG_SECURE) != 0;
    request->port = connection.port != INTERNET_DEFAULT_PORT ? connection.port
                    : request->secure                        ? INTERNET_DEFAULT_HTTPS_PORT
                                                             : INTERNET_DEFAULT_HTTP_PORT;
    return request.release();
  });
}

BOOL WinHttpSetOption(HINTERNET handle, DWORD option, const void* buffer, DWORD length) {
  return Guarded(FALSE, [&]() -> BOOL {
    if (handle == nullptr) {
      FailWith(ERROR_INVALID_HANDLE);
    }
    switch (option) {
      case WINHTTP_OPTION_PROXY: {
        auto& session = ObjectOf<SessionObject, HttpObjectKind::session>(handle);
        if (buffer == nullptr || length < sizeof(WINHTTP_PROXY_INFO)) {
          FailWith(ERROR_INVALID_PARAMETER);
        }
        SetProxyOption(*session.state, *static_cast<const WINHTTP_PROXY_INFO*>(buffer));
        return TRUE;
      }
      case WINHTTP_OPTION_EXTRA_CA_FILE: {
        auto& session = ObjectOf<SessionObject, HttpObjectKind::session>(handle);
        const std::wstring_view path = ViewOf(static_cast<const wchar_t*>(buffer));
        if (path.empty()) {
          session.state->extraCaPem.clear();
          return TRUE;
        }
        const std::string pem = ReadWholeFile(
            Utf8Of(path.data(), path.size(), ERROR_INVALID_PARAMETER), ERROR_FILE_NOT_FOUND);
        if (pem.find("-----BEGIN CERTIFICATE-----") == std::string::npos) {
          FailWith(ERROR_INVALID_DATA);
        }
        session.state->extraCaPem = pem;
        return TRUE;
      }
      case WINHTTP_OPTION_AUTOLOGON_POLICY: {
        auto& request = ObjectOf<RequestObject, HttpObjectKind::request>(handle);
        if (buffer == nullptr || length != sizeof(DWORD)) {
          FailWith(ERROR_INVALID_PARAMETER);
        }
        const DWORD level = *static_cast<const DWORD*>(buffer);
        if (level > WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH) {
          FailWith(ERROR_INVALID_PARAMETER);
        }
        request.autologon = level;
        return TRUE;
      }
      case WINHTTP_OPTION_CLIENT_CERT_CONTEXT: {
        // On a plain http request the certificate is checked and kept, and has no use.
        auto& request = ObjectOf<RequestObject, HttpObjectKind::request>(handle);
        if (buffer == nullptr) {
          request.clientCert.reset();
          return TRUE;
        }
        if (length < sizeof(CERT_CONTEXT)) {
          FailWith(ERROR_INVALID_PARAMETER);
        }
        request.clientCert = CheckedClientCertificate(static_cast<PCCERT_CONTEXT>(buffer));
        return TRUE;
      }
      default:
        FailWith(ERROR_WINHTTP_INVALID_OPTION);
    }
  });
}

BOOL WinHttpSetTimeouts(HINTERNET handle, int resolveTimeout, int connectTimeout, int sendTimeout,
                        int receiveTimeout) {
  return Guarded(FALSE, [&]() -> BOOL {
    auto& session = ObjectOf<SessionObject, HttpObjectKind::session>(handle);
    if (resolveTimeout < -1 || connectTimeout < -1 || sendTimeout < -1 || receiveTimeout < -1) {
      FailWith(ERROR_INVALID_PARAMETER);
    }
    session.state->timeouts = {TimeoutOf(connectTimeout), TimeoutOf(sendTimeout),
                               TimeoutOf(receiveTimeout)};
    return TRUE;
  });
}

BOOL WinHttpSetCredentials(HINTERNET request, DWORD target, DWORD scheme, const wchar_t* userName,
                           const wchar_t* password, void* params) {
  return Guarded(FALSE, [&]() -> BOOL {
    auto& object = ObjectOf<RequestObject, HttpObjectKind::request>(request);
    if (params != nullptr ||
        (target != WINHTTP_AUTH_TARGET_SERVER && target != WINHTTP_AUTH_TARGET_PROXY) ||
        (scheme != WINHTTP_AUTH_SCHEME_BASIC && scheme != WINHTTP_AUTH_SCHEME_NTLM &&
         scheme != WINHTTP_AUTH_SCHEME_DIGEST && scheme != WINHTTP_AUTH_SCHEME_NEGOTIATE)) {
      FailWith(ERROR_INVALID_PARAMETER);
    }
    const std::wstring_view user = ViewOf(userName);
    const std::wstring_view secret = ViewOf(password);
    Credentials credentials{scheme, Utf8Of(user.data(), user.size(), ERROR_INVALID_PARAMETER),
                            Utf8Of(secret.data(), secret.size(), ERROR_INVALID_PARAMETER)};
    (target == WINHTTP_AUTH_TARGET_SERVER ? object.server : object.proxy) = std::move(credentials);
    return TRUE;
  });
}

BOOL WinHttpCloseHandle(HINTERNET handle) {
  return Guarded(FALSE, [&]() -> BOOL {
    if (handle == nullptr) {
      FailWith(ERROR_INVALID_HANDLE);
    }
    delete handle;
    return TRUE;
  });
}

}  // namespace Velmora::Platform
