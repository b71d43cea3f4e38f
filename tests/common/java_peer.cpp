#include "tests/common/java_peer.h"

namespace Velmora::Testing {

namespace {

const char* const kClassPath =
    "/usr/share/java/bcpkix.jar:/usr/share/java/bcprov.jar:/usr/share/java/bcutil.jar";

}  // namespace

JavaPeer::JavaPeer(const std::string& source, std::string className)
    : m_class(std::move(className)) {
  const CommandResult built = RunCommand(
      "javac -Xlint:none -d " + ShellQuote(m_dir.path().string()) + " -cp " + kClassPath + " " +
      ShellQuote(std::string(HORODEX_SOURCE_DIR) + "/tests/data/" + source) + " 2>&1");
  m_built = built.exitCode == 0;
  m_output = built.output;
}

std::string JavaPeer::Run(const std::string& arguments) const {
  const CommandResult run = RunCommand("java -cp " + m_dir.path().string() + ":" + kClassPath +
                                       " " + m_class + " " + arguments + " 2>&1");
  return run.output.substr(0, run.output.find('\n'));
}

}  // namespace Velmora::Testing
