#include "relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace TestTsa {

namespace {

bool SendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) {
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

int ConnectLoopback(const std::string& authority) {
  const std::size_t colon = authority.rfind(':');
  if (colon == std::string::npos || colon + 1 == authority.size()) {
    return -1;
  }
  const std::string host = authority.substr(0, colon);
  int port = 0;
  for (std::size_t i = colon + 1; i < authority.size(); ++i) {
    if (authority[i] < '0' || authority[i] > '9' ||
        (port = port * 10 + authority[i] - '0') > 65535) {
      return -1;
    }
  }
  sockaddr_storage address{};
  socklen_t length = 0;
  if (host == "[::1]") {
    auto* a = reinterpret_cast<sockaddr_in6*>(&address);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(static_cast<std::uint16_t>(port));
    a->sin6_addr = in6addr_loopback;
    length = sizeof(sockaddr_in6);
  } else if (host == "127.0.0.1" || host == "localhost") {
    auto* a = reinterpret_cast<sockaddr_in*>(&address);
    a->sin_family = AF_INET;
    a->sin_port = htons(static_cast<std::uint16_t>(port));
    a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    length = sizeof(sockaddr_in);
  } else {
    return -1;
  }
  const int fd = socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

void Splice(int client, int upstream, const std::string& pending) {
  if (SendAll(upstream, pending.data(), pending.size())) {
    pollfd ends[2] = {{client, POLLIN, 0}, {upstream, POLLIN, 0}};
    char chunk[16384];
    for (bool open = true; open && poll(ends, 2, 60000) > 0;) {
      for (int i = 0; i < 2 && open; ++i) {
        if (ends[i].revents == 0) {
          continue;
        }
        const ssize_t n = recv(ends[i].fd, chunk, sizeof chunk, 0);
        open = n > 0 && SendAll(ends[1 - i].fd, chunk, static_cast<std::size_t>(n));
      }
    }
  }
  close(upstream);
}

}  // namespace TestTsa
