// What a TSA or proxy sends back, fed to the whole exchange of SendRequest: a loopback peer
// answers each connection with the next part of the input (parts split at "\n=next=\n") and then
// closes its side, so a challenge's next round meets the next part. libcurl reads the bytes; our
// header and body collection, the status, challenge and CONNECT handling and the send loop act on
// what it hands over. The first byte picks the credentials and the route (direct, or through a
// proxy to an http or https TSA). An exchange ends in a reply or a CAtlException; a 2xx body is
// never larger than the bytes that came in (nothing is inflated), and any other status gives no
// body.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "horodex/winhttp2.h"
#include "platform/errors/atl_exception.h"

namespace P = Velmora::Platform;

namespace {

constexpr std::string_view kNext = "\n=next=\n";

// The listening socket and the pipe that stops a peer, made once for the process.
struct Loopback {
  int listener = -1;
  int stop[2] = {-1, -1};
  unsigned short port = 0;

  Loopback() {
    listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener, 16) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        pipe2(stop, O_CLOEXEC) != 0) {
      __builtin_trap();
    }
    port = ntohs(address.sin_port);
  }
};

// Closes a connection at once (a reset, no TIME_WAIT left behind).
void Drop(int fd) {
  const linger now{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
  close(fd);
}

// The peer of one exchange: accepts connections on its own thread until it is destroyed.
class Peer {
 public:
  Peer(const Loopback& loopback, const std::uint8_t* data, std::size_t size)
      : m_loopback(loopback), m_thread([this, data, size] { Serve(data, size); }) {}
  ~Peer() {
    const char byte = 0;
    static_cast<void>(write(m_loopback.stop[1], &byte, 1));
    m_thread.join();
    char drained = 0;
    static_cast<void>(read(m_loopback.stop[0], &drained, 1));
    for (const int fd : m_ends) {
      Drop(fd);
    }
    // Connections made after the peer stopped looking: none may reach the next exchange.
    for (int fd; (fd = accept4(m_loopback.listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
      Drop(fd);
    }
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

 private:
  void Serve(const std::uint8_t* data, std::size_t size) {
    for (;;) {
      pollfd waits[2] = {{m_loopback.listener, POLLIN, 0}, {m_loopback.stop[0], POLLIN, 0}};
      if (poll(waits, 2, -1) < 0 || (waits[1].revents & POLLIN) != 0) {
        return;
      }
      const int fd = accept4(m_loopback.listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) {
        continue;
      }
      m_ends.push_back(fd);
      const std::string_view rest(reinterpret_cast<const char*>(data), size);
      const std::size_t end = std::min(rest.find(kNext), size);
      for (std::size_t sent = 0; sent < end;) {
        const ssize_t written = write(fd, data + sent, end - sent);
        if (written <= 0) {
          break;
        }
        sent += static_cast<std::size_t>(written);
      }
      const std::size_t skip = std::min(size, end + kNext.size());
      data += skip;
      size -= skip;
      shutdown(fd, SHUT_WR);
    }
  }

  const Loopback& m_loopback;
  std::vector<int> m_ends;
  std::thread m_thread;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Loopback loopback;
  if (size == 0) {
    return 0;
  }
  const std::uint8_t mode = data[0];
  const std::wstring authority = L"127.0.0.1:" + std::to_wstring(loopback.port);
  Velmora::PKI::CHttpSettings settings;
  settings.url = ((mode & 8) != 0 ? L"https://" : L"http://") + authority + L"/tsa";
  static constexpr P::DWORD kSchemes[] = {
      0, P::WINHTTP_AUTH_SCHEME_BASIC, P::WINHTTP_AUTH_SCHEME_DIGEST, P::WINHTTP_AUTH_SCHEME_NTLM};
  settings.serverAuthScheme = kSchemes[mode & 3];
  settings.serverUserName = L"user";
  settings.serverPassword = L"secret";
  settings.proxySet = true;
  if ((mode & 4) != 0) {
    settings.proxy = L"http://" + authority;
    settings.proxyAuthScheme = kSchemes[(mode >> 4) & 3];
    settings.proxyUserName = L"proxyuser";
    settings.proxyPassword = L"proxysecret";
  }
  settings.timeouts = {2000, 2000, 2000};

  static constexpr unsigned char kQuery[] = {0x30, 0x03, 0x02, 0x01, 0x01};
  const std::size_t received = size - 1;
  {
    const Peer peer(loopback, data + 1, received);
    try {
      const Velmora::CBlob body =
          Velmora::PKI::SendRequest(settings, L"Content-Type: application/timestamp-query",
                                    Velmora::CBlob(kQuery, sizeof kQuery), true);
      const bool twoHundred = settings.httpStatus >= 200 && settings.httpStatus <= 299;
      if ((twoHundred && body.cbData() > received) || (!twoHundred && body.cbData() != 0)) {
        __builtin_trap();
      }
    } catch (const P::CAtlException&) {
      // A failure below HTTP, with its WinHTTP code.
    }
  }
  settings.session.reset();  // the session's kept-alive connection goes with it
  return 0;
}
