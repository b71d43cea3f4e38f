#include "tests/common/file_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace Velmora::Testing {

FileHttpServer::FileHttpServer() {
  m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (m_listener < 0 || ::pipe(m_wake) != 0 ||
      ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(m_listener, 16) != 0 ||
      ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("FileHttpServer: cannot listen");
  }
  m_port = ntohs(address.sin_port);
  m_thread = std::thread([this] { run(); });
}

FileHttpServer::~FileHttpServer() {
  stop();
  ::close(m_wake[0]);
}

std::string FileHttpServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

void FileHttpServer::serve(const std::string& path, std::vector<unsigned char> body) {
  serve(path, Reply{"200 OK", "", std::move(body), false});
}

void FileHttpServer::serve(const std::string& path, Reply reply) {
  std::lock_guard lock(m_mutex);
  m_files[path] = std::move(reply);
}

std::optional<std::vector<unsigned char>> FileHttpServer::body(const std::string& path) {
  std::lock_guard lock(m_mutex);
  const auto found = m_files.find(path);
  return found != m_files.end() ? std::optional(found->second.body) : std::nullopt;
}

std::string FileHttpServer::lastRequest(const std::string& path) {
  std::lock_guard lock(m_mutex);
  return m_requests[path];
}

void FileHttpServer::stop() {
  if (m_thread.joinable()) {
    (void)!::write(m_wake[1], "x", 1);
    m_thread.join();
    ::close(m_wake[1]);
    ::close(m_listener);
  }
}

void FileHttpServer::run() {
  for (;;) {
    pollfd waits[2] = {{m_listener, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
    if (::poll(waits, 2, -1) < 0 || (waits[1].revents & POLLIN) != 0) {
      return;
    }
    const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      continue;
    }
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
      const ssize_t n = ::read(client, buffer, sizeof buffer);
      if (n <= 0) {
        break;
      }
      request.append(buffer, static_cast<std::size_t>(n));
    }
    const std::size_t start = request.find(' ') + 1;
    const std::string path = request.substr(start, request.find(' ', start) - start);
    // The body, as long as Content-Length says (a small one: an OCSP request).
    const std::size_t end = request.find("\r\n\r\n");
    const std::size_t length = request.find("Content-Length: ");
    if (end != std::string::npos && length != std::string::npos && length < end) {
      const std::size_t wanted =
          std::min<std::size_t>(std::stoul(request.substr(length + 16)), 65536);
      while (request.size() < end + 4 + wanted) {
        const ssize_t n = ::read(client, buffer, sizeof buffer);
        if (n <= 0) {
          break;
        }
        request.append(buffer, static_cast<std::size_t>(n));
      }
      std::lock_guard lock(m_mutex);
      m_requests[path] = request.substr(end + 4);
    }
    Reply answer{"404 Not Found", "", {'n', 'o', 't', ' ', 'h', 'e', 'r', 'e'}, false};
    {
      std::lock_guard lock(m_mutex);
      if (const auto found = m_files.find(path); found != m_files.end()) {
        answer = found->second;
      }
    }
    const std::string head = "HTTP/1.1 " + answer.status + "\r\n" + answer.headers +
                             "Content-Length: " + std::to_string(answer.body.size()) +
                             "\r\nConnection: close\r\n\r\n";
    const auto send = [&](const char* data, std::size_t size) {
      for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::send(client, data + done, size - done, MSG_NOSIGNAL);
        if (n <= 0) {
          return false;
        }
        done += static_cast<std::size_t>(n);
      }
      return true;
    };
    const char* body = reinterpret_cast<const char*>(answer.body.data());
    if (send(head.data(), head.size()) && !answer.trickle) {
      send(body, answer.body.size());
    }
    for (std::size_t i = 0; answer.trickle && i < answer.body.size(); ++i) {
      pollfd wake{m_wake[0], POLLIN, 0};
      if (!send(body + i, 1) || ::poll(&wake, 1, 100) != 0) {
        break;
      }
    }
    ::close(client);
  }
}

}  // namespace Velmora::Testing
