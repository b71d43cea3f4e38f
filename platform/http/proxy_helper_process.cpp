#include "platform/http/proxy_helper_process.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "platform/http/handles.h"

extern char** environ;

namespace Velmora::Platform {

namespace {

constexpr const char* kHelperName = "horodex-proxy-helper";

std::string HelperPath() {
  if (const char* chosen = std::getenv("HORODEX_PROXY_HELPER"); chosen != nullptr && *chosen) {
    return chosen;
  }
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&WinHttpGetProxyForUrl), &info) != 0 &&
      info.dli_fname != nullptr) {
    std::string directory = info.dli_fname;
    directory.erase(directory.rfind('/') == std::string::npos ? 0 : directory.rfind('/') + 1);
    for (const std::string& candidate :
         {directory + kHelperName, directory + "horodex/" + kHelperName}) {
      if (access(candidate.c_str(), X_OK) == 0) {
        return candidate;
      }
    }
  }
  FailWith(ERROR_WINHTTP_AUTO_PROXY_SERVICE_ERROR);
}

long NowMs() {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count());
}

}  // namespace

ProxyHelperProcess::ProxyHelperProcess(const char* mode) {
  const std::string path = HelperPath();
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    FailWith(ERROR_WINHTTP_AUTO_PROXY_SERVICE_ERROR);
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[1], 0);
  posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // The helper starts with the default signal dispositions and no blocked signals, whatever
  // the application set.
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::string modeText = mode;
  char* argv[] = {const_cast<char*>(path.c_str()), modeText.data(), nullptr};
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(ends[1]);
  if (failed != 0) {
    close(ends[0]);
    FailWith(ERROR_WINHTTP_AUTO_PROXY_SERVICE_ERROR);
  }
  m_pid = pid;
  m_socket = ends[0];
}

ProxyHelperProcess::~ProxyHelperProcess() {
  Stop();
}

void ProxyHelperProcess::Stop() noexcept {
  if (m_socket >= 0) {
    close(m_socket);
    m_socket = -1;
  }
  if (m_pid > 0) {
    kill(m_pid, SIGKILL);
    while (waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
  }
}

bool ProxyHelperProcess::Send(std::string_view message) {
  if (m_socket < 0) {
    return false;
  }
  std::string frame = std::to_string(message.size()) + "\n";
  frame.append(message);
  std::size_t sent = 0;
  while (sent < frame.size()) {
    const ssize_t n = send(m_socket, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

// Reads what the socket has into m_pending, waiting until the deadline (0: none); false at the
// end of the stream, on a failure or when the deadline passes.
bool ProxyHelperProcess::Fill(long deadlineMs) {
  char buffer[16384];
  for (;;) {
    int wait = -1;
    if (deadlineMs != 0) {
      const long left = deadlineMs - NowMs();
      if (left <= 0) {
        m_timedOut = true;
        return false;
      }
      wait = static_cast<int>(left);
    }
    pollfd entry{m_socket, POLLIN, 0};
    const int ready = poll(&entry, 1, wait);
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready == 0) {
      m_timedOut = true;
      return false;
    }
    if (ready < 0) {
      return false;
    }
    const ssize_t n = recv(m_socket, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    m_pending.append(buffer, static_cast<std::size_t>(n));
    return true;
  }
}

std::optional<std::string> ProxyHelperProcess::Receive(long timeoutMs, std::size_t limit) {
  m_timedOut = false;
  if (m_socket < 0) {
    return std::nullopt;
  }
  const long deadline = timeoutMs > 0 ? NowMs() + timeoutMs : 0;
  for (;;) {
    const std::size_t newline = m_pending.find('\n');
    if (newline != std::string::npos) {
      std::size_t length = 0;
      bool valid = newline > 0 && newline <= 10;
      for (std::size_t i = 0; valid && i < newline; ++i) {
        valid = m_pending[i] >= '0' && m_pending[i] <= '9';
        length = length * 10 + static_cast<std::size_t>(m_pending[i] - '0');
      }
      if (!valid || length > limit) {
        Stop();
        return std::nullopt;
      }
      if (m_pending.size() - newline - 1 >= length) {
        std::string message = m_pending.substr(newline + 1, length);
        m_pending.erase(0, newline + 1 + length);
        return message;
      }
    } else if (m_pending.size() > 10) {
      Stop();
      return std::nullopt;
    }
    if (!Fill(deadline)) {
      Stop();
      return std::nullopt;
    }
  }
}

std::optional<std::string> ProxyHelperProcess::ReadToEnd(long timeoutMs, std::size_t limit,
                                                         int& exitStatus) {
  m_timedOut = false;
  const long deadline = timeoutMs > 0 ? NowMs() + timeoutMs : 0;
  while (m_socket >= 0 && Fill(deadline)) {
    if (m_pending.size() > limit) {
      Stop();
      return std::nullopt;
    }
  }
  if (m_timedOut) {
    Stop();
    return std::nullopt;
  }
  close(m_socket);
  m_socket = -1;
  int status = 0;
  pid_t reaped = -1;
  do {
    reaped = waitpid(m_pid, &status, 0);
  } while (reaped < 0 && errno == EINTR);
  m_pid = -1;
  exitStatus = reaped > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return std::move(m_pending);
}

}  // namespace Velmora::Platform
