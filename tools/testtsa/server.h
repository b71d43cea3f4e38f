// The HTTP side of the test TSA: a loopback listener, one thread per connection, HTTP/1.1 with
// keep-alive, optionally TLS (with, on request, a client certificate the server requires).
// What a request gets is chosen by the segments of its path; see main.cpp for the list.
#pragma once

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#include "auth.h"
#include "ca_revocation.h"
#include "ossl_ptr.h"
#include "responder.h"

namespace TestTsa {

struct ServerOptions {
  std::string bind = "127.0.0.1";
  int port = 0;
  Credentials credentials;
  std::string logFile;  // one line per request, tab-separated name=value fields
  bool proxy = false;   // a forward proxy (CONNECT too) to loopback peers that wants Negotiate
  int listener = -1;    // a socket already listening on `port`, or -1: the server makes one
  const CaRevocation* revocation = nullptr;  // serves GET /ca.crl and POST /ocsp when set
};

// A listening socket on a loopback address (refused otherwise); the port chosen by the system when
// `port` is 0 goes to *boundPort.
int ListenOnLoopback(const std::string& bindAddress, int port, int* boundPort);
// The next client connection (TCP_NODELAY set), waiting as long as it takes.
int AcceptClient(int listener);

class Server {
 public:
  // `tls` null: plain HTTP.
  Server(const ServerOptions& options, Responder& responder, SSL_CTX* tls);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  int port() const { return m_port; }
  // Accepts connections until the process ends.
  [[noreturn]] void Run();

 private:
  struct Connection;
  struct Request;
  void Serve(int fd, long id);
  // Answers one request; false when the connection must close.
  bool Answer(Connection& connection, const Request& request);
  // Passes one request on as the proxy, or asks for Negotiate (407); false when done.
  bool Forward(Connection& connection, const Request& request);
  void Log(long connectionId, const Request& request);

  ServerOptions m_options;
  Responder& m_responder;
  SSL_CTX* m_tls;
  int m_listener = -1;
  int m_port = 0;
  DigestAuth m_digest;
  std::mutex m_logLock;
  std::FILE* m_log = nullptr;
  std::atomic<long> m_sequence{0};
};

}  // namespace TestTsa
