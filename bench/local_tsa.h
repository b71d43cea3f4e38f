// horodex-testtsa of this build for a benchmark program: started once for the whole run with its
// throwaway PKI in a temporary folder, stopped (and the folder removed) at the end; it also ends
// with our input, so a benchmark that dies leaves no server behind.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace Bench {

class LocalTsa {
 public:
  // With `logged`, the TSA logs every request it answers (requestsLogged counts them).
  explicit LocalTsa(bool logged = false) {
    namespace fs = std::filesystem;
    char self[PATH_MAX] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
      Fail("cannot find the program's own path");
    }
    const fs::path program =
        fs::path(self).parent_path().parent_path() / "tools/testtsa/horodex-testtsa";
    m_dir = fs::temp_directory_path() / ("bench_tsa_" + std::to_string(getpid()));
    int in[2];
    int out[2];
    if (pipe(in) != 0 || pipe(out) != 0) {
      Fail("pipe");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string path = program.string();
    std::string dirFlag = "--dir";
    std::string dir = m_dir.string();
    std::string watch = "--watch-stdin";
    std::string logFlag = "--log";
    std::string log = (m_dir.parent_path() / (m_dir.filename().string() + ".log")).string();
    m_log = log;
    char* argv[] = {
        path.data(), dirFlag.data(), dir.data(), watch.data(), logged ? logFlag.data() : nullptr,
        log.data(),  nullptr};
    if (posix_spawn(&m_pid, path.c_str(), &actions, nullptr, argv, environ) != 0) {
      Fail("cannot start " + path);
    }
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    m_input = in[1];
    std::string line;
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') {
      line += c;
    }
    close(out[0]);
    if (line.empty()) {
      Fail("horodex-testtsa printed no port");
    }
    m_url = "http://127.0.0.1:" + line + "/bench";
  }
  ~LocalTsa() {
    close(m_input);
    kill(m_pid, SIGTERM);
    waitpid(m_pid, nullptr, 0);
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
    std::filesystem::remove(m_log, ignored);
  }
  LocalTsa(const LocalTsa&) = delete;
  LocalTsa& operator=(const LocalTsa&) = delete;

  const std::string& url() const { return m_url; }
  // The CA that issued the TSA certificate.
  std::filesystem::path caFile() const { return m_dir / "ca.pem"; }
  // The requests logged so far (one line each), when the TSA was started with a log.
  std::size_t requestsLogged() const {
    std::FILE* file = std::fopen(m_log.c_str(), "r");
    std::size_t lines = 0;
    for (int c = 0; file != nullptr && (c = std::fgetc(file)) != EOF;) {
      lines += c == '\n' ? 1 : 0;
    }
    if (file != nullptr) {
      std::fclose(file);
    }
    return lines;
  }

 private:
  [[noreturn]] static void Fail(const std::string& what) {
    std::fprintf(stderr, "local TSA: %s\n", what.c_str());
    std::exit(2);
  }

  pid_t m_pid = -1;
  int m_input = -1;
  std::filesystem::path m_dir;
  std::filesystem::path m_log;
  std::string m_url;
};

// A DER TimeStampReq for a SHA-256 imprint with a two-byte nonce: 60 bytes.
inline std::vector<unsigned char> TimeStampQuery() {
  std::vector<unsigned char> query = {0x30, 0x3A, 0x02, 0x01, 0x01, 0x30, 0x31, 0x30,
                                      0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65,
                                      0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
  for (int i = 0; i < 32; ++i) {
    query.push_back(static_cast<unsigned char>(i * 7 + 1));
  }
  for (const int tail : {0x02, 0x02, 0x01, 0x11}) {
    query.push_back(static_cast<unsigned char>(tail));
  }
  return query;
}

}  // namespace Bench
