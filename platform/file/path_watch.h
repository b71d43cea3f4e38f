// An inotify watch over files and the folders above them, to tell that none of them changed
// without asking the file system each time.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace Velmora::Platform {

// quiet() tells that nothing was seen under the watched paths since arm(): any event, a full
// queue, an error, a fork since arm() (the child shares the parent's queue) or a watch older than
// a second (file systems and mounts whose changes inotify does not see) is "not quiet", and the
// caller then looks at the files themselves. Each path is watched with every folder above it up
// to the root, so a file that appears where a missing one was looked for is seen too, unless it
// is armed Alone: then only the paths themselves are watched (a folder whose own entries are all
// that matter, where activity in the folders above would keep the watch from ever being quiet),
// and a path that does not exist leaves the watch not quiet. Not thread-safe: its owner
// serialises the calls.
class PathWatch {
 public:
  // While a Scope is open on a thread, the watches armed when it first asks are asked together,
  // once: the first quiet() in the scope polls them all, and a watch the poll found quiet stays
  // quiet for the rest of the scope without being read again. A call that opens a scope sees the
  // files as they were when it first looked; what changes while it runs, the next call sees.
  class Scope {
   public:
    Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
    ~Scope();
  };

  PathWatch();
  PathWatch(const PathWatch&) = delete;
  PathWatch& operator=(const PathWatch&) = delete;
  ~PathWatch();

  enum class Reach { WithParents, Alone };

  // Watches `paths` from now on; a watch that cannot be made stays not quiet.
  void arm(const std::vector<std::string>& paths, Reach reach = Reach::WithParents);
  bool quiet();
  void close();

 private:
  int m_fd = -1;
  unsigned long m_serial = 0;  // of the last arm, unique in the process
  unsigned long m_forks = 0;   // the process's count of forks when armed
  std::chrono::steady_clock::time_point m_armed;
};

}  // namespace Velmora::Platform
