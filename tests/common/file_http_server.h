// A small http server on 127.0.0.1 that serves the bytes it is given under a path (a CRL at
// "/intermediate.crl"), 404 for any other path; or, for a path, a reply of one's own (another
// status, more header lines, a body sent a byte at a time). One thread, one request per
// connection.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace Velmora::Testing {

class FileHttpServer {
 public:
  FileHttpServer();  // listens on a free port at once; throws std::runtime_error
  ~FileHttpServer();
  FileHttpServer(const FileHttpServer&) = delete;
  FileHttpServer& operator=(const FileHttpServer&) = delete;

  int port() const noexcept { return m_port; }
  std::string url(const std::string& path) const;
  void serve(const std::string& path, std::vector<unsigned char> body);
  struct Reply {
    std::string status = "200 OK";
    std::string headers;  // further header lines, each ending in CR LF
    std::vector<unsigned char> body;
    bool trickle = false;  // the body a byte every 100 ms, until the client goes or stop()
  };
  void serve(const std::string& path, Reply reply);
  std::optional<std::vector<unsigned char>> body(const std::string& path);
  // The body of the last request to `path` (empty when none came).
  std::string lastRequest(const std::string& path);
  // Closes the listening socket: later connections are refused.
  void stop();

 private:
  void run();

  int m_listener = -1;
  int m_wake[2] = {-1, -1};
  int m_port = 0;
  std::mutex m_mutex;
  std::map<std::string, Reply> m_files;
  std::map<std::string, std::string> m_requests;
  std::thread m_thread;
};

}  // namespace Velmora::Testing
