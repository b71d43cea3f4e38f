#include "server.h"

#include "authenticode.h"
#include "negotiate.h"
#include "relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace TestTsa {

namespace {

constexpr std::size_t kMaxHeaderBytes = 64 * 1024;
constexpr std::size_t kMaxBodyBytes = 16 * 1024 * 1024;

std::vector<std::string> Segments(const std::string& target) {
  std::vector<std::string> out;
  const std::string path = target.substr(0, target.find_first_of("?#"));
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) {
      end = path.size();
    }
    if (end > start) {
      out.push_back(path.substr(start, end - start));
    }
    start = end + 1;
  }
  return out;
}

int FailInfoBit(const std::string& name) {
  static const std::pair<const char*, int> kNames[] = {{"badAlg", 0},
                                                       {"badRequest", 2},
                                                       {"badDataFormat", 5},
                                                       {"timeNotAvailable", 14},
                                                       {"unacceptedPolicy", 15},
                                                       {"unacceptedExtension", 16},
                                                       {"addInfoNotAvailable", 17},
                                                       {"systemFailure", 25}};
  for (const auto& [text, bit] : kNames) {
    if (name == text) {
      return bit;
    }
  }
  return std::stoi(name);
}

}  // namespace

// One client connection: a socket, and a TLS session on it when the server speaks TLS.
struct Server::Connection {
  int fd = -1;
  SslPtr ssl;
  std::string buffer;  // bytes read and not yet used
  NtlmHandshake ntlm;

  long ReadSome(char* data, std::size_t size) {
    if (ssl) {
      const int n = SSL_read(ssl.get(), data, static_cast<int>(size));
      return n > 0 ? n : -1;
    }
    const ssize_t n = recv(fd, data, size, 0);
    return n > 0 ? static_cast<long>(n) : -1;
  }
  bool WriteAll(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      long n = 0;
      if (ssl) {
        n = SSL_write(ssl.get(), bytes.data() + done, static_cast<int>(bytes.size() - done));
      } else {
        n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      }
      if (n <= 0) {
        return false;
      }
      done += static_cast<std::size_t>(n);
    }
    return true;
  }
  // Waits until the client closes its side or `seconds` pass.
  void AwaitClose(int seconds) {
    pollfd p{fd, POLLIN, 0};
    for (int i = 0; i < seconds * 10; ++i) {
      if (poll(&p, 1, 100) > 0) {
        char scratch[256];
        if (recv(fd, scratch, sizeof scratch, 0) <= 0) {
          return;
        }
      }
    }
  }
};

struct Server::Request {
  std::string method;
  std::string target;
  std::string authority;  // host:port of an absolute-form target
  std::string version;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  std::string Header(const char* name) const {
    for (const auto& [key, value] : headers) {
      if (strcasecmp(key.c_str(), name) == 0) {
        return value;
      }
    }
    return {};
  }
  bool KeepAlive() const {
    const std::string connection = Header("Connection");
    if (version == "HTTP/1.0") {
      return strcasecmp(connection.c_str(), "keep-alive") == 0;
    }
    return strcasecmp(connection.c_str(), "close") != 0;
  }
};

namespace {

std::string Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 302:
      return "Found";
    case 401:
      return "Unauthorized";
    case 404:
      return "Not Found";
    case 407:
      return "Proxy Authentication Required";
    case 500:
      return "Internal Server Error";
    default:
      return "Status";
  }
}

std::string ResponseText(int status, const std::vector<std::string>& headers,
                         const std::string& body, bool keepAlive) {
  std::string text = "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) + "\r\n";
  for (const std::string& header : headers) {
    text += header + "\r\n";
  }
  text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  text += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
  text += "\r\n";
  return text + body;
}

// Reads one request; false at the end of the connection or for a request we cannot read.
bool ReadRequest(auto& connection, auto& request) {
  std::size_t headerEnd = std::string::npos;
  char chunk[16384];
  while ((headerEnd = connection.buffer.find("\r\n\r\n")) == std::string::npos) {
    if (connection.buffer.size() > kMaxHeaderBytes) {
      return false;
    }
    const long n = connection.ReadSome(chunk, sizeof chunk);
    if (n <= 0) {
      return false;
    }
    connection.buffer.append(chunk, static_cast<std::size_t>(n));
  }
  const std::string head = connection.buffer.substr(0, headerEnd);
  connection.buffer.erase(0, headerEnd + 4);
  std::size_t lineEnd = head.find("\r\n");
  const std::string requestLine = head.substr(0, lineEnd);
  const std::size_t firstSpace = requestLine.find(' ');
  const std::size_t secondSpace = requestLine.rfind(' ');
  if (firstSpace == std::string::npos || secondSpace == firstSpace) {
    return false;
  }
  request.method = requestLine.substr(0, firstSpace);
  request.target = requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1);
  request.version = requestLine.substr(secondSpace + 1);
  // A proxy may forward the absolute form "http://host:port/path".
  if (request.target.rfind("http://", 0) == 0 || request.target.rfind("https://", 0) == 0) {
    const std::size_t start = request.target.find("//") + 2;
    const std::size_t slash = request.target.find('/', start);
    request.authority = request.target.substr(start, slash - start);
    request.target = slash == std::string::npos ? "/" : request.target.substr(slash);
  }
  while (lineEnd != std::string::npos) {
    const std::size_t start = lineEnd + 2;
    lineEnd = head.find("\r\n", start);
    const std::string line =
        head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) {
      continue;
    }
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(" \t"));
    request.headers.emplace_back(line.substr(0, colon), value);
  }
  const std::string length = request.Header("Content-Length");
  const std::size_t bodyLength = length.empty() ? 0 : std::stoul(length);
  if (bodyLength > kMaxBodyBytes || !request.Header("Transfer-Encoding").empty()) {
    return false;
  }
  while (connection.buffer.size() < bodyLength) {
    const long n = connection.ReadSome(chunk, sizeof chunk);
    if (n <= 0) {
      return false;
    }
    connection.buffer.append(chunk, static_cast<std::size_t>(n));
  }
  request.body = connection.buffer.substr(0, bodyLength);
  connection.buffer.erase(0, bodyLength);
  return true;
}

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<char>((i * 131 + 7) & 0xFF);
  }
  return bytes;
}

std::string Escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    out += (c == '\t' || c == '\n' || c == '\r') ? ' ' : c;
  }
  return out.empty() ? "-" : out;
}

}  // namespace

int ListenOnLoopback(const std::string& bindAddress, int port, int* boundPort) {
  const bool v6 = bindAddress.find(':') != std::string::npos;
  sockaddr_storage address{};
  socklen_t addressLength = 0;
  if (v6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&address);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(static_cast<std::uint16_t>(port));
    Require(inet_pton(AF_INET6, bindAddress.c_str(), &a->sin6_addr) == 1 &&
                IN6_IS_ADDR_LOOPBACK(&a->sin6_addr),
            "a loopback address to bind (" + bindAddress + ")");
    addressLength = sizeof(sockaddr_in6);
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&address);
    a->sin_family = AF_INET;
    a->sin_port = htons(static_cast<std::uint16_t>(port));
    Require(inet_pton(AF_INET, bindAddress.c_str(), &a->sin_addr) == 1 &&
                (ntohl(a->sin_addr.s_addr) >> 24) == 127,
            "a loopback address to bind (" + bindAddress + ")");
    addressLength = sizeof(sockaddr_in);
  }
  const int listener = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  Require(listener >= 0, "socket");
  const int yes = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  Require(bind(listener, reinterpret_cast<sockaddr*>(&address), addressLength) == 0,
          "bind to " + bindAddress + ":" + std::to_string(port));
  Require(listen(listener, 64) == 0, "listen");
  sockaddr_storage bound{};
  socklen_t boundLength = sizeof bound;
  getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &boundLength);
  *boundPort = ntohs(v6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                        : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  return listener;
}

int AcceptClient(int listener) {
  for (;;) {
    const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      const int yes = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
      return fd;
    }
  }
}

Server::Server(const ServerOptions& options, Responder& responder, SSL_CTX* tls)
    : m_options(options), m_responder(responder), m_tls(tls) {
  if (options.listener >= 0) {
    m_listener = options.listener;
    m_port = options.port;
  } else {
    m_listener = ListenOnLoopback(options.bind, options.port, &m_port);
  }
  if (!options.logFile.empty()) {
    m_log = std::fopen(options.logFile.c_str(), "a");
    Require(m_log != nullptr, "opening " + options.logFile);
  }
}

Server::~Server() {
  if (m_listener >= 0) {
    close(m_listener);
  }
  if (m_log != nullptr) {
    std::fclose(m_log);
  }
}

void Server::Run() {
  long id = 0;
  for (;;) {
    const int fd = AcceptClient(m_listener);
    std::thread([this, fd, connectionId = ++id] { Serve(fd, connectionId); }).detach();
  }
}

namespace {

// The body in hex when it is small (a time-stamp request is), else empty.
std::string BodyHex(const std::string& body) {
  constexpr std::size_t kMaxLogged = 1024;
  if (body.size() > kMaxLogged) {
    return {};
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const char c : body) {
    const auto byte = static_cast<unsigned char>(c);
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0F];
  }
  return hex;
}

}  // namespace

void Server::Log(long connectionId, const Request& request) {
  if (m_log == nullptr) {
    return;
  }
  const std::lock_guard<std::mutex> guard(m_logLock);
  std::fprintf(m_log,
               "seq=%ld\tconn=%ld\tmethod=%s\ttarget=%s\tauthorization=%s\t"
               "proxy-authorization=%s\tvia=%s\tuser-agent=%s\tcontent-type=%s\tbody=%zu\t"
               "bodyhex=%s\n",
               ++m_sequence, connectionId, Escaped(request.method).c_str(),
               Escaped(request.target).c_str(), Escaped(request.Header("Authorization")).c_str(),
               Escaped(request.Header("Proxy-Authorization")).c_str(),
               Escaped(request.Header("Via")).c_str(),
               Escaped(request.Header("User-Agent")).c_str(),
               Escaped(request.Header("Content-Type")).c_str(), request.body.size(),
               BodyHex(request.body).c_str());
  std::fflush(m_log);
}

void Server::Serve(int fd, long id) {
  Connection connection;
  connection.fd = fd;
  // A client that stalls in the TLS handshake or between requests is let go after a while.
  timeval idle{60, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &idle, sizeof idle);
  if (m_tls != nullptr) {
    connection.ssl.reset(SSL_new(m_tls));
    if (!connection.ssl || SSL_set_fd(connection.ssl.get(), fd) != 1 ||
        SSL_accept(connection.ssl.get()) != 1) {
      // Let the alert reach the client: closing with its request still unread would reset the
      // connection and could drop the alert on the way.
      connection.ssl.reset();
      shutdown(fd, SHUT_WR);
      connection.AwaitClose(2);
      close(fd);
      return;
    }
  }
  for (;;) {
    Request request;
    if (!ReadRequest(connection, request)) {
      break;
    }
    // The CA's revocation service is not part of what the tests count as the TSA's requests.
    if (m_options.revocation != nullptr &&
        (request.target == "/ca.crl" || request.target == "/ocsp")) {
      const bool crl = request.target == "/ca.crl";
      const std::string body =
          crl ? m_options.revocation->Crl() : m_options.revocation->OcspAnswer(request.body);
      const char* type =
          crl ? "Content-Type: application/pkix-crl" : "Content-Type: application/ocsp-response";
      if (!connection.WriteAll(ResponseText(200, {type}, body, request.KeepAlive())) ||
          !request.KeepAlive()) {
        break;
      }
      continue;
    }
    Log(id, request);
    bool goOn = false;
    try {
      goOn = (m_options.proxy ? Forward(connection, request) : Answer(connection, request)) &&
             request.KeepAlive();
    } catch (const std::exception&) {
      // A mode with an unreadable argument (/status/abc/) or a failure of the responder.
      connection.WriteAll(ResponseText(400, {}, "bad test TSA path\n", false));
    }
    if (!goOn) {
      break;
    }
  }
  if (connection.ssl) {
    SSL_shutdown(connection.ssl.get());
    connection.ssl.reset();
  }
  close(fd);
}

bool Server::Answer(Connection& connection, const Request& request) {
  const bool keep = request.KeepAlive();
  const auto reply = [&](int status, const std::vector<std::string>& headers,
                         const std::string& body) {
    return connection.WriteAll(ResponseText(status, headers, body, keep));
  };
  const auto challenge = [&](const std::string& value) {
    return reply(401, {"WWW-Authenticate: " + value, "Content-Type: text/plain"}, "no entry\n");
  };
  const std::vector<std::string> segments = Segments(request.target);
  Responder::Answer wanted;
  std::vector<std::string> accepted;  // headers of the final reply (mutual authentication)
  const std::string authorization = request.Header("Authorization");
  const Credentials& credentials = m_options.credentials;

  for (std::size_t i = 0; i < segments.size(); ++i) {
    const std::string& mode = segments[i];
    const std::string argument = i + 1 < segments.size() ? segments[i + 1] : std::string();
    if (mode == "basic") {
      if (!CheckBasic(authorization, credentials)) {
        return challenge("Basic realm=\"horodex-testtsa\"");
      }
    } else if (mode == "digest") {
      if (!m_digest.Check(authorization, request.method, credentials)) {
        return challenge(m_digest.Challenge());
      }
    } else if (mode == "ntlm") {
      std::string next;
      switch (connection.ntlm.Step(authorization, credentials, &next)) {
        case NtlmHandshake::Outcome::accepted:
          break;
        case NtlmHandshake::Outcome::challenge:
          if (!challenge(next)) {
            return false;
          }
          return true;  // the next message comes on this connection
        case NtlmHandshake::Outcome::refused:
          return challenge("NTLM");
      }
    } else if (mode == "negotiate") {
      std::string token;
      if (!AcceptNegotiate(authorization, &token)) {
        return challenge("Negotiate");
      }
      if (!token.empty()) {
        accepted.push_back("WWW-Authenticate: Negotiate " + token);
      }
    } else if (mode == "offer") {
      // /offer/NTLM+Negotiate/: a 401 offering exactly these schemes, one header each.
      std::vector<std::string> headers;
      std::size_t start = 0;
      while (start <= argument.size()) {
        std::size_t end = argument.find('+', start);
        if (end == std::string::npos) {
          end = argument.size();
        }
        headers.push_back("WWW-Authenticate: " + argument.substr(start, end - start));
        start = end + 1;
      }
      return reply(401, headers, "");
    } else if (mode == "status") {
      return reply(std::stoi(argument), {}, "");
    } else if (mode == "reject") {
      return reply(200, {"Content-Type: application/timestamp-reply"},
                   Responder::Rejection(FailInfoBit(argument), "refused by the test TSA"));
    } else if (mode == "token") {
      wanted.tokenOnly = true;
    } else if (mode == "othernonce") {
      wanted.nonce = NonceVariant::other;
    } else if (mode == "nononce") {
      wanted.nonce = NonceVariant::none;
    } else if (mode == "otherdata") {
      wanted.otherData = true;
    } else if (mode == "precise") {
      wanted.microseconds = true;
    } else if (mode == "offset") {
      wanted.offsetSeconds = std::stol(argument);
      ++i;
    } else if (mode == "slow") {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::stol(argument)));
      ++i;
    } else if (mode == "echo") {
      return reply(200, {"Content-Type: application/octet-stream"}, request.body);
    } else if (mode == "big") {
      // Headers first, then the pattern in blocks: a client that refuses the announced length
      // hears of it at once. The pattern repeats every 256 bytes.
      const std::size_t size = std::stoul(argument);
      if (!connection.WriteAll(
              "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
              std::to_string(size) +
              (keep ? "\r\nConnection: keep-alive" : "\r\nConnection: close") + "\r\n\r\n")) {
        return false;
      }
      constexpr std::size_t kBlock = 65536;
      const std::string block = Pattern(kBlock + 256);
      for (std::size_t sent = 0; sent < size;) {
        const std::size_t length = std::min(kBlock, size - sent);
        if (!connection.WriteAll(block.substr(sent % 256, length))) {
          return false;
        }
        sent += length;
      }
      return true;
    } else if (mode == "garbage") {
      return reply(200, {"Content-Type: application/timestamp-reply"},
                   "\x13\x37 this is not DER at all \xff\xfe\x00\x01");
    } else if (mode == "raw-garbage") {
      connection.WriteAll("\x16\x03 not HTTP \xff\xfe garbage\r\n\r\n");
      return false;
    } else if (mode == "endless") {
      // As fast as the client reads, without end (bounded at 256 MiB).
      if (!connection.WriteAll("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")) {
        return false;
      }
      const std::string block = Pattern(65536);
      char size[32];
      std::snprintf(size, sizeof size, "%zx\r\n", block.size());
      for (int n = 0; n < 4096; ++n) {
        if (!connection.WriteAll(size + block + "\r\n")) {
          break;
        }
      }
      return false;
    } else if (mode == "trickle") {
      // One byte every 200 ms until the client gives up (bounded at two minutes).
      if (!connection.WriteAll("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")) {
        return false;
      }
      for (int n = 0; n < 600; ++n) {
        if (!connection.WriteAll("1\r\nx\r\n")) {
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
      }
      return false;
    } else if (mode == "truncate") {
      connection.WriteAll(
          "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nContent-Type: "
          "application/timestamp-reply\r\n\r\n" +
          Pattern(500));
      return false;
    } else if (mode == "reset") {
      // An abortive close: the client sees a connection reset, not an orderly end.
      const linger abortive{1, 0};
      setsockopt(connection.fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
      connection.ssl.reset();
      return false;
    } else if (mode == "close") {
      return false;
    } else if (mode == "silent") {
      connection.AwaitClose(120);
      return false;
    } else if (mode == "redirect") {
      return reply(302, {"Location: /"}, "");
    } else if (mode == "authenticode") {
      const AuthenticodeAnswer answer = AnswerAuthenticode(request.body);
      if (m_log != nullptr) {
        const std::lock_guard<std::mutex> guard(m_logLock);
        std::fprintf(m_log, "authenticode=%s\tstructure=%s\tsent=%s\n",
                     Escaped(request.target).c_str(), answer.structure.c_str(),
                     answer.sentHex.c_str());
        std::fflush(m_log);
      }
      return reply(answer.status, {"Content-Type: application/octet-stream"}, answer.body);
    }
  }
  if (request.method != "POST") {
    return reply(405, {"Allow: POST"}, "");
  }
  accepted.emplace_back("Content-Type: application/timestamp-reply");
  return reply(200, accepted, m_responder.Respond(request.body, wanted));
}

bool Server::Forward(Connection& connection, const Request& request) {
  const bool tunnel = request.method == "CONNECT";
  std::string token;
  if (!AcceptNegotiate(request.Header("Proxy-Authorization"), &token)) {
    return connection.WriteAll(
        ResponseText(407, {"Proxy-Authenticate: Negotiate", "Content-Type: text/plain"},
                     "no entry\n", request.KeepAlive()));
  }
  const int upstream = ConnectLoopback(tunnel ? request.target : request.authority);
  if (upstream < 0) {
    connection.WriteAll(ResponseText(502, {}, "", false));
    return false;
  }
  std::string head;
  if (tunnel) {
    connection.WriteAll("HTTP/1.1 200 Connection established\r\n" +
                        (token.empty() ? "" : "Proxy-Authenticate: Negotiate " + token + "\r\n") +
                        "\r\n");
  } else {
    // One request per upstream connection: its reply ends with the connection.
    head = request.method + " " + request.target + " " + request.version + "\r\n";
    for (const auto& [name, value] : request.headers) {
      if (strncasecmp(name.c_str(), "Proxy-", 6) != 0 &&
          strcasecmp(name.c_str(), "Connection") != 0) {
        head += name + ": " + value + "\r\n";
      }
    }
    head += "Via: 1.1 horodex-testtsa-proxy\r\nConnection: close\r\n\r\n" + request.body;
  }
  Splice(connection.fd, upstream, head + connection.buffer);
  return false;
}

}  // namespace TestTsa
