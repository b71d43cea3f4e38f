#include "hostile.h"

#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <set>
#include <stdexcept>
#include <thread>

#include "server.h"

namespace TestTsa {

namespace {

const std::set<std::string> kTlsModes = {"wrong-host", "expired", "self-signed", "tls10"};
const std::set<std::string> kPlainModes = {
    "tls-stall",   "endless-headers", "long-header",  "length-over", "length-under", "bad-chunk",
    "status-only", "gzip-bomb",       "continue-100", "deaf",        "digest-folded"};

SslCtxPtr TlsContext(const std::string& mode, const Pki& pki) {
  constexpr long kDay = 24 * 3600;
  Identity server;
  if (mode == "wrong-host") {
    server = IssueServer(&pki.ca, "DNS:wrong.invalid", -3600, 365 * kDay);
  } else if (mode == "expired") {
    server = IssueServer(&pki.ca, "DNS:localhost,IP:127.0.0.1", -30 * kDay, -kDay);
  } else if (mode == "self-signed") {
    server = IssueServer(nullptr, "DNS:localhost,IP:127.0.0.1", -3600, 365 * kDay);
  } else {
    server = IssueServer(&pki.ca, "DNS:localhost,IP:127.0.0.1", -3600, 365 * kDay);
  }
  SslCtxPtr ctx(SSL_CTX_new(TLS_server_method()));
  Require(ctx != nullptr && SSL_CTX_use_certificate(ctx.get(), server.cert.get()) == 1 &&
              SSL_CTX_use_PrivateKey(ctx.get(), server.key.get()) == 1,
          "hostile TLS context");
  if (mode == "tls10") {
    // Whatever the system's configuration asks for: TLS 1.0 and nothing newer.
    Require(SSL_CTX_set_min_proto_version(ctx.get(), TLS1_VERSION) == 1 &&
                SSL_CTX_set_max_proto_version(ctx.get(), TLS1_VERSION) == 1 &&
                SSL_CTX_set_cipher_list(ctx.get(), "DEFAULT:@SECLEVEL=0") == 1,
            "TLS 1.0 only");
  }
  return ctx;
}

// `data` compressed as one gzip member.
std::string Gzip(const std::string& data) {
  z_stream z{};
  Require(deflateInit2(&z, 9, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY) == Z_OK, "deflateInit2");
  std::string out(deflateBound(&z, data.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  Require(result == Z_STREAM_END, "deflate");
  return out;
}

// 1 GiB of zeros, gzipped three times over.
std::string GzipBomb() {
  z_stream z{};
  Require(deflateInit2(&z, 1, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY) == Z_OK, "deflateInit2");
  const std::string zeros(1 << 20, '\0');
  std::string layer;
  char out[65536];
  for (int i = 0; i <= 1024; ++i) {
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
    z.avail_in = i < 1024 ? static_cast<uInt>(zeros.size()) : 0;
    const int flush = i < 1024 ? Z_NO_FLUSH : Z_FINISH;
    do {
      z.next_out = reinterpret_cast<Bytef*>(out);
      z.avail_out = sizeof out;
      deflate(&z, flush);
      layer.append(out, sizeof out - z.avail_out);
    } while (z.avail_out == 0);
  }
  deflateEnd(&z);
  return Gzip(Gzip(layer));
}

struct Peer {
  int fd;
  SSL* ssl;

  bool Write(const std::string& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const long n =
          ssl != nullptr
              ? SSL_write(ssl, bytes.data() + done, static_cast<int>(bytes.size() - done))
              : send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) {
        return false;
      }
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  // Reads one request, headers and Content-Length body; false when the client went.
  bool ReadRequest() const {
    std::string head;
    char c = 0;
    while (head.size() < 65536 && head.find("\r\n\r\n") == std::string::npos) {
      const long n = ssl != nullptr ? SSL_read(ssl, &c, 1) : recv(fd, &c, 1, 0);
      if (n <= 0) {
        return false;
      }
      head += c;
    }
    std::size_t length = 0;
    for (std::size_t at = head.find("\r\n"); at != std::string::npos;
         at = head.find("\r\n", at + 2)) {
      if (strncasecmp(head.c_str() + at + 2, "Content-Length:", 15) == 0) {
        length = std::stoul(head.substr(at + 17));
      }
    }
    char body[16384];
    while (length > 0) {
      const std::size_t want = std::min(length, sizeof body);
      const long n =
          ssl != nullptr ? SSL_read(ssl, body, static_cast<int>(want)) : recv(fd, body, want, 0);
      if (n <= 0) {
        return false;
      }
      length -= static_cast<std::size_t>(n);
    }
    return true;
  }

  // Waits, reading nothing, until the client closes its side (at most two minutes).
  void AwaitHangUp() const {
    pollfd p{fd, POLLRDHUP, 0};
    for (int i = 0; i < 1200 && poll(&p, 1, 100) == 0; ++i) {
    }
  }
};

std::string Filler(std::size_t size) {
  return std::string(size, 'x');
}

}  // namespace

HostileServer::HostileServer(const std::string& mode, const Pki& pki,
                             const std::string& bindAddress)
    : m_mode(mode) {
  if (kTlsModes.count(mode) != 0) {
    m_tls = TlsContext(mode, pki);
  } else if (kPlainModes.count(mode) == 0) {
    throw std::invalid_argument("unknown hostile mode " + mode);
  }
  if (mode == "gzip-bomb") {
    m_gzipBomb = GzipBomb();
  }
  m_listener = ListenOnLoopback(bindAddress, 0, &m_port);
}

HostileServer::~HostileServer() {
  close(m_listener);
}

void HostileServer::Run() {
  for (;;) {
    const int fd = AcceptClient(m_listener);
    std::thread([this, fd] { Serve(fd); }).detach();
  }
}

void HostileServer::Serve(int fd) {
  SslPtr ssl;
  const Peer peer{fd, nullptr};
  if (m_mode == "tls-stall" || m_mode == "deaf") {
    peer.AwaitHangUp();
    close(fd);
    return;
  }
  if (m_tls) {
    ssl.reset(SSL_new(m_tls.get()));
    if (!ssl || SSL_set_fd(ssl.get(), fd) != 1 || SSL_accept(ssl.get()) != 1) {
      shutdown(fd, SHUT_WR);  // let the alert reach the client before the close
      peer.AwaitHangUp();
      close(fd);
      return;
    }
  }
  const Peer client{fd, ssl.get()};
  const std::string ok = "HTTP/1.1 200 OK\r\n";
  const std::string unauthorized = "HTTP/1.1 401 Unauthorized\r\n";
  bool first = true;
  while (client.ReadRequest()) {
    bool goOn = false;
    if (m_mode == "endless-headers") {
      const std::string line = "X-Filler: " + Filler(100) + "\r\n";
      bool open = client.Write(ok);
      for (std::size_t sent = 0; open && sent < (std::size_t{256} << 20); sent += line.size()) {
        open = client.Write(line);
      }
    } else if (m_mode == "long-header") {
      client.Write(ok + "X-Long: " + Filler(1 << 20) + "\r\nContent-Length: 0\r\n\r\n");
    } else if (m_mode == "length-over") {
      client.Write(ok + "Content-Length: 1000\r\n\r\n" + Filler(500));
    } else if (m_mode == "length-under") {
      goOn = client.Write(ok + "Content-Length: 100\r\n\r\n" + Filler(600));
    } else if (m_mode == "bad-chunk") {
      client.Write(ok + "Transfer-Encoding: chunked\r\n\r\nzz\r\n" + Filler(100) + "\r\n0\r\n\r\n");
    } else if (m_mode == "status-only") {
      client.Write(ok);
    } else if (m_mode == "gzip-bomb") {
      goOn = client.Write(ok + "Content-Type: application/timestamp-reply\r\n" +
                          "Content-Encoding: gzip, gzip, gzip\r\nContent-Length: " +
                          std::to_string(m_gzipBomb.size()) + "\r\n\r\n" + m_gzipBomb);
    } else if (m_mode == "continue-100") {
      std::string interim;
      for (int i = 0; i < 100; ++i) {
        interim += "HTTP/1.1 100 Continue\r\n\r\n";
      }
      goOn = client.Write(interim + ok + "Content-Length: 0\r\n\r\n");
    } else if (m_mode == "digest-folded") {
      goOn = client.Write(
          unauthorized +
          (first ? "WWW-Authenticate: Digest realm=\"tsa\", qop=\"auth\", algorithmSHA-256\r\n"
                 : " \t: 5\r\n") +
          "Content-Length: 0\r\n\r\n");
    } else {
      goOn = client.Write(ok + "Content-Length: 0\r\n\r\n");  // a TLS mode the client accepted
    }
    if (!goOn) {
      break;
    }
    first = false;
  }
  if (ssl) {
    SSL_shutdown(ssl.get());
  }
  close(fd);
}

}  // namespace TestTsa
