// A Bouncy Castle peer of the interop tests (Debian's libbcpkix-java under the JDK): one program of
// tests/data, compiled once into a folder of its own and run one command at a time. Each command
// prints "ok" or "refused: REASON" as its first line.
#pragma once

#include <string>

#include "tests/common/scratch.h"

namespace Velmora::Testing {

class JavaPeer {
 public:
  // Compiles tests/data/`source` (e.g. "ers/ErsPeer.java"), whose class is `className`.
  JavaPeer(const std::string& source, std::string className);
  // Whether it compiled, and javac's output when it did not.
  bool built() const noexcept { return m_built; }
  const std::string& buildOutput() const noexcept { return m_output; }
  // The first line the command prints.
  std::string Run(const std::string& arguments) const;

 private:
  TempDir m_dir;
  std::string m_class;
  bool m_built = false;
  std::string m_output;
};

}  // namespace Velmora::Testing
