// horodex-proxy-helper as the library runs it: started on first use (never at load), its
// standard input and output one socket, stopped and reaped when its owner goes. The program is
// the one HORODEX_PROXY_HELPER names, else the one beside libhorodex.so.1 (a build tree), else
// horodex/horodex-proxy-helper in the library's folder (an installation).
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace Velmora::Platform {

class ProxyHelperProcess {
 public:
  // Starts the helper in `mode` ("gnome" or "pac"); a missing or unstartable helper throws
  // HttpFailure with ERROR_WINHTTP_AUTO_PROXY_SERVICE_ERROR.
  explicit ProxyHelperProcess(const char* mode);
  ~ProxyHelperProcess();
  ProxyHelperProcess(const ProxyHelperProcess&) = delete;
  ProxyHelperProcess& operator=(const ProxyHelperProcess&) = delete;

  // One message to the helper; false when it has gone.
  bool Send(std::string_view message);
  // The helper's next message; nothing when it does not come within `timeoutMs` (0: no limit),
  // is malformed, longer than `limit`, or the helper has gone. A helper that overstays is killed.
  std::optional<std::string> Receive(long timeoutMs, std::size_t limit);
  // Everything the helper prints until it ends, and its exit status; nothing after a time-out.
  std::optional<std::string> ReadToEnd(long timeoutMs, std::size_t limit, int& exitStatus);
  // Kills and reaps the helper (it cannot be asked again).
  void Stop() noexcept;
  bool Running() const noexcept { return m_pid > 0; }
  // Whether the last Receive or ReadToEnd ran out of time (rather than the helper ending).
  bool TimedOut() const noexcept { return m_timedOut; }

 private:
  bool Fill(long deadlineMs);
  pid_t m_pid = -1;
  int m_socket = -1;
  std::string m_pending;
  bool m_timedOut = false;
};

}  // namespace Velmora::Platform
