// horodex-testtsa itself: its usage, it binds to loopback only and stops with its input. (What its
// modes send is judged by the tests that use them.)
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/common/scratch.h"
#include "tests/common/testtsa_process.h"

namespace Velmora::Testing {
namespace {

TEST(TestTsaProcessTest, BindsToLoopbackOnlyAndStopsWithItsInput) {
  TempDir dir;
  for (const char* address : {"0.0.0.0", "192.0.2.1", "::", "localhost"}) {
    const CommandResult refused =
        RunCommand(ShellQuote(TestTsaProgram()) + " --bind " + address + " </dev/null 2>&1");
    EXPECT_NE(refused.exitCode, 0) << address;
    EXPECT_TRUE(Has(refused, "loopback")) << refused.output;
  }
  EXPECT_NE(RunCommand(ShellQuote(TestTsaProgram()) + " --no-such-option 2>&1").exitCode, 0);

  ChildProcess child(TestTsaProgram(), {"--watch-stdin"});
  EXPECT_GT(std::stoi(child.FirstLine(std::chrono::seconds(10))), 0);
  EXPECT_TRUE(child.Running());
  child.CloseInput();
  for (int i = 0; i < 100 && child.Running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_FALSE(child.Running());
}

TEST(TestTsaProcessTest, HelpPrintsItsUsage) {
  const CommandResult help = RunCommand(ShellQuote(TestTsaProgram()) + " --help");
  EXPECT_EQ(help.exitCode, 0) << help.output;
  EXPECT_TRUE(Has(help, "usage: horodex-testtsa")) << help.output;
}

}  // namespace
}  // namespace Velmora::Testing
