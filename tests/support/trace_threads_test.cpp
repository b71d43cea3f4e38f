// Log-file lines written by several threads at once: every line whole, none lost.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/trace.h"
#include "support/trace_internal.h"
#include "tests/common/hive_env.h"

namespace S = Velmora::Support;
using Velmora::Testing::ConfigEnvironment;

TEST(TraceThreads, LinesOfManyThreadsNeverMix) {
  ConfigEnvironment env;
  ConfigEnvironment::Write(env.commonIni(),
                           "[Trace]\nlibhorodex.so.1=2\n"
                           "libhorodex.so.1.logfile=threads.log\nProcessFlags=3\n");
  S::ReloadTraceConfiguration();
  constexpr int kThreads = 8;
  constexpr int kLines = 400;
  const std::string padding(600, '.');  // long lines: more room for a torn write to show
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &padding] {
      for (int i = 0; i < kLines; ++i) {
        HORODEX_TRACE(VelmoraTraceGeneral, 2, "Velmora::Testing::Writer", "thread %d line %d %s\n",
                      t, i, padding.c_str());
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  const std::string text = Velmora::Testing::ReadFileText(env.commonLogs() / "threads.log");
  std::filesystem::remove(env.commonIni());
  S::ReloadTraceConfiguration();

  const std::regex line(R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2} : libhorodex\.so\.1: )"
                        R"(\{\d+:0x[0-9a-f]+\} /Velmora::Testing::Writer/ trace_threads_test\.cpp)"
                        R"(\(\d+\) : VelmoraTraceGeneral: thread (\d) line (\d+) \.{600}\r)");
  std::map<int, std::vector<int>> seen;
  std::istringstream lines(text);
  std::string one;
  int count = 0;
  while (std::getline(lines, one)) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(one, match, line)) << "torn line: " << one;
    seen[std::stoi(match[1])].push_back(std::stoi(match[2]));
    ++count;
  }
  EXPECT_EQ(count, kThreads * kLines);
  for (const auto& [thread, numbers] : seen) {
    // Each thread's own lines keep their order.
    for (int i = 0; i < kLines; ++i) {
      ASSERT_EQ(numbers.at(static_cast<std::size_t>(i)), i) << "thread " << thread;
    }
  }
}
