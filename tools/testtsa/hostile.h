// The hostile peers of the test TSA: `horodex-testtsa --hostile MODE` serves every connection in
// one way a TSA, its TLS layer or its HTTP framing can misbehave, from the first byte on. It
// signs nothing; a client is expected to give up on each with the right error, within its
// time-outs and with bounded memory. The modes:
//   tls-stall        accepts and never answers the TLS handshake (nor anything else)
//   wrong-host       TLS with a certificate under the CA for another host (wrong.invalid)
//   expired          TLS with a certificate under the CA that expired a day ago
//   self-signed      TLS with a self-signed certificate for localhost
//   tls10            TLS 1.0 only, with a good certificate under the CA
//   endless-headers  header lines without end (bounded at 256 MiB)
//   long-header      one header line of 1 MiB
//   length-over      "Content-Length: 1000", 500 bytes, then close
//   length-under     "Content-Length: 100", then 600 bytes on a kept-alive connection
//   bad-chunk        chunked coding with a chunk size that is not hexadecimal
//   status-only      the status line, then close
//   gzip-bomb        "Content-Encoding: gzip, gzip, gzip": about 2 KB that expand to 1 GiB
//   continue-100     100 interim "100 Continue" replies, then 200 with an empty body
//   deaf             accepts and never reads (nor answers)
//   digest-folded    a 401 whose Digest challenge is malformed (algorithm without "="), then, to
//                    the next request on the connection, a 401 whose first line after the status
//                    line starts with white space (a client with Digest credentials sends it)
// The TLS modes serve HTTPS, the others plain HTTP; the CA is the one written to --dir.
#pragma once

#include <string>

#include "pki.h"

namespace TestTsa {

class HostileServer {
 public:
  // Throws std::invalid_argument for a mode it does not know.
  HostileServer(const std::string& mode, const Pki& pki, const std::string& bindAddress);
  ~HostileServer();
  HostileServer(const HostileServer&) = delete;
  HostileServer& operator=(const HostileServer&) = delete;

  int port() const { return m_port; }
  // Serves connections until the process ends.
  [[noreturn]] void Run();

 private:
  void Serve(int fd);

  std::string m_mode;
  SslCtxPtr m_tls;  // null for the plain modes
  std::string m_gzipBomb;
  int m_listener = -1;
  int m_port = 0;
};

}  // namespace TestTsa
