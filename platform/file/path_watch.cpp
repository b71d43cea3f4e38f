#include "platform/file/path_watch.h"

#include <poll.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>

namespace Velmora::Platform {

namespace {

// Counted in the child after each fork: a watch armed before it is the parent's too.
std::atomic<unsigned long> g_forks{0};

// The armed watches of the process, for a scope's poll. An entry is added when a watch is armed
// and taken away before its descriptor is closed, so a poll never sees a closed descriptor.
struct Armed {
  struct Entry {
    int fd;
    unsigned long serial;
  };
  std::mutex mutex;
  std::vector<Entry> entries;
  unsigned long serials = 0;
};

Armed& TheArmed() {
  static Armed* const armed = new Armed();  // never destroyed: watches may close at exit
  return *armed;
}

// What the scope open on this thread found: the serials of the watches its poll found quiet.
struct ScopeOfThread {
  int depth = 0;
  bool polled = false;
  std::vector<unsigned long> quiet;
};

thread_local ScopeOfThread t_scope;

void PollArmed() {
  t_scope.polled = true;
  Armed& armed = TheArmed();
  const std::lock_guard lock(armed.mutex);
  std::vector<pollfd> fds;
  fds.reserve(armed.entries.size());
  for (const Armed::Entry& entry : armed.entries) {
    fds.push_back({entry.fd, POLLIN, 0});
  }
  if (fds.empty() || ::poll(fds.data(), fds.size(), 0) < 0) {
    return;  // each watch is then read by its own quiet()
  }
  for (std::size_t i = 0; i < fds.size(); ++i) {
    if (fds[i].revents == 0) {
      t_scope.quiet.push_back(armed.entries[i].serial);
    }
  }
}

}  // namespace

PathWatch::Scope::Scope() {
  ++t_scope.depth;
}

PathWatch::Scope::~Scope() {
  if (--t_scope.depth == 0) {  // the thread's next scope starts afresh
    t_scope.polled = false;
    t_scope.quiet.clear();
  }
}

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
  if (m_fd < 0) {
    return;
  }
  {
    Armed& armed = TheArmed();
    const std::lock_guard lock(armed.mutex);
    std::erase_if(armed.entries,
                  [this](const Armed::Entry& entry) { return entry.serial == m_serial; });
  }
  ::close(m_fd);
  m_fd = -1;
}

void PathWatch::arm(const std::vector<std::string>& paths, Reach reach) {
  close();
  m_forks = g_forks.load(std::memory_order_relaxed);
  const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) {
    return;
  }
  constexpr std::uint32_t kEvents = IN_ATTRIB | IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE |
                                    IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;
  for (const std::string& path : paths) {
    std::string at = path;
    while (!at.empty()) {
      if (inotify_add_watch(fd, at.c_str(), kEvents) < 0 &&
          (reach == Reach::Alone || (errno != ENOENT && errno != ENOTDIR))) {
        ::close(fd);  // out of watches, not allowed or (alone) missing: the caller looks every time
        return;
      }
      if (at == "/" || reach == Reach::Alone) {
        break;
      }
      const auto slash = at.find_last_of('/');
      at = slash == std::string::npos ? std::string() : slash == 0 ? "/" : at.substr(0, slash);
    }
  }
  m_armed = std::chrono::steady_clock::now();
  Armed& armed = TheArmed();
  const std::lock_guard lock(armed.mutex);
  m_fd = fd;
  m_serial = ++armed.serials;
  armed.entries.push_back({fd, m_serial});
}

bool PathWatch::quiet() {
  if (m_fd < 0 || g_forks.load(std::memory_order_relaxed) != m_forks ||
      std::chrono::steady_clock::now() - m_armed > std::chrono::seconds(1)) {
    return false;
  }
  if (t_scope.depth > 0) {
    if (!t_scope.polled) {
      PollArmed();
    }
    if (std::find(t_scope.quiet.begin(), t_scope.quiet.end(), m_serial) != t_scope.quiet.end()) {
      return true;
    }
    // Armed after the poll, or something came: read it as outside a scope.
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
