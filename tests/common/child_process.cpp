#include "tests/common/child_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

namespace Velmora::Testing {

namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& errorFile) {
  int in[2];
  int out[2];
  if (pipe2(in, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    throw std::runtime_error("pipe failed");
  }
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> pointers;
  for (std::string& arg : argv) {
    pointers.push_back(arg.data());
  }
  pointers.push_back(nullptr);
  const std::string errorPath = errorFile.empty() ? "/dev/null" : errorFile;
  const pid_t parent = getpid();

  m_pid = fork();
  if (m_pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) {
      _exit(127);
    }
    const int err = open(errorPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    if (err >= 0) {
      dup2(err, STDERR_FILENO);
    }
    execv(program.c_str(), pointers.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  if (m_pid < 0) {
    close(in[1]);
    close(out[0]);
    throw std::runtime_error("fork failed");
  }
  m_stdin = in[1];
  m_stdout = out[0];
}

ChildProcess::~ChildProcess() {
  if (m_stdin >= 0) {
    close(m_stdin);
  }
  if (m_stdout >= 0) {
    close(m_stdout);
  }
  if (m_pid > 0) {
    kill(m_pid, SIGTERM);
    // Give it a moment to go by itself, then make sure.
    for (int i = 0; i < 50; ++i) {
      if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
  }
}

std::string ChildProcess::FirstLine(std::chrono::milliseconds timeout) {
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{m_stdout, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) {
      continue;
    }
    char c = 0;
    const ssize_t n = read(m_stdout, &c, 1);
    if (n <= 0) {
      break;
    }
    if (c == '\n') {
      return line;
    }
    line += c;
  }
  throw std::runtime_error("no output from the helper program (pid " + std::to_string(m_pid) + ")");
}

void ChildProcess::CloseInput() {
  if (m_stdin >= 0) {
    close(m_stdin);
    m_stdin = -1;
  }
}

bool ChildProcess::Running() {
  if (m_pid > 0 && waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
    m_pid = -1;  // reaped: never signal that number again
  }
  return m_pid > 0;
}

int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (fd >= 0) {
      close(fd);
    }
    throw std::runtime_error("no free loopback port");
  }
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

bool WaitForListener(int port, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(port);
    const bool up = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    if (up) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

}  // namespace Velmora::Testing
