// A helper program the tests start and stop: it runs in its own process with a pipe as its
// standard input (closed when the owner goes, which some helpers take as the signal to stop),
// dies with the test program (PR_SET_PDEATHSIG), and is killed and reaped on destruction.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace Velmora::Testing {

class ChildProcess {
 public:
  // Starts `program` with `arguments`; its standard output goes to a pipe read by FirstLine,
  // its standard error to `errorFile` (or /dev/null when empty). Throws std::runtime_error.
  ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& errorFile = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The first line the program prints, waiting at most `timeout`; throws when none comes.
  std::string FirstLine(std::chrono::milliseconds timeout);
  // Closes the program's standard input.
  void CloseInput();
  // Whether the program still runs.
  bool Running();
  pid_t pid() const noexcept { return m_pid; }

 private:
  pid_t m_pid = -1;
  int m_stdin = -1;
  int m_stdout = -1;
};

// A port on 127.0.0.1 that nothing listens on at the moment of the call.
int FreeLoopbackPort();
// Waits until something accepts TCP connections on 127.0.0.1:port; false after `timeout`.
bool WaitForListener(int port, std::chrono::milliseconds timeout);

}  // namespace Velmora::Testing
