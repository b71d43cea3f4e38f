#include "platform/file/path_watch.h"

#include <pthread.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

namespace Velmora::Platform {

namespace {

// Counted in the child after each fork: a watch armed before it is the parent's too.
std::atomic<unsigned long> g_forks{0};

}  // namespace

PathWatch::PathWatch() {
  static const bool registered = [] {
    pthread_atfork(nullptr, nullptr, [] { g_forks.fetch_add(1, std::memory_order_relaxed); });
    return true;
  }();
  (void)registered;
}

PathWatch::~PathWatch() {
  close();
}

void PathWatch::close() {
  if (m_fd >= 0) {
    ::close(m_fd);
  }
  m_fd = -1;
}

void PathWatch::arm(const std::vector<std::string>& paths) {
  close();
  m_forks = g_forks.load(std::memory_order_relaxed);
  m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (m_fd < 0) {
    return;
  }
  constexpr std::uint32_t kEvents = IN_ATTRIB | IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE |
                                    IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;
  for (const std::string& path : paths) {
    std::string at = path;
    while (!at.empty()) {
      if (inotify_add_watch(m_fd, at.c_str(), kEvents) < 0 && errno != ENOENT && errno != ENOTDIR) {
        close();  // out of watches, or not allowed: the caller looks every time
        return;
      }
      if (at == "/") {
        break;
      }
      const auto slash = at.find_last_of('/');
      at = slash == std::string::npos ? std::string() : slash == 0 ? "/" : at.substr(0, slash);
    }
  }
  m_armed = std::chrono::steady_clock::now();
}

bool PathWatch::quiet() {
  if (m_fd < 0 || g_forks.load(std::memory_order_relaxed) != m_forks ||
      std::chrono::steady_clock::now() - m_armed > std::chrono::seconds(1)) {
    return false;
  }
  alignas(inotify_event) char buffer[sizeof(inotify_event) + 256];
  const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
  if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
    return true;
  }
  close();  // something changed (or the queue failed): the caller looks and arms again
  return false;
}

}  // namespace Velmora::Platform
